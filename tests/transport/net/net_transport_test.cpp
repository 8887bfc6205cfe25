// The TCP and UDP transports against plain loopback sockets: connection
// loss, time-outs, cancellation, the one-client rule of the TCP server, the
// UDP reply peer and stale datagrams. Time limits here are generous upper
// bounds (the same tests run under Wine); the measured figures are printed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/platform.h"
#include "modbus/link.h"
#include "modbus/mbap_framer.h"
#include "raw_socket.h"
#include "transport/tcp_client_transport.h"
#include "transport/tcp_server_transport.h"
#include "transport/udp_client_transport.h"
#include "transport/udp_server_transport.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new NetworkEnvironment);

// A stop must end every wait promptly; the latency is printed as a figure.
// The bound only means "hung": far above Wine's latency on a loaded machine,
// far below the 10 s the cancelled calls would otherwise wait.
constexpr double kCancelHungMs = 5000.0;

const Bytes kRequest = {0x00, 0x07, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x00, 0x00, 0x00, 0x01};

int32_t ReadSome(Transport* t, Bytes* out, uint32_t timeoutMs) {
  uint8_t buffer[600];
  int32_t n = t->Read(buffer, sizeof buffer, timeoutMs);
  if (n > 0) out->assign(buffer, buffer + n);
  return n;
}

// Runs fn on a thread and cancels the transport as soon as the thread has
// begun the call, then every 20 ms until it returns: Open resets the stop
// event as it begins, so a cancel that lands before that is not seen (the
// other calls see a stop set before they wait). Returns how long the call
// took to return after the first cancel, with its result.
template <typename Fn>
double CancelLatency(Transport* t, Fn fn, int32_t* result) {
  plat::Event* started = plat::EventNew(true, false);
  plat::Event* returned = plat::EventNew(true, false);
  Clock::time_point returnedAt;
  std::thread worker([&] {
    plat::EventSet(started);
    *result = fn();
    returnedAt = Clock::now();
    plat::EventSet(returned);
  });
  EXPECT_TRUE(plat::EventWait(started, static_cast<uint32_t>(kCancelHungMs)));
  EXPECT_FALSE(plat::EventWait(returned, 0)) << "the call ended before the cancel";
  const Clock::time_point cancelled = Clock::now();
  do {
    t->Cancel();
  } while (!plat::EventWait(returned, 20) && MsSince(cancelled) < kCancelHungMs);
  worker.join();
  plat::EventFree(started);
  plat::EventFree(returned);
  return std::chrono::duration<double, std::milli>(returnedAt - cancelled).count();
}

TEST(FormatIpv4, SettingsAddressesBecomeDottedText) {
  const struct {
    uint32_t address;
    const char* text;
  } cases[] = {
      {0x7F000001u, "127.0.0.1"}, {0x00000000u, "0.0.0.0"}, {0xFFFFFFFFu, "255.255.255.255"},
      {0x0A09630Bu, "10.9.99.11"}, {0xC0A80A64u, "192.168.10.100"},
  };
  for (const auto& c : cases) {
    char text[16];
    FormatIpv4(c.address, text);
    EXPECT_STREQ(text, c.text);
  }
}

// --- TCP client -------------------------------------------------------------

TEST(TcpClientTransport, ServerCloseDropsTheConnectionAndTheNextOpenReconnects) {
  RawSocket listener = RawSocket::Listener(4);
  TcpClientTransport client("127.0.0.1", listener.Port(), 1000);
  ASSERT_EQ(client.Open(), 1);
  RawSocket peer = listener.Accept(1000);
  ASSERT_TRUE(peer.valid());
  peer.Reset();  // the server goes away
  Bytes got;
  EXPECT_EQ(ReadSome(&client, &got, 1000), TransportIoError);
  EXPECT_EQ(client.IsReady(), 0);
  ASSERT_EQ(client.Open(), 1);
  RawSocket again = listener.Accept(1000);
  ASSERT_TRUE(again.valid());
  ASSERT_EQ(client.Write(kRequest.data(), static_cast<uint32_t>(kRequest.size()), 1000),
            static_cast<int32_t>(kRequest.size()));
  EXPECT_EQ(again.Receive(1000), kRequest);
}

