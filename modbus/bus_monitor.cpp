#include "modbus/bus_monitor.h"

#include "common/deadline.h"
#include "modbus/functions.h"
#include "modbus/rtu_framer.h"
#include "modbus/rtu_length.h"

namespace {

// Answers to the functions a bus may carry besides ours, which the answer
// rules of a client leave out.
RtuLengthRule AnswerLength(uint8_t function) {
  if (function & kExceptionFlag) return {RtuLength::kFixed, 5, 0};
  switch (function) {
    case kDiagnostics: return RequestLength(kDiagnostics);  // the echo of the request
    case kReadExceptionStatus: return {RtuLength::kFixed, 5, 0};
    case kGetCommEventCounter: return {RtuLength::kFixed, 8, 0};
    case kMaskWriteRegister: return {RtuLength::kFixed, 10, 0};
    case kGetCommEventLog: case kReportServerId: case kReadFileRecord: case kWriteFileRecord:
    case kReadWriteMultipleRegisters:
      return {RtuLength::kCounted, 2, 5};
    case kEncapsulatedInterface: return {RtuLength::kChecked, 5, 1};
    default: return ResponseLength(function);
  }
}

bool CrcChecks(const uint8_t* bytes, uint32_t length) {
  return Crc16(bytes, length - 2) == (bytes[length - 2] | (bytes[length - 1] << 8));
}

enum class RuleVerdict : uint8_t { kFrame, kNeedMore, kNoFit };

struct Judged {
  RuleVerdict verdict;
  uint32_t length;
};

// What rule makes of the available bytes at b.
Judged JudgeRule(RtuLengthRule rule, const uint8_t* b, uint32_t available) {
  if (rule.kind == RtuLength::kMei) {
    if (available < 3) return {RuleVerdict::kNeedMore, 0};
    rule = MeiLength(b[2]);
  }
  uint32_t total = rule.value;
  switch (rule.kind) {
    case RtuLength::kFixed: break;
    case RtuLength::kCounted:
      if (available <= rule.value) return {RuleVerdict::kNeedMore, 0};
      total = rule.extra + b[rule.value];
      break;
    case RtuLength::kChecked: {
      // The CRC is carried on from one candidate length to the next.
      uint32_t covered = 0;
      uint16_t crc = 0xFFFF;
      for (uint32_t length = rule.value; length <= kMaxRtuAdu; length += rule.extra) {
        if (length > available) return {RuleVerdict::kNeedMore, 0};
        crc = Crc16Update(crc, b + covered, length - 2 - covered);
        covered = length - 2;
        if (crc == (b[length - 2] | (b[length - 1] << 8))) return {RuleVerdict::kFrame, length};
      }
      return {RuleVerdict::kNoFit, 0};
    }
    default: return {RuleVerdict::kNoFit, 0};
  }
  if (total < 4 || total > kMaxRtuAdu) return {RuleVerdict::kNoFit, 0};
  if (available < total) return {RuleVerdict::kNeedMore, 0};
  return {CrcChecks(b, total) ? RuleVerdict::kFrame : RuleVerdict::kNoFit, total};
}

// Whether rule gives exactly length bytes to the frame at b.
bool RuleGives(RtuLengthRule rule, const uint8_t* b, uint32_t length) {
  if (rule.kind == RtuLength::kMei) rule = MeiLength(b[2]);
  switch (rule.kind) {
    case RtuLength::kFixed: return length == rule.value;
    case RtuLength::kCounted: return length > rule.value && rule.extra + b[rule.value] == length;
    case RtuLength::kChecked: return length >= rule.value && (length - rule.value) % rule.extra == 0;
    default: return false;
  }
}

// Unit 0 addresses every slave, and only with a write.
bool MayRequest(uint8_t unit, uint8_t function) {
  if (function & kExceptionFlag) return false;
  return unit != kBroadcastUnitId || IsWriteFunction(function);
}

}  // namespace

