#pragma once
// Addressing and PDU records of the stack, the size limits of the framings
// and the big-endian field helpers used wherever a PDU is read or written.

#include <stdint.h>

constexpr uint32_t kMaxPduData = 252;      // PDU bytes after the function code
constexpr uint32_t kAduBufferSize = 513;   // largest ADU of any framing (ASCII)
constexpr uint32_t kMaxRtuAdu = 256;
constexpr uint32_t kMaxMbapAdu = 260;
constexpr uint32_t kMaxAsciiAdu = 513;

// Addressing carried outside the PDU.
struct AduHeader {
  uint8_t unitId = 0;          // RTU/ASCII slave address or MBAP unit identifier
  uint16_t transactionId = 0;  // MBAP only; 0 for the other framings
};

// A PDU as on the wire: the data follows the function code byte for byte,
// big-endian fields stay as bytes.
struct Pdu {
  uint8_t function = 0;
  uint32_t length = 0;  // 0 to kMaxPduData
  uint8_t data[kMaxPduData] = {};
};

inline uint16_t GetU16(const uint8_t* bytes) {
  return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

inline void PutU16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 8);
  bytes[1] = static_cast<uint8_t>(value & 0xFF);
}