TEST(TcpClientTransport, IdleReadTimesOutAndKeepsTheConnection) {
  RawSocket listener = RawSocket::Listener(4);
  TcpClientTransport client("127.0.0.1", listener.Port(), 1000);
  ASSERT_EQ(client.Open(), 1);
  RawSocket peer = listener.Accept(1000);
  Bytes got;
  auto start = Clock::now();
  EXPECT_EQ(ReadSome(&client, &got, 300), 0);
  double elapsed = MsSince(start);
  EXPECT_GE(elapsed, 280.0);
  EXPECT_LT(elapsed, 1500.0);
  EXPECT_EQ(client.IsReady(), 1);
  ASSERT_TRUE(peer.Send({1, 2, 3}));
  EXPECT_EQ(ReadSome(&client, &got, 1000), 3);
  EXPECT_EQ(got, (Bytes{1, 2, 3}));
}

TEST(TcpClientTransport, ReadServesBytesAsTheCallerAsksForThem) {
  RawSocket listener = RawSocket::Listener(4);
  TcpClientTransport client("127.0.0.1", listener.Port(), 1000);
  ASSERT_EQ(client.Open(), 1);
  RawSocket peer = listener.Accept(1000);
  ASSERT_TRUE(peer.Send({1, 2, 3, 4, 5, 6, 7}));
  uint8_t buffer[8] = {};
  Bytes got;
  for (uint32_t want : {1u, 2u, 4u}) {
    int32_t n = client.Read(buffer, want, 1000);
    ASSERT_GT(n, 0);
    got.insert(got.end(), buffer, buffer + n);
  }
  EXPECT_EQ(got, (Bytes{1, 2, 3, 4, 5, 6, 7}));
}

TEST(TcpClientTransport, PrepareExchangeDropsALateAnswerAndNoticesAClosedServer) {
  RawSocket listener = RawSocket::Listener(4);
  TcpClientTransport client("127.0.0.1", listener.Port(), 1000);
  ASSERT_EQ(client.Open(), 1);
  RawSocket peer = listener.Accept(1000);
  Bytes got;
  uint8_t one;
  ASSERT_TRUE(peer.Send({1, 2, 3}));
  ASSERT_EQ(client.Read(&one, 1, 1000), 1);  // two bytes are left over
  EXPECT_EQ(client.PrepareExchange(), 1);
  EXPECT_EQ(ReadSome(&client, &got, 100), 0);  // the exchange gives up
  ASSERT_TRUE(peer.Send(Bytes(1500, 9)));      // and its answer comes late
  SleepMs(50);
  EXPECT_EQ(client.PrepareExchange(), 1);
  EXPECT_EQ(ReadSome(&client, &got, 100), 0);
  peer.Reset();
  SleepMs(50);
  EXPECT_EQ(client.PrepareExchange(), 0);
  EXPECT_EQ(client.IsReady(), 0);
}

TEST(TcpClientTransport, RefusedConnectionFailsWithoutWaitingForTheTimeOut) {
  uint16_t port;
  {
    RawSocket probe = RawSocket::Listener(1);
    port = probe.Port();
  }  // nobody listens there any more
  TcpClientTransport client("127.0.0.1", port, 5000);
  auto start = Clock::now();
  EXPECT_EQ(client.Open(), 0);
  EXPECT_LT(MsSince(start), 3000.0);
  EXPECT_EQ(client.IsReady(), 0);
}

// A listener whose backlog is full never completes another handshake.
struct FullListener {
  RawSocket listener = RawSocket::Listener(0);
  std::vector<TcpClientTransport*> fillers;
  FullListener() {
    for (int i = 0; i < 4; ++i) {
      auto* filler = new TcpClientTransport("127.0.0.1", listener.Port(), 200);
      filler->Open();
      fillers.push_back(filler);
    }
  }
  ~FullListener() {
    for (auto* filler : fillers) delete filler;
  }
};

TEST(TcpClientTransport, ConnectGivesUpAfterItsTimeOut) {
  FullListener full;
  TcpClientTransport client("127.0.0.1", full.listener.Port(), 400);
  auto start = Clock::now();
  EXPECT_EQ(client.Open(), 0);
  double elapsed = MsSince(start);
  EXPECT_GE(elapsed, 350.0);
  EXPECT_LT(elapsed, 2000.0);
}

