// Our client engine against our request processing over the real socket
// transports, for the four network combinations: every function, the unit
// filter, reconnection after the server drops the client, and a late UDP
// answer that must not be taken for the answer to the next request. The
// serving loop is this test's own; the server worker's loop meets
// independent clients in the slave plug-ins' end-to-end tests.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "client/transaction.h"
#include "modbus/link.h"
#include "modbus/mbap_framer.h"
#include "modbus/rtu_framer.h"
#include "raw_socket.h"
#include "server/device_map.h"
#include "server/serve.h"
#include "transport/tcp_client_transport.h"
#include "transport/tcp_server_transport.h"
#include "transport/udp_client_transport.h"
#include "transport/udp_server_transport.h"

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new NetworkEnvironment);

struct Combination {
  const char* name;
  bool tcp;
  bool mbap;
};

const Combination kCombinations[] = {
    {"TcpMbap", true, true},
    {"TcpRtu", true, false},
    {"UdpMbap", false, true},
    {"UdpRtu", false, false},
};

constexpr uint8_t kOwnAddress = 5;
// A read of this address is answered late; a write of 1 to this holding
// register makes the server drop its TCP client after answering.
constexpr uint16_t kSlowAddress = 99;
constexpr uint16_t kDropRegister = 98;

// Our server on a thread: the worker loop of the server plug-ins, reduced.
class Server {
 public:
  explicit Server(const Combination& c) : mbap_(c.mbap) {
    if (c.tcp) {
      auto* t = new TcpServerTransport("127.0.0.1", 0);
      t->Open();
      port_ = static_cast<uint16_t>(t->BoundPort());
      transport_.reset(t);
    } else {
      auto* t = new UdpServerTransport("127.0.0.1", 0);
      t->Open();
      port_ = static_cast<uint16_t>(t->BoundPort());
      transport_.reset(t);
    }
    framer_.reset(c.mbap ? static_cast<Framer*>(new MbapFramer()) : new RtuFramer(c.tcp));
    link_ = LinkCreate(transport_.get(), framer_.get(), kLinkRoleServer, nullptr, nullptr, nullptr);
    for (uint16_t i = 0; i < 10; ++i) map_.WriteCellFromUser(kAreaHoldingRegisters, i, 100 + i);
    thread_ = std::thread([this] { Run(); });
  }
  ~Server() {
    stop_ = true;
    transport_->Cancel();
    thread_.join();
    LinkDestroy(link_);
  }
  uint16_t port() const { return port_; }
  DeviceMap& map() { return map_; }

 private:
  void Run() {
    ServeSession session;
    session.link = link_;
    session.map = &map_;
    session.unitId = kOwnAddress;
    while (!stop_) {
      AduHeader header;
      ServerRequest request;
      int32_t status = ReceiveRequest(&session, &header, &request, 100);
      if (status == StatusCancelled) break;
      if (status != StatusOk && status != StatusUnsupportedFunction && status != StatusInvalidAddress &&
          status != StatusInvalidRequest)
        continue;
      if (request.function == 3 && request.address == kSlowAddress) SleepMs(300);
      WrittenRange written = {};
      if (mbap_) ServeRequestMbap(&session, status, header, request, &written);
      else ServeRequestSerial(&session, status, header, request, &written);
      if (request.function == 6 && request.address == kDropRegister) transport_->ResetAfterError();
    }
  }

