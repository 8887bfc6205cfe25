// The server of several masters over loopback sockets: eight masters at
// once, each answered on its own connection with its own transaction IDs,
// a block they all write never read half written; the 17th connection
// reset at once and its place free again when a master leaves; a silent
// master closed after its idle time while a talking one stays; Stop with
// masters connected ends every thread and frees the port at once. What the
// log is told beside the frames comes with the master's address: each
// master closing in order, the refusal, the idle closing, nothing for Stop.
// Runs natively (also under ThreadSanitizer) and under Wine.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/deadline.h"
#include "modbus/functions.h"
#include "server/multi_server.h"
#include "transport/net/raw_socket.h"

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new NetworkEnvironment);

// Generous bound meaning "hung", never a measure of speed.
constexpr uint32_t kHungMs = 10000;

std::vector<uint8_t> Mbap(uint16_t transaction, const std::vector<uint8_t>& pdu) {
  std::vector<uint8_t> adu(7 + pdu.size());
  adu[0] = static_cast<uint8_t>(transaction >> 8);
  adu[1] = static_cast<uint8_t>(transaction);
  adu[5] = static_cast<uint8_t>(pdu.size() + 1);
  adu[6] = 1;
  for (size_t i = 0; i < pdu.size(); ++i) adu[7 + i] = pdu[i];
  return adu;
}

std::vector<uint8_t> WriteRegisters(uint16_t transaction, uint16_t address, const std::vector<uint16_t>& values) {
  std::vector<uint8_t> pdu = {kWriteMultipleRegisters, static_cast<uint8_t>(address >> 8),
                              static_cast<uint8_t>(address), 0, static_cast<uint8_t>(values.size()),
                              static_cast<uint8_t>(values.size() * 2)};
  for (uint16_t v : values) {
    pdu.push_back(static_cast<uint8_t>(v >> 8));
    pdu.push_back(static_cast<uint8_t>(v));
  }
  return Mbap(transaction, pdu);
}

std::vector<uint8_t> ReadRegisters(uint16_t transaction, uint16_t address, uint16_t count) {
  return Mbap(transaction, {kReadHoldingRegisters, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                            0, static_cast<uint8_t>(count)});
}

// The whole answer to one request: header and PDU; empty when none came.
std::vector<uint8_t> Exchange(const RawSocket& s, const std::vector<uint8_t>& request) {
  if (!s.Send(request)) return {};
  std::vector<uint8_t> answer;
  const uint32_t deadline = DeadlineAfter(kHungMs);
  while (answer.size() < 6 || answer.size() < 6u + answer[5]) {
    std::vector<uint8_t> part = s.Receive(RemainingMs(deadline));
    if (part.empty() || part == std::vector<uint8_t>{0xEE}) return {};
    for (uint8_t byte : part) answer.push_back(byte);
  }
  return answer;
}

uint16_t TransactionOf(const std::vector<uint8_t>& adu) {
  return static_cast<uint16_t>(adu[0] << 8 | adu[1]);
}

std::vector<uint16_t> RegistersOf(const std::vector<uint8_t>& adu) {
  std::vector<uint16_t> values;
  for (size_t i = 9; i + 1 < adu.size(); i += 2) values.push_back(static_cast<uint16_t>(adu[i] << 8 | adu[i + 1]));
  return values;
}

// True when the peer closed or reset the connection within kHungMs.
bool ClosedByServer(const RawSocket& s) {
  const uint32_t deadline = DeadlineAfter(kHungMs);
  while (!DeadlinePassed(deadline)) {
    std::vector<uint8_t> got = s.Receive(RemainingMs(deadline));
    if (got == std::vector<uint8_t>{0xEE}) return true;
    if (got.empty()) return false;
  }
  return false;
}

template <typename Predicate>
bool WaitFor(Predicate done) {
  const uint32_t deadline = DeadlineAfter(kHungMs);
  while (!done()) {
    if (DeadlinePassed(deadline)) return false;
    SleepMs(5);
  }
  return true;
}