BusMonitor::Placement BusMonitor::PlaceAt(uint32_t at, bool atSilence) const {
  const uint8_t* b = buffer_ + at;
  const uint32_t available = count_ - at;
  if (available < 2) return {Fit::kNeedMore, 0, false};
  const uint8_t unit = b[0];
  const uint8_t function = b[1];
  if (unit > kHighestSlaveId) return {Fit::kNoFit, 0, false};
  const bool awaited = pending_ && unit == pendingUnit_ &&
                       static_cast<uint8_t>(function & ~kExceptionFlag) == pendingFunction_;
  const RtuLengthRule none{RtuLength::kUnknown, 0, 0};
  const RtuLengthRule request = MayRequest(unit, function) ? RequestLength(function) : none;
  // Nobody answers for unit 0.
  const RtuLengthRule answer = unit == kBroadcastUnitId ? none : AnswerLength(function);
  const RtuLengthRule rules[2] = {awaited ? answer : request, awaited ? request : answer};
  bool needMore = false;
  for (int i = 0; i < 2; ++i) {
    const Judged judged = JudgeRule(rules[i], b, available);
    const bool isAnswer = (i == 0) == awaited;
    if (judged.verdict == RuleVerdict::kFrame) return {Fit::kFrame, judged.length, isAnswer};
    if (judged.verdict == RuleVerdict::kNeedMore) needMore = true;
  }
  // A silence ends a frame no rule knows, when its CRC says so.
  if (atSilence && available >= 4 && available <= kMaxRtuAdu && CrcChecks(b, available))
    return {Fit::kFrame, available, awaited};
  return {needMore ? Fit::kNeedMore : Fit::kNoFit, 0, false};
}

bool BusMonitor::ShapedLike(uint32_t length) const {
  const uint8_t* b = buffer_;
  if (length < 4 || b[0] > kHighestSlaveId) return false;
  const uint8_t function = b[1];
  if (MayRequest(b[0], function) && RuleGives(RequestLength(function), b, length)) return true;
  return b[0] != kBroadcastUnitId && RuleGives(AnswerLength(function), b, length);
}

void BusMonitor::Extract(bool atSilence, bool force) {
  while (count_ > 0) {
    const Placement head = PlaceAt(0, atSilence);
    if (head.fit == Fit::kFrame) {
      Emit(head.length, head.answer);
      continue;
    }
    if (head.fit == Fit::kNeedMore && !force) return;
    // The head fits nothing: slide on to where a frame checks.
    uint32_t next = 0;
    for (uint32_t at = 1; at < count_ && next == 0; ++at) {
      const Placement further = PlaceAt(at, atSilence);
      if (further.fit == Fit::kFrame) next = at;
      else if (further.fit == Fit::kNeedMore && !force) return;  // decided by what comes
    }
    if (next == 0) {
      if (!force) return;
      next = count_;
    }
    Discard(next);
  }
}

void BusMonitor::Emit(uint32_t length, bool answer) {
  const uint8_t unit = buffer_[0];
  const uint8_t function = buffer_[1];
  MarkSeen(unit);
  BusUnitCounts& counts = counts_[unit];
  if (answer) {
    const bool paired = pending_ && unit == pendingUnit_ &&
                        static_cast<uint8_t>(function & ~kExceptionFlag) == pendingFunction_;
    const bool exception = (function & kExceptionFlag) != 0;
    uint32_t responseMs = 0;
    if (paired) {
      pending_ = false;
      const int32_t took = TickDiff(ticks_[0], pendingTick_);
      responseMs = took > 0 ? static_cast<uint32_t>(took) : 0;
      ++counts.answers;
      if (exception) ++counts.exceptions;
      counts.lastFunction = static_cast<uint8_t>(function & ~kExceptionFlag);
      counts.hasResponseTime = true;
      counts.lastResponseMs = responseMs;
    }
    Report(exception ? BusFrameKind::kException : BusFrameKind::kAnswer, unit, paired, responseMs, length);
  } else {
    if (pending_) TimeOut(ticks_[0]);
    ++counts.requests;
    counts.lastFunction = function;
    if (unit != kBroadcastUnitId) {
      pending_ = true;
      pendingUnit_ = unit;
      pendingFunction_ = function;
      pendingTick_ = ticks_[length - 1];
    }
    Report(BusFrameKind::kRequest, unit, false, 0, length);
  }
  Drop(length);
}

