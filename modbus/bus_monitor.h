#pragma once
// What a listener on an RTU bus makes of the bytes it hears: the frames of a
// master and its slaves, which of them are requests and which answers, each
// answer paired with the request before it, and counts per unit id.
//
// On a monitored bus neither the role nor the length of a frame is known in
// advance, and the line may not show the silences between frames (an
// adapter that delivers in bursts, a driver that wakes late and hands over
// two frames at once). A frame is placed by the request and answer length
// rules (rtu_length.h) and its CRC: the bytes at the head of what was heard
// are a frame when a rule's length there checks. An answer is expected
// first from the unit a request is pending for. Where no rule fits, the head
// slides on by one byte until a frame checks further on; the bytes passed
// over are one damaged frame of their unit when a rule gives exactly their
// length (a CRC error), noise otherwise. A silence of t3.5 ends a frame no
// rule knows (its bytes then form the frame when their CRC checks); a
// silence longer than the burst gap resolves everything heard before it, as
// does a full buffer. Nothing here blocks, allocates or reads the clock:
// the caller hands in each piece with its tick.

#include <stdint.h>

#include "modbus/pdu.h"

enum class BusFrameKind : uint8_t {
  kRequest,
  kAnswer,     // a normal answer; paired tells whether its request was seen
  kException,  // an exception answer
  kDamaged,    // a frame of a unit whose CRC failed
  kNoise,      // bytes no frame explains
  kTimeout,    // the request pending for unit had no answer: no bytes
};

// One frame as it is reported, valid during the call.
struct BusFrame {
  BusFrameKind kind;
  uint8_t unit;
  uint8_t function;  // the frame's function byte (an exception's with its flag)
  bool paired;       // an answer to the request pending for its unit
  uint32_t responseMs;  // paired answers: from the request's last byte to the answer's first
  uint32_t tick;        // when its last byte arrived
  const uint8_t* bytes;
  uint32_t length;
};

using BusFrameSink = void (*)(void* context, const BusFrame& frame);

// The counts of one unit id. An exception answer is counted among the
// answers and among the exceptions; a time-out is a request that had no
// answer (nor a damaged one) before the next request on the bus or within
// the answer time-out; an answer that comes later pairs with nothing.
struct BusUnitCounts {
  uint32_t requests = 0;
  uint32_t answers = 0;
  uint32_t exceptions = 0;
  uint32_t crcErrors = 0;
  uint32_t timeouts = 0;
  uint8_t lastFunction = 0;      // of its last request or answer, without the exception flag
  bool hasResponseTime = false;
  uint32_t lastResponseMs = 0;   // of its last paired answer
};

struct BusTiming {
  uint32_t silenceMs = 2;        // t3.5 of the line
  uint32_t burstGapMs = 40;      // the longest gap inside one frame (an adapter's bursts)
  uint32_t answerTimeoutMs = 1000;  // a request unanswered this long has timed out
};

class BusMonitor {
 public:
  static constexpr uint32_t kBufferCapacity = 2 * kMaxRtuAdu;
  static constexpr uint32_t kUnitCount = 256;

  BusMonitor(const BusTiming& timing, BusFrameSink sink, void* context)
      : timing_(timing), sink_(sink), context_(context) {}
  BusMonitor(const BusMonitor&) = delete;
  BusMonitor& operator=(const BusMonitor&) = delete;

  // Bytes heard, their last one at tick.
  void Feed(const uint8_t* bytes, uint32_t length, uint32_t tick);
  // Nothing heard until tick: ends what a silence ends, times out a
  // pending request.
  void Idle(uint32_t tick);
  // Forgets every count and byte (a new connection).
  void Reset();

  bool Seen(uint8_t unit) const { return seen_[unit]; }
  const BusUnitCounts& Counts(uint8_t unit) const { return counts_[unit]; }
  uint32_t SeenCount() const { return seenCount_; }
  // The unit id of the row-th seen unit in ascending order; false past the end.
  bool UnitAtRow(uint32_t row, uint8_t* unit) const;
  uint32_t NoiseBytes() const { return noiseBytes_; }
  uint32_t BufferedBytes() const { return count_; }

 private:
  enum class Fit : uint8_t { kFrame, kNeedMore, kNoFit };
  struct Placement {
    Fit fit;
    uint32_t length;
    bool answer;
  };

  Placement PlaceAt(uint32_t at, bool atSilence) const;
  bool ShapedLike(uint32_t length) const;
  void Extract(bool atSilence, bool force);
  void Emit(uint32_t length, bool answer);
  void Discard(uint32_t length);
  void Drop(uint32_t length);
  void CheckAnswerTimeout(uint32_t tick);
  void MarkSeen(uint8_t unit);
  void Report(BusFrameKind kind, uint8_t unit, bool paired, uint32_t responseMs, uint32_t length);
  void TimeOut(uint32_t tick);

  BusTiming timing_;
  BusFrameSink sink_;
  void* context_;
  uint8_t buffer_[kBufferCapacity] = {};
  uint32_t ticks_[kBufferCapacity] = {};  // when each byte arrived
  uint32_t count_ = 0;
  uint32_t lastTick_ = 0;
  bool pending_ = false;  // a request waits for its answer
  uint8_t pendingUnit_ = 0;
  uint8_t pendingFunction_ = 0;
  uint32_t pendingTick_ = 0;  // its last byte
  BusUnitCounts counts_[kUnitCount];
  bool seen_[kUnitCount] = {};
  uint32_t seenCount_ = 0;
  uint32_t noiseBytes_ = 0;
};
