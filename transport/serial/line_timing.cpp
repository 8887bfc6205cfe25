#include "transport/serial/line_timing.h"

namespace {

uint64_t CeilDiv(uint64_t numerator, uint64_t denominator) {
  return (numerator + denominator - 1) / denominator;
}

uint32_t Saturate(uint64_t value) {
  return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

// 1.5 or 3.5 characters of 11 bits in microseconds, then in milliseconds.
uint32_t CharacterTimesMs(uint64_t microsecondsAtOneBaud, uint32_t baud) {
  return Saturate(CeilDiv(CeilDiv(microsecondsAtOneBaud, baud), 1000));
}

constexpr uint32_t kFixedAboveMs = 2;
constexpr uint32_t kFixedBaudLimit = 19200;

}  // namespace

uint32_t BitsPerCharacter(uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
  return 1u + dataBits + (parity != kParityNone ? 1u : 0u) + (stopBits == kStopBitsTwo ? 2u : 1u);
}

uint32_t WireTimeMs(uint32_t count, uint32_t bitsPerCharacter, uint32_t baud) {
  if (baud == 0) return 0;
  return Saturate(CeilDiv(static_cast<uint64_t>(count) * bitsPerCharacter * 1000u, baud));
}

uint32_t RtuT15Ms(uint32_t baud) {
  if (baud == 0 || baud > kFixedBaudLimit) return kFixedAboveMs;
  uint32_t t = CharacterTimesMs(16500000u, baud);
  return t < kFixedAboveMs ? kFixedAboveMs : t;
}

uint32_t RtuT35Ms(uint32_t baud) {
  if (baud == 0) return 0;
  if (baud > kFixedBaudLimit) return kFixedAboveMs;
  return CharacterTimesMs(38500000u, baud);
}

uint32_t RtuReadIntervalMs(uint32_t baud, uint32_t bitsPerCharacter) {
  uint32_t character = baud == 0 ? 0 : Saturate(bitsPerCharacter * 1000ull / baud);
  uint32_t t15 = RtuT15Ms(baud);
  return character > 0xFFFFFFFFu - t15 ? 0xFFFFFFFFu : t15 + character;
}

uint32_t RtuWriteMsPerCharacter(uint32_t baud) {
  return baud == 0 ? 0 : Saturate(CeilDiv(11000u, baud));
}

uint32_t AsciiWriteMsPerCharacter(uint32_t baud) {
  return baud == 0 ? 0 : Saturate(CeilDiv(10000u, baud));
}
