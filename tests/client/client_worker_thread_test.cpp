// The polling worker on its own thread, as it runs in a plug-in: the shell's
// thread keeps using the view while the worker polls every millisecond, and
// Disconnect ends a transaction that waits on a long time-out at once.
// Built for ThreadSanitizer too: the lock order (worker mutex, then poll
// list) and every hand-over between the two threads are checked there.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "client_harness.h"
#include "common/memory.h"

namespace {

// Sends everything and never answers: a read waits until its time-out or
// until the transport is cancelled.
class SilentTransport : public Transport {
 public:
  int32_t Open() override { return 1; }
  void Close() override {}
  int32_t Read(uint8_t*, uint32_t, uint32_t timeoutMs) override {
    return plat::EventWait(StopEvent(), timeoutMs) ? TransportCancelled : TransportTimedOut;
  }
  int32_t Write(const uint8_t*, uint32_t length, uint32_t) override { return static_cast<int32_t>(length); }
  int32_t PrepareExchange() override { return 1; }
  int32_t IsReady() override { return 1; }
};

TEST(ClientWorkerThread, DisconnectEndsALongTimeoutWithoutRxText) {
  ClientHarness h(FramingKind::kMbap, 60000);
  ViewHost& v = *h.view;
  ClientHarness::nextTransport = mem::New<SilentTransport>();
  ASSERT_EQ(v.Connect(), 1);
  ASSERT_TRUE(v.PumpUntil([&] { return v.Count(HostCommandKind::ShowTxFrame, true) > 0; }, 30000));
  auto start = std::chrono::steady_clock::now();
  v.Disconnect();
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  printf("Disconnect during a 60 s time-out took %.1f ms\n", ms);
  // At once; the bound only allows for a loaded machine under Wine.
  EXPECT_LT(ms, 3000.0);
  v.Pump();
  EXPECT_EQ(v.Count(HostCommandKind::ShowRxText, true), 0u);
  EXPECT_EQ(v.rxLine, u"RX: -");
}

TEST(ClientWorkerThread, TheViewStaysUsableWhilePolling) {
  ClientHarness h(FramingKind::kRtu, 1000);
  ViewHost& v = *h.view;
  SimDevice device(FramingKind::kRtu);
  device.map.LockMap();
  for (uint16_t a = 0; a < 200; ++a) device.map.SetCell(kAreaHoldingRegisters, a, static_cast<uint16_t>(a * 3));
  device.map.UnlockMap();
  v.EditField(3, u"1");
  v.EditField(2, u"10");
  v.Add();
  v.EditField(3, u"1");
  v.EditField(1, u"100");
  ClientHarness::nextTransport = device.NewTransport();
  ASSERT_EQ(v.Connect(), 1);
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
  int switches = 0;
  while (std::chrono::steady_clock::now() < end) {
    v.SelectTab(switches++ % 2);
    v.Cell(1, 1);
    v.EditCell(0, 0, u"alias");
    v.ClickColumn(1);
    v.Pump();
  }
  v.SelectTab(1);
  ASSERT_TRUE(v.PumpUntil([&] { return v.Cell(1, 1) == u"303" || v.Cell(1, 1) == u"0x012F" ||
                                       v.Cell(1, 1) == u"0000 0001 0010 1111"; }, 30000))
      << std::string(v.Cell(1, 1).begin(), v.Cell(1, 1).end());
  size_t polled = device.RequestCount();
  v.Disconnect();
  printf("%d tab switches, %zu requests while the view was in use\n", switches, polled);
  EXPECT_GT(polled, 0u);
  EXPECT_EQ(v.rxLine, u"RX: -");
}

}  // namespace
