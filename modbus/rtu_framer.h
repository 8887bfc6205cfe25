#pragma once
// Modbus RTU ADU: address, function code, data, CRC-16 low byte first;
// 4 to 256 bytes. The same framer serves a serial line and datagrams (whole
// frames) and a TCP byte stream, where the link predicts the length.

#include <stdint.h>

#include "modbus/framer.h"

// The Modbus CRC-16 (initial 0xFFFF, reflected polynomial 0xA001).
uint16_t Crc16(const uint8_t* bytes, uint32_t length);
// Carries crc on over length more bytes: Crc16(a + b) is
// Crc16Update(Crc16(a), b).
uint16_t Crc16Update(uint16_t crc, const uint8_t* bytes, uint32_t length);

class RtuFramer final : public Framer {
 public:
  explicit RtuFramer(bool onByteStream = false)
      : Framer(onByteStream ? FramingKind::kRtuStream : FramingKind::kRtu) {}

  int32_t BuildAdu(const AduHeader& header, const Pdu& pdu, uint8_t* buffer,
                   uint32_t capacity) const override;
  int32_t ParseAdu(const uint8_t* bytes, uint32_t length, AduHeader* header,
                   Pdu* pdu) const override;
  uint32_t MinAduLength() const override { return 4; }
};