class MultiServerTest : public ::testing::Test {
 protected:
  void Start(uint32_t idleMs = 60000) {
    MultiServerSettings settings;
    settings.bindAddress = "127.0.0.1";
    settings.port = 0;
    settings.idleMs = idleMs;
    MultiServerHooks hooks;
    hooks.context = this;
    hooks.mastersChanged = [](void* context) { static_cast<MultiServerTest*>(context)->changes.fetch_add(1); };
    hooks.happened = [](void* context, MultiServerEvent event, uint32_t address, uint16_t peerPort) {
      MultiServerTest* self = static_cast<MultiServerTest*>(context);
      self->events[static_cast<int>(event)].fetch_add(1);
      if (address != 0x7F000001 || peerPort == 0) self->unnamed.fetch_add(1);
    };
    ASSERT_EQ(MultiServerStart(&server, &map, settings, hooks), 1);
    port = static_cast<uint16_t>(MultiServerPort(&server));
  }
  void TearDown() override { MultiServerStop(&server); }

  DeviceMap map;
  MultiServer server;
  uint16_t port = 0;
  std::atomic<uint32_t> changes{0};
  std::atomic<uint32_t> events[5] = {};  // by MultiServerEvent
  std::atomic<uint32_t> unnamed{0};     // events without the master's address and port
  uint32_t Events(MultiServerEvent event) const { return events[static_cast<int>(event)].load(); }
};

TEST_F(MultiServerTest, EightMastersAtOnceEachAnsweredOnItsOwnConnectionTheMapNeverTorn) {
  Start();
  constexpr int kMasters = 8;
  constexpr int kRounds = 150;
  constexpr uint16_t kShared = 1000;  // a block every master writes whole
  std::atomic<int> failures{0};
  std::vector<std::thread> masters;
  for (int m = 0; m < kMasters; ++m) {
    masters.emplace_back([&, m] {
      RawSocket s = RawSocket::Connect(port);
      if (!s.valid()) {
        failures.fetch_add(1);
        return;
      }
      for (int round = 0; round < kRounds; ++round) {
        const uint16_t id = static_cast<uint16_t>(m << 12 | round);
        const uint16_t value = static_cast<uint16_t>(m * 1000 + round);
        const std::vector<uint16_t> own(10, value);
        std::vector<uint8_t> answer = Exchange(s, WriteRegisters(id, static_cast<uint16_t>(m * 10), own));
        if (answer.size() != 12 || TransactionOf(answer) != id) failures.fetch_add(1);
        answer = Exchange(s, ReadRegisters(static_cast<uint16_t>(id + 1), static_cast<uint16_t>(m * 10), 10));
        if (answer.size() < 9 || TransactionOf(answer) != static_cast<uint16_t>(id + 1) || RegistersOf(answer) != own)
          failures.fetch_add(1);
        Exchange(s, WriteRegisters(id, kShared, std::vector<uint16_t>(8, value)));
        const std::vector<uint16_t> shared = RegistersOf(Exchange(s, ReadRegisters(id, kShared, 8)));
        if (shared.size() != 8 || std::vector<uint16_t>(8, shared[0]) != shared) failures.fetch_add(1);
      }
    });
  }
  for (std::thread& t : masters) t.join();
  EXPECT_EQ(failures.load(), 0);
  // Each master's block holds its last write.
  for (int m = 0; m < kMasters; ++m)
    for (int i = 0; i < 10; ++i)
      EXPECT_EQ(map.ReadCellLocked(kAreaHoldingRegisters, static_cast<uint16_t>(m * 10 + i)), m * 1000 + kRounds - 1);
  EXPECT_TRUE(WaitFor([&] { return server.masters.load() == 0; }));
  EXPECT_GE(changes.load(), 2u * kMasters);
  EXPECT_EQ(Events(MultiServerEvent::kClosedByMaster), static_cast<uint32_t>(kMasters));
  EXPECT_EQ(Events(MultiServerEvent::kDropped) + Events(MultiServerEvent::kInvalidFrame), 0u);
  EXPECT_EQ(unnamed.load(), 0u);
}

