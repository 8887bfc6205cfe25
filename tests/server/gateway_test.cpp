// The TCP-to-RTU gateway between loopback masters and a simulated RTU line
// (units 1 and 2 answer reads of holding registers, unit 5 answers only
// after 400 ms, another unit's frame passes by before each answer of unit
// 2, every other unit is silent, unit 0 a broadcast): masters' requests
// reach the line in the order they arrived and come back on their own
// connections with their own transaction IDs; a broadcast is never
// answered and the line stays quiet for the turnaround; an absent unit
// gets 0x0B; a line that fails gets 0x0A until it opens again. Runs
// natively (also under ThreadSanitizer) and under Wine.

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "common/deadline.h"
#include "common/memory.h"
#include "modbus/framing.h"
#include "modbus/functions.h"
#include "server/gateway.h"
#include "transport/net/raw_socket.h"

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new NetworkEnvironment);

constexpr uint32_t kHungMs = 10000;

// The line and the slaves on it. Writes are requests; ReadFrame hands out
// the answers once their time has come.
class SimulatedLine final : public Transport {
 public:
  SimulatedLine() : framer_(CreateFramer(FramingKind::kRtu)), arrived_(plat::EventNew(false, false)) {}
  ~SimulatedLine() override {
    mem::Delete(framer_);
    plat::EventFree(arrived_);
  }

  int32_t Open() override {
    if (!openable.load()) return 0;
    plat::EventReset(StopEvent());
    ready_ = true;
    return 1;
  }
  void Close() override { ready_ = false; }
  int32_t IsReady() override { return ready_ ? 1 : 0; }
  int32_t PrepareExchange() override {
    std::lock_guard<std::mutex> hold(lock_);
    answers_.clear();
    return ready_ ? 1 : 0;
  }
  int32_t Read(uint8_t*, uint32_t, uint32_t) override { return TransportIoError; }

  int32_t Write(const uint8_t* bytes, uint32_t length, uint32_t) override {
    if (failing.load()) return TransportIoError;
    std::lock_guard<std::mutex> hold(lock_);
    const uint8_t unit = bytes[0];
    seen_.push_back({unit, GetU16(bytes + 2), plat::Tick()});
    if (unit == 2) Queue(3, 0, {kReadHoldingRegisters, 2, 0, 0});  // another slave's answer passes by
    if (unit == 1 || unit == 2 || unit == 5) {
      const uint16_t address = GetU16(bytes + 2);
      const uint16_t value = static_cast<uint16_t>(unit * 100 + address);
      Queue(unit, unit == 5 ? 400 : 0,
            {kReadHoldingRegisters, 2, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
    }
    return static_cast<int32_t>(length);
  }

  int32_t ReadFrame(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override {
    const uint32_t deadline = DeadlineAfter(timeoutMs);
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(lock_);
        if (!answers_.empty() && !TickBefore(plat::Tick(), answers_.front().due)) {
          const std::vector<uint8_t> frame = answers_.front().bytes;
          answers_.erase(answers_.begin());
          for (size_t i = 0; i < frame.size() && i < capacity; ++i) buffer[i] = frame[i];
          return static_cast<int32_t>(frame.size());
        }
      }
      if (DeadlinePassed(deadline)) return TransportTimedOut;
      if (StopRequested()) return TransportCancelled;
      plat::EventWait(arrived_, 5);
    }
  }

  struct Seen {
    uint8_t unit;
    uint16_t address;
    uint32_t tick;
  };
  std::vector<Seen> Requests() {
    std::lock_guard<std::mutex> hold(lock_);
    return seen_;
  }

  std::atomic<bool> openable{true};
  std::atomic<bool> failing{false};

 private:
  struct Answer {
    uint32_t due;
    std::vector<uint8_t> bytes;
  };
  void Queue(uint8_t unit, uint32_t delayMs, const std::vector<uint8_t>& pduBytes) {
    Pdu pdu;
    pdu.function = pduBytes[0];
    pdu.length = static_cast<uint32_t>(pduBytes.size() - 1);
    for (size_t i = 1; i < pduBytes.size(); ++i) pdu.data[i - 1] = pduBytes[i];
    AduHeader header;
    header.unitId = unit;
    uint8_t adu[kAduBufferSize];
    const int32_t length = framer_->BuildAdu(header, pdu, adu, sizeof adu);
    answers_.push_back({plat::Tick() + delayMs, std::vector<uint8_t>(adu, adu + length)});
    plat::EventSet(arrived_);
  }

  Framer* framer_;
  plat::Event* arrived_;
  std::mutex lock_;
  bool ready_ = false;
  std::vector<Answer> answers_;
  std::vector<Seen> seen_;
};

std::vector<uint8_t> Request(uint16_t transaction, uint8_t unit, uint8_t function, uint16_t address, uint16_t value) {
  return {static_cast<uint8_t>(transaction >> 8), static_cast<uint8_t>(transaction), 0, 0, 0, 6, unit, function,
          static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value)};
}

