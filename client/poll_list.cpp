#include "client/poll_list.h"

#include "client/register_functions.h"
#include "common/deadline.h"
#include "common/exit_codes.h"
#include "common/memory.h"
#include "view/value_format.h"
#include "view/value_type.h"

namespace {

uint32_t ReadTypedNumber(const Unit* text) { return ReadLeadingDecimal(text, -1); }

uint32_t Clamp(uint32_t value, uint32_t low, uint32_t high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

}  // namespace

bool IsPollFunction(uint32_t code) {
  const uint8_t function = static_cast<uint8_t>(code);
  return code == function && (IsReadFunction(function) || IsWriteFunction(function));
}

bool IsCoilFunction(uint8_t function) {
  return function == kReadCoils || function == kReadDiscreteInputs || function == kWriteSingleCoil ||
         function == kWriteMultipleCoils;
}

bool IsSingleWrite(uint8_t function) { return function == kWriteSingleCoil || function == kWriteSingleRegister; }

// A read cannot be broadcast: where unit id 0 broadcasts, a read's lowest is
// the first slave.
uint32_t UnitIdLowerBound(const PollDefinition& poll) {
  const bool broadcasts = TraitsOf(poll.framerKind).hasBroadcast;
  return broadcasts && IsReadFunction(poll.function) ? kLowestSlaveId : kBroadcastUnitId;
}

bool IsRegisterPoll(const PollDefinition& poll) {
  return IsRegisterFunction(poll.function);
}

uint8_t ShownValueType(const PollDefinition& poll) { return IsRegisterPoll(poll) ? poll.valueType : uint8_t{kType16}; }

uint32_t UnitIdUpperBound(const PollDefinition& poll) { return TraitsOf(poll.framerKind).highestUnitId; }

uint32_t QuantityLimit(const PollDefinition& poll) {
  uint32_t limit;
  switch (poll.function) {
    case kReadCoils:
    case kReadDiscreteInputs:
      limit = kMaxReadBits;
      break;
    case kReadHoldingRegisters:
    case kReadInputRegisters:
      limit = kMaxReadRegisters;
      break;
    case kWriteMultipleCoils:
      limit = kMaxWriteCoils;
      break;
    case kWriteMultipleRegisters:
      limit = kMaxWriteRegisters;
      break;
    default:
      limit = 1;
      break;
  }
  uint32_t room = 65536 - (poll.startAddress > 65535 ? 65535 : poll.startAddress);
  return limit < room ? limit : room;
}

void NormalisePoll(PollDefinition* poll) {
  poll->unitId = Clamp(poll->unitId, UnitIdLowerBound(*poll), UnitIdUpperBound(*poll));
  if (poll->startAddress > 65535) poll->startAddress = 65535;
  poll->quantity = Clamp(poll->quantity, 1, QuantityLimit(*poll));
  poll->pollPeriod = Clamp(poll->pollPeriod, 1, kPollPeriodMax);
}

namespace {

// What makes the values of one request: another unit, function, start or
// quantity reads other registers.
struct RequestIdentity {
  uint32_t unitId, startAddress, quantity, function;
  explicit RequestIdentity(const PollDefinition& poll)
      : unitId(poll.unitId), startAddress(poll.startAddress), quantity(poll.quantity), function(poll.function) {}
  bool operator==(const RequestIdentity& other) const {
    return unitId == other.unitId && startAddress == other.startAddress && quantity == other.quantity &&
           function == other.function;
  }
};

void ForgetValuesOfOtherRequest(PollDefinition* poll, const RequestIdentity& before) {
  if (!(RequestIdentity(*poll) == before)) poll->valuesCurrent = false;
}

}  // namespace

void SetPollField(PollDefinition* poll, uint32_t index, const Unit* text) {
  const RequestIdentity before(*poll);
  uint32_t number = ReadTypedNumber(text);
  switch (index) {
    case 0:
      poll->unitId = number;
      break;
    case 1:
      poll->startAddress = number;
      break;
    case 2:
      if (IsSingleWrite(poll->function)) {
        poll->pollPeriod = number;
      } else {
        poll->quantity = number;
      }
      break;
    case 3:
      poll->pollPeriod = number;
      break;
    default:
      return;
  }
  NormalisePoll(poll);
  ForgetValuesOfOtherRequest(poll, before);
}

void SetPollFunction(PollDefinition* poll, uint32_t code) {
  const RequestIdentity before(*poll);
  if (IsPollFunction(code)) poll->function = static_cast<uint8_t>(code);
  NormalisePoll(poll);
  ForgetValuesOfOtherRequest(poll, before);
}

bool IsBroadcast(const PollDefinition& poll) {
  return poll.unitId == kBroadcastUnitId && TraitsOf(poll.framerKind).hasBroadcast && IsWriteFunction(poll.function);
}

void BuildPollRequest(const PollDefinition& poll, ClientRequest* request) {
  *request = ClientRequest();
  request->unitId = static_cast<uint8_t>(poll.unitId & 0xFF);
  request->function = poll.function;
  request->address = static_cast<uint16_t>(poll.startAddress);
  uint32_t quantity = poll.quantity > kPollMaxRows ? kPollMaxRows : poll.quantity;
  switch (poll.function) {
    case kWriteSingleCoil:
      request->quantity = poll.values[0] ? kCoilOn : kCoilOff;
      break;
    case kWriteSingleRegister:
      request->quantity = poll.values[0];
      break;
    case kWriteMultipleCoils: {
      uint32_t bytes = BitByteCount(quantity);
      if (bytes > kMaxRequestData) bytes = kMaxRequestData;
      request->quantity = static_cast<uint16_t>(quantity);
      request->byteCount = static_cast<uint8_t>(bytes);
      for (uint32_t i = 0; i < quantity && i / 8 < bytes; ++i)
        if (poll.values[i]) request->data[i / 8] = static_cast<uint8_t>(request->data[i / 8] | (1u << (i % 8)));
      break;
    }
    case kWriteMultipleRegisters: {
      uint32_t count = quantity > kMaxRequestData / 2 ? kMaxRequestData / 2 : quantity;
      request->quantity = static_cast<uint16_t>(quantity);
      request->byteCount = static_cast<uint8_t>(2 * count);
      for (uint32_t i = 0; i < count; ++i) PutU16(&request->data[2 * i], poll.values[i]);
      break;
    }
    default:
      request->quantity = static_cast<uint16_t>(quantity);
      break;
  }
}

bool ApplyPollResponse(PollDefinition* poll, const ClientRequest& request, const ClientResponse& response) {
  bool changed = false;
  if (!IsWriteFunction(request.function)) {
    ClientRequest now;
    BuildPollRequest(*poll, &now);
    // An answer to a request the poll no longer makes belongs to other rows.
    if (now.unitId != request.unitId || now.function != request.function || now.address != request.address ||
        now.quantity != request.quantity) {
      return false;
    }
    changed = !poll->valuesCurrent;
    poll->valuesCurrent = true;
  }
  uint32_t count = request.quantity > kPollMaxRows ? kPollMaxRows : request.quantity;
  if (request.function == kReadCoils || request.function == kReadDiscreteInputs) {
    if (count > 8u * response.byteCount) count = 8u * response.byteCount;
    for (uint32_t i = 0; i < count; ++i) {
      uint16_t value = (response.data[i / 8] >> (i % 8)) & 1;
      changed = changed || poll->values[i] != value;
      poll->values[i] = value;
    }
  } else if (request.function == kReadHoldingRegisters || request.function == kReadInputRegisters) {
    if (count > response.byteCount / 2u) count = response.byteCount / 2u;
    for (uint32_t i = 0; i < count; ++i) {
      uint16_t value = GetU16(&response.data[2 * i]);
      changed = changed || poll->values[i] != value;
      poll->values[i] = value;
    }
  }
  return changed;
}

bool PollValuesCurrent(const PollDefinition& poll) { return poll.valuesCurrent || IsWriteFunction(poll.function); }

bool MarkPollValuesOld(PollDefinition* poll) {
  bool changed = PollValuesCurrent(*poll);
  poll->valuesCurrent = false;
  return changed && !PollValuesCurrent(*poll);
}

void StorePollStatus(PollDefinition* poll, const Unit* text, bool isError) {
  CopyTextCut(text, poll->statusText, kPollStatusCapacity);
  poll->lastRxLength = 0;
  poll->hasStatusText = 1;
  poll->statusIsError = isError ? 1 : 0;
}

void StorePollRx(PollDefinition* poll, const uint8_t* bytes, uint32_t length) {
  if (length > kPollRxCapacity) length = kPollRxCapacity;
  mem::CopyBytes(poll->lastRx, bytes, length);
  poll->lastRxLength = length;
  poll->hasStatusText = 0;
  poll->statusIsError = 0;
}

void ClearPollRx(PollDefinition* poll) {
  poll->lastRxLength = 0;
  poll->statusText[0] = 0;
  poll->hasStatusText = 0;
  poll->statusIsError = 0;
}

const Unit* PollAlias(const PollDefinition& poll, uint32_t row) {
  if (row >= kPollMaxRows || !poll.aliases[row] || !poll.aliases[row][0]) return nullptr;
  return poll.aliases[row];
}

void SetPollAlias(PollDefinition* poll, uint32_t row, const Unit* text) {
  if (row >= kPollMaxRows) return;
  if (!poll->aliases[row]) {
    if (!text || !text[0]) return;
    poll->aliases[row] = static_cast<Unit*>(mem::Allocate(kPollAliasCapacity * sizeof(Unit)));
  }
  CopyTextCut(text, poll->aliases[row], kPollAliasCapacity);
}

// --- PollList ---------------------------------------------------------------

PollList::PollList(FramingKind framerKind) : mutex_(plat::MutexNew()), framerKind_(framerKind) {
  if (!mutex_) plat::FatalExit(kExitOutOfMemory);
}

PollList::~PollList() {
  Clear();
  mem::Release(polls_);
  plat::MutexFree(mutex_);
}

PollDefinition* PollList::Find(uintptr_t key) const {
  for (uint32_t i = 0; i < count_; ++i)
    if (reinterpret_cast<uintptr_t>(polls_[i]) == key) return polls_[i];
  return nullptr;
}

PollDefinition* PollList::Add() {
  if (count_ == capacity_) {
    uint32_t capacity = capacity_ ? 2 * capacity_ : 1;
    void* grown = mem::Reallocate(polls_, capacity * sizeof(PollDefinition*));
    if (!grown) plat::FatalExit(kExitOutOfMemory);
    polls_ = static_cast<PollDefinition**>(grown);
    capacity_ = capacity;
  }
  PollDefinition* poll = static_cast<PollDefinition*>(mem::Allocate(sizeof(PollDefinition)));
  mem::FillBytes(poll, 0, sizeof(PollDefinition));
  TextBuffer name;
  name.Assign(u"Poll ");
  name.AppendUnsigned(nextNumber_++);
  CopyTextCut(name.Text(), poll->name, kPollNameCapacity);
  poll->framerKind = framerKind_;
  poll->unitId = TraitsOf(framerKind_).defaultUnitId;
  poll->quantity = 2;
  poll->pollPeriod = kPollDefaultPeriod;
  poll->function = kReadHoldingRegisters;
  poll->valueFormat = kValueDecimal;
  poll->nextDue = plat::Tick();
  polls_[count_++] = poll;
  return poll;
}

void PollList::Remove(PollDefinition* poll) {
  for (uint32_t i = 0; i < count_; ++i) {
    if (polls_[i] != poll) continue;
    for (uint32_t j = i + 1; j < count_; ++j) polls_[j - 1] = polls_[j];
    --count_;
    if (active_ == poll) active_ = nullptr;
    for (Unit* alias : poll->aliases) mem::Release(alias);
    mem::Release(poll);
    return;
  }
}

void PollList::Clear() {
  while (count_ > 0) Remove(polls_[count_ - 1]);
  active_ = nullptr;
  nextNumber_ = 1;
}

PollDefinition* PollList::TakeDue(uint32_t now, ClientRequest* request, uint32_t* waitMs) {
  if (!active_) {
    *waitMs = plat::kWaitForever;
    return nullptr;
  }
  int32_t left = TickDiff(active_->nextDue, now);
  if (left > 0) {
    *waitMs = static_cast<uint32_t>(left);
    return nullptr;
  }
  // The next poll is due one period after this one was due, not after the
  // moment the worker woke: a wait ends late (Windows by up to a tick of its
  // timer), and a cadence counted from the wake-up would lose that every
  // period (a 1 ms period polling 500 times a second). A poll taken late by
  // no more than kPollCatchUpMs or a period keeps the cadence, so a short
  // period catches up with a wait that ended a whole tick late (a wait of
  // whole milliseconds from a millisecond tick overshoots by up to one) or a
  // thread the machine did not run for a few milliseconds. One taken later
  // (after a time-out, a new selection) starts the cadence afresh rather
  // than catch up with a burst.
  const uint32_t period = active_->pollPeriod;
  const uint32_t slack = period > kPollCatchUpMs ? period : kPollCatchUpMs;
  const int32_t late = TickDiff(now, active_->nextDue);
  active_->nextDue = late > static_cast<int32_t>(slack) ? now + period : active_->nextDue + period;
  BuildPollRequest(*active_, request);
  *waitMs = 0;
  return active_;
}
