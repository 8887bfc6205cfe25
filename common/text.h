#pragma once
// The text buffer: growable NUL-terminated UTF-16 text with its own integer
// formatter. Every operation returns 1 on success and 0 on failure; a failed
// operation leaves the buffer exactly as it was.

#include <stdint.h>

using Unit = char16_t;  // one UTF-16 code unit

// Units before the NUL; a null text has length 0.
int32_t TextLength(const Unit* text);

// Copies text (null: the empty text) into buffer, cut to capacity - 1
// units, and ends it with a NUL. Returns the units copied; a null buffer or
// a capacity below 1 copies nothing. For UTF-16 units and bytes alike.
template <typename C>
int32_t CopyBounded(C* buffer, int32_t capacity, const C* text) {
  if (!buffer || capacity < 1) return 0;
  int32_t length = 0;
  for (; text && length < capacity - 1 && text[length]; ++length) buffer[length] = text[length];
  buffer[length] = 0;
  return length;
}

// The number of units among 0-9, A-F, a-f in the first limit units of text
// (a negative limit: the whole text).
int32_t CountHexDigits(const Unit* text, int32_t limit);

class TextBuffer {
 public:
  TextBuffer() = default;
  ~TextBuffer();
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  // Never null: the empty text when the buffer has no storage.
  const Unit* Text() const { return characters_ ? characters_ : u""; }
  int32_t Length() const { return length_; }
  int32_t Capacity() const { return capacity_; }
  const Unit* Storage() const { return characters_; }

  // text may point into this buffer; null or empty empties the buffer.
  int Assign(const Unit* text);
  // count units of text, which may point into this buffer's own storage. A
  // count below 1 or a null text succeeds without change.
  int Append(const Unit* text, int32_t count);
  int Append(const Unit* text) { return Append(text, TextLength(text)); }
  int AppendUnit(Unit unit);
  // The length becomes count (contents kept); 0 or less empties the buffer.
  int Resize(int32_t count);
  bool EndsWith(const Unit* text) const;

  // Appends value with the given radix (2 to 16), a minus sign when
  // negative, padded to the pending width with the fill unit and grouped by
  // the group size. The width applies to this number only.
  int FormatNumber(uint64_t value, bool negative, uint32_t radix, bool uppercase);
  // FormatNumber with the buffer's own radix and case.
  int AppendUnsigned(uint64_t value);
  int AppendSigned(int64_t value);

  // Formatting settings.
  uint32_t radix = 10;
  bool uppercase = true;
  int32_t width = 0;
  Unit fill = u' ';
  int32_t groupSize = 0;

 private:
  int Reserve(int64_t length);

  Unit* characters_ = nullptr;
  int32_t length_ = 0;
  int32_t capacity_ = 0;
};

// Copies text (null reads as empty) into a caller's buffer of capacity units,
// terminating NUL included. Returns 1 when the whole text fitted; otherwise
// the first capacity - 1 units are copied and terminated and 0 is returned.
// A null buffer or a capacity of 0 writes nothing and returns 0.
int CopyTextCut(const Unit* text, Unit* buffer, uint64_t capacity);
