#pragma once
// Helpers shared by the fuzz targets: reading configuration bytes off the
// front of the input and feeding the rest through the scripted transport in
// chunks and at times the input chooses.

#include <stddef.h>
#include <stdint.h>

#include <cstdlib>

#include "modbus/ascii_framer.h"
#include "modbus/mbap_framer.h"
#include "modbus/rtu_framer.h"
#include "support/scripted_transport.h"

#define FUZZ_CHECK(condition) \
  do {                        \
    if (!(condition)) std::abort(); \
  } while (0)

// The one scripted transport of a target, restarted for a new input (after
// the input's FakeClock is made). Reused rather than made per input, and the
// framers live on the stack: allocations under AddressSanitizer cost more
// than a receive. Restart it again at the end of the input, so that what the
// input recorded is freed within it and libFuzzer sees no leak to look for.
inline ScriptedTransport& RestartedTransport() {
  static ScriptedTransport transport;
  transport.Restart();
  return transport;
}

// One framer of each kind, made on the stack for an input.
struct FuzzFramers {
  RtuFramer rtu;
  RtuFramer rtuStream{true};
  AsciiFramer ascii;
  MbapFramer mbap;
};

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  size_t Left() const { return size_ - at_; }

  // The rest of the input as chunks: each chunk is preceded by one control
  // byte whose low four bits give its length (1-16) and whose high four bits
  // its delay after the previous chunk (multiples of 150 ms).
  void Script(ScriptedTransport* transport) {
    uint32_t at = 0;
    transport->Reserve(Left() / 2 + 1, Left());
    while (Left() > 0) {
      const uint8_t control = Byte();
      const size_t length = (control & 0x0F) + 1u;
      at += (control >> 4) * 150u;
      const size_t take = length < Left() ? length : Left();
      if (take == 0) break;
      transport->Deliver(at, data_ + at_, take);
      at_ += take;
    }
  }

  // Everything left as one chunk (one datagram or frame).
  ScriptedTransport::Bytes Rest() {
    ScriptedTransport::Bytes rest(data_ + at_, data_ + size_);
    at_ = size_;
    return rest;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};
