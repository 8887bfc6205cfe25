#pragma once
// Modbus ASCII frame: ':', the address, function code, data and LRC as pairs
// of upper-case hexadecimal digits, CR and an end character (LF unless
// changed); 9 to 513 characters.

#include <stdint.h>

#include "modbus/framer.h"

// The two's complement of the 8-bit sum of the bytes.
uint8_t Lrc(const uint8_t* bytes, uint32_t length);

class AsciiFramer final : public Framer {
 public:
  AsciiFramer() : Framer(FramingKind::kAscii) {}

  int32_t BuildAdu(const AduHeader& header, const Pdu& pdu, uint8_t* buffer,
                   uint32_t capacity) const override;
  int32_t ParseAdu(const uint8_t* bytes, uint32_t length, AduHeader* header,
                   Pdu* pdu) const override;
  uint32_t MinAduLength() const override { return 9; }
  uint8_t EndCharacter() const override { return endCharacter_; }
  // Refuses NUL, CR and ':', which would make frames ambiguous. Worker
  // thread only (the server changes it while answering a diagnostic).
  int32_t SetEndCharacter(uint8_t c) override;

 private:
  uint8_t endCharacter_ = '\n';
};