TEST(TcpClientTransport, CancelEndsAConnectAttemptPromptly) {
  FullListener full;
  TcpClientTransport client("127.0.0.1", full.listener.Port(), 10000);
  int32_t result = -99;
  double latency = CancelLatency(&client, [&] { return client.Open(); }, &result);
  printf("[ measured ] cancel during connect: %.1f ms\n", latency);
  EXPECT_EQ(result, 0);
  EXPECT_LT(latency, kCancelHungMs);
  EXPECT_EQ(client.Open(), 0) << "a cancelled transport stays stopped";
}

TEST(TcpClientTransport, CancelEndsABlockedRead) {
  RawSocket listener = RawSocket::Listener(4);
  TcpClientTransport client("127.0.0.1", listener.Port(), 1000);
  ASSERT_EQ(client.Open(), 1);
  RawSocket peer = listener.Accept(1000);
  Bytes got;
  int32_t result = -99;
  double latency = CancelLatency(&client, [&] { return ReadSome(&client, &got, 10000); }, &result);
  printf("[ measured ] cancel during TCP client read: %.1f ms\n", latency);
  EXPECT_EQ(result, TransportCancelled);
  EXPECT_LT(latency, kCancelHungMs);
}

// --- UDP client -------------------------------------------------------------

TEST(UdpClientTransport, LateResponseIsDiscardedBeforeTheNextRequest) {
  RawSocket server = RawSocket::Datagram();
  UdpClientTransport client("127.0.0.1", server.Port());
  ASSERT_EQ(client.Open(), 1);
  ASSERT_EQ(client.PrepareExchange(), 1);
  ASSERT_EQ(client.Write(kRequest.data(), static_cast<uint32_t>(kRequest.size()), 1000),
            static_cast<int32_t>(kRequest.size()));
  sock::Address from;
  ASSERT_EQ(server.Receive(1000, &from), kRequest);
  uint8_t buffer[300];
  EXPECT_EQ(client.ReadFrame(buffer, sizeof buffer, 100), 0);  // the client gives up
  ASSERT_TRUE(server.SendTo({0xAA, 0xBB}, from));              // then the answer comes
  ASSERT_TRUE(server.SendTo({0xCC}, from));
  SleepMs(50);
  EXPECT_EQ(client.PrepareExchange(), 1);
  EXPECT_EQ(client.ReadFrame(buffer, sizeof buffer, 200), 0);
  ASSERT_TRUE(server.SendTo({0x01, 0x02, 0x03}, from));
  EXPECT_EQ(client.ReadFrame(buffer, sizeof buffer, 1000), 3);
}

TEST(UdpClientTransport, DatagramsFromAnotherPortAreNeverSeen) {
  RawSocket server = RawSocket::Datagram();
  RawSocket stranger = RawSocket::Datagram();
  UdpClientTransport client("127.0.0.1", server.Port());
  ASSERT_EQ(client.Open(), 1);
  ASSERT_EQ(client.Write(kRequest.data(), static_cast<uint32_t>(kRequest.size()), 1000),
            static_cast<int32_t>(kRequest.size()));
  sock::Address from;
  ASSERT_EQ(server.Receive(1000, &from), kRequest);
  ASSERT_TRUE(stranger.SendTo({0x66, 0x66}, from));
  uint8_t buffer[300];
  EXPECT_EQ(client.ReadFrame(buffer, sizeof buffer, 200), 0);
  ASSERT_TRUE(server.SendTo({0x42}, from));
  ASSERT_EQ(client.ReadFrame(buffer, sizeof buffer, 1000), 1);
  EXPECT_EQ(buffer[0], 0x42);
}

TEST(UdpClientTransport, OversizedAndEmptyDatagramsAreReportedAndTheSocketStays) {
  RawSocket server = RawSocket::Datagram();
  UdpClientTransport client("127.0.0.1", server.Port());
  ASSERT_EQ(client.Open(), 1);
  ASSERT_EQ(client.Write(kRequest.data(), static_cast<uint32_t>(kRequest.size()), 1000), 12);
  sock::Address from;
  ASSERT_EQ(server.Receive(1000, &from), kRequest);
  uint8_t buffer[261];
  ASSERT_TRUE(server.SendTo(Bytes(262, 0x11), from));
  EXPECT_EQ(client.ReadFrame(buffer, sizeof buffer, 1000), TransportFrameTooLarge);
  ASSERT_TRUE(server.SendTo(Bytes(), from));
  EXPECT_EQ(client.ReadFrame(buffer, sizeof buffer, 1000), TransportInvalidFrame);
  ASSERT_TRUE(server.SendTo(Bytes(261, 0x22), from));
  EXPECT_EQ(client.ReadFrame(buffer, sizeof buffer, 1000), 261);
  EXPECT_EQ(client.IsReady(), 1);
}