void BusMonitor::Discard(uint32_t length) {
  if (ShapedLike(length)) {
    const uint8_t unit = buffer_[0];
    MarkSeen(unit);
    ++counts_[unit].crcErrors;
    // What the unit awaited came, damaged: the master heard a bad answer,
    // not a silence.
    if (pending_ && pendingUnit_ == unit) pending_ = false;
    Report(BusFrameKind::kDamaged, unit, false, 0, length);
  } else {
    noiseBytes_ += length;
    Report(BusFrameKind::kNoise, buffer_[0], false, 0, length);
  }
  Drop(length);
}

void BusMonitor::Drop(uint32_t length) {
  for (uint32_t i = length; i < count_; ++i) {
    buffer_[i - length] = buffer_[i];
    ticks_[i - length] = ticks_[i];
  }
  count_ -= length;
}

void BusMonitor::CheckAnswerTimeout(uint32_t tick) {
  if (!pending_ || count_ > 0) return;
  if (TickDiff(tick, pendingTick_) > static_cast<int32_t>(timing_.answerTimeoutMs)) TimeOut(tick);
}

// The pending request is given up: counted, and reported without bytes.
void BusMonitor::TimeOut(uint32_t tick) {
  ++counts_[pendingUnit_].timeouts;
  pending_ = false;
  if (!sink_) return;
  BusFrame frame{BusFrameKind::kTimeout, pendingUnit_, pendingFunction_, false, 0, tick, nullptr, 0};
  sink_(context_, frame);
}

void BusMonitor::MarkSeen(uint8_t unit) {
  if (seen_[unit]) return;
  seen_[unit] = true;
  ++seenCount_;
}

void BusMonitor::Report(BusFrameKind kind, uint8_t unit, bool paired, uint32_t responseMs, uint32_t length) {
  if (!sink_) return;
  BusFrame frame{kind, unit, length >= 2 ? buffer_[1] : static_cast<uint8_t>(0), paired, responseMs,
                 ticks_[length - 1], buffer_, length};
  sink_(context_, frame);
}

void BusMonitor::Idle(uint32_t tick) {
  if (count_ > 0) {
    const int32_t gap = TickDiff(tick, lastTick_);
    const uint32_t burstGap = timing_.burstGapMs > timing_.silenceMs ? timing_.burstGapMs : timing_.silenceMs;
    if (gap >= static_cast<int32_t>(burstGap)) Extract(true, true);
    else if (gap >= static_cast<int32_t>(timing_.silenceMs)) Extract(true, false);
  }
  CheckAnswerTimeout(tick);
}

void BusMonitor::Feed(const uint8_t* bytes, uint32_t length, uint32_t tick) {
  Idle(tick);
  for (uint32_t i = 0; i < length; ++i) {
    // A full buffer holds a whole frame's worth of bytes that no rule
    // placed: the older half is given up.
    if (count_ == kBufferCapacity) {
      Discard(kBufferCapacity - kMaxRtuAdu);
      Extract(false, false);
    }
    buffer_[count_] = bytes[i];
    ticks_[count_] = tick;
    ++count_;
  }
  if (length > 0) lastTick_ = tick;
  Extract(false, false);
}

void BusMonitor::Reset() {
  count_ = 0;
  pending_ = false;
  for (uint32_t unit = 0; unit < kUnitCount; ++unit) {
    counts_[unit] = BusUnitCounts();
    seen_[unit] = false;
  }
  seenCount_ = 0;
  noiseBytes_ = 0;
}

bool BusMonitor::UnitAtRow(uint32_t row, uint8_t* unit) const {
  for (uint32_t id = 0; id < kUnitCount; ++id) {
    if (!seen_[id]) continue;
    if (row == 0) {
      *unit = static_cast<uint8_t>(id);
      return true;
    }
    --row;
  }
  return false;
}
