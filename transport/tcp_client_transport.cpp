#include "transport/tcp_client_transport.h"

#include "common/deadline.h"
#include "transport/stream_pending.h"

TcpClientTransport::TcpClientTransport(const char* host, uint16_t port, uint32_t connectTimeoutMs,
                                       LateAnswers lateAnswers)
    : port_(port), connectTimeoutMs_(connectTimeoutMs), lateAnswers_(lateAnswers) {
  CopyBounded(host_, static_cast<int32_t>(sizeof host_), host);
}

TcpClientTransport::~TcpClientTransport() { Close(); }

int32_t TcpClientTransport::Open() {
  if (connected_) return 1;
  if (Stopping() || StopRequested()) return 0;
  if (!StartNetwork()) return Fail();
  addrinfo* resolved = sock::Resolve(host_, port_, SOCK_STREAM, IPPROTO_TCP);
  if (!resolved) return Fail();
  CloseSocket(&socket_);
  uint32_t deadline = DeadlineAfter(connectTimeoutMs_);
  bool ok = false;
  for (addrinfo* entry = resolved; entry && !ok; entry = entry->ai_next) {
    if (Stopping() || DeadlinePassed(deadline)) break;
    sock::Handle handle = sock::Create(entry->ai_socktype, entry->ai_protocol);
    if (handle == sock::kInvalid) continue;
    bool done = false;
    if (sock::SetNonBlocking(handle)) {
      if (sock::Connect(handle, entry->ai_addr, entry->ai_addrlen) == 0) {
        done = true;
      } else if (sock::ConnectInProgress(sock::LastError())) {
        done = WaitSliced(handle, NetWait::Connected, deadline) == 1 && sock::PendingError(handle) == 0;
      }
    }
    if (done && !Stopping()) {
      socket_ = handle;
      ok = true;
    } else {
      sock::Destroy(handle);
    }
  }
  sock::FreeResolved(resolved);
  if (!ok || !sock::SetNoDelay(socket_)) return Fail();
  pendingStart_ = pendingEnd_ = 0;
  gaveUpWaiting_ = false;
  connected_ = true;
  return 1;
}

int32_t TcpClientTransport::Fail() {
  Close();
  return 0;
}

void TcpClientTransport::Close() {
  CloseSocket(&socket_, SocketClose::kShutdown);
  connected_ = false;
  pendingStart_ = pendingEnd_ = 0;
  EndNetwork();
}

int32_t TcpClientTransport::Read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
  if (!connected_ || socket_ == sock::kInvalid || !buffer || capacity == 0) return TransportIoError;
  if (Stopping()) return TransportCancelled;
  if (pendingStart_ < pendingEnd_) return static_cast<int32_t>(TakePending(pending_, &pendingStart_, pendingEnd_, buffer, capacity));
  uint32_t deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    int32_t ready = WaitSliced(socket_, NetWait::Readable, deadline);
    if (ready == 0) {
      gaveUpWaiting_ = true;
      if (lateAnswers_ == LateAnswers::Ambiguous) Close();
    }
    if (ready == 0 || ready == TransportCancelled) return ready;
    if (ready < 0) break;
    int received = sock::Receive(socket_, pending_, sizeof pending_);
    if (received > 0) {
      pendingStart_ = 0;
      pendingEnd_ = static_cast<uint32_t>(received);
      return static_cast<int32_t>(TakePending(pending_, &pendingStart_, pendingEnd_, buffer, capacity));
    }
    if (received == 0) break;  // the server closed the connection
    int error = sock::LastError();
    // Only would-block means "try again"; a time-out error is a connection
    // that died after its retransmissions and stays readable for ever.
    if (error != sock::kErrWouldBlock) break;
  }
  Close();
  return TransportIoError;
}

int32_t TcpClientTransport::Write(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs) {
  if (!connected_ || socket_ == sock::kInvalid || !bytes || length == 0) return TransportIoError;
  uint32_t deadline = DeadlineAfter(timeoutMs);
  // The send buffer is almost always free: try first, wait only when full.
  for (;;) {
    if (Stopping()) return TransportCancelled;
    int sent = sock::Send(socket_, bytes, length);
    if (sent >= 0) return sent;
    int error = sock::LastError();
    if (error != sock::kErrWouldBlock) break;  // a time-out error too: the connection died
    int32_t ready = WaitSliced(socket_, NetWait::Writable, deadline);
    if (ready == 0 || ready == TransportCancelled) return ready;
    if (ready < 0) break;
  }
  Close();
  return TransportIoError;
}

int32_t TcpClientTransport::PrepareExchange() {
  if (!connected_ || socket_ == sock::kInvalid) return 0;
  pendingStart_ = pendingEnd_ = 0;
  // Only an exchange that gave up waiting can have an answer still on its
  // way; after a complete one, asking the socket would only cost time.
  if (!gaveUpWaiting_) return 1;
  gaveUpWaiting_ = false;
  // Bounded, so a server that streams without pause cannot hold the worker.
  for (int chunk = 0; chunk < 128; ++chunk) {
    int ready = sock::WaitReadable(socket_, 0);
    if (ready == 0) return 1;
    if (ready > 0) {
      int received = sock::Receive(socket_, pending_, sizeof pending_);
      if (received > 0) continue;
      if (received < 0 && sock::LastError() == sock::kErrWouldBlock) return 1;
    }
    Close();
    return 0;
  }
  return 1;
}

int32_t TcpClientTransport::IsReady() { return connected_ && socket_ != sock::kInvalid ? 1 : 0; }
