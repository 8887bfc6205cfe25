#pragma once
// Plain loopback sockets for the transport tests, through the same shim as
// the transports: the other end of every exchange.

#include <gtest/gtest.h>
#include <stdint.h>

#include <chrono>
#include <thread>
#include <vector>

#include "transport/socket_shim.h"

// Winsock needs a start-up for the raw sockets of the tests themselves;
// each test program registers this once.
class NetworkEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(sock::NetworkStart()); }
  void TearDown() override { sock::NetworkStop(); }
};

class RawSocket {
 public:
  RawSocket() = default;
  explicit RawSocket(sock::Handle handle) : handle_(handle) {}
  RawSocket(RawSocket&& other) noexcept : handle_(other.handle_) { other.handle_ = sock::kInvalid; }
  RawSocket& operator=(RawSocket&& other) noexcept {
    Reset();
    handle_ = other.handle_;
    other.handle_ = sock::kInvalid;
    return *this;
  }
  ~RawSocket() { Reset(); }

  void Reset() {
    if (handle_ != sock::kInvalid) sock::Destroy(handle_);
    handle_ = sock::kInvalid;
  }
  sock::Handle get() const { return handle_; }
  bool valid() const { return handle_ != sock::kInvalid; }

  // A TCP listener on 127.0.0.1 and a port of the system's choice.
  static RawSocket Listener(int backlog) {
    RawSocket s(sock::Create(SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in local = Loopback(0);
    sock::Bind(s.get(), local);
    sock::Listen(s.get(), backlog);
    return s;
  }
  // A UDP socket bound to 127.0.0.1 and a port of the system's choice.
  static RawSocket Datagram() {
    RawSocket s(sock::Create(SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in local = Loopback(0);
    sock::Bind(s.get(), local);
    return s;
  }
  // A blocking TCP connection to port on a loopback address (127.0.0.1
  // unless told); invalid on failure.
  static RawSocket Connect(uint16_t port, uint32_t address = 0x7F000001) {
    RawSocket s(sock::Create(SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in remote = Loopback(port, address);
    if (sock::Connect(s.get(), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) s.Reset();
    return s;
  }
  static sockaddr_in Loopback(uint16_t port, uint32_t address = 0x7F000001) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    return a;
  }

  uint16_t Port() const { return static_cast<uint16_t>(sock::BoundPort(handle_)); }

  RawSocket Accept(uint32_t timeoutMs) const {
    if (sock::WaitReadable(handle_, timeoutMs) != 1) return RawSocket();
    return RawSocket(sock::Accept(handle_));
  }
  bool Send(const std::vector<uint8_t>& bytes) const {
    return sock::Send(handle_, bytes.data(), static_cast<uint32_t>(bytes.size())) ==
           static_cast<int>(bytes.size());
  }
  bool SendTo(const std::vector<uint8_t>& bytes, const sock::Address& to) const {
    return sock::SendTo(handle_, bytes.data(), static_cast<uint32_t>(bytes.size()), to) ==
           static_cast<int>(bytes.size());
  }
  bool SendTo(const std::vector<uint8_t>& bytes, uint16_t port, uint32_t address = 0x7F000001) const {
    sock::Address to;
    to.in = Loopback(port, address);
    to.length = sizeof to.in;
    return SendTo(bytes, to);
  }
  // Up to capacity bytes or one datagram within timeoutMs; empty on time-out,
  // {0xEE} marks "closed by the peer or failed".
  std::vector<uint8_t> Receive(uint32_t timeoutMs, sock::Address* from = nullptr) const {
    if (sock::WaitReadable(handle_, timeoutMs) != 1) return {};
    uint8_t buffer[600];
    int n = from ? sock::ReceiveDatagram(handle_, buffer, sizeof buffer, from)
                 : sock::Receive(handle_, buffer, sizeof buffer);
    if (n <= 0) return {0xEE};
    return std::vector<uint8_t>(buffer, buffer + n);
  }

 private:
  sock::Handle handle_ = sock::kInvalid;
};

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

inline double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}
