#pragma once
// The part of the socket shim (socket_shim.h) both halves share: the
// address record and the error-injection seam. Included by each half after
// its system headers, which declare sockaddr_in.

#include <stdint.h>

#include <atomic>

namespace sock {

// An IPv4 socket address with its length, as recvfrom fills it.
struct Address {
  sockaddr_in in;
  int length;
};

// The error-injection seam for tests. When a hook is set, the calls named
// here ask it first; a nonzero answer is the error the call fails with
// (LastError reports it), without reaching the system. The product never
// sets it. Conditions that loopback cannot produce (a connection that died
// after its retransmissions, accept failing at once) are made this way.
enum class Call { Wait, Accept, Receive, Send, ReceiveDatagram };
using FaultHook = int (*)(Call call, intptr_t handle);
inline std::atomic<FaultHook> faultHook{nullptr};

namespace detail {
// Makes LastError report error; each half defines it.
inline void SetError(int error);
inline bool Injected(Call call, intptr_t handle) {
  FaultHook hook = faultHook.load(std::memory_order_acquire);
  if (!hook) return false;
  int error = hook(call, handle);
  if (error == 0) return false;
  SetError(error);
  return true;
}
}  // namespace detail

}  // namespace sock
