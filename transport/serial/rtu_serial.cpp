#include "transport/serial/rtu_serial.h"

#include "common/deadline.h"
#include "modbus/pdu.h"
#include "modbus/status.h"
#include "transport/serial/line_timing.h"

namespace {

constexpr uint32_t kSilenceBudgetExtraMs = 2000;

uint32_t Max(uint32_t a, uint32_t b) { return a > b ? a : b; }
uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }

}  // namespace

RtuSerialTransport::RtuSerialTransport(const SerialLineSettings& settings, const CommApi* api)
    : SerialPortTransport(settings, api),
      t15_(RtuT15Ms(settings.baudRate)),
      t35_(RtuT35Ms(settings.baudRate)) {
  uint32_t frameTime = WireTimeMs(kRtuFrameBudgetCharacters, BitsPerCharacter(), settings.baudRate);
  frameBudgetMs_ = frameTime + kSilenceBudgetExtraMs;
  burstGapMs_ = Max(kRtuBurstGapMs, RtuReadIntervalMs(settings.baudRate, BitsPerCharacter()));
}

void RtuSerialTransport::MarkIdleFromNow(uint32_t delayMs) {
  idleUntil_ = DeadlineAfter(delayMs);
  idleUntilValid_ = true;
}

int32_t RtuSerialTransport::Open() {
  idleUntil_ = 0;
  idleUntilValid_ = false;
  resynchronise_ = true;
  return SerialPortTransport::Open();
}

int32_t RtuSerialTransport::ApplyLineTimeouts() {
  // The interval time-out ends a read at the first silence longer than
  // t1.5; no total time-out, the transport's own deadline bounds the read.
  // A write may take its wire time plus the fixed allowance.
  return SetDriverTimeouts(RtuReadIntervalMs(Line().baudRate, BitsPerCharacter()), 0, 0,
                           RtuWriteMsPerCharacter(Line().baudRate), kDefaultWriteBudgetMs);
}

int32_t RtuSerialTransport::WaitForSilence(uint32_t windowMs) {
  uint32_t start = plat::Tick();
  for (;;) {
    if (!DiscardInput()) return TransportIoError;
    int32_t remaining = static_cast<int32_t>(frameBudgetMs_) - TickDiff(plat::Tick(), start);
    if (remaining <= 0) return TransportInvalidFrame;
    uint32_t wait = static_cast<uint32_t>(remaining) < windowMs ? static_cast<uint32_t>(remaining) : windowMs;
    DriverOutcome outcome = WaitForCharacter(wait);
    if (outcome.lineErrors) return MapOutcome(outcome);
    switch (outcome.result) {
      case DriverResult::Ok:
        continue;  // a character: discarded by the next purge
      case DriverResult::TimedOut:
        return wait == windowMs ? 1 : TransportInvalidFrame;
      case DriverResult::Cancelled:
      case DriverResult::NotOpen:
        return TransportCancelled;
      default:
        return TransportIoError;
    }
  }
}

int32_t RtuSerialTransport::PrepareExchange() {
  if (!resynchronise_) return SerialPortTransport::PrepareExchange();
  const int32_t silence = WaitForSilence(t35_);
  if (silence != 1) {
    CloseOnDriverFailure(silence);
    return 0;
  }
  resynchronise_ = false;
  MarkIdleFromNow(0);
  return 1;
}

int32_t RtuSerialTransport::BeginTransmit() {
  int32_t wait = static_cast<int32_t>(t35_);
  if (idleUntilValid_) wait = TickDiff(idleUntil_, plat::Tick());
  if (wait > 0 && WaitOnStopEvent(static_cast<uint32_t>(wait))) return 0;
  return StopRequested() ? 0 : 1;
}

int32_t RtuSerialTransport::FinishTransmit(uint32_t timeoutMs) {
  int32_t result = SerialPortTransport::FinishTransmit(timeoutMs);
  if (result > 0) MarkIdleFromNow(t35_);
  return result;
}

int32_t RtuSerialTransport::RejectFrame(int32_t result) {
  // A silence after the rejected frame puts the line at a frame boundary
  // again; without one the next exchange resynchronises first.
  int32_t silence = WaitForSilence(Max(t15_, t35_));
  resynchronise_ = silence != 1;
  return silence == TransportCancelled ? TransportCancelled : result;
}

int32_t RtuSerialTransport::ReadFrame(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
  return CloseOnDriverFailure(ReadOneFrame(buffer, capacity, timeoutMs));
}

int32_t RtuSerialTransport::ReadOneFrame(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
  if (!buffer || capacity == 0) return 0;
  if (StopRequested() || !IsReady()) return TransportCancelled;

  DriverOutcome first = WaitForCharacter(timeoutMs);
  int32_t waited = first.result == DriverResult::Ok && !first.lineErrors ? 1 : MapOutcome(first);
  if (waited <= 0) {
    if (waited != TransportCancelled) resynchronise_ = true;
    return waited;
  }
  if (!ApplyLineTimeouts()) {
    resynchronise_ = true;
    return TransportIoError;
  }

  // The driver ends each read at a silence longer than t1.5. A USB adapter
  // delivers a frame in bursts with such silences between them, so where
  // the framing knows that bytes still belong to the frame, the read goes
  // on after a gap of up to the adapter limit.
  const uint32_t deadline = DeadlineAfter(t15_ + frameBudgetMs_);
  uint32_t have = 0;
  for (;;) {
    DriverOutcome read = ReadBytes(buffer + have, capacity - have, RemainingMs(deadline));
    if (read.lineErrors || (read.result != DriverResult::Ok && read.result != DriverResult::TimedOut)) {
      int32_t failure = MapOutcome(read);
      if (failure != TransportCancelled) resynchronise_ = true;
      return failure;
    }
    have += read.count;
    if (read.result == DriverResult::TimedOut) {
      if (have > 0) return RejectFrame(TransportInvalidFrame);
      resynchronise_ = true;
      return 0;
    }
    if (have == 0) {
      resynchronise_ = true;
      return 0;
    }
    if (have > kMaxRtuAdu) return RejectFrame(TransportFrameTooLarge);
    if (have == capacity || JudgeFrame(buffer, have) != kFrameGoesOn) break;
    DriverOutcome more = WaitForCharacter(Min(burstGapMs_, RemainingMs(deadline)));
    if (more.lineErrors) {
      resynchronise_ = true;
      return MapOutcome(more);
    }
    if (more.result == DriverResult::Ok) continue;
    if (more.result == DriverResult::Cancelled || more.result == DriverResult::NotOpen) return TransportCancelled;
    if (more.result != DriverResult::TimedOut) {
      resynchronise_ = true;
      return TransportIoError;
    }
    // Cut short: nothing more came within the limit, longer than t3.5, so
    // the line is at a frame boundary; the framer reports the frame.
    MarkIdleFromNow(0);
    return static_cast<int32_t>(have);
  }

  if (t35_ > t15_) {
    DriverOutcome next = WaitForCharacter(t35_ - t15_);
    if (next.lineErrors) {
      resynchronise_ = true;
      return MapOutcome(next);
    }
    switch (next.result) {
      case DriverResult::TimedOut:
        break;
      case DriverResult::Ok:
        // The next frame began before t3.5 had passed.
        return RejectFrame(TransportInvalidFrame);
      case DriverResult::Cancelled:
      case DriverResult::NotOpen:
        return TransportCancelled;
      default:
        resynchronise_ = true;
        return TransportIoError;
    }
  }
  MarkIdleFromNow(0);
  return static_cast<int32_t>(have);
}
