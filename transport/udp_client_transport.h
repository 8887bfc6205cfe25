#pragma once
// The UDP client transport: a connected IPv4 datagram socket, so only the
// server's datagrams are delivered. Each Write is one datagram, each
// ReadFrame one datagram; stale datagrams are dropped before each request.

#include <stdint.h>

#include "transport/net_transport.h"

class UdpClientTransport final : public NetTransport {
 public:
  UdpClientTransport(const char* host, uint16_t port);
  ~UdpClientTransport() override;

  int32_t Open() override;
  void Close() override;
  int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override {
    return ReadFrame(buffer, capacity, timeoutMs);
  }
  int32_t ReadFrame(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;
  int32_t IsMessageOriented() override { return 1; }
  int32_t Write(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs) override;
  int32_t PrepareExchange() override;
  // A broken datagram spoils nothing that follows: the socket stays open.
  void ResetAfterError() override {}
  int32_t IsReady() override { return open_ ? 1 : 0; }

 private:
  char host_[256];
  uint16_t port_;
  sock::Handle socket_ = sock::kInvalid;
  bool open_ = false;
};

// Drops the datagrams already queued on the socket, at most kDrainLimit of
// them. 1 when done, 0 on a socket error.
constexpr int kDrainLimit = 1024;
int32_t DrainDatagrams(sock::Handle handle);
