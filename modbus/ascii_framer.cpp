#include "modbus/ascii_framer.h"

#include "modbus/status.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void PutHex(uint8_t* at, uint8_t value) {
  at[0] = static_cast<uint8_t>(kHexDigits[value >> 4]);
  at[1] = static_cast<uint8_t>(kHexDigits[value & 0x0F]);
}

// The value of an upper-case hexadecimal digit, or -1.
int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

uint8_t Lrc(const uint8_t* bytes, uint32_t length) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return static_cast<uint8_t>(0u - sum);
}

int32_t AsciiFramer::BuildAdu(const AduHeader& header, const Pdu& pdu, uint8_t* buffer,
                              uint32_t capacity) const {
  if (!buffer || pdu.length > kMaxPduData || capacity < 2 * pdu.length + 9) return 0;
  uint8_t sum = static_cast<uint8_t>(header.unitId + pdu.function);
  buffer[0] = ':';
  PutHex(buffer + 1, header.unitId);
  PutHex(buffer + 3, pdu.function);
  uint8_t* at = buffer + 5;
  for (uint32_t i = 0; i < pdu.length; ++i, at += 2) {
    PutHex(at, pdu.data[i]);
    sum = static_cast<uint8_t>(sum + pdu.data[i]);
  }
  PutHex(at, static_cast<uint8_t>(0u - sum));
  at[2] = '\r';
  at[3] = endCharacter_;
  return static_cast<int32_t>(2 * pdu.length + 9);
}

int32_t AsciiFramer::ParseAdu(const uint8_t* bytes, uint32_t length, AduHeader* header,
                              Pdu* pdu) const {
  if (!bytes || length < 9 || length > kMaxAsciiAdu) return StatusInvalidLength;
  if (bytes[0] != ':' || bytes[length - 2] != '\r' || bytes[length - 1] != endCharacter_ ||
      (length - 3) % 2 != 0) {
    return StatusInvalidFrame;
  }
  // Data bytes go straight into the PDU; the header and function code are
  // set only once every digit and the LRC have been checked.
  const uint32_t count = (length - 3) / 2;  // 3 to 255 decoded bytes
  uint8_t sum = 0;
  uint8_t unit = 0, function = 0, lrc = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const int high = HexValue(bytes[1 + 2 * i]);
    const int low = HexValue(bytes[2 + 2 * i]);
    if (high < 0 || low < 0) return StatusInvalidFrame;
    const uint8_t value = static_cast<uint8_t>(high << 4 | low);
    if (i == 0) {
      unit = value;
    } else if (i == 1) {
      function = value;
    } else if (i == count - 1) {
      lrc = value;
      break;
    } else {
      pdu->data[i - 2] = value;
    }
    sum = static_cast<uint8_t>(sum + value);
  }
  if (lrc != static_cast<uint8_t>(0u - sum)) return StatusLrcError;
  header->unitId = unit;
  header->transactionId = 0;
  pdu->function = function;
  pdu->length = count - 3;
  return StatusOk;
}

int32_t AsciiFramer::SetEndCharacter(uint8_t c) {
  if (c == 0 || c == '\r' || c == ':') return 0;
  endCharacter_ = c;
  return 1;
}
