#include "common/text.h"

#include "common/memory.h"

namespace {

constexpr int64_t kMaxTextLength = 0x7FFFFFFE;
const char kUpperDigits[] = "0123456789ABCDEF";
const char kLowerDigits[] = "0123456789abcdef";

bool IsHexDigit(Unit unit) {
  return (unit >= u'0' && unit <= u'9') || (unit >= u'A' && unit <= u'F') || (unit >= u'a' && unit <= u'f');
}

}  // namespace

int32_t TextLength(const Unit* text) {
  if (!text) return 0;
  int32_t length = 0;
  while (text[length]) ++length;
  return length;
}

int32_t CountHexDigits(const Unit* text, int32_t limit) {
  if (!text) return 0;
  int32_t count = 0;
  for (int32_t i = 0; (limit < 0 || i < limit) && text[i]; ++i) {
    if (IsHexDigit(text[i])) ++count;
  }
  return count;
}

TextBuffer::~TextBuffer() { mem::Release(characters_); }

// Grows the storage to exactly length units (plus the NUL) when it is short.
int TextBuffer::Reserve(int64_t length) {
  if (length < 0 || length > kMaxTextLength) return 0;
  if (length <= capacity_ && characters_) return 1;
  Unit* grown = static_cast<Unit*>(mem::Reallocate(characters_, static_cast<size_t>(length + 1) * sizeof(Unit)));
  if (!grown) return 0;
  if (length_ == 0) grown[0] = 0;
  characters_ = grown;
  capacity_ = static_cast<int32_t>(length);
  return 1;
}

int TextBuffer::Assign(const Unit* text) {
  int32_t count = TextLength(text);
  if (count == 0) return Resize(0);
  // A text inside our own storage never needs growth: it already fits.
  bool inside = characters_ && text >= characters_ && text <= characters_ + length_;
  if (!inside && !Reserve(count)) return 0;
  // Forward copy is safe for a source at or after the destination.
  for (int32_t i = 0; i < count; ++i) characters_[i] = text[i];
  characters_[count] = 0;
  length_ = count;
  return 1;
}

int TextBuffer::Append(const Unit* text, int32_t count) {
  if (count < 1 || !text) return 1;
  bool inside = characters_ && text >= characters_ && text <= characters_ + length_;
  int64_t offset = inside ? text - characters_ : 0;
  if (!Reserve(static_cast<int64_t>(length_) + count)) return 0;
  if (inside) text = characters_ + offset;  // storage may have moved
  for (int32_t i = 0; i < count; ++i) characters_[length_ + i] = text[i];
  length_ += count;
  characters_[length_] = 0;
  return 1;
}

int TextBuffer::AppendUnit(Unit unit) {
  Unit copy = unit;
  return Append(&copy, 1);
}

int TextBuffer::Resize(int32_t count) {
  if (count <= 0) {
    if (characters_) characters_[0] = 0;
    length_ = 0;
    return 1;
  }
  if (!Reserve(count)) return 0;
  // Units past the old length are zero until a caller fills them.
  for (int32_t i = length_; i < count; ++i) characters_[i] = 0;
  length_ = count;
  characters_[count] = 0;
  return 1;
}

bool TextBuffer::EndsWith(const Unit* text) const {
  int32_t count = TextLength(text);
  if (count == 0) return true;
  if (count > length_) return false;
  const Unit* tail = characters_ + (length_ - count);
  for (int32_t i = 0; i < count; ++i) {
    if (tail[i] != text[i]) return false;
  }
  return true;
}

int TextBuffer::FormatNumber(uint64_t value, bool negative, uint32_t numberRadix, bool upper) {
  if (numberRadix < 2 || numberRadix > 16) return 1;
  const char* table = upper ? kUpperDigits : kLowerDigits;

  Unit digits[64];
  int32_t digitCount = 0;
  do {
    digits[digitCount++] = static_cast<Unit>(table[value % numberRadix]);
    value /= numberRadix;
  } while (value != 0);

  int32_t separators = groupSize > 0 ? (digitCount - 1) / groupSize : 0;
  int32_t padding = width - (negative ? 1 : 0) - digitCount - separators;
  if (padding < 0) padding = 0;
  int32_t total = padding + (negative ? 1 : 0) + digitCount + separators;

  if (!Reserve(static_cast<int64_t>(length_) + total)) return 0;
  width = 0;

  Unit* out = characters_ + length_;
  if (fill == u'0') {
    if (negative) *out++ = u'-';
    for (int32_t i = 0; i < padding; ++i) *out++ = u'0';
  } else {
    for (int32_t i = 0; i < padding; ++i) *out++ = fill;
    if (negative) *out++ = u'-';
  }
  for (int32_t i = digitCount - 1; i >= 0; --i) {
    *out++ = digits[i];
    if (groupSize > 0 && i > 0 && i % groupSize == 0) *out++ = u' ';
  }
  length_ += total;
  characters_[length_] = 0;
  return 1;
}

int TextBuffer::AppendUnsigned(uint64_t value) { return FormatNumber(value, false, radix, uppercase); }

int TextBuffer::AppendSigned(int64_t value) {
  bool negative = value < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  return FormatNumber(magnitude, negative, radix, uppercase);
}

int CopyTextCut(const Unit* text, Unit* buffer, uint64_t capacity) {
  if (!buffer || capacity == 0) return 0;
  const int32_t bounded = capacity > INT32_MAX ? INT32_MAX : static_cast<int32_t>(capacity);
  const int32_t copied = CopyBounded(buffer, bounded, text);
  return !text || text[copied] == 0 ? 1 : 0;
}
