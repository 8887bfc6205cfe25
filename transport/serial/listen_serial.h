#pragma once
// A serial port that only listens: the bus monitor's line. The port is
// opened for reading alone (no write access is asked for, and Write fails
// without reaching the driver), and a read hands over whatever has arrived
// as soon as anything has: where frames begin and end is for the monitor's
// framing to find, from the bytes and the tick of each read.

#include <stdint.h>

#include "transport/serial/serial_port.h"

class ListenSerialTransport : public SerialPortTransport {
 public:
  // The settings' receiveOnly is forced on.
  explicit ListenSerialTransport(const SerialLineSettings& settings, const CommApi* api = nullptr);

  // Reads return at once with what the driver holds.
  int32_t ApplyLineTimeouts() override;

  // Waits up to timeoutMs for a character, then reads what is queued, up to
  // capacity. Returns the count, 0 when nothing came, or -2 cancelled, -3
  // and -4 line errors, -1 a driver failure. The port stays open after a
  // failure: Wine fails a wait on a pseudo-terminal now and then and the
  // next one works, while a pulled USB adapter fails every call, so the
  // caller closes the port after failures in a row.
  int32_t Listen(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs);
};
