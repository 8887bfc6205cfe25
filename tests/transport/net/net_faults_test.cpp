// The network transports where they meet conditions of a real network
// stack: a connection that died after its retransmissions, an accept or
// select that fails at once, a late RTU answer on a stream, an ICMP "port
// unreachable", a request sent to another address of the machine, a master
// that vanished and a quick Disconnect and Connect of the slave. What
// loopback can produce is produced for real; the rest goes through the
// shim's error-injection seam. CPU figures are printed, never asserted.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "client/transaction.h"
#include "modbus/link.h"
#include "modbus/rtu_framer.h"
#include "raw_socket.h"
#include "transport/tcp_client_transport.h"
#include "transport/tcp_server_transport.h"
#include "transport/udp_client_transport.h"
#include "transport/udp_server_transport.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new NetworkEnvironment);

// CPU time of the whole process, user and kernel, in milliseconds.
double ProcessCpuMs() {
#if defined(_WIN32)
  FILETIME created, exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ms = [](const FILETIME& t) {
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
  };
  return ms(kernel) + ms(user);
#else
  rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
#endif
}

// One injected fault at a time: calls of one kind fail with error, times
// times (-1: for ever). The handle of the last call of that kind is kept.
struct Injection {
  std::atomic<sock::Call> call{sock::Call::Wait};
  std::atomic<int> error{0};
  std::atomic<int> times{0};
  std::atomic<intptr_t> lastHandle{-1};
};
Injection g_injection;

int InjectHook(sock::Call call, intptr_t handle) {
  if (call != g_injection.call.load()) return 0;
  g_injection.lastHandle = handle;
  int times = g_injection.times.load();
  if (times == 0) return 0;
  if (times > 0) g_injection.times = times - 1;
  return g_injection.error.load();
}

class ScopedFault {
 public:
  ScopedFault(sock::Call call, int error, int times) {
    g_injection.call = call;
    g_injection.error = error;
    g_injection.times = times;
    g_injection.lastHandle = -1;
    sock::faultHook = &InjectHook;
  }
  ~ScopedFault() { sock::faultHook = nullptr; }
};

// A TCP client transport and the accepted end of its connection, or a TCP
// server transport with an accepted client.
struct TcpPair {
  explicit TcpPair(bool serverSide) {
    if (serverSide) {
      server.reset(new TcpServerTransport("127.0.0.1", 0));
      EXPECT_EQ(server->Open(), 1);
      peer = RawSocket::Connect(static_cast<uint16_t>(server->BoundPort()));
      EXPECT_TRUE(peer.Send({0x55}));
      uint8_t buffer[8];
      EXPECT_EQ(server->Read(buffer, sizeof buffer, 2000), 1);
    } else {
      RawSocket listener = RawSocket::Listener(1);
      client.reset(new TcpClientTransport("127.0.0.1", listener.Port(), 2000));
      EXPECT_EQ(client->Open(), 1);
      peer = listener.Accept(2000);
    }
  }
  Transport* transport() { return server ? static_cast<Transport*>(server.get()) : client.get(); }
  bool connected() { return server ? server->ClientConnected() : client->IsReady() == 1; }

  std::unique_ptr<TcpServerTransport> server;
  std::unique_ptr<TcpClientTransport> client;
  RawSocket peer;
};

