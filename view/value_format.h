#pragma once
// Table values as the client and server views show and read them. Portable:
// no window code, so the same rules run in the native tests.
//
// How a view uses it (library velmora_view):
//   column 1 title         ValueFormatTitle(format)
//   column 1 cell text     FormatValueText(format, value, buffer, capacity)
//   ColumnClicked          format = NextValueFormat(format)
//   GetCellEditor          FormatValueText(...) into the buffer (capacity at
//                          least kValueEditorCapacity), return ValueEditorMode(format)
//   EndCellEdit (value)    ParseValueText(ValueEditorMode(format), text)
//   column 0 without alias FormatReferenceNumber(ReferenceDigitForFunction(fn)
//                          or ReferenceDigitForArea(area), address + 1, ...)
//   numbers typed as text  ReadLeadingDecimal(text, maxUnits) saturates
//
// A format number outside 0..3 is read as decimal.

#include <stdint.h>

#include "common/text.h"

enum ValueFormat : uint8_t {
  kValueDecimal = 0,        // "%u"
  kValueSignedDecimal = 1,  // the value as a signed 16-bit number
  kValueHex = 2,            // "0x%04X"
  kValueBinary = 3,         // 16 digits in groups of four: "0000 0000 0000 0001"
};
constexpr uint32_t kValueFormatCount = 4;

// The longest cell text, "1111 1111 1111 1111", is 19 units; an editor
// buffer must hold at least this many units (NUL included) or the editor is
// refused.
constexpr uint32_t kValueEditorCapacity = 24;

// dec -> sdec -> hex -> bin -> dec.
uint8_t NextValueFormat(uint8_t format);

// "Value (dec)", "Value (sdec)", "Value (hex)", "Value (bin)".
const Unit* ValueFormatTitle(uint8_t format);

// The editor mode given to the shell: 1 dec, 2 sdec, 3 hex, 4 bin (numbered
// as the numeric field's modes).
uint8_t ValueEditorMode(uint8_t format);

// Writes the cell text of value. Returns 1 when it fitted; a short buffer
// gets the cut text and 0 (capacity 0: nothing written).
int FormatValueText(uint8_t format, uint16_t value, Unit* buffer, uint64_t capacity);

// Reads a typed value in editor mode 1..4 (other modes read as 1). Units that
// are no digit of the mode's base are skipped; in mode 2 a leading "-" makes
// the number negative. The number saturates at 65535 (modes 1, 3, 4), or at
// 32767 and -32768 (mode 2); a negative result is its 16-bit two's
// complement. An empty or null text gives 0.
uint16_t ParseValueText(uint32_t editorMode, const Unit* text);

// The reference digit of a function's data: '0' coils (1, 5, 15), '1'
// discrete inputs (2), '3' input registers (4), '4' holding registers (3, 6,
// 16); 0 for any other function.
Unit ReferenceDigitForFunction(uint8_t function);
// The same for the device map's areas in their order (0 coils, 1 discrete
// inputs, 2 input registers, 3 holding registers); 0 above 3.
Unit ReferenceDigitForArea(uint8_t area);

// "%c%05u": the digit and number, such as 400001 for the first holding
// register; a digit of 0 writes the number alone. Returns 1 when it
// fitted, as FormatValueText.
int FormatReferenceNumber(Unit digit, uint32_t number, Unit* buffer, uint64_t capacity);

// The decimal number at the start of text: digits up to the first unit that
// is not one, looking at most at maxUnits units (a negative maxUnits: the
// whole text). No digit gives 0; the number saturates at 4294967295 rather
// than wrapping.
uint32_t ReadLeadingDecimal(const Unit* text, int32_t maxUnits);
