#pragma once
// A scripted in-memory transport for deterministic tests of everything built
// on the link. Input is a script of chunks and injected results, each due at
// a virtual time relative to the script's origin; a read that has to wait
// moves the FakeClock forward instead of sleeping. Writes are recorded, and
// can be scripted to accept only part of the bytes, to take time, to time
// out or to fail.
//
// The transport starts open. It needs a live FakeClock
// (tests/support/fake_clock.h) and one thread: the test and the code under
// test call it on the same thread; Cancel sets the stop event as usual, and
// the transport's own calls see it through the cancel hook (a flag: asking
// the event at every byte read would cost a lock and a clock read).

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "common/deadline.h"
#include "modbus/status.h"
#include "modbus/transport.h"
#include "support/fake_clock.h"

class ScriptedTransport : public Transport {
 public:
  using Bytes = std::vector<uint8_t>;

  // Times in the script count from the clock's value now (see Rebase).
  ScriptedTransport() : origin_(FakeClock::Now()) { SetCancelHook(&ScriptedTransport::OnCancel); }

  // --- configuration ------------------------------------------------------
  // ReadFrame returns one whole chunk per call (datagrams, serial RTU
  // frames); a chunk larger than the capacity gives TransportFrameTooLarge.
  // Otherwise ReadFrame is Read, as for any byte stream.
  bool frameMode = false;
  int32_t messageOriented = 0;  // IsMessageOriented
  int32_t openResult = 1;       // Open
  int32_t prepareResult = 1;    // PrepareExchange
  int32_t beginResult = 1;      // BeginTransmit
  int32_t finishResult = 1;     // FinishTransmit, after finishDelayMs
  uint32_t finishDelayMs = 0;
  uint32_t writeBudgetMs = kDefaultWriteBudgetMs;
  bool closeOnReset = false;  // ResetAfterError closes, as the base class does
  // Called at each successful FinishTransmit with the frame written since
  // the previous one; may script the answer (Deliver) from there.
  std::function<void(ScriptedTransport& transport, const Bytes& frame)> onFrameSent;

  // --- script ---------------------------------------------------------------
  // bytes become readable atMs after the origin. A stream read takes as many
  // as fit; the rest stays for the next read.
  void Deliver(uint32_t atMs, const Bytes& bytes) { Append(origin_ + atMs, bytes.data(), bytes.size(), 1); }
  void Deliver(uint32_t atMs, const uint8_t* bytes, size_t count) { Append(origin_ + atMs, bytes, count, 1); }
  // The next read at or after atMs returns result (TransportIoError ..
  // TransportInvalidFrame, or TransportTimedOut at once).
  void Inject(uint32_t atMs, int32_t result) { Append(origin_ + atMs, nullptr, 0, result); }
  // Bytes due now, relative to the clock rather than the origin.
  void DeliverNow(const Bytes& bytes) { Append(FakeClock::Now(), bytes.data(), bytes.size(), 1); }
  void DeliverNow(const uint8_t* bytes, size_t count) { Append(FakeClock::Now(), bytes, count, 1); }
  // The next Write call takes delayMs of virtual time, then accepts at most
  // accept bytes (accept > 0), times out (0: the whole timeout passes), or
  // returns accept as a transport result (< 0). Unscripted writes accept
  // everything at once.
  void ScriptWrite(uint32_t delayMs, int32_t accept) { writes_.push_back({delayMs, accept}); }
  // Room for a script of this many steps and bytes, allocated at once.
  void Reserve(size_t steps, size_t bytes) {
    input_.reserve(input_.size() + steps);
    bytes_.reserve(bytes_.size() + bytes);
  }
  void Rebase() { origin_ = FakeClock::Now(); }
  // The call counts back to 0: a transport fed for hours would overflow them.
  void ClearCounts() {
    opens = closes = resets = prepares = begins = finishes = 0;
    reads = frameReads = writeCalls = 0;
    lastReadTimeout = 0;
  }
  // As newly made, but keeping the room its buffers grew to: a fuzz target
  // reuses one transport for every input instead of allocating one each.
  void Restart() {
    frameMode = false;
    messageOriented = 0;
    openResult = prepareResult = beginResult = finishResult = 1;
    finishDelayMs = 0;
    writeBudgetMs = kDefaultWriteBudgetMs;
    closeOnReset = false;
    onFrameSent = nullptr;
    written.clear();
    frames.clear();
    ClearCounts();
    plat::EventReset(StopEvent());
    cancelled_.store(false, std::memory_order_relaxed);
    open_ = true;
    input_.clear();
    bytes_.clear();
    next_ = 0;
    writes_.clear();
    pending_.clear();
    Rebase();
  }
  bool InputLeft() const { return next_ < input_.size(); }

  // --- observation ----------------------------------------------------------
  Bytes written;              // every byte accepted by Write
  std::vector<Bytes> frames;  // written bytes split at each FinishTransmit
  int opens = 0, closes = 0, resets = 0, prepares = 0, begins = 0, finishes = 0;
  int reads = 0, frameReads = 0, writeCalls = 0;
  uint32_t lastReadTimeout = 0;