// A connection that died after its retransmissions: Windows fails recv and
// send with a time-out error while select keeps calling the socket ready.
// Only would-block means "try again"; this drops the connection at once.
TEST(DeadConnection, ATimeOutErrorDropsTheConnectionWithoutSpinning) {
  const struct {
    const char* name;
    bool serverSide;
    bool write;
  } cases[] = {
      {"client read", false, false}, {"client write", false, true},
      {"server read", true, false}, {"server write", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TcpPair pair(c.serverSide);
    ASSERT_TRUE(pair.peer.valid());
    ASSERT_TRUE(pair.peer.Send({0x01}));  // readable, as the dead socket is
    SleepMs(50);
    uint8_t buffer[16] = {1, 2, 3};
    double cpuBefore = ProcessCpuMs();
    Clock::time_point start = Clock::now();
    int32_t result;
    {
      ScopedFault fault(c.write ? sock::Call::Send : sock::Call::Receive, sock::kErrTimedOut, -1);
      result = c.write ? pair.transport()->Write(buffer, 3, 1000) : pair.transport()->Read(buffer, sizeof buffer, 1000);
    }
    printf("[ measured ] %s on a dead connection: %.1f ms, CPU %.1f ms\n", c.name, MsSince(start),
           ProcessCpuMs() - cpuBefore);
    EXPECT_EQ(result, TransportIoError);
    EXPECT_FALSE(pair.connected());
  }
}

// Accept or select failing at once, every time: each Read waits out its
// time-out on the stop event instead of returning at once, so a serving
// loop does not spin. A queued peer that reset before it was taken (or a
// would-block) is "no connection yet": the next one is accepted.
TEST(TcpServerAccept, FailuresThatRepeatAtOnceDoNotSpinTheServingLoop) {
  const struct {
    const char* name;
    sock::Call call;
    int error;
  } cases[] = {
      {"accept: no descriptors left", sock::Call::Accept, sock::kErrNoDescriptors},
      {"select fails", sock::Call::Wait, sock::kErrNoDescriptors},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TcpServerTransport server("127.0.0.1", 0);
    ASSERT_EQ(server.Open(), 1);
    RawSocket queued = RawSocket::Connect(static_cast<uint16_t>(server.BoundPort()));
    ASSERT_TRUE(queued.valid());
    uint8_t buffer[16];
    int calls = 0;
    bool allFailed = true;
    double cpuBefore = ProcessCpuMs();
    Clock::time_point start = Clock::now();
    {
      ScopedFault fault(c.call, c.error, -1);
      while (MsSince(start) < 1000 && calls < 100000) {
        allFailed = allFailed && server.Read(buffer, sizeof buffer, 200) == TransportIoError;
        ++calls;
      }
    }
    printf("[ measured ] %s: %d reads of 200 ms in %.0f ms, CPU %.1f ms\n", c.name, calls, MsSince(start),
           ProcessCpuMs() - cpuBefore);
    EXPECT_TRUE(allFailed);
    EXPECT_LT(calls, 20);
    // The stop event still ends such a wait.
    {
      ScopedFault fault(c.call, c.error, -1);
      std::thread canceller([&] {
        SleepMs(100);
        server.Cancel();
      });
      EXPECT_EQ(server.Read(buffer, sizeof buffer, 10000), TransportCancelled);
      canceller.join();
    }
  }

  const int noConnectionYet[] = {sock::kErrConnReset, sock::kErrWouldBlock};
  for (int error : noConnectionYet) {
    SCOPED_TRACE(error);
    TcpServerTransport server("127.0.0.1", 0);
    ASSERT_EQ(server.Open(), 1);
    RawSocket peer = RawSocket::Connect(static_cast<uint16_t>(server.BoundPort()));
    ASSERT_TRUE(peer.Send({0x42}));
    uint8_t buffer[16];
    ScopedFault fault(sock::Call::Accept, error, 1);
    EXPECT_EQ(server.Read(buffer, sizeof buffer, 2000), 1);
    EXPECT_TRUE(server.ClientConnected());
  }
}

// The UDP slave's receive, guarded as the TCP slave's accept: a select or
// recvfrom that fails at once, every time, waits out the time-out on the
// stop event, so neither the MBAP nor the RTU-over-UDP serving loop spins
// (the latter would post "RX: Transport error" on every pass).
TEST(UdpServerReceive, FailuresThatRepeatAtOnceDoNotSpinTheServingLoop) {
  const struct {
    const char* name;
    sock::Call call;
  } cases[] = {{"select fails", sock::Call::Wait}, {"recvfrom fails", sock::Call::ReceiveDatagram}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UdpServerTransport server("127.0.0.1", 0);
    ASSERT_EQ(server.Open(), 1);
    RawSocket master = RawSocket::Datagram();
    ASSERT_TRUE(master.SendTo({0x42}, static_cast<uint16_t>(server.BoundPort())));  // stays readable
    uint8_t buffer[16];
    int calls = 0;
    bool allFailed = true;
    double cpuBefore = ProcessCpuMs();
    Clock::time_point start = Clock::now();
    {
      ScopedFault fault(c.call, sock::kErrNoDescriptors, -1);
      while (MsSince(start) < 1000 && calls < 100000) {
        allFailed = allFailed && server.ReadFrame(buffer, sizeof buffer, 200) == TransportIoError;
        ++calls;
      }
      printf("[ measured ] UDP %s: %d reads of 200 ms in %.0f ms, CPU %.1f ms\n", c.name, calls, MsSince(start),
             ProcessCpuMs() - cpuBefore);
      EXPECT_TRUE(allFailed);
      EXPECT_LT(calls, 20);
      std::thread canceller([&] {
        SleepMs(100);
        server.Cancel();
      });
      EXPECT_EQ(server.ReadFrame(buffer, sizeof buffer, 10000), TransportCancelled);
      canceller.join();
    }
  }
}

// The accepted connection probes a silent peer: 10 s idle, then every
// second, ten probes, so a master that lost power is dropped in about 20 s.
TEST(TcpServerAccept, TheAcceptedConnectionProbesASilentPeer) {
  TcpServerTransport server("127.0.0.1", 0);
  ASSERT_EQ(server.Open(), 1);
  RawSocket peer = RawSocket::Connect(static_cast<uint16_t>(server.BoundPort()));
  ASSERT_TRUE(peer.Send({0x42}));
  uint8_t buffer[16];
  intptr_t accepted;
  {
    ScopedFault watch(sock::Call::Receive, 0, 0);
    ASSERT_EQ(server.Read(buffer, sizeof buffer, 2000), 1);
    accepted = g_injection.lastHandle;
  }
  ASSERT_NE(accepted, -1);
  // 0 before the call: Winsock may write a BOOL option in fewer bytes.
  auto option = [&](int level, int name) {
    int value = 0;
#if defined(_WIN32)
    int length = sizeof value;
    if (getsockopt(static_cast<SOCKET>(accepted), level, name, reinterpret_cast<char*>(&value), &length) != 0)
      return -1;
#else
    socklen_t length = sizeof value;
    if (getsockopt(static_cast<int>(accepted), level, name, &value, &length) != 0) return -1;
#endif
    return value;
  };
  EXPECT_NE(option(SOL_SOCKET, SO_KEEPALIVE), 0);
  EXPECT_NE(option(SOL_SOCKET, SO_KEEPALIVE), -1);
#if defined(_WIN32)
  // Windows 10 1709 and later read the times back in seconds; older ones
  // and Wine may not answer (-1).
  printf("[ measured ] keep-alive idle %d s, interval %d s (-1: not readable here)\n",
         option(IPPROTO_TCP, 3 /* TCP_KEEPIDLE */), option(IPPROTO_TCP, 17 /* TCP_KEEPINTVL */));
#else
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 10);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 1);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 10);
  printf("[ measured ] a silent peer is dropped after %d s\n",
         option(IPPROTO_TCP, TCP_KEEPIDLE) + option(IPPROTO_TCP, TCP_KEEPCNT) * option(IPPROTO_TCP, TCP_KEEPINTVL));
