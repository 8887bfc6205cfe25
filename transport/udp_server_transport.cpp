#include "transport/udp_server_transport.h"

#include "common/deadline.h"
#include "transport/tcp_server_transport.h"
#include "transport/udp_client_transport.h"

UdpServerTransport::UdpServerTransport(const char* bindAddress, uint16_t port) : port_(port) {
  CopyBounded(bindAddress_, static_cast<int32_t>(sizeof bindAddress_), bindAddress);
}

UdpServerTransport::~UdpServerTransport() { Close(); }

int32_t UdpServerTransport::Open() {
  Close();
  if (StartNetwork()) {
    socket_ = sock::Create(SOCK_DGRAM, IPPROTO_UDP);
    if (socket_ != sock::kInvalid && sock::SetExclusiveAddress(socket_) &&
        BindIpv4(socket_, bindAddress_, port_) == 0 && sock::SetNonBlocking(socket_)) {
      // Bound to every interface, the answer must leave from the address the
      // request was sent to, or a connected master drops it; without packet
      // information the route chooses.
      packetInfo_ = sock::EnablePacketInfo(socket_);
      ResetStop();
      open_ = true;
      return 1;
    }
  }
  Close();
  return 0;
}

void UdpServerTransport::Close() {
  open_ = false;
  replyPending_ = false;
  SetStop();
  CloseSocket(&socket_);
  EndNetwork();
}

int32_t UdpServerTransport::BoundPort() const {
  return socket_ == sock::kInvalid ? -1 : sock::BoundPort(socket_);
}

int32_t UdpServerTransport::ReadFrame(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
  if (!open_ || !buffer || capacity == 0) return TransportIoError;
  uint32_t deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    int32_t ready = WaitSliced(socket_, NetWait::Readable, deadline);
    if (ready < 0 && ready != TransportCancelled) break;
    if (ready <= 0) return ready;
    int received = sock::ReceiveDatagram(socket_, buffer, capacity, &replyPeer_,
                                         packetInfo_ ? &replyFrom_ : nullptr);
    if (received > 0) {
      replyPending_ = true;
      return received;
    }
    replyPending_ = false;
    if (received == 0) return TransportInvalidFrame;
    int error = sock::LastError();
    // A reply of ours met a closed port (an ICMP "port unreachable"): that
    // master has simply gone, nothing to read.
    if (error == sock::kErrWouldBlock || sock::PeerUnreachable(error)) continue;
    if (error == sock::kErrMessageSize) return TransportFrameTooLarge;
    break;
  }
  // A failure that repeats at once (a failing select or recvfrom) must not
  // make the serving loop spin: the rest of the time passes on the stop
  // event.
  if (plat::EventWait(StopEvent(), RemainingMs(deadline))) return TransportCancelled;
  return TransportIoError;
}

int32_t UdpServerTransport::Write(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs) {
  if (!open_ || !replyPending_ || !bytes || length == 0) return TransportIoError;
  uint32_t deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    if (Stopping()) return TransportCancelled;
    int sent = sock::SendTo(socket_, bytes, length, replyPeer_, packetInfo_ ? &replyFrom_ : nullptr);
    if (sent == static_cast<int>(length)) {
      replyPending_ = false;
      return sent;
    }
    if (sent >= 0 || sock::LastError() != sock::kErrWouldBlock) return TransportIoError;
    int32_t ready = WaitSliced(socket_, NetWait::Writable, deadline);
    if (ready <= 0) return ready;
  }
}

int32_t UdpServerTransport::PrepareExchange() {
  if (!open_) return 0;
  replyPending_ = false;
  return DrainDatagrams(socket_);
}

int32_t UdpServerTransport::Peer(uint32_t* address, uint16_t* port) {
  const uint32_t peer = ntohl(replyPeer_.in.sin_addr.s_addr);
  if (peer == 0) return 0;
  *address = peer;
  *port = ntohs(replyPeer_.in.sin_port);
  return 1;
}
