#pragma once
// The socket shim: the handful of socket calls the TCP and UDP transports
// make, as Winsock 2.2 on Windows (the product) and as BSD sockets
// elsewhere (native tests and benchmarks). The transports call only these;
// every difference between the two socket interfaces is settled here.
//
// Conventions on both sides: a call that fails returns a negative value (or
// kInvalid) and LastError tells why; waits return 1 when the socket is
// ready, 0 when the time passed, -1 on error.

#include <stdint.h>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace sock {

// An IPv4 socket address with its length, as recvfrom fills it.
struct Address {
  sockaddr_in in;
  int length;
};

#if defined(_WIN32)

using Handle = SOCKET;
constexpr Handle kInvalid = INVALID_SOCKET;
constexpr int kErrWouldBlock = WSAEWOULDBLOCK;
constexpr int kErrTimedOut = WSAETIMEDOUT;
constexpr int kErrMessageSize = WSAEMSGSIZE;

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
inline Handle Accept(Handle handle) { return ::accept(handle, nullptr, nullptr); }

inline int BoundPort(Handle handle) {
  sockaddr_in address = {};
  int length = sizeof address;
  if (::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
  return ntohs(address.sin_port);
}

inline int Receive(Handle handle, uint8_t* buffer, uint32_t capacity) {
  return ::recv(handle, reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0);
}

// One datagram; a datagram longer than capacity fails with kErrMessageSize
// (and is gone).
inline int ReceiveDatagram(Handle handle, uint8_t* buffer, uint32_t capacity, Address* from) {
  if (!from) return ::recv(handle, reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0);
  from->length = sizeof from->in;
  return ::recvfrom(handle, reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0,
                    reinterpret_cast<sockaddr*>(&from->in), &from->length);
}

inline int Send(Handle handle, const uint8_t* bytes, uint32_t length) {
  return ::send(handle, reinterpret_cast<const char*>(bytes), static_cast<int>(length), 0);
}

inline int SendTo(Handle handle, const uint8_t* bytes, uint32_t length, const Address& to) {
  return ::sendto(handle, reinterpret_cast<const char*>(bytes), static_cast<int>(length), 0,
                  reinterpret_cast<const sockaddr*>(&to.in), to.length);
}

namespace detail {
inline int Select(Handle handle, bool read, bool write, bool except, uint32_t timeoutMs) {
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

#else  // BSD sockets

using Handle = int;
constexpr Handle kInvalid = -1;
constexpr int kErrWouldBlock = EWOULDBLOCK;
constexpr int kErrTimedOut = ETIMEDOUT;
constexpr int kErrMessageSize = EMSGSIZE;

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
inline Handle Accept(Handle handle) { return ::accept4(handle, nullptr, nullptr, SOCK_CLOEXEC); }

inline int BoundPort(Handle handle) {
  sockaddr_in address = {};
  socklen_t length = sizeof address;
  if (::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
  return ntohs(address.sin_port);
}

inline int Receive(Handle handle, uint8_t* buffer, uint32_t capacity) {
  return static_cast<int>(::recv(handle, buffer, capacity, 0));
}

// MSG_TRUNC makes the kernel report the datagram's real length, so a
// datagram that did not fit fails as it does on Winsock.
inline int ReceiveDatagram(Handle handle, uint8_t* buffer, uint32_t capacity, Address* from) {
  socklen_t length = sizeof from->in;
  ssize_t received = from ? ::recvfrom(handle, buffer, capacity, MSG_TRUNC,
                                       reinterpret_cast<sockaddr*>(&from->in), &length)
                          : ::recv(handle, buffer, capacity, MSG_TRUNC);
  if (from) from->length = static_cast<int>(length);
  if (received > static_cast<ssize_t>(capacity)) {
    errno = EMSGSIZE;
    return -1;
  }
  return static_cast<int>(received);
}

// A peer that has gone must give an error, not SIGPIPE.
inline int Send(Handle handle, const uint8_t* bytes, uint32_t length) {
  return static_cast<int>(::send(handle, bytes, length, MSG_NOSIGNAL));
}

inline int SendTo(Handle handle, const uint8_t* bytes, uint32_t length, const Address& to) {
  return static_cast<int>(::sendto(handle, bytes, length, MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr*>(&to.in),
                                   static_cast<socklen_t>(to.length)));
}

namespace detail {
inline int Poll(Handle handle, short events, uint32_t timeoutMs) {
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

#endif

// Resolves a dotted IPv4 address (or host name) and a port for one socket
// type. Returns null when it cannot; release the list with FreeResolved.
inline addrinfo* Resolve(const char* host, uint16_t port, int type, int protocol) {
  char service[6];
  char digits[5];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + port % 10);
    port = static_cast<uint16_t>(port / 10);
  } while (port != 0);
  for (int i = 0; i < count; ++i) service[i] = digits[count - 1 - i];
  service[count] = '\0';
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = type;
  hints.ai_protocol = protocol;
  addrinfo* result = nullptr;
  if (::getaddrinfo(host, service, &hints, &result) != 0) return nullptr;
  return result;
}
inline void FreeResolved(addrinfo* list) {
  if (list) ::freeaddrinfo(list);
}

}  // namespace sock
