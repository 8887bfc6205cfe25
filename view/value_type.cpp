#include "view/value_type.h"

#include <limits>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "view/value_format.h"

namespace {

const Unit* const kTypeNames[kValueTypeCount] = {
    u"16-bit", u"int32", u"uint32", u"float32", u"int64", u"uint64", u"float64",
};
const Unit* const kOrderNames32[kValueOrderCount] = {u"ABCD", u"CDAB", u"BADC", u"DCBA"};
const Unit* const kOrderNames64[kValueOrderCount] = {u"ABCDEFGH", u"GHEFCDAB", u"BADCFEHG", u"HGFEDCBA"};

constexpr uint32_t kTextCapacity = 48;

bool Known(uint8_t type) { return type < kValueTypeCount; }
bool SwapsWords(uint8_t order) { return order == kOrderCdab || order == kOrderDcba; }
bool SwapsBytes(uint8_t order) { return order == kOrderBadc || order == kOrderDcba; }
uint16_t SwapBytes(uint16_t word) { return static_cast<uint16_t>((word >> 8) | (word << 8)); }

uint32_t FloatBits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof(bits));
  return bits;
}
float BitsFloat(uint32_t bits) {
  float value;
  memcpy(&value, &bits, sizeof(value));
  return value;
}
uint64_t DoubleBits(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof(bits));
  return bits;
}
double BitsDouble(uint64_t bits) {
  double value;
  memcpy(&value, &bits, sizeof(value));
  return value;
}

int CopyAscii(const char* text, Unit* buffer, uint64_t capacity) {
  Unit units[kTextCapacity];
  uint32_t i = 0;
  for (; text[i] && i + 1 < kTextCapacity; ++i) units[i] = static_cast<Unit>(text[i]);
  units[i] = 0;
  return CopyTextCut(units, buffer, capacity);
}

// Writes the decimal digits of magnitude behind an optional minus sign.
void PutDecimal(char* out, bool negative, uint64_t magnitude) {
  char digits[24];
  uint32_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *out++ = '-';
  while (count > 0) *out++ = digits[--count];
  *out = 0;
}

template <typename F>
F ParseBack(const char* text);
template <>
float ParseBack<float>(const char* text) { return strtof(text, nullptr); }
template <>
double ParseBack<double>(const char* text) { return strtod(text, nullptr); }

// Special floats first, then the shortest text that reads back the same.
template <typename F>
void PutFloat(char* out, uint32_t capacity, F value) {
  if (value != value) {
    strcpy(out, "NaN");
    return;
  }
  if (value == std::numeric_limits<F>::infinity()) {
    strcpy(out, "Inf");
    return;
  }
  if (value == -std::numeric_limits<F>::infinity()) {
    strcpy(out, "-Inf");
    return;
  }
  // The fewest significant digits that read back as the same value, then
  // the shorter of the fixed and the scientific spelling of them (fixed on a
  // tie). The standard library's to_chars would do the same, but it brings
  // its threads runtime into every plug-in.
  const int most = std::numeric_limits<F>::max_digits10;
  char scientific[40] = {};
  int digits = 1;
  for (; digits <= most; ++digits) {
    snprintf(scientific, sizeof scientific, "%.*e", digits - 1, static_cast<double>(value));
    if (ParseBack<F>(scientific) == value) break;
  }
  const char* mark = strchr(scientific, 'e');
  const int exponent = mark ? atoi(mark + 1) : 0;
  const int decimals = digits - 1 - exponent > 0 ? digits - 1 - exponent : 0;
  char fixed[400] = {};
  snprintf(fixed, sizeof fixed, "%.*f", decimals, static_cast<double>(value));
  const char* shortest = strlen(fixed) <= strlen(scientific) ? fixed : scientific;
  if (strlen(shortest) < capacity) {
    strcpy(out, shortest);
  } else {
    *out = 0;
  }
}

