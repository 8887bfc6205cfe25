#pragma once
// The text side of a numeric field: how an integer is shown in its notation
// and read back, and which typed units the field accepts. No window code, so
// the same rules run in the portable tests.

#include <stdint.h>

#include "common/text.h"

constexpr uint32_t kNumericNone = 0;      // plain edit: no filtering, no formatting
constexpr uint32_t kNumericUnsigned = 1;  // decimal digits
constexpr uint32_t kNumericSigned = 2;    // decimal digits and a leading "-"
constexpr uint32_t kNumericHex = 3;       // 0-9, A-F, a-f; shown uppercase
constexpr uint32_t kNumericBinary = 4;    // 0 and 1
constexpr uint32_t kNumericLastMode = kNumericBinary;

struct NumericSettings {
  uint32_t mode = kNumericNone;
  bool hasRange = false;
  int64_t min = 0;  // min <= max whenever hasRange is set
  int64_t max = 0;
  // 0: no limit. Otherwise hexadecimal and binary values are zero-padded to
  // this width, and no more digits than this can be typed.
  int32_t digits = 0;
  const Unit* suffix = nullptr;  // shown while not focused; null or empty for none
};

// Outside signed mode a negative value becomes 0; then the range applies.
int64_t NumericClamp(const NumericSettings& settings, int64_t value);

// Replaces out with the clamped value in the field's notation, followed by the
// suffix when withSuffix is set. Mode 0 formats as unsigned decimal.
int NumericFormat(const NumericSettings& settings, int64_t value, bool withSuffix, TextBuffer& out);

// Reads length units of text: a trailing suffix is cut off, a leading "-"
// counts only in signed mode, every unit that is no digit of the base is
// skipped. Without any digit the result is min (with a range) or 0. Values
// too large for 64 bits saturate; the result is clamped.
int64_t NumericParse(const NumericSettings& settings, const Unit* text, int32_t length);

// Whether unit is one of the characters the mode allows (mode 0: any).
bool NumericUnitValid(uint32_t mode, Unit unit);

// The "-" rule: signed mode only, the selection starts at 0, and an existing
// leading "-" must itself be selected (so it is being replaced).
bool NumericMinusAllowed(const NumericSettings& settings, const Unit* text, int32_t length, int32_t selectionStart,
                         int32_t selectionEnd);

// The digit rule: the digits left after the selection is replaced stay below
// the limit (the suffix, if the text ends with it, does not count).
bool NumericDigitAllowed(const NumericSettings& settings, const Unit* text, int32_t length, int32_t selectionStart,
                         int32_t selectionEnd);

// Whether a typed unit goes into the field with this text and selection:
// control units (below 32) and everything in mode 0 always do; otherwise the
// unit must be valid for the mode and pass the "-" rule or the digit rule.
bool NumericAcceptsUnit(const NumericSettings& settings, Unit unit, const Unit* text, int32_t length,
                        int32_t selectionStart, int32_t selectionEnd);
