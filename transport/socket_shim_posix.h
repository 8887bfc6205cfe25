#pragma once
// The BSD sockets half of the socket shim: native tests and benchmarks.
// Included only by socket_shim.h.

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "transport/socket_fault_seam.h"

namespace sock {

namespace detail {
inline void SetError(int error) { errno = error; }
}  // namespace detail

using Handle = int;
constexpr Handle kInvalid = -1;
constexpr int kErrWouldBlock = EWOULDBLOCK;
constexpr int kErrTimedOut = ETIMEDOUT;
constexpr int kErrMessageSize = EMSGSIZE;
constexpr int kErrConnReset = ECONNRESET;
constexpr int kErrNetReset = ENETRESET;
constexpr int kErrConnRefused = ECONNREFUSED;
constexpr int kErrNoDescriptors = EMFILE;

inline bool NetworkStart() { return true; }
inline void NetworkStop() {}

inline int LastError() { return errno; }

inline Handle Create(int type, int protocol) { return ::socket(AF_INET, type | SOCK_CLOEXEC, protocol); }
inline void Destroy(Handle handle) { ::close(handle); }
inline void ShutdownBoth(Handle handle) { ::shutdown(handle, SHUT_RDWR); }

inline bool SetNonBlocking(Handle handle) {
  int flags = ::fcntl(handle, F_GETFL, 0);
  return flags >= 0 && ::fcntl(handle, F_SETFL, flags | O_NONBLOCK) == 0;
}

inline bool SetNoDelay(Handle handle) {
  int on = 1;
  return ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

// BSD sockets already refuse a second bind of the same address and port as
// long as nobody asks for SO_REUSEADDR, which the transports never do.
inline bool SetExclusiveAddress(Handle) { return true; }

// Keep-alive probes on a connection: the first after idleMs without
// traffic, then every intervalMs; after ten unanswered probes the
// connection fails (as on Windows).
inline bool SetKeepAlive(Handle handle, uint32_t idleMs, uint32_t intervalMs) {
  int on = 1;
  int idle = static_cast<int>(idleMs < 1000 ? 1 : idleMs / 1000);
  int interval = static_cast<int>(intervalMs < 1000 ? 1 : intervalMs / 1000);
  int count = 10;
  return ::setsockopt(handle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
         ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) == 0 &&
         ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) == 0 &&
         ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) == 0;
}

// Closing sends a reset instead of a FIN and leaves no TIME_WAIT behind
// that holds the port.
inline bool SetAbortiveClose(Handle handle) {
  linger value = {};
  value.l_onoff = 1;
  value.l_linger = 0;
  return ::setsockopt(handle, SOL_SOCKET, SO_LINGER, &value, sizeof value) == 0;
}