  // --- Transport --------------------------------------------------------------
  int32_t Open() override {
    ++opens;
    if (openResult > 0) open_ = true;
    return openResult;
  }
  void Close() override {
    ++closes;
    open_ = false;
  }
  int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override {
    ++reads;
    lastReadTimeout = timeoutMs;
    if (!buffer || capacity == 0) return 0;
    int32_t ready = WaitForInput(timeoutMs);
    if (ready <= 0) return ready;
    Step& step = input_[next_];
    if (step.result != 1) {
      int32_t result = step.result;
      PopInput();
      return result;
    }
    size_t n = step.length - step.taken;
    if (n > capacity) n = capacity;
    const uint8_t* from = bytes_.data() + step.offset + step.taken;
    for (size_t i = 0; i < n; ++i) buffer[i] = from[i];
    step.taken += n;
    if (step.taken == step.length) PopInput();
    return static_cast<int32_t>(n);
  }
  int32_t ReadFrame(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override {
    if (!frameMode) return Read(buffer, capacity, timeoutMs);
    ++frameReads;
    lastReadTimeout = timeoutMs;
    int32_t ready = WaitForInput(timeoutMs);
    if (ready <= 0) return ready;
    const Step step = input_[next_];
    int32_t result = step.result;
    if (result == 1) {
      const size_t n = step.length - step.taken;
      const uint8_t* from = bytes_.data() + step.offset + step.taken;
      if (n > capacity) {
        result = TransportFrameTooLarge;
      } else {
        for (size_t i = 0; i < n; ++i) buffer[i] = from[i];
        result = static_cast<int32_t>(n);
      }
    }
    PopInput();
    return result;
  }
  int32_t IsMessageOriented() override { return messageOriented; }
  int32_t Write(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs) override {
    ++writeCalls;
    if (cancelled_.load(std::memory_order_relaxed) || !open_) return TransportCancelled;
    uint32_t accept = length;
    if (!writes_.empty()) {
      WriteStep step = writes_.front();
      writes_.pop_front();
      if (step.accept == 0 || step.delayMs >= timeoutMs) {
        FakeClock::Advance(timeoutMs);
        return TransportTimedOut;
      }
      FakeClock::Advance(step.delayMs);
      if (step.accept < 0) return step.accept;
      if (static_cast<uint32_t>(step.accept) < accept) accept = static_cast<uint32_t>(step.accept);
    }
    written.insert(written.end(), bytes, bytes + accept);
    pending_.insert(pending_.end(), bytes, bytes + accept);
    return static_cast<int32_t>(accept);
  }
  uint32_t WriteBudget(uint32_t) override { return writeBudgetMs; }
  int32_t BeginTransmit() override {
    ++begins;
    return beginResult;
  }
  int32_t FinishTransmit(uint32_t timeoutMs) override {
    ++finishes;
    if (finishDelayMs >= timeoutMs) {
      FakeClock::Advance(timeoutMs);
      return TransportTimedOut;
    }
    FakeClock::Advance(finishDelayMs);
    if (finishResult <= 0) return finishResult;
    frames.push_back(pending_);
    pending_.clear();
    if (onFrameSent) onFrameSent(*this, frames.back());
    return finishResult;
  }
  int32_t PrepareExchange() override {
    ++prepares;
    return prepareResult;
  }
  void ResetAfterError() override {
    ++resets;
    pending_.clear();
    if (closeOnReset) Close();
  }
  int32_t IsReady() override { return open_ ? 1 : 0; }

 private:
  // The script's bytes lie one after the other in bytes_ (one allocation
  // for the whole script rather than one per chunk); a step names its part.
  struct Step {
    uint32_t at;
    size_t offset;
    size_t length;
    int32_t result;  // 1: bytes; anything else is returned as it stands
    size_t taken;
  };

  void Append(uint32_t at, const uint8_t* bytes, size_t count, int32_t result) {
    input_.push_back({at, bytes_.size(), count, result, 0});
    bytes_.insert(bytes_.end(), bytes, bytes + count);
  }
  // Past the front step; once the script is used up its storage starts
  // again from the beginning, so a transport fed for a long time stays small.
  void PopInput() {
    if (++next_ < input_.size()) return;
    input_.clear();
    bytes_.clear();
    next_ = 0;
  }
  struct WriteStep {
    uint32_t delayMs;
    int32_t accept;
  };

  // Moves the clock to the next input if it is due before the timeout ends
  // and returns 1, or lets the whole timeout pass and returns 0 (input due
  // exactly at the end comes too late); -2 when cancelled or closed.
  int32_t WaitForInput(uint32_t timeoutMs) {
    if (cancelled_.load(std::memory_order_relaxed) || !open_) return TransportCancelled;
    uint32_t now = FakeClock::Now();
    if (!InputLeft() || TickDiff(input_[next_].at, now) >= static_cast<int32_t>(timeoutMs)) {
      FakeClock::Advance(timeoutMs);
      return TransportTimedOut;
    }
    if (TickBefore(now, input_[next_].at)) FakeClock::Set(input_[next_].at);
    return 1;
  }

  static void OnCancel(Transport* transport) {
    static_cast<ScriptedTransport*>(transport)->cancelled_.store(true, std::memory_order_relaxed);
  }

  uint32_t origin_;
  std::atomic<bool> cancelled_{false};
  bool open_ = true;
  std::vector<Step> input_;
  size_t next_ = 0;  // the front step
  Bytes bytes_;
  std::deque<WriteStep> writes_;
  Bytes pending_;
};
