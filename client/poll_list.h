#pragma once
// Poll definitions and the poll list of a client plug-in. Each tab of the
// poll view holds one PollDefinition: one request (unit id, function,
// address, quantity, poll period), the table's values and aliases, and the
// last RX frame or status text of that poll. The PollList owns them and
// guards the list and every field of every poll with one mutex.
//
// Lock order: the worker mutex (client_worker.h), then the poll-list mutex;
// nothing takes them the other way round. The functions on a single
// PollDefinition below take no lock: their callers hold the poll-list mutex.

#include <stdint.h>

#include "client/transaction.h"
#include "common/platform.h"
#include "common/text.h"
#include "modbus/framing.h"
#include "modbus/functions.h"

constexpr uint32_t kPollMaxRows = kMaxReadBits;  // the largest quantity of any poll
constexpr uint32_t kPollNameCapacity = 32;     // 31 characters and the NUL
constexpr uint32_t kPollAliasCapacity = 32;    // 31 characters and the NUL
constexpr uint32_t kPollStatusCapacity = 96;   // 95 characters and the NUL
constexpr uint32_t kPollRxCapacity = kAduBufferSize;
constexpr uint32_t kPollPeriodMax = 10000;
constexpr uint32_t kPollDefaultPeriod = 3000;
// A broadcast write is repeated at most this often, whatever the period.
constexpr uint32_t kBroadcastFloorMs = 200;
// How late a poll may be taken and still keep its cadence (a period longer
// than this keeps it for a period): about one tick of Windows' default timer.
constexpr uint32_t kPollCatchUpMs = 16;

struct PollDefinition {
  Unit name[kPollNameCapacity];
  FramingKind framerKind;  // fixed at creation
  uint32_t unitId;        // slave id, or MBAP unit id
  uint32_t startAddress;  // 0..65535
  uint32_t quantity;      // rows of the table, items read or written
  uint32_t pollPeriod;    // ms, 1..10000
  uint8_t function;       // 1, 2, 3, 4, 5, 6, 15 or 16
  uint8_t valueFormat;    // a ValueFormat
  uint8_t valueType;      // a ValueType; shown only by the register functions
  uint8_t valueOrder;     // a ValueOrder of the wider types
  uint16_t values[kPollMaxRows];
  Unit* aliases[kPollMaxRows];  // kPollAliasCapacity units each, allocated on first use
  uint32_t nextDue;             // tick of the next execution
  uint8_t lastRx[kPollRxCapacity];
  uint32_t lastRxLength;
  Unit statusText[kPollStatusCapacity];
  uint32_t hasStatusText;  // 1: the RX line shows statusText instead of lastRx
  uint32_t statusIsError;
  // The values came from the device for the request the poll now makes: a
  // changed request, a failed exchange or a failed reopen clears it, a good
  // read sets it.
  bool valuesCurrent;
};

// --- rules of one poll (caller holds the poll-list mutex) ---------------------

bool IsPollFunction(uint32_t code);  // 1, 2, 3, 4, 5, 6, 15, 16
bool IsCoilFunction(uint8_t function);  // 1, 2, 5, 15: values are 0 or 1
bool IsSingleWrite(uint8_t function);   // 5, 6: no quantity field
// Functions 3, 4 and 16: the polls that may show wider values.
bool IsRegisterPoll(const PollDefinition& poll);
// The value type the poll shows: its chosen type for functions 3, 4 and 16,
// 16-bit for the others (function 6 writes one register).
uint8_t ShownValueType(const PollDefinition& poll);
uint32_t UnitIdLowerBound(const PollDefinition& poll);
uint32_t UnitIdUpperBound(const PollDefinition& poll);
// The largest quantity for the poll's function and start address.
uint32_t QuantityLimit(const PollDefinition& poll);

// Clamps unit id, start address, quantity and poll period, in that order.
void NormalisePoll(PollDefinition* poll);
// Field index 0 unit id, 1 start address, 2 period for 5 and 6 else
// quantity, 3 period; the number is read from the text's leading digits
// (none: 0; too large: 0xFFFFFFFF). Then normalises.
void SetPollField(PollDefinition* poll, uint32_t index, const Unit* text);
// Only a supported function changes the poll. Then normalises.
void SetPollFunction(PollDefinition* poll, uint32_t code);

// A write with unit id 0 on a serial or RTU framing: nobody answers.
bool IsBroadcast(const PollDefinition& poll);
void BuildPollRequest(const PollDefinition& poll, ClientRequest* request);
// Copies a read response into the values and marks them current; true
// when the table's look changed (a value, or values no longer shown as old).
bool ApplyPollResponse(PollDefinition* poll, const ClientRequest& request, const ClientResponse& response);
// What a table row shows is what the device last answered to this request;
// a write poll shows what it will write, which is always current.
bool PollValuesCurrent(const PollDefinition& poll);
// After a failed exchange or reopen; true when the table's look changed.
bool MarkPollValuesOld(PollDefinition* poll);

void StorePollStatus(PollDefinition* poll, const Unit* text, bool isError);
void StorePollRx(PollDefinition* poll, const uint8_t* bytes, uint32_t length);
// Forgets the last RX frame and status (at each connect).
void ClearPollRx(PollDefinition* poll);

// The row's alias, or null when none or empty.
const Unit* PollAlias(const PollDefinition& poll, uint32_t row);
// Stores the first 31 characters; an empty text clears the alias.
void SetPollAlias(PollDefinition* poll, uint32_t row, const Unit* text);

// --- the list ---------------------------------------------------------------

class PollList {
 public:
  explicit PollList(FramingKind framerKind);
  ~PollList();
  PollList(const PollList&) = delete;
  PollList& operator=(const PollList&) = delete;

  void Lock() { plat::MutexLock(mutex_); }
  void Unlock() { plat::MutexUnlock(mutex_); }

  // The operations below expect the mutex held.
  FramingKind framerKind() const { return framerKind_; }
  uint32_t Count() const { return count_; }
  PollDefinition* At(uint32_t index) const { return index < count_ ? polls_[index] : nullptr; }
  // The poll a tab key names, or null when the key names none of ours.
  PollDefinition* Find(uintptr_t key) const;
  PollDefinition* Active() const { return active_; }
  void SetActive(PollDefinition* poll) { active_ = poll; }

  // A new poll "Poll n" with the defaults, appended.
  PollDefinition* Add();
  // Removes and frees the poll with its aliases.
  void Remove(PollDefinition* poll);
  // Frees every poll; numbering starts again at 1.
  void Clear();

  // Worker side: the active poll when it is due (its next due time moves on
  // by its period and request is built), else null with waitMs set to the
  // time until it is due, or plat::kWaitForever without an active poll.
  PollDefinition* TakeDue(uint32_t now, ClientRequest* request, uint32_t* waitMs);

 private:
  plat::Mutex* mutex_;
  PollDefinition** polls_ = nullptr;
  uint32_t count_ = 0;
  uint32_t capacity_ = 0;
  FramingKind framerKind_;
  PollDefinition* active_ = nullptr;
  uint32_t nextNumber_ = 1;
};
