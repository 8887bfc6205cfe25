#include "transport/net_transport.h"

#include "common/deadline.h"

NetTransport::NetTransport() { SetCancelHook(&NetTransport::OnCancel); }

NetTransport::~NetTransport() { EndNetwork(); }

void NetTransport::OnCancel(Transport* transport) {
  static_cast<NetTransport*>(transport)->stop_.store(true, std::memory_order_release);
}

bool NetTransport::Stopping() { return stop_.load(std::memory_order_acquire); }

void NetTransport::SetStop() {
  stop_.store(true, std::memory_order_release);
  plat::EventSet(StopEvent());
}

void NetTransport::ResetStop() {
  plat::EventReset(StopEvent());
  stop_.store(false, std::memory_order_release);
}

int32_t NetTransport::WaitSliced(sock::Handle handle, NetWait what, uint32_t deadline) {
  for (;;) {
    if (Stopping()) return TransportCancelled;
    uint32_t left = RemainingMs(deadline);
    if (left == 0) return 0;
    uint32_t slice = left < kNetSliceMs ? left : kNetSliceMs;
    int ready = what == NetWait::Readable   ? sock::WaitReadable(handle, slice)
                : what == NetWait::Writable ? sock::WaitWritable(handle, slice)
                                            : sock::WaitConnected(handle, slice);
    if (ready < 0) return TransportIoError;
    if (ready > 0) return 1;
    // Whoever set the event without Cancel is noticed here, one slice late.
    if (StopRequested()) stop_.store(true, std::memory_order_release);
  }
}

bool NetTransport::StartNetwork() {
  if (networkStarted_) return true;
  networkStarted_ = sock::NetworkStart();
  return networkStarted_;
}

void NetTransport::EndNetwork() {
  if (!networkStarted_) return;
  sock::NetworkStop();
  networkStarted_ = false;
}

void CloseSocket(sock::Handle* handle, SocketClose how) {
  if (*handle == sock::kInvalid) return;
  if (how == SocketClose::kShutdown) sock::ShutdownBoth(*handle);
  if (how == SocketClose::kAbortive) sock::SetAbortiveClose(*handle);
  sock::Destroy(*handle);
  *handle = sock::kInvalid;
}

void FormatIpv4(uint32_t address, char* text) {
  int at = 0;
  for (int shift = 24; shift >= 0; shift -= 8) {
    uint32_t part = (address >> shift) & 0xFFu;
    if (part >= 100) text[at++] = static_cast<char>('0' + part / 100);
    if (part >= 10) text[at++] = static_cast<char>('0' + part / 10 % 10);
    text[at++] = static_cast<char>('0' + part % 10);
    if (shift > 0) text[at++] = '.';
  }
  text[at] = '\0';
}
