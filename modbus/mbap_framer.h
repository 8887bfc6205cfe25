#pragma once
// MBAP ADU: transaction id, protocol id 0, length (unit id + function code +
// data), unit id, function code, data; 8 to 260 bytes, big-endian fields.
// Serves a TCP stream and UDP datagrams alike.

#include <stdint.h>

#include "modbus/framer.h"

class MbapFramer final : public Framer {
 public:
  MbapFramer() : Framer(FramingKind::kMbap) {}

  int32_t BuildAdu(const AduHeader& header, const Pdu& pdu, uint8_t* buffer,
                   uint32_t capacity) const override;
  // The transaction id is stored in the header before the remaining checks,
  // so a caller can tell whose frame a malformed one was.
  int32_t ParseAdu(const uint8_t* bytes, uint32_t length, AduHeader* header,
                   Pdu* pdu) const override;
  uint32_t MinAduLength() const override { return 8; }
};
