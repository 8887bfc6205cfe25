#pragma once
// The ASCII line discipline on a serial port: the link collects a frame
// character by character, so reads carry no driver time-outs of their own
// and end when their bytes have arrived or the transport's deadline passes.

#include <stdint.h>

#include "transport/serial/serial_port.h"

class AsciiSerialTransport : public SerialPortTransport {
 public:
  explicit AsciiSerialTransport(const SerialLineSettings& settings, const CommApi* api = nullptr)
      : SerialPortTransport(settings, api) {}

  int32_t ApplyLineTimeouts() override;
};
