#include "transport/tcp_server_transport.h"

#include "common/deadline.h"
#include "transport/stream_pending.h"

TcpServerTransport::TcpServerTransport(const char* bindAddress, uint16_t port) : port_(port) {
  CopyBounded(bindAddress_, static_cast<int32_t>(sizeof bindAddress_), bindAddress);
}

TcpServerTransport::~TcpServerTransport() { Close(); }

int BindIpv4(sock::Handle handle, const char* address, uint16_t port) {
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (address && address[0]) {
    addrinfo* resolved = sock::Resolve(address, port, 0, 0);
    if (!resolved) return -1;
    local.sin_addr = reinterpret_cast<const sockaddr_in*>(resolved->ai_addr)->sin_addr;
    sock::FreeResolved(resolved);
  }
  return sock::Bind(handle, local);
}

int32_t TcpServerTransport::Open() {
  if (listening_) return 1;
  if (!StartNetwork()) return Fail();
  CloseSocket(&listener_);
  listener_ = sock::Create(SOCK_STREAM, IPPROTO_TCP);
  if (listener_ == sock::kInvalid || !sock::SetExclusiveAddress(listener_)) return Fail();
  if (BindIpv4(listener_, bindAddress_, port_) != 0) return Fail();
  if (sock::Listen(listener_, 1) != 0 || !sock::SetNonBlocking(listener_)) return Fail();
  ResetStop();
  listening_ = true;
  return 1;
}

int32_t TcpServerTransport::Fail() {
  Close();
  return 0;
}

void TcpServerTransport::DropClient() {
  CloseSocket(&client_, SocketClose::kShutdown);
  clientConnected_ = false;
  pendingStart_ = pendingEnd_ = 0;
}

void TcpServerTransport::Close() {
  SetStop();
  // A reset instead of a FIN: the closing connection would otherwise hold
  // the port, and Windows refuses to listen on it again until it is gone.
  CloseSocket(&client_, SocketClose::kAbortive);
  DropClient();
  CloseSocket(&listener_);
  listening_ = false;
  EndNetwork();
}

int32_t TcpServerTransport::BoundPort() const {
  return listener_ == sock::kInvalid ? -1 : sock::BoundPort(listener_);
}

int32_t TcpServerTransport::Peer(uint32_t* address, uint16_t* port) {
  // The last client stays named after it went, for the row that says so.
  if (clientAddress_ == 0) return 0;
  *address = clientAddress_;
  *port = clientPort_;
  return 1;
}

int32_t TcpServerTransport::AcceptClient(uint32_t deadline) {
  for (;;) {
    int32_t ready = WaitSliced(listener_, NetWait::Readable, deadline);
    if (ready <= 0) return ready;
    DropClient();
    sock::Handle handle = sock::Accept(listener_);
    if (handle == sock::kInvalid) {
      // A queued peer that reset before we took it, or one that another
      // wake-up took: no connection yet.
      int error = sock::LastError();
      if (error == sock::kErrConnReset || error == sock::kErrWouldBlock) continue;
      return TransportIoError;
    }
    if (!sock::SetNonBlocking(handle) || !sock::SetNoDelay(handle)) {
      sock::Destroy(handle);
      return TransportIoError;
    }
    // The client is only ever sent answers, so without probes a master that
    // lost power or cable would hold the one connection for good. A stack
    // that refuses the probe times still serves the master.
    sock::SetKeepAlive(handle, kKeepAliveIdleMs, kKeepAliveIntervalMs);
    client_ = handle;
    clientConnected_ = true;
    if (!sock::PeerOf(handle, &clientAddress_, &clientPort_)) {
      clientAddress_ = 0;
      clientPort_ = 0;
    }
    return 1;
  }
}

int32_t TcpServerTransport::Read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
  clientClosedInOrder_ = false;
  if (!listening_ && Open() == 0) return TransportIoError;
  uint32_t deadline = DeadlineAfter(timeoutMs);
  if (!clientConnected_) {
    int32_t accepted = AcceptClient(deadline);
    if (accepted == TransportIoError) {
      // A failure that repeats at once (no descriptors left, a failing
      // select) must not make the serving loop spin: the rest of the time
      // passes on the stop event.
      if (plat::EventWait(StopEvent(), RemainingMs(deadline))) return TransportCancelled;
      return TransportIoError;
    }
    if (accepted <= 0) return accepted;
    // The data wait gets what the connection wait left, at least 1 ms.
    if (DeadlinePassed(deadline)) deadline = DeadlineAfter(1);
  }
  if (!buffer || capacity == 0) return TransportIoError;
  if (Stopping()) return TransportCancelled;
  if (pendingStart_ < pendingEnd_) return static_cast<int32_t>(TakePending(pending_, &pendingStart_, pendingEnd_, buffer, capacity));
  for (;;) {
    int32_t ready = WaitSliced(client_, NetWait::Readable, deadline);
    if (ready == 0 || ready == TransportCancelled) return ready;
    if (ready < 0) break;
    int received = sock::Receive(client_, pending_, sizeof pending_);
    if (received > 0) {
      pendingStart_ = 0;
      pendingEnd_ = static_cast<uint32_t>(received);
      return static_cast<int32_t>(TakePending(pending_, &pendingStart_, pendingEnd_, buffer, capacity));
    }
    if (received == 0) {  // the client closed its connection
      DropClient();
      clientClosedInOrder_ = true;
      return TransportIoError;
    }
    int error = sock::LastError();
    // Only would-block means "try again"; a time-out error is a connection
    // that died after its retransmissions and stays readable for ever.
    if (error != sock::kErrWouldBlock) break;
  }
  DropClient();
  return TransportIoError;
}

int32_t TcpServerTransport::Write(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs) {
  if (!clientConnected_ || !bytes || length == 0) return TransportIoError;
  uint32_t deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    if (Stopping()) return TransportCancelled;
    int sent = sock::Send(client_, bytes, length);
    if (sent >= 0) return sent;
    int error = sock::LastError();
    if (error != sock::kErrWouldBlock) break;  // a time-out error too: the connection died
    int32_t ready = WaitSliced(client_, NetWait::Writable, deadline);
    if (ready == 0 || ready == TransportCancelled) return ready;
    if (ready < 0) break;
  }
  DropClient();
  return TransportIoError;
}
