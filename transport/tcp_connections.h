#pragma once
// A TCP server that serves several connections at once is built from two
// pieces: the listening socket (TcpListener), which hands out accepted
// sockets, and one TcpConnectionTransport per accepted socket, which a
// serving thread of its own drives as the one-client server's link would.
// Neither accepts lazily: whoever owns the listener decides what becomes of
// each connection, refusing the ones beyond its limit at once.

#include <stdint.h>

#include "transport/net_transport.h"

// The listening socket. Open, Close and Accept on one thread; Cancel from
// any. Read and Write are no operations of a listener and fail.
class TcpListener final : public NetTransport {
 public:
  // bindAddress: dotted IPv4 text, empty or null for every interface.
  TcpListener(const char* bindAddress, uint16_t port, int backlog);
  ~TcpListener() override;

  int32_t Open() override;
  void Close() override;
  int32_t Read(uint8_t*, uint32_t, uint32_t) override { return TransportIoError; }
  int32_t Write(const uint8_t*, uint32_t, uint32_t) override { return TransportIoError; }
  int32_t PrepareExchange() override { return 1; }
  int32_t IsReady() override { return listener_ != sock::kInvalid ? 1 : 0; }

  // Waits up to timeoutMs for a connection: 1 with *accepted set (blocking
  // off, no-delay and keep-alive on), 0 when none came, TransportCancelled,
  // or TransportIoError after a failure that would repeat at once (the rest
  // of the time is then waited out on the stop event, so a loop never spins).
  int32_t Accept(uint32_t timeoutMs, sock::Handle* accepted);

  // The port actually bound; -1 when not listening.
  int32_t BoundPort() const;

 private:
  char bindAddress_[16];
  uint16_t port_;
  int backlog_;
  sock::Handle listener_ = sock::kInvalid;
};

// One accepted connection as a transport. It owns the socket from the
// constructor on; Open only reports whether it is still connected (a
// connection cannot be opened again once dropped).
class TcpConnectionTransport final : public NetTransport {
 public:
  explicit TcpConnectionTransport(sock::Handle accepted);
  ~TcpConnectionTransport() override;

  int32_t Open() override;
  // A reset, not a FIN: the server is closing and the port must be free to
  // listen on again at once.
  void Close() override;
  int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;
  int32_t Write(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs) override;
  int32_t PrepareExchange() override { return IsReady(); }
  void ResetAfterError() override { Hangup(); }
  int32_t IsReady() override { return client_ != sock::kInvalid ? 1 : 0; }

  // Ends the connection in order (both directions shut, then closed): an
  // idle master, or one whose stream went out of step.
  void Hangup();
  // The peer's address and port, host order (0 when unknown).
  uint32_t PeerAddress() const { return peerAddress_; }
  uint16_t PeerPort() const { return peerPort_; }
  // Whether the last Read failed because the peer closed in order.
  bool ClosedInOrder() const { return closedInOrder_; }

 private:
  sock::Handle client_;
  uint32_t peerAddress_ = 0;
  uint16_t peerPort_ = 0;
  bool closedInOrder_ = false;
  uint8_t pending_[512];
  uint32_t pendingStart_ = 0;
  uint32_t pendingEnd_ = 0;
};
