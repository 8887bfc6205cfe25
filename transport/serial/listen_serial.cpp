#include "transport/serial/listen_serial.h"

#include <windows.h>

#include "modbus/status.h"

namespace {

SerialLineSettings ReceiveOnly(SerialLineSettings settings) {
  settings.receiveOnly = true;
  return settings;
}

}  // namespace

ListenSerialTransport::ListenSerialTransport(const SerialLineSettings& settings, const CommApi* api)
    : SerialPortTransport(ReceiveOnly(settings), api) {}

int32_t ListenSerialTransport::ApplyLineTimeouts() {
  // An interval of MAXDWORD with no total time-out: ReadFile returns at
  // once with what is queued, even nothing.
  return SetDriverTimeouts(MAXDWORD, 0, 0, 0, 0);
}

int32_t ListenSerialTransport::Listen(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
  if (!buffer || capacity == 0) return 0;
  if (StopRequested() || !IsReady()) return TransportCancelled;
  const DriverOutcome waited = WaitForCharacter(timeoutMs);
  if (waited.lineErrors || waited.result != DriverResult::Ok) {
    if (waited.result == DriverResult::TimedOut && !waited.lineErrors) return 0;
    return MapOutcome(waited);
  }
  if (waited.count == 0) return 0;
  const DriverOutcome read = ReadBytes(buffer, capacity, timeoutMs);
  if (read.result == DriverResult::TimedOut && !read.lineErrors) return static_cast<int32_t>(read.count);
  return MapOutcome(read);
}