TEST(UdpClientTransport, CancelEndsABlockedReadFrame) {
  RawSocket server = RawSocket::Datagram();
  UdpClientTransport client("127.0.0.1", server.Port());
  ASSERT_EQ(client.Open(), 1);
  uint8_t buffer[300];
  int32_t result = -99;
  double latency = CancelLatency(&client, [&] { return client.ReadFrame(buffer, sizeof buffer, 10000); }, &result);
  printf("[ measured ] cancel during UDP client read: %.1f ms\n", latency);
  EXPECT_EQ(result, TransportCancelled);
  EXPECT_LT(latency, kCancelHungMs);
}

// --- TCP server -------------------------------------------------------------

TEST(TcpServerTransport, AnIdleClientReadTimesOutAndStaysConnected) {
  TcpServerTransport server("127.0.0.1", 0);
  ASSERT_EQ(server.Open(), 1);
  RawSocket client = RawSocket::Connect(static_cast<uint16_t>(server.BoundPort()));
  ASSERT_TRUE(client.valid());
  Bytes got;
  auto start = Clock::now();
  EXPECT_EQ(ReadSome(&server, &got, 500), 0);
  EXPECT_LT(MsSince(start), 2000.0);
  EXPECT_TRUE(server.ClientConnected());
  ASSERT_TRUE(client.Send(kRequest));
  EXPECT_EQ(ReadSome(&server, &got, 1000), 12);
}

TEST(TcpServerTransport, ASecondClientWaitsInTheBacklogUntilTheFirstLeaves) {
  TcpServerTransport server("127.0.0.1", 0);
  ASSERT_EQ(server.Open(), 1);
  uint16_t port = static_cast<uint16_t>(server.BoundPort());
  RawSocket first = RawSocket::Connect(port);
  ASSERT_TRUE(first.valid());
  ASSERT_TRUE(first.Send({0x01}));
  Bytes got;
  ASSERT_EQ(ReadSome(&server, &got, 1000), 1);
  RawSocket second = RawSocket::Connect(port);  // the handshake completes in the backlog
  ASSERT_TRUE(second.valid());
  ASSERT_TRUE(second.Send({0x02}));
  EXPECT_EQ(ReadSome(&server, &got, 300), 0) << "the second client must not be served";
  ASSERT_EQ(server.Write(got.data(), 1, 1000), 1);
  EXPECT_EQ(first.Receive(1000), (Bytes{0x01}));
  EXPECT_TRUE(second.Receive(100).empty());
  first.Reset();
  EXPECT_EQ(ReadSome(&server, &got, 1000), TransportIoError);  // the first is gone
  EXPECT_FALSE(server.ClientConnected());
  ASSERT_EQ(ReadSome(&server, &got, 1000), 1);
  EXPECT_EQ(got, (Bytes{0x02}));
  ASSERT_EQ(server.Write(got.data(), 1, 1000), 1);
  EXPECT_EQ(second.Receive(1000), (Bytes{0x02}));
}

TEST(TcpServerTransport, ABadMbapLengthDropsOnlyThatClient) {
  TcpServerTransport server("", 0);  // every interface
  MbapFramer framer;
  ASSERT_EQ(server.Open(), 1);
  uint16_t port = static_cast<uint16_t>(server.BoundPort());
  Link* link = LinkCreate(&server, &framer, kLinkRoleServer, nullptr, nullptr, nullptr);
  RawSocket bad = RawSocket::Connect(port);
  ASSERT_TRUE(bad.Send({0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x01}));
  AduHeader header;
  Pdu pdu;
  EXPECT_EQ(ReceiveAdu(link, &header, &pdu, 1000), StatusInvalidLength);
  EXPECT_FALSE(server.ClientConnected());
  EXPECT_EQ(bad.Receive(1000), (Bytes{0xEE})) << "the bad client sees its connection closed";
  EXPECT_EQ(server.IsReady(), 1);
  RawSocket good = RawSocket::Connect(port);
  ASSERT_TRUE(good.Send(kRequest));
  EXPECT_EQ(ReceiveAdu(link, &header, &pdu, 1000), 12);
  EXPECT_EQ(header.transactionId, 7);
  LinkDestroy(link);
}

