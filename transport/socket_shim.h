#pragma once
// The socket shim: the handful of socket calls the TCP and UDP transports
// make, as Winsock 2.2 on Windows (the product) and as BSD sockets
// elsewhere (native tests and benchmarks). The transports call only these;
// every difference between the two socket interfaces is settled here.
//
// Conventions on both sides: a call that fails returns a negative value (or
// kInvalid) and LastError tells why; waits return 1 when the socket is
// ready, 0 when the time passed, -1 on error.
//
// The Winsock half is socket_shim_win32.h, the BSD half socket_shim_posix.h,
// each whole in itself; the address record and the error-injection seam
// both use are in socket_fault_seam.h, what is the same on both follows here.

#include <stdint.h>

#if defined(_WIN32)
#include "transport/socket_shim_win32.h"
#else
#include "transport/socket_shim_posix.h"
#endif

namespace sock {

// What a datagram socket reports when an earlier datagram of ours met a
// closed port (an ICMP "port unreachable"): nothing to read, the peer has
// simply gone.
inline bool PeerUnreachable(int error) {
  return error == kErrConnReset || error == kErrNetReset || error == kErrConnRefused;
}

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
