#include "modbus/transport.h"

#include "common/exit_codes.h"

Transport::Transport() {
  stopEvent_ = plat::EventNew(true, false);
  // Without its stop event a transport could never be cancelled.
  if (!stopEvent_) plat::FatalExit(kExitOutOfMemory);
}

Transport::~Transport() { plat::EventFree(stopEvent_); }

int32_t Transport::ReadFrame(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
  return Read(buffer, capacity, timeoutMs);
}

int32_t Transport::IsMessageOriented() { return 0; }

int32_t Transport::Peer(uint32_t*, uint16_t*) { return 0; }

uint32_t Transport::WriteBudget(uint32_t) { return kDefaultWriteBudgetMs; }

int32_t Transport::BeginTransmit() { return 1; }

int32_t Transport::FinishTransmit(uint32_t) { return 1; }

void Transport::ResetAfterError() { Close(); }

void Transport::Cancel() {
  plat::EventSet(stopEvent_);
  if (cancelHook_) cancelHook_(this);
}
