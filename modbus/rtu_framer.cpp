#include "modbus/rtu_framer.h"

#include "common/memory.h"
#include "modbus/status.h"

namespace {

struct CrcTable {
  uint16_t entries[256];
};

// Entry i is i shifted right eight times, XORed with 0xA001 whenever the
// bit shifted out is 1.
constexpr CrcTable MakeCrcTable() {
  CrcTable table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint16_t value = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 1) ? static_cast<uint16_t>((value >> 1) ^ 0xA001) : static_cast<uint16_t>(value >> 1);
    }
    table.entries[i] = value;
  }
  return table;
}

constexpr CrcTable kCrcTable = MakeCrcTable();

}  // namespace

uint16_t Crc16(const uint8_t* bytes, uint32_t length) { return Crc16Update(0xFFFF, bytes, length); }

uint16_t Crc16Update(uint16_t crc, const uint8_t* bytes, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable.entries[(crc ^ bytes[i]) & 0xFF]);
  }
  return crc;
}

int32_t RtuFramer::BuildAdu(const AduHeader& header, const Pdu& pdu, uint8_t* buffer,
                            uint32_t capacity) const {
  if (!buffer || pdu.length > kMaxPduData || capacity < pdu.length + 4) return 0;
  buffer[0] = header.unitId;
  buffer[1] = pdu.function;
  mem::CopyBytes(buffer + 2, pdu.data, pdu.length);
  const uint32_t crcAt = pdu.length + 2;
  const uint16_t crc = Crc16(buffer, crcAt);
  buffer[crcAt] = static_cast<uint8_t>(crc & 0xFF);
  buffer[crcAt + 1] = static_cast<uint8_t>(crc >> 8);
  return static_cast<int32_t>(crcAt + 2);
}

int32_t RtuFramer::ParseAdu(const uint8_t* bytes, uint32_t length, AduHeader* header,
                            Pdu* pdu) const {
  if (!bytes || length < 4 || length > kMaxRtuAdu) return StatusInvalidLength;
  const uint16_t crc = Crc16(bytes, length - 2);
  if (bytes[length - 2] != (crc & 0xFF) || bytes[length - 1] != (crc >> 8)) return StatusCrcError;
  header->unitId = bytes[0];
  header->transactionId = 0;
  pdu->function = bytes[1];
  pdu->length = length - 4;
  mem::CopyBytes(pdu->data, bytes + 2, pdu->length);
  return StatusOk;
}
