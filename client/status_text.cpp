#include "client/transaction.h"
#include "modbus/status.h"

namespace {

// Indexed by -status for the named failures -1 to -17.
const Unit* const kFailureTexts[] = {
    u"RX: Unknown error",
    u"RX: Timeout",
    u"RX: Incomplete frame",
    u"RX: Transport error",
    u"RX: CRC error",
    u"RX: LRC error",
    u"RX: Invalid length",
    u"RX: Transaction mismatch",
    u"RX: Invalid frame",
    u"RX: Frame too large",
    u"RX: Not connected",
    u"RX: Unsupported function",
    u"RX: Invalid request",
    u"RX: Response mismatch",
    u"RX: Cancelled",
    u"RX: Serial framing error",
    u"RX: Invalid address",
    u"RX: Serial character overrun",
};
constexpr int32_t kLastNamedFailure = 17;

const Unit* ExceptionName(uint8_t code) {
  switch (code) {
    case 1: return u"Illegal function";
    case 2: return u"Illegal data address";
    case 3: return u"Illegal data value";
    case 4: return u"Server device failure";
    case 5: return u"Acknowledge";
    case 6: return u"Server device busy";
    case 8: return u"Memory parity error";
    case 10: return u"Gateway path unavailable";
    case 11: return u"Gateway target failed";
    default: return u"Unknown";
  }
}

Unit* Put(Unit* at, const Unit* text) {
  while (*text) *at++ = *text++;
  return at;
}

}  // namespace

const Unit* StatusText(int32_t status, Unit* buffer) {
  if (IsExceptionStatus(status)) {
    // "RX: Exception %02u - %s"; the longest result is well inside the
    // buffer's 96 units.
    const uint8_t code = ExceptionCodeOf(status);
    Unit* at = Put(buffer, u"RX: Exception ");
    if (code >= 100) *at++ = static_cast<Unit>(u'0' + code / 100);
    *at++ = static_cast<Unit>(u'0' + code / 10 % 10);
    *at++ = static_cast<Unit>(u'0' + code % 10);
    at = Put(at, u" - ");
    at = Put(at, ExceptionName(code));
    *at = 0;
    return buffer;
  }
  if (status < 0 && status >= -kLastNamedFailure) return kFailureTexts[-status];
  return kFailureTexts[0];
}

const char* StatusTextAscii(int32_t status, char* buffer, uint32_t capacity) {
  if (!buffer || capacity == 0) return buffer;
  Unit wide[kStatusTextCapacity];
  const Unit* text = StatusText(status, wide);
  uint32_t i = 0;
  for (; i + 1 < capacity && text[i]; ++i) {
    buffer[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
  }
  buffer[i] = 0;
  return buffer;
}
