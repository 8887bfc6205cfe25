#pragma once
// The TCP server transport: listens on one IPv4 interface and port and
// serves one client connection at a time. The client is accepted lazily,
// inside Read, when none is connected; a second client waits in the backlog
// of one until the first is dropped. Any error or broken frame drops only
// the client; the listening socket stays.

#include <stdint.h>

#include "transport/net_transport.h"

// Keep-alive on the accepted connection: a peer that has gone silently is
// probed after 10 s without traffic, then every second, and dropped after
// ten unanswered probes, about 20 s in all.
constexpr uint32_t kKeepAliveIdleMs = 10000;
constexpr uint32_t kKeepAliveIntervalMs = 1000;

class TcpServerTransport final : public NetTransport {
 public:
  // bindAddress: dotted IPv4 text, empty or null for every interface.
  TcpServerTransport(const char* bindAddress, uint16_t port);
  ~TcpServerTransport() override;

  int32_t Open() override;
  void Close() override;
  int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;
  int32_t Write(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs) override;
  int32_t PrepareExchange() override { return 1; }
  void ResetAfterError() override { DropClient(); }
  int32_t IsReady() override { return listening_ ? 1 : 0; }
  // The connected client, or the last one, as it was when it was accepted.
  int32_t Peer(uint32_t* address, uint16_t* port) override;

  // The port actually bound (the one asked for, or the system's choice for
  // port 0); -1 when not listening.
  int32_t BoundPort() const;
  bool ClientConnected() const { return clientConnected_; }
  // Whether the last Read failed because the client closed its connection
  // in order (rather than by an error or our own drop).
  bool ClientClosedInOrder() const { return clientClosedInOrder_; }

 private:
  int32_t Fail();
  void DropClient();
  int32_t AcceptClient(uint32_t deadline);

  char bindAddress_[16];
  uint16_t port_;
  sock::Handle listener_ = sock::kInvalid;
  sock::Handle client_ = sock::kInvalid;
  uint32_t clientAddress_ = 0;
  uint16_t clientPort_ = 0;
  bool listening_ = false;
  bool clientConnected_ = false;
  bool clientClosedInOrder_ = false;
  // Bytes of the client received ahead of the caller (see the TCP client).
  uint8_t pending_[512];
  uint32_t pendingStart_ = 0;
  uint32_t pendingEnd_ = 0;
};

// Binds handle to the dotted IPv4 address (every interface when empty) and
// port. 0 on success.
int BindIpv4(sock::Handle handle, const char* address, uint16_t port);