#endif
}

// Disconnect of the slave while a master is connected, then Connect at
// once: the port must be free again, not held by the closing connection.
TEST(TcpServerClose, ConnectRightAfterDisconnectListensAgain) {
  uint16_t port;
  {
    // A free port of the system's choice, which Open must find again.
    TcpServerTransport probe("127.0.0.1", 0);
    ASSERT_EQ(probe.Open(), 1);
    port = static_cast<uint16_t>(probe.BoundPort());
  }
  TcpServerTransport server("127.0.0.1", port);
  ASSERT_EQ(server.Open(), 1);
  RawSocket master = RawSocket::Connect(port);
  ASSERT_TRUE(master.Send({0x01, 0x02}));
  uint8_t buffer[16];
  ASSERT_EQ(server.Read(buffer, sizeof buffer, 2000), 2);
  ASSERT_EQ(server.Write(buffer, 2, 2000), 2);
  EXPECT_EQ(master.Receive(2000), (Bytes{0x01, 0x02}));

  server.Close();
  Clock::time_point closed = Clock::now();
  int32_t first = server.Open();
  int attempts = 1;
  for (int32_t opened = first; opened != 1 && MsSince(closed) < 5000; ++attempts) {
    SleepMs(20);
    opened = server.Open();
  }
  printf("[ measured ] listening again %.1f ms after Disconnect, %d attempt(s)\n", MsSince(closed), attempts);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(master.Receive(2000), Bytes{0xEE}) << "the master learns that the slave went";
  // And the new listener serves.
  RawSocket again = RawSocket::Connect(port);
  ASSERT_TRUE(again.Send({0x03}));
  EXPECT_EQ(server.Read(buffer, sizeof buffer, 2000), 1);
}

