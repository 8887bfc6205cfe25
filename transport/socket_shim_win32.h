#pragma once
// The Winsock 2.2 half of the socket shim: the product's sockets. Included
// only by socket_shim.h.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <mswsock.h>

#include "transport/socket_fault_seam.h"

namespace sock {

namespace detail {
inline void SetError(int error) { ::WSASetLastError(error); }
}  // namespace detail

using Handle = SOCKET;
constexpr Handle kInvalid = INVALID_SOCKET;
constexpr int kErrWouldBlock = WSAEWOULDBLOCK;
constexpr int kErrTimedOut = WSAETIMEDOUT;
constexpr int kErrMessageSize = WSAEMSGSIZE;
constexpr int kErrConnReset = WSAECONNRESET;
constexpr int kErrNetReset = WSAENETRESET;
constexpr int kErrConnRefused = WSAECONNREFUSED;
constexpr int kErrNoDescriptors = WSAEMFILE;

// Winsock counts start-ups: every successful NetworkStart is matched by one
// NetworkStop.
inline bool NetworkStart() {
  WSADATA data;
  return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
inline void NetworkStop() { ::WSACleanup(); }

inline int LastError() { return ::WSAGetLastError(); }

inline Handle Create(int type, int protocol) { return ::socket(AF_INET, type, protocol); }
inline void Destroy(Handle handle) { ::closesocket(handle); }
inline void ShutdownBoth(Handle handle) { ::shutdown(handle, SD_BOTH); }

inline bool SetNonBlocking(Handle handle) {
  u_long on = 1;
  return ::ioctlsocket(handle, FIONBIO, &on) == 0;
}

inline bool SetNoDelay(Handle handle) {
  BOOL on = TRUE;
  return ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0;
}

// No other socket may bind the same address and port while this one holds it.
inline bool SetExclusiveAddress(Handle handle) {
  BOOL on = TRUE;
  return ::setsockopt(handle, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                      reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

// Keep-alive probes on a connection: the first after idleMs without
// traffic, then every intervalMs; Windows gives up after ten unanswered
// probes and fails the connection.
inline bool SetKeepAlive(Handle handle, uint32_t idleMs, uint32_t intervalMs) {
  tcp_keepalive values;
  values.onoff = 1;
  values.keepalivetime = idleMs;
  values.keepaliveinterval = intervalMs;
  DWORD returned = 0;
  return ::WSAIoctl(handle, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
                    nullptr) == 0;
}

// Closing sends a reset instead of a FIN and leaves nothing behind that
// holds the port.
inline bool SetAbortiveClose(Handle handle) {
  linger value;
  value.l_onoff = 1;
  value.l_linger = 0;
  return ::setsockopt(handle, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

// Datagrams received from now on tell which local address they were sent
// to (see ReceiveDatagram).
inline bool EnablePacketInfo(Handle handle) {
  DWORD on = 1;
  return ::setsockopt(handle, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

// The error a non-blocking connect ended with (0 when it succeeded).
inline int PendingError(Handle handle) {
  int error = 0;
  int length = sizeof error;
  if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
    return ::WSAGetLastError();
  return error;
}

inline int Connect(Handle handle, const sockaddr* address, size_t length) {
  return ::connect(handle, address, static_cast<int>(length));
}
// A non-blocking connect that has started and will finish later.
inline bool ConnectInProgress(int error) { return error == WSAEWOULDBLOCK; }

inline int Bind(Handle handle, const sockaddr_in& address) {
  return ::bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}
inline int Listen(Handle handle, int backlog) { return ::listen(handle, backlog); }
inline Handle Accept(Handle handle) {
  if (detail::Injected(Call::Accept, static_cast<intptr_t>(handle))) return kInvalid;
  return ::accept(handle, nullptr, nullptr);
}

// The address and port of a connected socket's peer, in host order; false
// when the system cannot say.
inline bool PeerOf(Handle handle, uint32_t* address, uint16_t* port) {
  sockaddr_in peer = {};
  int length = sizeof peer;
  if (::getpeername(handle, reinterpret_cast<sockaddr*>(&peer), &length) != 0 || peer.sin_family != AF_INET) return false;
  *address = ntohl(peer.sin_addr.s_addr);
  *port = ntohs(peer.sin_port);
  return true;
}

inline int BoundPort(Handle handle) {
  sockaddr_in address = {};
  int length = sizeof address;
  if (::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
  return ntohs(address.sin_port);
}

// The address and port of a connected socket's peer, host order. 0 on success.
inline int PeerAddress(Handle handle, uint32_t* address, uint16_t* port) {
  sockaddr_in peer = {};
  int length = sizeof peer;
  if (::getpeername(handle, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return -1;
  *address = ntohl(peer.sin_addr.s_addr);
  *port = ntohs(peer.sin_port);
  return 0;
}

inline int Receive(Handle handle, uint8_t* buffer, uint32_t capacity) {
  if (detail::Injected(Call::Receive, static_cast<intptr_t>(handle))) return -1;
  return ::recv(handle, reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0);
}

namespace detail {
// WSARecvMsg is reached through the provider's extension table. Looked up
// once per process (every IPv4 datagram socket has the same provider); the
// cache is a constant-initialised atomic, so no guarded static drags the
// threads runtime into the plug-ins.
inline LPFN_WSARECVMSG ReceiveMessageFunction(Handle handle) {
  static std::atomic<LPFN_WSARECVMSG> cached{nullptr};
  LPFN_WSARECVMSG function = cached.load(std::memory_order_acquire);
  if (function) return function;
  GUID id = WSAID_WSARECVMSG;
  DWORD returned = 0;
  if (::WSAIoctl(handle, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function,
                 &returned, nullptr, nullptr) != 0)
    return nullptr;
  cached.store(function, std::memory_order_release);
  return function;
}
}  // namespace detail

// One datagram; a datagram longer than capacity fails with kErrMessageSize
// (and is gone). With local (after EnablePacketInfo), also the address the
// datagram was sent to; INADDR_ANY when the system did not say.
inline int ReceiveDatagram(Handle handle, uint8_t* buffer, uint32_t capacity, Address* from,
                           in_addr* local = nullptr) {
  if (detail::Injected(Call::ReceiveDatagram, static_cast<intptr_t>(handle))) return -1;
  if (!from) return ::recv(handle, reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0);
  from->length = sizeof from->in;
  LPFN_WSARECVMSG receiveMessage = local ? detail::ReceiveMessageFunction(handle) : nullptr;
  if (!receiveMessage) {
    if (local) local->s_addr = htonl(INADDR_ANY);
    return ::recvfrom(handle, reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0,
                      reinterpret_cast<sockaddr*>(&from->in), &from->length);
  }
  WSABUF data;
  data.buf = reinterpret_cast<char*>(buffer);
  data.len = capacity;
  alignas(8) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))];
  WSAMSG message = {};
  message.name = reinterpret_cast<sockaddr*>(&from->in);
  message.namelen = from->length;
  message.lpBuffers = &data;
  message.dwBufferCount = 1;
  message.Control.buf = control;
  message.Control.len = sizeof control;
  DWORD received = 0;
  if (receiveMessage(handle, &message, &received, nullptr, nullptr) != 0) return -1;
  from->length = message.namelen;
  local->s_addr = htonl(INADDR_ANY);
  for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header; header = WSA_CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO)
      *local = reinterpret_cast<const IN_PKTINFO*>(WSA_CMSG_DATA(header))->ipi_addr;
  }
  return static_cast<int>(received);
}

inline int Send(Handle handle, const uint8_t* bytes, uint32_t length) {
  if (detail::Injected(Call::Send, static_cast<intptr_t>(handle))) return -1;
  return ::send(handle, reinterpret_cast<const char*>(bytes), static_cast<int>(length), 0);
}

// One datagram to to; from a local address of our choice when local is not
// INADDR_ANY (the one a request was sent to, so that the answer comes back
// from it).
inline int SendTo(Handle handle, const uint8_t* bytes, uint32_t length, const Address& to,
                  const in_addr* local = nullptr) {
  if (!local || local->s_addr == htonl(INADDR_ANY))
    return ::sendto(handle, reinterpret_cast<const char*>(bytes), static_cast<int>(length), 0,
                    reinterpret_cast<const sockaddr*>(&to.in), to.length);
  WSABUF data;
  data.buf = reinterpret_cast<char*>(const_cast<uint8_t*>(bytes));
  data.len = length;
  alignas(8) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
  WSAMSG message = {};
  message.name = reinterpret_cast<sockaddr*>(const_cast<sockaddr_in*>(&to.in));
  message.namelen = to.length;
  message.lpBuffers = &data;
  message.dwBufferCount = 1;
  message.Control.buf = control;
  message.Control.len = sizeof control;
  WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message);
  header->cmsg_level = IPPROTO_IP;
  header->cmsg_type = IP_PKTINFO;
  header->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
  IN_PKTINFO* info = reinterpret_cast<IN_PKTINFO*>(WSA_CMSG_DATA(header));
  info->ipi_addr = *local;
  info->ipi_ifindex = 0;
  DWORD sent = 0;
  if (::WSASendMsg(handle, &message, 0, &sent, nullptr, nullptr) != 0) return -1;
  return static_cast<int>(sent);
}

namespace detail {
inline int Select(Handle handle, bool read, bool write, bool except, uint32_t timeoutMs) {
  if (Injected(Call::Wait, static_cast<intptr_t>(handle))) return -1;
  fd_set readSet;
  fd_set writeSet;
  fd_set exceptSet;
  FD_ZERO(&readSet);
  FD_ZERO(&writeSet);
  FD_ZERO(&exceptSet);
  if (read) FD_SET(handle, &readSet);
  if (write) FD_SET(handle, &writeSet);
  if (except) FD_SET(handle, &exceptSet);
  timeval limit;
  limit.tv_sec = static_cast<long>(timeoutMs / 1000);
  limit.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
  int ready = ::select(0, read ? &readSet : nullptr, write ? &writeSet : nullptr,
                       except ? &exceptSet : nullptr, &limit);
  if (ready < 0) return -1;
  return ready > 0 ? 1 : 0;
}
}  // namespace detail

inline int WaitReadable(Handle handle, uint32_t timeoutMs) {
  return detail::Select(handle, true, false, false, timeoutMs);
}
inline int WaitWritable(Handle handle, uint32_t timeoutMs) {
  return detail::Select(handle, false, true, false, timeoutMs);
}
// Winsock reports a failed non-blocking connect in the exception set, never
// as writable; both end the wait, and PendingError tells which it was.
inline int WaitConnected(Handle handle, uint32_t timeoutMs) {
  return detail::Select(handle, false, true, true, timeoutMs);
}

}  // namespace sock