std::vector<uint8_t> Answer(const RawSocket& s, uint32_t timeoutMs = kHungMs) {
  std::vector<uint8_t> got = s.Receive(timeoutMs);
  return got == std::vector<uint8_t>{0xEE} ? std::vector<uint8_t>() : got;
}

class GatewayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GatewayInit(&gateway);
    line = mem::New<SimulatedLine>();
    MultiServerSettings network;
    network.bindAddress = "127.0.0.1";
    network.port = 0;
    ASSERT_EQ(GatewayStart(&gateway, line, 1000, network, GatewayHooks()), kGatewayStarted);
    port = static_cast<uint16_t>(MultiServerPort(&gateway.network));
  }
  void TearDown() override { GatewayRelease(&gateway); }

  Gateway gateway;
  SimulatedLine* line = nullptr;  // the gateway's
  uint16_t port = 0;
};

TEST_F(GatewayTest, MastersRequestsReachTheLineInArrivalOrderAndComeBackOnTheirConnections) {
  // Three masters behind a slow unit: each asks 100 ms after the one before.
  RawSocket a = RawSocket::Connect(port), b = RawSocket::Connect(port), c = RawSocket::Connect(port);
  ASSERT_TRUE(a.Send(Request(0xA001, 5, kReadHoldingRegisters, 1, 1)));
  SleepMs(100);
  ASSERT_TRUE(b.Send(Request(0xB001, 1, kReadHoldingRegisters, 2, 1)));
  SleepMs(100);
  ASSERT_TRUE(c.Send(Request(0xC001, 2, kReadHoldingRegisters, 3, 1)));
  const std::vector<uint8_t> fromC = Answer(c), fromB = Answer(b), fromA = Answer(a);
  EXPECT_EQ(fromA, (std::vector<uint8_t>{0xA0, 0x01, 0, 0, 0, 5, 5, 3, 2, 0x01, 0xF5}));  // 501
  EXPECT_EQ(fromB, (std::vector<uint8_t>{0xB0, 0x01, 0, 0, 0, 5, 1, 3, 2, 0x00, 0x66}));  // 102
  EXPECT_EQ(fromC, (std::vector<uint8_t>{0xC0, 0x01, 0, 0, 0, 5, 2, 3, 2, 0x00, 0xCB}));  // 203
  const std::vector<SimulatedLine::Seen> seen = line->Requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].unit, 5);
  EXPECT_EQ(seen[1].unit, 1);
  EXPECT_EQ(seen[2].unit, 2);

  // Eight masters at once, forty requests each: every answer its own.
  std::atomic<int> wrong{0};
  std::vector<std::thread> masters;
  for (int m = 0; m < 8; ++m) {
    masters.emplace_back([&, m] {
      RawSocket s = RawSocket::Connect(port);
      for (uint16_t i = 0; i < 40; ++i) {
        const uint8_t unit = static_cast<uint8_t>(1 + m % 2);
        const uint16_t address = static_cast<uint16_t>(m * 40 + i), id = static_cast<uint16_t>(m << 8 | i);
        const uint16_t value = static_cast<uint16_t>(unit * 100 + address);
        if (!s.Send(Request(id, unit, kReadHoldingRegisters, address, 1)) ||
            Answer(s) != std::vector<uint8_t>{static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), 0, 0, 0, 5,
                                              unit, 3, 2, static_cast<uint8_t>(value >> 8),
                                              static_cast<uint8_t>(value)})
          wrong.fetch_add(1);
      }
    });
  }
  for (std::thread& t : masters) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(GatewayCounts(&gateway, 1).answers, 1u + 160u);
  EXPECT_EQ(GatewayCounts(&gateway, 2).answers, 1u + 160u);
}

