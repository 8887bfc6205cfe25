// The poll rules against the stack. The poll list's header comes first and
// the protocol numbers' second, so that this file also proves the two
// compile together (the list once declared an IsWriteFunction of its own).
#include "client/poll_list.h"
#include "modbus/functions.h"

#include <gtest/gtest.h>

#include <memory>

#include "client/transaction.h"
#include "common/memory.h"

namespace {

// Whatever a user types into the poll's fields, what the rules keep is a
// request the poll's framer builds, with the unit id and quantity shown: no
// unit id the framing refuses, no quantity over the function's limit, no
// unit id cut to 8 bits into a broadcast.
TEST(PollRules, EveryPollTheFieldsAllowIsARequestTheStackBuilds) {
  const FramingKind kinds[] = {FramingKind::kRtu, FramingKind::kAscii, FramingKind::kMbap, FramingKind::kRtuStream};
  const uint8_t functions[] = {kReadCoils,       kReadDiscreteInputs,  kReadHoldingRegisters, kReadInputRegisters,
                               kWriteSingleCoil, kWriteSingleRegister, kWriteMultipleCoils,   kWriteMultipleRegisters};
  const char16_t* const units[] = {u"0", u"1", u"247", u"248", u"255", u"256"};
  const char16_t* const quantities[] = {u"0", u"123", u"125", u"1968", u"2000", u"2001"};
  const char16_t* const starts[] = {u"0", u"64000"};
  for (FramingKind kind : kinds) {
    std::unique_ptr<Framer, void (*)(Framer*)> framer(CreateFramer(kind), [](Framer* f) { mem::Delete(f); });
    PollList list(kind);
    list.Lock();
    PollDefinition* poll = list.Add();
    for (uint8_t function : functions) {
      for (const char16_t* unit : units) {
        for (const char16_t* quantity : quantities) {
          for (const char16_t* start : starts) {
            SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind) << " function " << int{function});
            SetPollFunction(poll, function);
            SetPollField(poll, 1, start);
            SetPollField(poll, 0, unit);
            if (!IsSingleWrite(function)) SetPollField(poll, 2, quantity);
            ClientRequest request;
            BuildPollRequest(*poll, &request);
            EXPECT_EQ(request.unitId, poll->unitId);
            if (!IsSingleWrite(function)) {
              EXPECT_EQ(request.quantity, poll->quantity);
            }
            uint8_t adu[kAduBufferSize];
            EXPECT_GT(BuildRequestAdu(*framer, 1, request, adu, sizeof adu), 0);
          }
        }
      }
    }
    list.Unlock();
  }
}

}  // namespace
