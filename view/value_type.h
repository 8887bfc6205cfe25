#pragma once
// Values wider than one register: 32- and 64-bit integers and floats spread
// over two or four consecutive registers, in any of the four orders devices
// use. Portable: the same conversions run in the native tests.
//
// A register view keeps a value type and an order beside its 16-bit format
// (view/value_format.h). Type 16-bit shows every register on its own in
// that format, as a view that never chose a type does. A wider type shows
// the whole value on the row of its first register; the other rows of the
// value are marked as belonging to it (RowPlace).
//
// Orders name the bytes of the value from the most significant, A, down,
// as they stand in the registers in address order:
//   ABCD  high word first, high byte first (Modbus's own order)
//   CDAB  words swapped
//   BADC  bytes swapped within each word
//   DCBA  both
// For 64-bit values the same four: ABCDEFGH, GHEFCDAB, BADCFEHG, HGFEDCBA
// (the word order reverses all four words).

#include <stdint.h>

#include "common/plugin_interface.h"
#include "common/text.h"

enum ValueType : uint8_t {
  kType16 = 0,
  kTypeInt32 = 1,
  kTypeUint32 = 2,
  kTypeFloat32 = 3,
  kTypeInt64 = 4,
  kTypeUint64 = 5,
  kTypeFloat64 = 6,
};
constexpr uint32_t kValueTypeCount = 7;

enum ValueOrder : uint8_t {
  kOrderAbcd = 0,
  kOrderCdab = 1,
  kOrderBadc = 2,
  kOrderDcba = 3,
};
constexpr uint32_t kValueOrderCount = 4;

// The longest text of a wide value, "-2.2250738585072014e-308" (24 units),
// with room to spare; an editor buffer for a wide type holds this many.
constexpr uint32_t kWideValueCapacity = 32;

// Registers a value of the type covers: 1, 2 or 4 (an unknown type: 1).
uint32_t ValueTypeWords(uint8_t type);
bool IsFloatType(uint8_t type);

// "float32", "int64", ... ("16-bit" for type 0); null for an unknown type.
const Unit* ValueTypeName(uint8_t type);
// "CDAB", or for 64-bit types "GHEFCDAB"; null for type 0.
const Unit* ValueOrderName(uint8_t type, uint8_t order);

// The value of `ValueTypeWords(type)` registers, in address order, as the
// bits of the type (the low 32 bits for 32-bit types).
uint64_t JoinRegisters(uint8_t type, uint8_t order, const uint16_t* registers);
// The inverse: writes ValueTypeWords(type) registers.
void SplitRegisters(uint8_t type, uint8_t order, uint64_t bits, uint16_t* registers);

// The value's text: integers in decimal; floats as the shortest text that
// reads back to the same number ("NaN", "Inf", "-Inf", "-0" as such); with
// hex set, the bits as "0x" and 8 or 16 hexadecimal digits. Returns 1 when
// it fitted, else the cut text and 0 (capacity 0: nothing written).
int FormatTypedValue(uint8_t type, uint64_t bits, bool hex, Unit* buffer, uint64_t capacity);

// Reads typed text as a value of the type into bits. Accepts leading and
// trailing spaces, a sign, decimal digits, for floats a fraction and an
// exponent ("1.5e-3") and "NaN", "Inf", "Infinity" in any case, and "0x"
// with hexadecimal digits for the bits themselves. Returns 1 and sets bits,
// or 0 and leaves bits alone for text that is not a number of the type or
// lies outside its range (a float text beyond the type's largest finite
// value, or one that is not zero and rounds to zero).
int ParseTypedValue(uint8_t type, const Unit* text, uint64_t* bits);

// --- rows ---------------------------------------------------------------------

// Where a row of a view stands: alone (a 16-bit row, also the trailing rows
// that do not make a whole value), the first row of a value, or one of its
// other rows.
enum RowKind : uint8_t { kRowSingle = 0, kRowValueStart = 1, kRowValuePart = 2 };
struct RowPlace {
  RowKind kind;
  uint32_t first;  // the value's first row (the row itself for kRowSingle)
};
RowPlace PlaceRow(uint8_t type, uint32_t quantity, uint32_t row);

// The text of a row that belongs to the value above it: "\u2191 400001",
// an arrow and the first register's reference.
constexpr Unit kValuePartMark = u'\u2191';

// "Value (float32 CDAB)"; with hex "Value (float32 CDAB hex)"; for type 0
// the 16-bit format's title. Returns 1 when it fitted.
int ValueTypeTitle(uint8_t type, uint8_t order, uint8_t format, Unit* buffer, uint64_t capacity);
// The column click: the 16-bit cycle for type 0; for wider types the whole
// value toggles between its number (format 0) and its bits in hex (2).
uint8_t NextTypedFormat(uint8_t type, uint8_t format);
bool ShowsHex(uint8_t type, uint8_t format);

// --- the value menu -------------------------------------------------------------

// The items of the table's context menu, by index: the seven types, a
// separator, the four orders of the chosen type ("CDAB (words swapped)").
// Flags of an item as the GetMenuItem event answers them
// (common/plugin_interface.h); 0 past the last item.
constexpr uint32_t kValueMenuItemCount = kValueTypeCount + 1 + kValueOrderCount;

// The flags of item index for a view showing type and order, its text in
// the buffer (empty for the separator). The orders are disabled for 16-bit.
int64_t ValueMenuItem(uint8_t type, uint8_t order, uint32_t index, Unit* buffer, uint64_t capacity);
// Applies a chosen item; false (nothing changed) for the separator, a
// disabled item or an index past the end.
bool ChooseValueMenuItem(uint32_t index, uint8_t* type, uint8_t* order);

// Typed text that is not a number of the type is refused with the refusal
// beep: the Windows side installs it, tests count it. Without a hook a
// refusal is silent.
using InputRefusedHook = void (*)();
InputRefusedHook SetInputRefusedHook(InputRefusedHook hook);
void RefuseInput();

// The value-column text of a row that belongs to the value above it: the
// mark and the reference of the value's first register, "\u2191 400001".
int FormatValuePart(Unit digit, uint32_t firstNumber, Unit* buffer, uint64_t capacity);