TEST_F(MultiServerTest, TheSeventeenthIsRefusedAtOnceAndAPlaceFreedIsTakenAgain) {
  Start();
  std::vector<RawSocket> held;
  for (uint32_t i = 0; i < kMaxMasters; ++i) {
    held.push_back(RawSocket::Connect(port));
    ASSERT_EQ(Exchange(held.back(), ReadRegisters(static_cast<uint16_t>(i), 0, 1)).size(), 11u) << "master " << i;
  }
  EXPECT_EQ(server.masters.load(), kMaxMasters);
  RawSocket extra = RawSocket::Connect(port);
  ASSERT_TRUE(extra.valid());
  EXPECT_TRUE(ClosedByServer(extra));
  EXPECT_EQ(server.refused.load(), 1u);
  EXPECT_EQ(server.masters.load(), kMaxMasters);
  // The others are served on as before.
  EXPECT_EQ(Exchange(held[3], ReadRegisters(77, 0, 1)).size(), 11u);
  held[5].Reset();
  ASSERT_TRUE(WaitFor([&] { return server.masters.load() == kMaxMasters - 1; }));
  RawSocket again = RawSocket::Connect(port);
  std::vector<uint8_t> answer = Exchange(again, ReadRegisters(78, 0, 1));
  ASSERT_EQ(answer.size(), 11u);
  EXPECT_EQ(TransactionOf(answer), 78);
  EXPECT_EQ(server.refused.load(), 1u);
  EXPECT_EQ(Events(MultiServerEvent::kRefused), 1u);
  EXPECT_EQ(Events(MultiServerEvent::kClosedByMaster), 1u);
  EXPECT_EQ(unnamed.load(), 0u);
}

TEST_F(MultiServerTest, ASilentMasterIsClosedAfterItsIdleTimeATalkingOneStays) {
  Start(600);
  RawSocket silent = RawSocket::Connect(port);
  RawSocket talking = RawSocket::Connect(port);
  ASSERT_TRUE(silent.valid() && talking.valid());
  const uint32_t start = plat::Tick();
  // A request every 150 ms for twice the idle time: never silent long enough.
  for (uint16_t i = 0; TickDiff(plat::Tick(), start) < 1200; ++i) {
    ASSERT_EQ(Exchange(talking, ReadRegisters(i, 0, 1)).size(), 11u) << "request " << i;
    SleepMs(150);
  }
  EXPECT_TRUE(ClosedByServer(silent));
  EXPECT_EQ(server.idleClosed.load(), 1u);
  EXPECT_EQ(Events(MultiServerEvent::kIdleClosed), 1u);
  EXPECT_EQ(Exchange(talking, ReadRegisters(999, 0, 1)).size(), 11u);
}

TEST_F(MultiServerTest, StopWithMastersConnectedEndsEveryConnectionAndFreesThePort) {
  Start(0);
  std::vector<RawSocket> held;
  for (int i = 0; i < 4; ++i) {
    held.push_back(RawSocket::Connect(port));
    ASSERT_EQ(Exchange(held.back(), ReadRegisters(1, 0, 1)).size(), 11u);
  }
  held[0].Send({0, 1, 0, 0});  // half a header: that connection waits inside a frame
  MultiServerStop(&server);
  for (RawSocket& s : held) EXPECT_TRUE(ClosedByServer(s));
  for (const std::atomic<uint32_t>& count : events) EXPECT_EQ(count.load(), 0u) << "the server's own Stop";
  MultiServerSettings settings;
  settings.bindAddress = "127.0.0.1";
  settings.port = port;
  EXPECT_EQ(MultiServerStart(&server, &map, settings, MultiServerHooks()), 1) << "port " << port << " free again";
  RawSocket after = RawSocket::Connect(port);
  EXPECT_EQ(Exchange(after, ReadRegisters(5, 0, 1)).size(), 11u);
}

}  // namespace