bool EqualsIgnoringCase(const char* text, uint32_t length, const char* word) {
  if (strlen(word) != length) return false;
  for (uint32_t i = 0; i < length; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decimal digits only, at least one; false when the number passes limit.
bool ReadMagnitude(const char* text, uint32_t length, uint64_t limit, uint64_t* magnitude) {
  if (length == 0) return false;
  uint64_t value = 0;
  for (uint32_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (digit > limit || value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *magnitude = value;
  return true;
}

bool HasNonZeroDigit(const char* text, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (text[i] == 'e' || text[i] == 'E') return false;
    if (text[i] >= '1' && text[i] <= '9') return true;
  }
  return false;
}

template <typename F>
bool ReadFloat(const char* text, uint32_t length, bool negative, F* value) {
  // The quiet NaN with its sign bit clear: 0.0 / 0.0 gives x86's negative
  // "indefinite" NaN, which other masters read as -NaN.
  if (EqualsIgnoringCase(text, length, "nan")) {
    *value = std::numeric_limits<F>::quiet_NaN();
    return true;
  }
  if (EqualsIgnoringCase(text, length, "inf") || EqualsIgnoringCase(text, length, "infinity")) {
    *value = negative ? -std::numeric_limits<F>::infinity() : std::numeric_limits<F>::infinity();
    return true;
  }
  // Only digits, one point and an exponent: strtod alone would also take
  // hexadecimal floats, white space and its own spellings of NaN and
  // infinity.
  if (length == 0 || length >= 64 || !((text[0] >= '0' && text[0] <= '9') || text[0] == '.')) return false;
  char copy[64];
  for (uint32_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-')) return false;
    copy[i] = c;
  }
  copy[length] = 0;
  char* end = nullptr;
  const F parsed = sizeof(F) == sizeof(float) ? static_cast<F>(strtof(copy, &end)) : static_cast<F>(strtod(copy, &end));
  if (end != copy + length) return false;
  // Beyond the largest finite value, or a nonzero text that rounded to zero.
  if (parsed - parsed != 0) return false;
  if (parsed == 0 && HasNonZeroDigit(text, length)) return false;
  *value = negative ? -parsed : parsed;
  return true;
}

}  // namespace

uint32_t ValueTypeWords(uint8_t type) {
  switch (type) {
    case kTypeInt32:
    case kTypeUint32:
    case kTypeFloat32:
      return 2;
    case kTypeInt64:
    case kTypeUint64:
    case kTypeFloat64:
      return 4;
    default:
      return 1;
  }
}

bool IsFloatType(uint8_t type) { return type == kTypeFloat32 || type == kTypeFloat64; }

const Unit* ValueTypeName(uint8_t type) { return Known(type) ? kTypeNames[type] : nullptr; }

const Unit* ValueOrderName(uint8_t type, uint8_t order) {
  if (!Known(type) || type == kType16 || order >= kValueOrderCount) return nullptr;
  return ValueTypeWords(type) == 4 ? kOrderNames64[order] : kOrderNames32[order];
}

uint64_t JoinRegisters(uint8_t type, uint8_t order, const uint16_t* registers) {
  uint32_t words = ValueTypeWords(type);
  uint64_t bits = 0;
  for (uint32_t i = 0; i < words; ++i) {
    uint16_t word = registers[SwapsWords(order) ? words - 1 - i : i];
    bits = (bits << 16) | (SwapsBytes(order) ? SwapBytes(word) : word);
  }
  return bits;
}

void SplitRegisters(uint8_t type, uint8_t order, uint64_t bits, uint16_t* registers) {
  uint32_t words = ValueTypeWords(type);
  for (uint32_t i = 0; i < words; ++i) {
    uint16_t word = static_cast<uint16_t>(bits >> (16 * (words - 1 - i)));
    registers[SwapsWords(order) ? words - 1 - i : i] = SwapsBytes(order) ? SwapBytes(word) : word;
  }
}

int FormatTypedValue(uint8_t type, uint64_t bits, bool hex, Unit* buffer, uint64_t capacity) {
  char text[kTextCapacity];
  uint32_t words = ValueTypeWords(type);
  if (words < 4) bits &= 0xFFFFFFFFu;
  if (hex || type == kType16) {
    static const char kDigits[] = "0123456789ABCDEF";
    char* out = text;
    *out++ = '0';
    *out++ = 'x';
    for (int32_t shift = static_cast<int32_t>(16 * words) - 4; shift >= 0; shift -= 4) {
      *out++ = kDigits[(bits >> shift) & 0xF];
    }
    *out = 0;
    return CopyAscii(text, buffer, capacity);
  }
  switch (type) {
    case kTypeInt32: {
      int32_t value = static_cast<int32_t>(static_cast<uint32_t>(bits));
      PutDecimal(text, value < 0, value < 0 ? 0u - static_cast<uint64_t>(static_cast<int64_t>(value)) : bits);
      break;
    }
    case kTypeInt64: {
      bool negative = (bits >> 63) != 0;
      PutDecimal(text, negative, negative ? 0 - bits : bits);
      break;
    }
    case kTypeFloat32:
      PutFloat(text, kTextCapacity, BitsFloat(static_cast<uint32_t>(bits)));
      break;
    case kTypeFloat64:
      PutFloat(text, kTextCapacity, BitsDouble(bits));
      break;
    default:
      PutDecimal(text, false, bits);
      break;
  }
  return CopyAscii(text, buffer, capacity);
}

int ParseTypedValue(uint8_t type, const Unit* text, uint64_t* bits) {
  if (!text || !bits || !Known(type)) return 0;
  char ascii[kTextCapacity];
  uint32_t length = 0;
  for (const Unit* at = text; *at; ++at) {
    if (*at >= 0x80 || length + 1 >= kTextCapacity) return 0;
    ascii[length++] = static_cast<char>(*at);
  }
  const char* start = ascii;
  while (length > 0 && *start == ' ') ++start, --length;
  while (length > 0 && start[length - 1] == ' ') --length;

  uint32_t words = ValueTypeWords(type);
  if (length > 2 && start[0] == '0' && (start[1] == 'x' || start[1] == 'X')) {
    if (length - 2 > 4 * words) return 0;
    uint64_t value = 0;
    for (uint32_t i = 2; i < length; ++i) {
      int digit = HexDigit(start[i]);
      if (digit < 0) return 0;
      value = (value << 4) | static_cast<uint64_t>(digit);
    }
    *bits = value;
    return 1;
  }

  bool negative = length > 0 && start[0] == '-';
  if (length > 0 && (start[0] == '-' || start[0] == '+')) ++start, --length;
  uint64_t magnitude = 0;
  switch (type) {
    case kType16:
      if (!ReadMagnitude(start, length, negative ? 0x8000u : 0xFFFFu, &magnitude)) return 0;
      *bits = negative ? (0x10000u - magnitude) & 0xFFFFu : magnitude;
      return 1;
    case kTypeInt32:
      if (!ReadMagnitude(start, length, negative ? 0x80000000u : 0x7FFFFFFFu, &magnitude)) return 0;
      *bits = (negative ? 0 - magnitude : magnitude) & 0xFFFFFFFFu;
      return 1;
    case kTypeUint32:
      if (!ReadMagnitude(start, length, negative ? 0 : 0xFFFFFFFFu, &magnitude)) return 0;
      *bits = magnitude;
      return 1;
    case kTypeInt64:
      if (!ReadMagnitude(start, length, negative ? 0x8000000000000000u : 0x7FFFFFFFFFFFFFFFu, &magnitude)) return 0;
      *bits = negative ? 0 - magnitude : magnitude;
      return 1;
    case kTypeUint64:
      if (!ReadMagnitude(start, length, negative ? 0 : ~uint64_t{0}, &magnitude)) return 0;
      *bits = magnitude;
      return 1;
    case kTypeFloat32: {
      float value;
      if (!ReadFloat(start, length, negative, &value)) return 0;
      *bits = FloatBits(value);
      return 1;
    }
    default: {
      double value;
      if (!ReadFloat(start, length, negative, &value)) return 0;
      *bits = DoubleBits(value);
      return 1;
    }
  }
}

RowPlace PlaceRow(uint8_t type, uint32_t quantity, uint32_t row) {
  uint32_t words = ValueTypeWords(type);
  uint32_t first = row - row % words;
  if (words == 1 || first + words > quantity) return RowPlace{kRowSingle, row};
  return RowPlace{row == first ? kRowValueStart : kRowValuePart, first};
}

int ValueTypeTitle(uint8_t type, uint8_t order, uint8_t format, Unit* buffer, uint64_t capacity) {
  if (!Known(type) || type == kType16) return CopyTextCut(ValueFormatTitle(format), buffer, capacity);
  TextBuffer title;
  title.Append(u"Value (");
  title.Append(ValueTypeName(type));
  title.AppendUnit(u' ');
  title.Append(ValueOrderName(type, order < kValueOrderCount ? order : 0));
  if (ShowsHex(type, format)) title.Append(u" hex");
  title.AppendUnit(u')');
  return CopyTextCut(title.Text(), buffer, capacity);
}

uint8_t NextTypedFormat(uint8_t type, uint8_t format) {
  if (!Known(type) || type == kType16) return NextValueFormat(format);
  return ShowsHex(type, format) ? uint8_t{kValueDecimal} : uint8_t{kValueHex};
}

bool ShowsHex(uint8_t type, uint8_t format) { return Known(type) && type != kType16 && format == kValueHex; }

namespace {
const Unit* const kTypeItems[kValueTypeCount] = {
    u"16-bit",          u"32-bit signed",   u"32-bit unsigned", u"32-bit float",
    u"64-bit signed",   u"64-bit unsigned", u"64-bit float",
};
const Unit* const kOrderItems[kValueOrderCount] = {
    u" (high word first)", u" (words swapped)", u" (bytes swapped)", u" (both swapped)"};

InputRefusedHook gInputRefused = nullptr;
}  // namespace

int64_t ValueMenuItem(uint8_t type, uint8_t order, uint32_t index, Unit* buffer, uint64_t capacity) {
  if (!Known(type)) type = kType16;
  TextBuffer text;
  int64_t flags = kMenuItemPresent;
  if (index < kValueTypeCount) {
    text.Append(kTypeItems[index]);
    if (index == type) flags |= kMenuItemChecked;
  } else if (index == kValueTypeCount) {
    flags = kMenuItemSeparator;
  } else if (index < kValueMenuItemCount) {
    uint32_t item = index - kValueTypeCount - 1;
    text.Append(ValueOrderName(type == kType16 ? uint8_t{kTypeInt32} : type, static_cast<uint8_t>(item)));
    text.Append(kOrderItems[item]);
    if (type == kType16) flags |= kMenuItemDisabled;
    else if (item == order) flags |= kMenuItemChecked;
  } else {
    return 0;
  }
  CopyTextCut(text.Text(), buffer, capacity);
  return flags;
}

bool ChooseValueMenuItem(uint32_t index, uint8_t* type, uint8_t* order) {
  if (index < kValueTypeCount) {
    *type = static_cast<uint8_t>(index);
    return true;
  }
  if (index <= kValueTypeCount || index >= kValueMenuItemCount || *type == kType16) return false;
  *order = static_cast<uint8_t>(index - kValueTypeCount - 1);
  return true;
}

InputRefusedHook SetInputRefusedHook(InputRefusedHook hook) {
  InputRefusedHook previous = gInputRefused;
  gInputRefused = hook;
  return previous;
}

void RefuseInput() {
  if (gInputRefused) gInputRefused();
}

int FormatValuePart(Unit digit, uint32_t firstNumber, Unit* buffer, uint64_t capacity) {
  Unit reference[kValueEditorCapacity];
  FormatReferenceNumber(digit, firstNumber, reference, kValueEditorCapacity);
  TextBuffer text;
  text.AppendUnit(kValuePartMark);
  text.AppendUnit(u' ');
  text.Append(reference);
  return CopyTextCut(text.Text(), buffer, capacity);
}
