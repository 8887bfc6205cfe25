#pragma once
// How the length of an RTU frame follows from its first bytes, where no
// silence marks its end: on a TCP byte stream, across a USB adapter's burst
// gaps on a serial line, and on a bus that a listener frames without knowing
// who speaks. Lengths count address, function code, data and CRC.

#include <stdint.h>

enum class RtuLength : uint8_t {
  kUnknown,  // the function code does not tell: the stream is given up
  kFixed,    // value bytes in all
  kCounted,  // the byte at offset value counts the bytes that follow it;
             // extra is the frame's length besides them
  kChecked,  // the shortest of value, value + extra, ... bytes whose CRC checks
  kMei,      // function 43: the MEI type at offset 2 decides
};

struct RtuLengthRule {
  RtuLength kind;
  uint8_t value;
  uint8_t extra;
};

// Requests, the frames a server receives.
RtuLengthRule RequestLength(uint8_t function);

// Responses, the frames a client receives: only those of the functions a
// client of ours sends, and exception responses.
RtuLengthRule ResponseLength(uint8_t function);

// Function 43: Read Device Identification has a fixed request; the other
// MEI types carry data of their own length, found by its CRC.
RtuLengthRule MeiLength(uint8_t meiType);