TEST(TcpServerTransport, ClientsThatVanishMidFrameNeverWedgeTheServer) {
  TcpServerTransport server("127.0.0.1", 0);
  MbapFramer framer;
  ASSERT_EQ(server.Open(), 1);
  uint16_t port = static_cast<uint16_t>(server.BoundPort());
  Link* link = LinkCreate(&server, &framer, kLinkRoleServer, nullptr, nullptr, nullptr);
  std::atomic<int> completed{0};
  std::atomic<int> broken{0};
  std::thread serving([&] {
    // Bounded: at most 100 broken frames and one good one, or 30 s.
    auto until = Clock::now() + std::chrono::seconds(30);
    while (completed == 0 && Clock::now() < until) {
      AduHeader header;
      Pdu pdu;
      int32_t status = ReceiveAdu(link, &header, &pdu, 200);
      if (status > 0) {
        SendAdu(link, link->receiveBuffer, static_cast<uint32_t>(status));
        ++completed;
      } else if (status != StatusTimeout) {
        ++broken;
      }
    }
  });
  for (int i = 0; i < 100; ++i) {
    RawSocket client = RawSocket::Connect(port);
    ASSERT_TRUE(client.valid()) << "attempt " << i;
    ASSERT_TRUE(client.Send(Bytes(kRequest.begin(), kRequest.begin() + 1 + i % 10)));
    client.Reset();
    // One at a time: a connect that finds the backlog of one full would sit
    // out the system's SYN retry, which proves nothing here.
    for (int wait = 0; wait < 400 && broken.load() <= i; ++wait) SleepMs(5);
    ASSERT_GT(broken.load(), i) << "the server did not drop client " << i;
  }
  RawSocket last = RawSocket::Connect(port);
  ASSERT_TRUE(last.Send(kRequest));
  Bytes echo;
  for (int i = 0; i < 100 && echo.size() < kRequest.size(); ++i) {
    Bytes part = last.Receive(300);
    if (part == Bytes{0xEE}) break;
    echo.insert(echo.end(), part.begin(), part.end());
  }
  serving.join();
  EXPECT_EQ(echo, kRequest);
  EXPECT_EQ(completed.load(), 1);
  printf("[ measured ] broken connections seen by the server: %d\n", broken.load());
  LinkDestroy(link);
}

TEST(TcpServerTransport, CancelEndsTheWaitForAClientAndForData) {
  TcpServerTransport server("127.0.0.1", 0);
  ASSERT_EQ(server.Open(), 1);
  Bytes got;
  int32_t result = -99;
  double latency = CancelLatency(&server, [&] { return ReadSome(&server, &got, 10000); }, &result);
  printf("[ measured ] cancel during accept: %.1f ms\n", latency);
  EXPECT_EQ(result, TransportCancelled);
  EXPECT_LT(latency, kCancelHungMs);

  TcpServerTransport second("127.0.0.1", 0);
  ASSERT_EQ(second.Open(), 1);
  RawSocket client = RawSocket::Connect(static_cast<uint16_t>(second.BoundPort()));
  ASSERT_TRUE(client.Send({0x01}));
  ASSERT_EQ(ReadSome(&second, &got, 1000), 1);
  latency = CancelLatency(&second, [&] { return ReadSome(&second, &got, 10000); }, &result);
  printf("[ measured ] cancel during TCP server read: %.1f ms\n", latency);
  EXPECT_EQ(result, TransportCancelled);
  EXPECT_LT(latency, kCancelHungMs);
}

// --- both servers -----------------------------------------------------------

TEST(ServerTransports, APortInUseRefusesOpen) {
  TcpServerTransport tcp("127.0.0.1", 0);
  ASSERT_EQ(tcp.Open(), 1);
  TcpServerTransport tcpAgain("127.0.0.1", static_cast<uint16_t>(tcp.BoundPort()));
  EXPECT_EQ(tcpAgain.Open(), 0);
  EXPECT_EQ(tcpAgain.IsReady(), 0);

  UdpServerTransport udp("127.0.0.1", 0);
  ASSERT_EQ(udp.Open(), 1);
  UdpServerTransport udpAgain("127.0.0.1", static_cast<uint16_t>(udp.BoundPort()));
  EXPECT_EQ(udpAgain.Open(), 0);
  EXPECT_EQ(udpAgain.IsReady(), 0);
}

