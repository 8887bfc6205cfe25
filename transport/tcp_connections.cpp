#include "transport/tcp_connections.h"

#include "common/deadline.h"
#include "transport/stream_pending.h"
#include "transport/tcp_server_transport.h"

// --- the listener -----------------------------------------------------------------

TcpListener::TcpListener(const char* bindAddress, uint16_t port, int backlog) : port_(port), backlog_(backlog) {
  CopyBounded(bindAddress_, static_cast<int32_t>(sizeof bindAddress_), bindAddress);
}

TcpListener::~TcpListener() { Close(); }

int32_t TcpListener::Open() {
  if (listener_ != sock::kInvalid) return 1;
  if (!StartNetwork()) return 0;
  listener_ = sock::Create(SOCK_STREAM, IPPROTO_TCP);
  if (listener_ == sock::kInvalid || !sock::SetExclusiveAddress(listener_) ||
      BindIpv4(listener_, bindAddress_, port_) != 0 || sock::Listen(listener_, backlog_) != 0 ||
      !sock::SetNonBlocking(listener_)) {
    Close();
    return 0;
  }
  ResetStop();
  return 1;
}

void TcpListener::Close() {
  SetStop();
  CloseSocket(&listener_);
  EndNetwork();
}

int32_t TcpListener::BoundPort() const {
  return listener_ == sock::kInvalid ? -1 : sock::BoundPort(listener_);
}

int32_t TcpListener::Accept(uint32_t timeoutMs, sock::Handle* accepted) {
  *accepted = sock::kInvalid;
  if (listener_ == sock::kInvalid) return TransportCancelled;
  const uint32_t deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    const int32_t ready = WaitSliced(listener_, NetWait::Readable, deadline);
    if (ready == 0 || ready == TransportCancelled) return ready;
    sock::Handle handle = ready > 0 ? sock::Accept(listener_) : sock::kInvalid;
    if (ready > 0 && handle == sock::kInvalid) {
      // A queued peer that reset before we took it: no connection yet.
      const int error = sock::LastError();
      if (error == sock::kErrConnReset || error == sock::kErrWouldBlock) continue;
    }
    if (handle == sock::kInvalid) {
      if (plat::EventWait(StopEvent(), RemainingMs(deadline))) return TransportCancelled;
      return TransportIoError;
    }
    if (!sock::SetNonBlocking(handle) || !sock::SetNoDelay(handle)) {
      sock::Destroy(handle);
      continue;
    }
    // Masters are only ever sent answers: without probes one that lost
    // power or cable would hold its place for good.
    sock::SetKeepAlive(handle, kKeepAliveIdleMs, kKeepAliveIntervalMs);
    *accepted = handle;
    return 1;
  }
}

// --- one connection -------------------------------------------------------------------

TcpConnectionTransport::TcpConnectionTransport(sock::Handle accepted) : client_(accepted) {
  StartNetwork();
  if (client_ != sock::kInvalid) sock::PeerAddress(client_, &peerAddress_, &peerPort_);
}

TcpConnectionTransport::~TcpConnectionTransport() { Close(); }

int32_t TcpConnectionTransport::Open() {
  if (client_ == sock::kInvalid) return 0;
  ResetStop();
  return 1;
}

void TcpConnectionTransport::Close() {
  SetStop();
  CloseSocket(&client_, SocketClose::kAbortive);
  pendingStart_ = pendingEnd_ = 0;
  EndNetwork();
}

void TcpConnectionTransport::Hangup() {
  CloseSocket(&client_, SocketClose::kShutdown);
  pendingStart_ = pendingEnd_ = 0;
}

int32_t TcpConnectionTransport::Read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
  closedInOrder_ = false;
  if (client_ == sock::kInvalid || !buffer || capacity == 0) return TransportIoError;
  if (Stopping()) return TransportCancelled;
  if (pendingStart_ < pendingEnd_) {
    return static_cast<int32_t>(TakePending(pending_, &pendingStart_, pendingEnd_, buffer, capacity));
  }
  const uint32_t deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    const int32_t ready = WaitSliced(client_, NetWait::Readable, deadline);
    if (ready == 0 || ready == TransportCancelled) return ready;
    if (ready < 0) break;
    const int received = sock::Receive(client_, pending_, sizeof pending_);
    if (received > 0) {
      pendingStart_ = 0;
      pendingEnd_ = static_cast<uint32_t>(received);
      return static_cast<int32_t>(TakePending(pending_, &pendingStart_, pendingEnd_, buffer, capacity));
    }
    if (received == 0) {
      Hangup();
      closedInOrder_ = true;
      return TransportIoError;
    }
    // Only would-block means "try again" (see the one-client server).
    if (sock::LastError() != sock::kErrWouldBlock) break;
  }
  Hangup();
  return TransportIoError;
}

int32_t TcpConnectionTransport::Write(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs) {
  if (client_ == sock::kInvalid || !bytes || length == 0) return TransportIoError;
  const uint32_t deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    if (Stopping()) return TransportCancelled;
    const int sent = sock::Send(client_, bytes, length);
    if (sent >= 0) return sent;
    if (sock::LastError() != sock::kErrWouldBlock) break;
    const int32_t ready = WaitSliced(client_, NetWait::Writable, deadline);
    if (ready == 0 || ready == TransportCancelled) return ready;
    if (ready < 0) break;
  }
  Hangup();
  return TransportIoError;
}
