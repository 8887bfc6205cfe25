#include "view/value_format.h"

namespace {

constexpr uint32_t kUnsignedLimit = 0xFFFFu;
constexpr uint32_t kPositiveLimit = 0x7FFFu;
constexpr uint32_t kNegativeLimit = 0x8000u;

const Unit* const kTitles[kValueFormatCount] = {
    u"Value (dec)",
    u"Value (sdec)",
    u"Value (hex)",
    u"Value (bin)",
};

uint8_t Known(uint8_t format) { return format < kValueFormatCount ? format : uint8_t{kValueDecimal}; }

// A small fixed text, enough for every cell text and reference number.
struct CellText {
  Unit units[kValueEditorCapacity] = {};
  uint32_t length = 0;

  void Put(Unit unit) {
    if (length + 1 < kValueEditorCapacity) units[length++] = unit;
  }
  void PutDecimal(uint32_t value, uint32_t minimumDigits) {
    Unit digits[10];
    uint32_t count = 0;
    do {
      digits[count++] = static_cast<Unit>(u'0' + value % 10);
      value /= 10;
    } while (value != 0);
    for (uint32_t i = count; i < minimumDigits; ++i) Put(u'0');
    while (count > 0) Put(digits[--count]);
  }
  int CopyTo(Unit* buffer, uint64_t capacity) {
    units[length] = 0;
    return CopyTextCut(units, buffer, capacity);
  }
};

int DigitValue(Unit unit) {
  if (unit >= u'0' && unit <= u'9') return unit - u'0';
  if (unit >= u'A' && unit <= u'F') return unit - u'A' + 10;
  if (unit >= u'a' && unit <= u'f') return unit - u'a' + 10;
  return -1;
}

}  // namespace

uint8_t NextValueFormat(uint8_t format) { return static_cast<uint8_t>((Known(format) + 1) % kValueFormatCount); }

const Unit* ValueFormatTitle(uint8_t format) { return kTitles[Known(format)]; }

uint8_t ValueEditorMode(uint8_t format) { return static_cast<uint8_t>(Known(format) + 1); }

int FormatValueText(uint8_t format, uint16_t value, Unit* buffer, uint64_t capacity) {
  CellText text;
  switch (Known(format)) {
    case kValueSignedDecimal: {
      int16_t signedValue = static_cast<int16_t>(value);
      if (signedValue < 0) text.Put(u'-');
      text.PutDecimal(signedValue < 0 ? static_cast<uint32_t>(-static_cast<int32_t>(signedValue)) : value, 1);
      break;
    }
    case kValueHex: {
      static const char kDigits[] = "0123456789ABCDEF";
      text.Put(u'0');
      text.Put(u'x');
      for (int shift = 12; shift >= 0; shift -= 4) text.Put(static_cast<Unit>(kDigits[(value >> shift) & 0xF]));
      break;
    }
    case kValueBinary:
      for (int bit = 15; bit >= 0; --bit) {
        text.Put((value >> bit) & 1 ? u'1' : u'0');
        if (bit > 0 && bit % 4 == 0) text.Put(u' ');
      }
      break;
    default:
      text.PutDecimal(value, 1);
      break;
  }
  return text.CopyTo(buffer, capacity);
}

uint16_t ParseValueText(uint32_t editorMode, const Unit* text) {
  if (!text) return 0;
  uint32_t base = editorMode == 3 ? 16 : editorMode == 4 ? 2 : 10;
  bool negative = editorMode == 2 && text[0] == u'-';
  uint32_t limit = editorMode == 2 ? (negative ? kNegativeLimit : kPositiveLimit) : kUnsignedLimit;
  uint32_t value = 0;
  for (const Unit* at = negative ? text + 1 : text; *at; ++at) {
    int digit = DigitValue(*at);
    if (digit < 0 || static_cast<uint32_t>(digit) >= base) continue;
    // value <= limit < 65536 keeps this product far inside 32 bits.
    value = value * base + static_cast<uint32_t>(digit);
    if (value > limit) value = limit;
  }
  return static_cast<uint16_t>(negative ? 0x10000u - value : value);
}

Unit ReferenceDigitForFunction(uint8_t function) {
  switch (function) {
    case 1:
    case 5:
    case 15:
      return u'0';
    case 2:
      return u'1';
    case 4:
      return u'3';
    case 3:
    case 6:
    case 16:
      return u'4';
    default:
      return 0;
  }
}

Unit ReferenceDigitForArea(uint8_t area) {
  static const Unit kDigits[] = {u'0', u'1', u'3', u'4'};
  return area < 4 ? kDigits[area] : Unit{0};
}

int FormatReferenceNumber(Unit digit, uint32_t number, Unit* buffer, uint64_t capacity) {
  CellText text;
  if (digit) text.Put(digit);
  text.PutDecimal(number, 5);
  return text.CopyTo(buffer, capacity);
}

uint32_t ReadLeadingDecimal(const Unit* text, int32_t maxUnits) {
  if (!text) return 0;
  uint64_t value = 0;
  for (int32_t i = 0; (maxUnits < 0 || i < maxUnits) && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - u'0');
    if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;
  }
  return static_cast<uint32_t>(value);
}