TEST_F(GatewayTest, BroadcastAbsentUnitAndALostLine) {
  RawSocket s = RawSocket::Connect(port);
  // Unit 0: on the line, no answer, and the next request waits out the turnaround.
  ASSERT_TRUE(s.Send(Request(1, kBroadcastUnitId, kWriteSingleRegister, 9, 99)));
  ASSERT_TRUE(s.Send(Request(2, 1, kReadHoldingRegisters, 9, 1)));
  EXPECT_EQ(Answer(s), (std::vector<uint8_t>{0, 2, 0, 0, 0, 5, 1, 3, 2, 0, 109})) << "only the read is answered";
  std::vector<SimulatedLine::Seen> seen = line->Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].unit, kBroadcastUnitId);
  EXPECT_GE(TickDiff(seen[1].tick, seen[0].tick), static_cast<int32_t>(kGatewayTurnaroundMs));

  // An absent unit: 0x0B once the time-out passed.
  ASSERT_TRUE(s.Send(Request(3, 7, kReadHoldingRegisters, 0, 1)));
  EXPECT_EQ(Answer(s), (std::vector<uint8_t>{0, 3, 0, 0, 0, 3, 7, 0x83, kGatewayTargetFailedToRespond}));
  EXPECT_EQ(GatewayCounts(&gateway, 7).noAnswer, 1u);

  // The line fails and stays away: 0x0A; back again: served.
  line->failing.store(true);
  line->openable.store(false);
  ASSERT_TRUE(s.Send(Request(4, 1, kReadHoldingRegisters, 0, 1)));
  EXPECT_EQ(Answer(s), (std::vector<uint8_t>{0, 4, 0, 0, 0, 3, 1, 0x83, kGatewayPathUnavailable}));
  ASSERT_TRUE(s.Send(Request(5, 1, kReadHoldingRegisters, 0, 1)));
  EXPECT_EQ(Answer(s), (std::vector<uint8_t>{0, 5, 0, 0, 0, 3, 1, 0x83, kGatewayPathUnavailable}));
  EXPECT_EQ(GatewayCounts(&gateway, 1).noPath, 2u);
  line->failing.store(false);
  line->openable.store(true);
  ASSERT_TRUE(s.Send(Request(6, 1, kReadHoldingRegisters, 0, 1)));
  EXPECT_EQ(Answer(s), (std::vector<uint8_t>{0, 6, 0, 0, 0, 5, 1, 3, 2, 0, 100}));
  // A unit beyond the line's addresses has no path either.
  ASSERT_TRUE(s.Send(Request(7, 248, kReadHoldingRegisters, 0, 1)));
  EXPECT_EQ(Answer(s), (std::vector<uint8_t>{0, 7, 0, 0, 0, 3, 248, 0x83, kGatewayPathUnavailable}));
}

TEST_F(GatewayTest, StopWhileMastersWaitForTheLine) {
  RawSocket a = RawSocket::Connect(port), b = RawSocket::Connect(port);
  ASSERT_TRUE(a.Send(Request(1, 5, kReadHoldingRegisters, 0, 1)));  // 400 ms on the line
  SleepMs(100);
  ASSERT_TRUE(b.Send(Request(2, 1, kReadHoldingRegisters, 0, 1)));  // queued behind it
  SleepMs(100);
  GatewayStop(&gateway);
  EXPECT_EQ(Answer(a), std::vector<uint8_t>());
  EXPECT_EQ(Answer(b), std::vector<uint8_t>());
}

}  // namespace