// Every interface means every address, so a server bound to "" answers on
// 127.0.0.2 as well; one bound to 127.0.0.1 does not.
TEST(ServerTransports, AnEmptyBindAddressListensOnEveryInterface) {
  constexpr uint32_t kOtherLoopback = 0x7F000002;
  const struct {
    const char* bind;
    bool reachable;
  } cases[] = {{"", true}, {"127.0.0.1", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("bind \"") + c.bind + "\"");
    Bytes got;
    TcpServerTransport tcp(c.bind, 0);
    ASSERT_EQ(tcp.Open(), 1);
    RawSocket client = RawSocket::Connect(static_cast<uint16_t>(tcp.BoundPort()), kOtherLoopback);
    ASSERT_EQ(client.valid(), c.reachable);
    if (c.reachable) {
      ASSERT_TRUE(client.Send({0x01, 0x02}));
      EXPECT_EQ(ReadSome(&tcp, &got, 1000), 2);
    }

    UdpServerTransport udp(c.bind, 0);
    ASSERT_EQ(udp.Open(), 1);
    RawSocket peer = RawSocket::Datagram();
    ASSERT_TRUE(peer.SendTo({0x03}, static_cast<uint16_t>(udp.BoundPort()), kOtherLoopback));
    uint8_t buffer[300];
    EXPECT_EQ(udp.ReadFrame(buffer, sizeof buffer, c.reachable ? 1000 : 200), c.reachable ? 1 : 0);
  }
}

// --- UDP server -------------------------------------------------------------

TEST(UdpServerTransport, RepliesGoToTheExactSenderAndOnlyOnce) {
  UdpServerTransport server("127.0.0.1", 0);
  ASSERT_EQ(server.Open(), 1);
  uint16_t port = static_cast<uint16_t>(server.BoundPort());
  RawSocket a = RawSocket::Datagram();
  RawSocket b = RawSocket::Datagram();
  uint8_t buffer[300];
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(a.SendTo({0x0A, static_cast<uint8_t>(round)}, port));
    ASSERT_EQ(server.ReadFrame(buffer, sizeof buffer, 1000), 2);
    ASSERT_TRUE(b.SendTo({0x0B, static_cast<uint8_t>(round)}, port));
    EXPECT_EQ(server.Write(buffer, 2, 1000), 2);  // to a, which asked first
    ASSERT_EQ(server.ReadFrame(buffer, sizeof buffer, 1000), 2);
    EXPECT_EQ(server.Write(buffer, 2, 1000), 2);
    EXPECT_EQ(server.Write(buffer, 2, 1000), TransportIoError) << "nobody asked again";
    EXPECT_EQ(a.Receive(1000), (Bytes{0x0A, static_cast<uint8_t>(round)}));
    EXPECT_EQ(b.Receive(1000), (Bytes{0x0B, static_cast<uint8_t>(round)}));
  }
}

TEST(UdpServerTransport, PrepareExchangeDrainsAndForgetsThePeer) {
  UdpServerTransport server("127.0.0.1", 0);
  ASSERT_EQ(server.Open(), 1);
  uint16_t port = static_cast<uint16_t>(server.BoundPort());
  RawSocket a = RawSocket::Datagram();
  uint8_t buffer[300];
  ASSERT_TRUE(a.SendTo({1}, port));
  ASSERT_EQ(server.ReadFrame(buffer, sizeof buffer, 1000), 1);
  ASSERT_TRUE(a.SendTo({2}, port));
  ASSERT_TRUE(a.SendTo(Bytes(600, 3), port));
  SleepMs(50);
  EXPECT_EQ(server.PrepareExchange(), 1);
  EXPECT_EQ(server.Write(buffer, 1, 1000), TransportIoError);
  EXPECT_EQ(server.ReadFrame(buffer, sizeof buffer, 100), 0);
}

TEST(UdpServerTransport, CancelEndsABlockedReadFrame) {
  UdpServerTransport server("127.0.0.1", 0);
  ASSERT_EQ(server.Open(), 1);
  uint8_t buffer[300];
  int32_t result = -99;
  double latency = CancelLatency(&server, [&] { return server.ReadFrame(buffer, sizeof buffer, 10000); }, &result);
  printf("[ measured ] cancel during UDP server read: %.1f ms\n", latency);
  EXPECT_EQ(result, TransportCancelled);
  EXPECT_LT(latency, kCancelHungMs);
}

}  // namespace