  bool mbap_;
  uint16_t port_ = 0;
  std::unique_ptr<Transport> transport_;
  std::unique_ptr<Framer> framer_;
  Link* link_ = nullptr;
  DeviceMap map_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class Client {
 public:
  Client(const Combination& c, uint16_t port) {
    if (c.tcp)
      transport_.reset(new TcpClientTransport("127.0.0.1", port, 1000,
                                              c.mbap ? LateAnswers::Recognised : LateAnswers::Ambiguous));
    else transport_.reset(new UdpClientTransport("127.0.0.1", port));
    framer_.reset(c.mbap ? static_cast<Framer*>(new MbapFramer()) : new RtuFramer(c.tcp));
    link_ = LinkCreate(transport_.get(), framer_.get(), kLinkRoleClient, nullptr, nullptr, nullptr);
  }
  ~Client() { LinkDestroy(link_); }

  // As the polling worker: reopen a dropped transport before the request.
  int32_t Run(uint8_t function, uint16_t address, uint16_t quantity, ClientResponse* response,
              std::initializer_list<uint16_t> values = {}, uint8_t unit = kOwnAddress, uint32_t timeoutMs = 1000) {
    if (!transport_->IsReady() && !transport_->Open()) return StatusNotConnected;
    ClientRequest request;
    request.unitId = unit;
    request.function = function;
    request.address = address;
    request.quantity = quantity;
    int i = 0;
    for (uint16_t v : values) {
      if (function == 15) {
        if (v) request.data[i / 8] = static_cast<uint8_t>(request.data[i / 8] | (1 << (i % 8)));
      } else {
        request.data[2 * i] = static_cast<uint8_t>(v >> 8);
        request.data[2 * i + 1] = static_cast<uint8_t>(v);
      }
      ++i;
    }
    request.byteCount = static_cast<uint8_t>(function == 15 ? (i + 7) / 8 : 2 * i);
    return Transact(link_, request, response, timeoutMs);
  }
  Transport& transport() { return *transport_; }

 private:
  std::unique_ptr<Transport> transport_;
  std::unique_ptr<Framer> framer_;
  Link* link_ = nullptr;
};

uint16_t Register(const ClientResponse& r, int i) {
  return static_cast<uint16_t>((r.data[2 * i] << 8) | r.data[2 * i + 1]);
}

class NetStack : public ::testing::TestWithParam<Combination> {};

TEST_P(NetStack, EveryFunctionReachesTheMapAndComesBack) {
  Server server(GetParam());
  Client client(GetParam(), server.port());
  ClientResponse r;
  ASSERT_EQ(client.Run(3, 0, 3, &r), 7);
  EXPECT_EQ(Register(r, 0), 100);
  EXPECT_EQ(Register(r, 2), 102);
  EXPECT_GT(client.Run(6, 20, 0xBEEF, &r), 0);
  EXPECT_GT(client.Run(16, 21, 2, &r, {7, 8}), 0);
  EXPECT_GT(client.Run(5, 3, 0xFF00, &r), 0);
  EXPECT_GT(client.Run(15, 10, 3, &r, {1, 0, 1}), 0);
  EXPECT_EQ(server.map().ReadCellLocked(kAreaHoldingRegisters, 20), 0xBEEF);
  EXPECT_EQ(server.map().ReadCellLocked(kAreaHoldingRegisters, 22), 8);
  EXPECT_EQ(server.map().ReadCellLocked(kAreaCoils, 3), 1);
  EXPECT_EQ(server.map().ReadCellLocked(kAreaCoils, 12), 1);
  ASSERT_GT(client.Run(1, 10, 3, &r), 0);
  EXPECT_EQ(r.data[0], 0x05);
  server.map().WriteCellFromUser(kAreaDiscreteInputs, 1, 1);
  server.map().WriteCellFromUser(kAreaInputRegisters, 4, 0x1234);
  ASSERT_GT(client.Run(2, 0, 2, &r), 0);
  EXPECT_EQ(r.data[0], 0x02);
  ASSERT_GT(client.Run(4, 4, 1, &r), 0);
  EXPECT_EQ(Register(r, 0), 0x1234);
}

TEST_P(NetStack, AnotherUnitIsNotAnswered) {
  Server server(GetParam());
  Client client(GetParam(), server.port());
  ClientResponse r;
  EXPECT_EQ(client.Run(3, 0, 1, &r, {}, kOwnAddress + 1, 300), StatusTimeout);
  EXPECT_EQ(client.Run(3, 0, 1, &r), 3) << "the server still serves its own unit";
}

// Datagrams have no connection to drop: the TCP combinations only.
class NetStackTcp : public ::testing::TestWithParam<Combination> {};

TEST_P(NetStackTcp, AClientDroppedByTheServerReconnectsForTheNextRequest) {
  Server server(GetParam());
  Client client(GetParam(), server.port());
  ClientResponse r;
  ASSERT_GT(client.Run(6, kDropRegister, 1, &r), 0);
  EXPECT_EQ(client.Run(3, 0, 1, &r), StatusTransportError);
  EXPECT_EQ(client.transport().IsReady(), 0);
  ASSERT_EQ(client.Run(3, 1, 1, &r), 3);
  EXPECT_EQ(Register(r, 0), 101);
}

TEST_P(NetStack, ALateAnswerIsNeverTakenForTheNextOne) {
  Server server(GetParam());
  Client client(GetParam(), server.port());
  ClientResponse r;
  int32_t late = client.Run(3, kSlowAddress, 1, &r, {}, kOwnAddress, 100);
  EXPECT_EQ(late, StatusTimeout);
  if (GetParam().tcp && GetParam().mbap) {
    // The stream keeps the late answer; its transaction id tells it apart.
    ASSERT_EQ(client.Run(3, 2, 1, &r), 3);
  } else {
    // The late answer is queued before the next request goes out; RTU on a
    // stream has no transaction id, so only dropping it tells it apart.
    SleepMs(400);
    ASSERT_EQ(client.Run(3, 2, 1, &r), 3);
  }
  EXPECT_EQ(Register(r, 0), 102);
}

std::string NameOf(const ::testing::TestParamInfo<Combination>& p) { return p.param.name; }

INSTANTIATE_TEST_SUITE_P(Loopback, NetStack, ::testing::ValuesIn(kCombinations), NameOf);
INSTANTIATE_TEST_SUITE_P(Loopback, NetStackTcp, ::testing::Values(kCombinations[0], kCombinations[1]), NameOf);

}  // namespace