// A UDP master whose datagram met a closed port: the ICMP "port
// unreachable" comes back as an error on the next receive. The drain before
// the next request and the slave's receive take it as nothing to read.
TEST(UdpUnreachable, APortUnreachableIsNothingToRead) {
  uint16_t closedPort;
  {
    RawSocket gone = RawSocket::Datagram();
    closedPort = gone.Port();
  }
  UdpClientTransport client("127.0.0.1", closedPort);
  ASSERT_EQ(client.Open(), 1);
  const uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
  ASSERT_EQ(client.Write(request, sizeof request, 1000), static_cast<int32_t>(sizeof request));
  SleepMs(100);  // the ICMP answer is back long before
  EXPECT_EQ(client.PrepareExchange(), 1) << "the drain before the next poll";

  // The slave answers a master that has gone, and then serves the next one.
  UdpServerTransport server("127.0.0.1", 0);
  ASSERT_EQ(server.Open(), 1);
  uint16_t port = static_cast<uint16_t>(server.BoundPort());
  uint8_t buffer[300];
  {
    RawSocket vanishing = RawSocket::Datagram();
    ASSERT_TRUE(vanishing.SendTo({0x01}, port));
    ASSERT_EQ(server.ReadFrame(buffer, sizeof buffer, 1000), 1);
  }
  ASSERT_EQ(server.Write(buffer, 1, 1000), 1);
  SleepMs(100);
  RawSocket next = RawSocket::Datagram();
  ASSERT_TRUE(next.SendTo({0x02}, port));
  EXPECT_EQ(server.ReadFrame(buffer, sizeof buffer, 1000), 1);

  // As Windows reports it, whatever the local stack does.
  const int errors[] = {sock::kErrConnReset, sock::kErrNetReset};
  for (int error : errors) {
    SCOPED_TRACE(error);
    ASSERT_TRUE(next.SendTo({0x03}, port));
    {
      ScopedFault fault(sock::Call::ReceiveDatagram, error, 1);
      EXPECT_EQ(server.ReadFrame(buffer, sizeof buffer, 1000), 1);
    }
    ASSERT_TRUE(next.SendTo({0x04}, port));
    SleepMs(50);
    {
      ScopedFault fault(sock::Call::ReceiveDatagram, error, 1);
      EXPECT_EQ(server.PrepareExchange(), 1);
    }
    EXPECT_EQ(server.ReadFrame(buffer, sizeof buffer, 100), 0) << "drained";
  }
}

