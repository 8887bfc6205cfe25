#include "transport/udp_client_transport.h"

#include "common/deadline.h"

UdpClientTransport::UdpClientTransport(const char* host, uint16_t port) : port_(port) {
  CopyBounded(host_, static_cast<int32_t>(sizeof host_), host);
}

UdpClientTransport::~UdpClientTransport() { Close(); }

int32_t UdpClientTransport::Open() {
  Close();
  if (!StartNetwork()) return 0;
  addrinfo* resolved = sock::Resolve(host_, port_, SOCK_DGRAM, IPPROTO_UDP);
  if (!resolved) {
    Close();
    return 0;
  }
  for (addrinfo* entry = resolved; entry && socket_ == sock::kInvalid; entry = entry->ai_next) {
    sock::Handle handle = sock::Create(entry->ai_socktype, entry->ai_protocol);
    if (handle == sock::kInvalid) continue;
    if (sock::Connect(handle, entry->ai_addr, entry->ai_addrlen) == 0) {
      socket_ = handle;
    } else {
      sock::Destroy(handle);
    }
  }
  sock::FreeResolved(resolved);
  if (socket_ == sock::kInvalid || !sock::SetNonBlocking(socket_)) {
    Close();
    return 0;
  }
  ResetStop();
  open_ = true;
  return 1;
}

void UdpClientTransport::Close() {
  open_ = false;
  SetStop();
  CloseSocket(&socket_);
  EndNetwork();
}

int32_t UdpClientTransport::ReadFrame(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
  if (!open_ || !buffer || capacity == 0) return TransportIoError;
  uint32_t deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    int32_t ready = WaitSliced(socket_, NetWait::Readable, deadline);
    if (ready <= 0) return ready;
    int received = sock::ReceiveDatagram(socket_, buffer, capacity, nullptr);
    if (received > 0) return received;
    if (received == 0) return TransportInvalidFrame;
    int error = sock::LastError();
    if (error == sock::kErrWouldBlock) continue;
    if (error == sock::kErrMessageSize) return TransportFrameTooLarge;
    return TransportIoError;
  }
}

int32_t UdpClientTransport::Write(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs) {
  if (!open_ || !bytes || length == 0) return TransportIoError;
  uint32_t deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    if (Stopping()) return TransportCancelled;
    int sent = sock::Send(socket_, bytes, length);
    if (sent == static_cast<int>(length)) return sent;
    if (sent >= 0 || sock::LastError() != sock::kErrWouldBlock) return TransportIoError;
    int32_t ready = WaitSliced(socket_, NetWait::Writable, deadline);
    if (ready <= 0) return ready;
  }
}

int32_t UdpClientTransport::PrepareExchange() {
  if (!open_) return 0;
  return DrainDatagrams(socket_);
}

int32_t DrainDatagrams(sock::Handle handle) {
  // One more than the largest ADU, so an oversized datagram is still taken.
  uint8_t scratch[514];
  // Bounded, so a peer that floods the port cannot hold the worker here.
  for (int dropped = 0; dropped < kDrainLimit; ++dropped) {
    int ready = sock::WaitReadable(handle, 0);
    if (ready < 0) return 0;
    if (ready == 0) return 1;
    int received = sock::ReceiveDatagram(handle, scratch, sizeof scratch, nullptr);
    if (received >= 0) continue;
    int error = sock::LastError();
    if (error == sock::kErrWouldBlock) return 1;
    // An earlier datagram met a closed port: that is news about the past,
    // not a fault of this socket.
    if (error == sock::kErrMessageSize || sock::PeerUnreachable(error)) continue;
    return 0;
  }
  return 1;
}