inline bool EnablePacketInfo(Handle handle) {
  int on = 1;
  return ::setsockopt(handle, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0;
}

inline int PendingError(Handle handle) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

inline int Connect(Handle handle, const sockaddr* address, size_t length) {
  return ::connect(handle, address, static_cast<socklen_t>(length));
}
inline bool ConnectInProgress(int error) { return error == EINPROGRESS; }

inline int Bind(Handle handle, const sockaddr_in& address) {
  return ::bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}
inline int Listen(Handle handle, int backlog) { return ::listen(handle, backlog); }
inline Handle Accept(Handle handle) {
  if (detail::Injected(Call::Accept, handle)) return kInvalid;
  return ::accept4(handle, nullptr, nullptr, SOCK_CLOEXEC);
}

// The address and port of a connected socket's peer, in host order; false
// when the system cannot say.
inline bool PeerOf(Handle handle, uint32_t* address, uint16_t* port) {
  sockaddr_in peer = {};
  socklen_t length = sizeof peer;
  if (::getpeername(handle, reinterpret_cast<sockaddr*>(&peer), &length) != 0 || peer.sin_family != AF_INET) return false;
  *address = ntohl(peer.sin_addr.s_addr);
  *port = ntohs(peer.sin_port);
  return true;
}

inline int BoundPort(Handle handle) {
  sockaddr_in address = {};
  socklen_t length = sizeof address;
  if (::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
  return ntohs(address.sin_port);
}

// The address and port of a connected socket's peer, host order. 0 on success.
inline int PeerAddress(Handle handle, uint32_t* address, uint16_t* port) {
  sockaddr_in peer = {};
  socklen_t length = sizeof peer;
  if (::getpeername(handle, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return -1;
  *address = ntohl(peer.sin_addr.s_addr);
  *port = ntohs(peer.sin_port);
  return 0;
}

inline int Receive(Handle handle, uint8_t* buffer, uint32_t capacity) {
  if (detail::Injected(Call::Receive, handle)) return -1;
  return static_cast<int>(::recv(handle, buffer, capacity, 0));
}

// MSG_TRUNC makes the kernel report the datagram's real length, so a
// datagram that did not fit fails as it does on Winsock. With local (after
// EnablePacketInfo), also the address the datagram was sent to; INADDR_ANY
// when the system did not say.
inline int ReceiveDatagram(Handle handle, uint8_t* buffer, uint32_t capacity, Address* from,
                           in_addr* local = nullptr) {
  if (detail::Injected(Call::ReceiveDatagram, handle)) return -1;
  if (!from) {
    ssize_t received = ::recv(handle, buffer, capacity, MSG_TRUNC);
    if (received > static_cast<ssize_t>(capacity)) {
      errno = EMSGSIZE;
      return -1;
    }
    return static_cast<int>(received);
  }
  iovec data = {buffer, capacity};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
  msghdr message = {};
  message.msg_name = &from->in;
  message.msg_namelen = sizeof from->in;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = local ? control : nullptr;
  message.msg_controllen = local ? sizeof control : 0;
  ssize_t received = ::recvmsg(handle, &message, 0);
  from->length = static_cast<int>(message.msg_namelen);
  if (received < 0) return -1;
  if (message.msg_flags & MSG_TRUNC) {
    errno = EMSGSIZE;
    return -1;
  }
  if (local) {
    local->s_addr = htonl(INADDR_ANY);
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
      if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO)
        *local = reinterpret_cast<const in_pktinfo*>(CMSG_DATA(header))->ipi_addr;
    }
  }
  return static_cast<int>(received);
}

// A peer that has gone must give an error, not SIGPIPE.
inline int Send(Handle handle, const uint8_t* bytes, uint32_t length) {
  if (detail::Injected(Call::Send, handle)) return -1;
  return static_cast<int>(::send(handle, bytes, length, MSG_NOSIGNAL));
}

// One datagram to to; from a local address of our choice when local is not
// INADDR_ANY (the one a request was sent to, so that the answer comes back
// from it).
inline int SendTo(Handle handle, const uint8_t* bytes, uint32_t length, const Address& to,
                  const in_addr* local = nullptr) {
  iovec data = {const_cast<uint8_t*>(bytes), length};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr message = {};
  message.msg_name = const_cast<sockaddr_in*>(&to.in);
  message.msg_namelen = static_cast<socklen_t>(to.length);
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  if (local && local->s_addr != htonl(INADDR_ANY)) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo* info = reinterpret_cast<in_pktinfo*>(CMSG_DATA(header));
    info->ipi_spec_dst = *local;
  }
  return static_cast<int>(::sendmsg(handle, &message, MSG_NOSIGNAL));
}

namespace detail {
inline int Poll(Handle handle, short events, uint32_t timeoutMs) {
  if (Injected(Call::Wait, handle)) return -1;
  pollfd entry = {};
  entry.fd = handle;
  entry.events = events;
  int ready = ::poll(&entry, 1, static_cast<int>(timeoutMs));
  if (ready < 0) return errno == EINTR ? 0 : -1;
  return ready > 0 ? 1 : 0;
}
}  // namespace detail

// An error or hang-up on the socket also ends a wait: the next call on it
// reports what happened, as after select on Winsock.
inline int WaitReadable(Handle handle, uint32_t timeoutMs) {
  return detail::Poll(handle, POLLIN, timeoutMs);
}
inline int WaitWritable(Handle handle, uint32_t timeoutMs) {
  return detail::Poll(handle, POLLOUT, timeoutMs);
}
inline int WaitConnected(Handle handle, uint32_t timeoutMs) {
  return detail::Poll(handle, POLLOUT, timeoutMs);
}

}  // namespace sock
