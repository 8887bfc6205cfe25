#include "common/numeric_text.h"

namespace {

constexpr uint64_t kMaxMagnitude = ~static_cast<uint64_t>(0);
constexpr uint64_t kInt64Max = 0x7FFFFFFFFFFFFFFFull;

// The value of unit as a digit of base, or -1.
int DigitValue(Unit unit, uint32_t base) {
  int value = -1;
  if (unit >= u'0' && unit <= u'9') value = unit - u'0';
  else if (unit >= u'A' && unit <= u'F') value = unit - u'A' + 10;
  else if (unit >= u'a' && unit <= u'f') value = unit - u'a' + 10;
  return value >= 0 && static_cast<uint32_t>(value) < base ? value : -1;
}

uint32_t BaseOf(uint32_t mode) {
  if (mode == kNumericHex) return 16;
  if (mode == kNumericBinary) return 2;
  return 10;
}

// The number of units of text before a trailing suffix, or length when the
// text does not end with it.
int32_t LengthWithoutSuffix(const Unit* suffix, const Unit* text, int32_t length) {
  int32_t suffixLength = TextLength(suffix);
  if (suffixLength == 0 || suffixLength > length) return length;
  const Unit* tail = text + (length - suffixLength);
  for (int32_t i = 0; i < suffixLength; ++i) {
    if (tail[i] != suffix[i]) return length;
  }
  return length - suffixLength;
}

int32_t Bound(int32_t value, int32_t low, int32_t high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

}  // namespace

int64_t NumericClamp(const NumericSettings& settings, int64_t value) {
  if (settings.mode != kNumericSigned && value < 0) value = 0;
  if (settings.hasRange) {
    if (value < settings.min) value = settings.min;
    else if (value > settings.max) value = settings.max;
  }
  return value;
}

int NumericFormat(const NumericSettings& settings, int64_t value, bool withSuffix, TextBuffer& out) {
  value = NumericClamp(settings, value);
  if (!out.Resize(0)) return 0;
  int ok = 1;
  switch (settings.mode) {
    case kNumericHex:
    case kNumericBinary:
      out.fill = u'0';
      out.width = settings.digits;
      ok = out.FormatNumber(static_cast<uint64_t>(value), false, BaseOf(settings.mode), true);
      out.width = 0;
      out.fill = u' ';
      break;
    default: {
      bool negative = value < 0;
      uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
      ok = out.FormatNumber(magnitude, negative, 10, true);
      break;
    }
  }
  if (ok && withSuffix) ok = out.Append(settings.suffix);
  return ok;
}

int64_t NumericParse(const NumericSettings& settings, const Unit* text, int32_t length) {
  if (!text || length < 0) length = 0;
  length = LengthWithoutSuffix(settings.suffix, text, length);
  int32_t position = 0;
  bool negative = false;
  if (settings.mode == kNumericSigned && length > 0 && text[0] == u'-') {
    negative = true;
    position = 1;
  }
  uint32_t base = BaseOf(settings.mode);
  uint64_t magnitude = 0;
  bool anyDigit = false;
  for (; position < length; ++position) {
    int digit = DigitValue(text[position], base);
    if (digit < 0) continue;
    anyDigit = true;
    if (magnitude > (kMaxMagnitude - static_cast<uint64_t>(digit)) / base) {
      magnitude = kMaxMagnitude;  // saturate instead of wrapping around
    } else {
      magnitude = magnitude * base + static_cast<uint64_t>(digit);
    }
  }
  if (!anyDigit) return NumericClamp(settings, settings.hasRange ? settings.min : 0);

  int64_t value;
  if (negative) {
    value = magnitude > kInt64Max ? static_cast<int64_t>(-static_cast<int64_t>(kInt64Max) - 1)
                                  : -static_cast<int64_t>(magnitude);
  } else {
    value = magnitude > kInt64Max ? static_cast<int64_t>(kInt64Max) : static_cast<int64_t>(magnitude);
  }
  return NumericClamp(settings, value);
}

bool NumericUnitValid(uint32_t mode, Unit unit) {
  switch (mode) {
    case kNumericNone:
      return true;
    case kNumericUnsigned:
      return unit >= u'0' && unit <= u'9';
    case kNumericSigned:
      return (unit >= u'0' && unit <= u'9') || unit == u'-';
    case kNumericHex:
      return DigitValue(unit, 16) >= 0;
    case kNumericBinary:
      return unit == u'0' || unit == u'1';
    default:
      return false;
  }
}

bool NumericMinusAllowed(const NumericSettings& settings, const Unit* text, int32_t length, int32_t selectionStart,
                         int32_t selectionEnd) {
  if (settings.mode != kNumericSigned) return false;
  int32_t first = selectionStart < selectionEnd ? selectionStart : selectionEnd;
  int32_t last = selectionStart < selectionEnd ? selectionEnd : selectionStart;
  if (first != 0) return false;
  bool signLeads = text && length > 0 && text[0] == u'-';
  return !signLeads || last > 0;
}

bool NumericDigitAllowed(const NumericSettings& settings, const Unit* text, int32_t length, int32_t selectionStart,
                         int32_t selectionEnd) {
  if (settings.digits <= 0) return true;
  if (!text || length < 0) length = 0;
  int32_t kept = LengthWithoutSuffix(settings.suffix, text, length);
  int32_t count = kept > 0 ? CountHexDigits(text, kept) : 0;
  // Only the part of the selection before the suffix holds counted digits.
  int32_t first = Bound(selectionStart < selectionEnd ? selectionStart : selectionEnd, 0, kept);
  int32_t last = Bound(selectionStart < selectionEnd ? selectionEnd : selectionStart, 0, kept);
  if (last > first) count -= CountHexDigits(text + first, last - first);
  return count < settings.digits;
}

bool NumericAcceptsUnit(const NumericSettings& settings, Unit unit, const Unit* text, int32_t length,
                        int32_t selectionStart, int32_t selectionEnd) {
  if (unit < 32 || settings.mode == kNumericNone) return true;
  if (!NumericUnitValid(settings.mode, unit)) return false;
  if (unit == u'-') return NumericMinusAllowed(settings, text, length, selectionStart, selectionEnd);
  return NumericDigitAllowed(settings, text, length, selectionStart, selectionEnd);
}
