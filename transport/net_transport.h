#pragma once
// What the four socket transports share: the network start-up they must
// match with a clean-up, the stop flag that mirrors the stop event, and the
// sliced wait that notices a stop within 50 ms.

#include <stdint.h>

#include <atomic>

#include "common/text.h"
#include "modbus/status.h"
#include "modbus/transport.h"
#include "transport/socket_shim.h"

// Longest single wait on a socket; every wait is cut into such slices and
// the stop event is checked between them.
constexpr uint32_t kNetSliceMs = 50;

// What a sliced wait is waiting for.
enum class NetWait { Readable, Writable, Connected };

class NetTransport : public Transport {
 public:
  NetTransport();
  ~NetTransport() override;

  // The stop event and flag after Cancel or a stopping Close.
  bool Stopping();

 protected:
  // Both the stop event and its flag.
  void SetStop();
  void ResetStop();

  // Waits until the socket is ready, in slices of at most kNetSliceMs, up to
  // the absolute tick deadline. 1 ready, 0 deadline passed, -2 stop
  // requested, -1 the wait itself failed.
  int32_t WaitSliced(sock::Handle handle, NetWait what, uint32_t deadline);

  // Winsock start-up, at most once per transport, and its matching clean-up.
  bool StartNetwork();
  void EndNetwork();

 private:
  static void OnCancel(Transport* transport);

  // Set together with the stop event, so the exchange path tests a flag
  // instead of asking the kernel; idle slices still look at the event itself.
  std::atomic<bool> stop_{false};
  bool networkStarted_ = false;
};

// How CloseSocket gives a socket up.
enum class SocketClose {
  kPlain,     // close: a connection still open ends with a FIN
  kShutdown,  // shut both directions down first, then close
  kAbortive,  // a reset instead of a FIN, leaving no TIME_WAIT on the port
};

// Closes *handle unless it is already sock::kInvalid, and leaves it so.
void CloseSocket(sock::Handle* handle, SocketClose how = SocketClose::kPlain);

// The dotted text of an IPv4 address held most significant byte first
// (127.0.0.1 is 0x7F000001), as the settings keep it. text holds 16 chars.
void FormatIpv4(uint32_t address, char* text);