// Wine takes the packet information of a received datagram but ignores it
// on WSASendMsg, so the answer leaves from the address the route chooses.
bool WineIgnoresSourceAddress() {
#if defined(_WIN32)
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// A slave bound to every interface answers from the address the request
// was sent to: a master connected to 127.0.0.2 accepts nothing else.
TEST(UdpServerBoundToEveryInterface, AnswersFromTheAddressAsked) {
  if (WineIgnoresSourceAddress()) printf("[ wine ] answers on 127.0.0.2 and .3 not checked: WSASendMsg ignores IP_PKTINFO\n");
  UdpServerTransport server("", 0);
  ASSERT_EQ(server.Open(), 1);
  uint16_t port = static_cast<uint16_t>(server.BoundPort());
  const char* addresses[] = {"127.0.0.1", "127.0.0.2", "127.0.0.3"};
  for (const char* address : addresses) {
    SCOPED_TRACE(address);
    UdpClientTransport master(address, port);
    ASSERT_EQ(master.Open(), 1);
    const uint8_t request[] = {0x11, 0x22, 0x33};
    ASSERT_EQ(master.Write(request, sizeof request, 1000), 3);
    uint8_t buffer[300];
    ASSERT_EQ(server.ReadFrame(buffer, sizeof buffer, 1000), 3);
    ASSERT_EQ(server.Write(buffer, 3, 1000), 3);
    if (WineIgnoresSourceAddress() && address != addresses[0]) continue;
    EXPECT_EQ(master.ReadFrame(buffer, sizeof buffer, 1000), 3);
  }
}

// RTU over TCP has no transaction id. A slave that answers its first
// request late, then every request after 50 ms: every poll must show its
// own answer, never the one to the poll before.
class ScriptedRtuSlave {
 public:
  ScriptedRtuSlave() : listener_(RawSocket::Listener(1)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedRtuSlave() {
    stop_ = true;
    thread_.join();
  }
  uint16_t port() const { return listener_.Port(); }

 private:
  void Run() {
    bool first = true;
    while (!stop_) {
      RawSocket connection = listener_.Accept(100);
      if (!connection.valid()) continue;
      Bytes request;
      while (!stop_) {
        Bytes got = connection.Receive(100);
        if (got == Bytes{0xEE}) break;  // the master closed the connection
        request.insert(request.end(), got.begin(), got.end());
        if (request.size() < 8) continue;
        // The answer carries the address asked for as its value.
        SleepMs(first ? 700 : 50);
        first = false;
        Bytes answer = {request[0], 0x03, 0x02, request[2], request[3]};
        uint16_t crc = Crc16(answer.data(), static_cast<uint32_t>(answer.size()));
        answer.push_back(static_cast<uint8_t>(crc));
        answer.push_back(static_cast<uint8_t>(crc >> 8));
        connection.Send(answer);
        request.erase(request.begin(), request.begin() + 8);
      }
    }
  }

  RawSocket listener_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void KeepRx(void* context, const uint8_t* bytes, uint32_t length) {
  static_cast<Bytes*>(context)->assign(bytes, bytes + length);
}

TEST(RtuOverTcp, ALateAnswerNeverShowsInTheNextPoll) {
  ScriptedRtuSlave slave;
  TcpClientTransport transport("127.0.0.1", slave.port(), 2000, LateAnswers::Ambiguous);
  RtuFramer framer(true);
  Bytes rx;
  Link* link = LinkCreate(&transport, &framer, kLinkRoleClient, &rx, nullptr, &KeepRx);
  int reconnects = 0;
  for (uint16_t poll = 1; poll <= 12; ++poll) {
    SCOPED_TRACE(poll);
    Clock::time_point due = Clock::now() + std::chrono::milliseconds(20);
    if (!transport.IsReady()) {
      ASSERT_EQ(transport.Open(), 1);
      ++reconnects;
    }
    ClientRequest request;
    request.unitId = 1;
    request.function = 3;
    request.address = poll;
    request.quantity = 1;
    ClientResponse response;
    rx.clear();
    int32_t status = Transact(link, request, &response, 500);
    if (poll == 1) {
      EXPECT_EQ(status, StatusTimeout);
    } else {
      ASSERT_EQ(status, 3) << "byte count and one register";
      // RX: unit, function, byte count, the value, CRC.
      ASSERT_EQ(rx.size(), 7u);
      EXPECT_EQ((rx[3] << 8) | rx[4], poll) << "the RX shows the answer to poll " << ((rx[3] << 8) | rx[4]);
    }
    std::this_thread::sleep_until(due);
  }
  printf("[ measured ] %d connection(s) for 12 polls\n", reconnects);
  LinkDestroy(link);
}

}  // namespace
