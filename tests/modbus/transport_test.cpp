// What a concrete transport inherits: the default slots, the stop event and
// Cancel.

#include "modbus/transport.h"

#include <gtest/gtest.h>

#include "modbus/status.h"

namespace {

// Implements only the operations that have no default.
class MinimalTransport : public Transport {
 public:
  MinimalTransport() { SetCancelHook(&MinimalTransport::OnCancel); }
  int32_t Open() override { return 1; }
  void Close() override { ++closes; }
  int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override {
    lastCapacity = capacity;
    lastTimeout = timeoutMs;
    buffer[0] = 0x42;
    return 1;
  }
  int32_t Write(const uint8_t*, uint32_t length, uint32_t) override { return static_cast<int32_t>(length); }
  int32_t PrepareExchange() override { return 1; }
  int32_t IsReady() override { return 1; }

  static void OnCancel(Transport* transport) {
    MinimalTransport* self = static_cast<MinimalTransport*>(transport);
    self->stopSeenByHook = self->StopRequested();
    ++self->hookCalls;
  }

  int closes = 0, hookCalls = 0;
  bool stopSeenByHook = false;
  uint32_t lastCapacity = 0, lastTimeout = 0;
};

TEST(Transport, DefaultSlots) {
  MinimalTransport t;
  uint8_t buffer[8] = {};
  EXPECT_EQ(t.ReadFrame(buffer, 7, 33), 1);
  EXPECT_EQ(buffer[0], 0x42);
  EXPECT_EQ(t.lastCapacity, 7u);
  EXPECT_EQ(t.lastTimeout, 33u);
  EXPECT_EQ(t.IsMessageOriented(), 0);
  EXPECT_EQ(t.WriteBudget(1), 2000u);
  EXPECT_EQ(t.WriteBudget(100000), 2000u);
  EXPECT_EQ(t.BeginTransmit(), 1);
  EXPECT_EQ(t.FinishTransmit(0), 1);
  t.ResetAfterError();
  EXPECT_EQ(t.closes, 1);
}

TEST(Transport, CancelSetsTheStopEventThenRunsTheHook) {
  MinimalTransport t;
  ASSERT_NE(t.StopEvent(), nullptr);
  EXPECT_FALSE(t.StopRequested());
  t.Cancel();
  EXPECT_TRUE(t.StopRequested());
  EXPECT_EQ(t.hookCalls, 1);
  EXPECT_TRUE(t.stopSeenByHook);
  // Manual reset: it stays set for every later wait.
  EXPECT_TRUE(plat::EventWait(t.StopEvent(), 0));
  EXPECT_TRUE(t.StopRequested());
}

}  // namespace
