#include "modbus/mbap_framer.h"

#include "common/memory.h"
#include "modbus/status.h"

int32_t MbapFramer::BuildAdu(const AduHeader& header, const Pdu& pdu, uint8_t* buffer,
                             uint32_t capacity) const {
  if (!buffer || pdu.length > kMaxPduData || capacity < pdu.length + 8) return 0;
  PutU16(buffer, header.transactionId);
  PutU16(buffer + 2, 0);
  PutU16(buffer + 4, static_cast<uint16_t>(pdu.length + 2));
  buffer[6] = header.unitId;
  buffer[7] = pdu.function;
  mem::CopyBytes(buffer + 8, pdu.data, pdu.length);
  return static_cast<int32_t>(pdu.length + 8);
}

int32_t MbapFramer::ParseAdu(const uint8_t* bytes, uint32_t length, AduHeader* header,
                             Pdu* pdu) const {
  if (!bytes || length < 8 || length > kMaxMbapAdu) return StatusInvalidLength;
  header->transactionId = GetU16(bytes);
  if (GetU16(bytes + 2) != 0) return StatusInvalidFrame;
  const uint32_t lengthField = GetU16(bytes + 4);
  if (lengthField < 2 || length != lengthField + 6) return StatusInvalidLength;
  header->unitId = bytes[6];
  pdu->function = bytes[7];
  pdu->length = lengthField - 2;
  mem::CopyBytes(pdu->data, bytes + 8, pdu->length);
  return StatusOk;
}
