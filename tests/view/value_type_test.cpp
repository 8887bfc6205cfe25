// Wide values: every type in every order from the registers to the text and
// back, the edge values (extremes, NaN, infinities, -0, subnormals), how
// typed text rounds or is refused, the row layout and the column titles.
#include "view/value_type.h"

#include <gtest/gtest.h>

#include <string>

#include "view/value_format.h"

namespace {

std::u16string Text(uint8_t type, uint64_t bits, bool hex = false) {
  Unit buffer[kWideValueCapacity];
  EXPECT_EQ(FormatTypedValue(type, bits, hex, buffer, kWideValueCapacity), 1);
  return buffer;
}

// Registers in address order for each of the four orders, the text shown
// and what reading that text gives back.
TEST(value_type, EveryTypeInEveryOrderToTextAndBack) {
  struct Case {
    uint8_t type;
    uint16_t regs[4][4];  // ABCD, CDAB, BADC, DCBA
    const char16_t* text;
  };
  const Case cases[] = {
      {kTypeFloat32, {{0x4049, 0x0FDB}, {0x0FDB, 0x4049}, {0x4940, 0xDB0F}, {0xDB0F, 0x4940}}, u"3.1415927"},
      {kTypeUint32, {{0x1234, 0x5678}, {0x5678, 0x1234}, {0x3412, 0x7856}, {0x7856, 0x3412}}, u"305419896"},
      {kTypeInt32, {{0xFFFF, 0xFFFE}, {0xFFFE, 0xFFFF}, {0xFFFF, 0xFEFF}, {0xFEFF, 0xFFFF}}, u"-2"},
      {kTypeInt64,
       {{0x0102, 0x0304, 0x0506, 0x0708},
        {0x0708, 0x0506, 0x0304, 0x0102},
        {0x0201, 0x0403, 0x0605, 0x0807},
        {0x0807, 0x0605, 0x0403, 0x0201}},
       u"72623859790382856"},
      {kTypeFloat64,
       {{0x3FF0, 0, 0, 0}, {0, 0, 0, 0x3FF0}, {0xF03F, 0, 0, 0}, {0, 0, 0, 0xF03F}},
       u"1"},
      {kTypeUint64,
       {{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFE},
        {0xFFFE, 0xFFFF, 0xFFFF, 0xFFFF},
        {0xFFFF, 0xFFFF, 0xFFFF, 0xFEFF},
        {0xFEFF, 0xFFFF, 0xFFFF, 0xFFFF}},
       u"18446744073709551614"},
  };
  for (const Case& c : cases) {
    uint32_t words = ValueTypeWords(c.type);
    for (uint8_t order = 0; order < kValueOrderCount; ++order) {
      SCOPED_TRACE(std::to_string(c.type) + " order " + std::to_string(order));
      uint64_t bits = JoinRegisters(c.type, order, c.regs[order]);
      EXPECT_EQ(Text(c.type, bits), c.text);
      uint64_t read = 0;
      ASSERT_EQ(ParseTypedValue(c.type, reinterpret_cast<const Unit*>(c.text), &read), 1);
      uint16_t regs[4] = {0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA};
      SplitRegisters(c.type, order, read, regs);
      for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(regs[i], i < words ? c.regs[order][i] : 0xAAAA) << i;
    }
  }
}

// Edge values: the text of the bits, and reading the text gives the bits
// again (shortest round trip).
TEST(value_type, EdgeValuesShowAndReadBack) {
  struct Case {
    uint8_t type;
    uint64_t bits;
    const char16_t* text;
  };
  const Case cases[] = {
      {kTypeInt32, 0, u"0"},
      {kTypeInt32, 0xFFFFFFFF, u"-1"},
      {kTypeInt32, 0x80000000, u"-2147483648"},
      {kTypeInt32, 0x7FFFFFFF, u"2147483647"},
      {kTypeUint32, 0xFFFFFFFF, u"4294967295"},
      {kTypeInt64, 0x8000000000000000, u"-9223372036854775808"},
      {kTypeInt64, 0x7FFFFFFFFFFFFFFF, u"9223372036854775807"},
      {kTypeInt64, 0xFFFFFFFFFFFFFFFF, u"-1"},
      {kTypeUint64, 0xFFFFFFFFFFFFFFFF, u"18446744073709551615"},
      {kTypeFloat32, 0, u"0"},
      {kTypeFloat32, 0x80000000, u"-0"},
      {kTypeFloat32, 0x7FC00000, u"NaN"},
      {kTypeFloat32, 0x7F800000, u"Inf"},
      {kTypeFloat32, 0xFF800000, u"-Inf"},
      {kTypeFloat32, 0x00000001, u"1e-45"},  // the smallest subnormal
      {kTypeFloat32, 0x7F7FFFFF, u"3.4028235e+38"},
      {kTypeFloat32, 0x3DCCCCCD, u"0.1"},
      {kTypeFloat32, 0x4B800000, u"16777216"},
      {kTypeFloat32, 0xC0200000, u"-2.5"},
      {kTypeFloat32, 0x42C80000, u"100"},  // fixed where it is the shorter spelling
      {kTypeFloat64, 0x419D6F3454000000, u"123456789"},
      {kTypeFloat64, 0x444B1AE4D6E2EF50, u"1e+21"},  // scientific where it is
      {kTypeFloat64, 0x3EE4F8B588E368F1, u"1e-05"},
      {kTypeFloat64, 0x3FB999999999999A, u"0.1"},
      {kTypeFloat64, 0x3FD5555555555555, u"0.3333333333333333"},
      {kTypeFloat64, 0x0000000000000001, u"5e-324"},
      {kTypeFloat64, 0x7FEFFFFFFFFFFFFF, u"1.7976931348623157e+308"},
      {kTypeFloat64, 0x8000000000000000, u"-0"},
      {kTypeFloat64, 0x7FF8000000000000, u"NaN"},
      {kTypeFloat64, 0xFFF0000000000000, u"-Inf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " " + std::to_string(c.bits));
    EXPECT_EQ(Text(c.type, c.bits), c.text);
    uint64_t read = 0;
    EXPECT_EQ(ParseTypedValue(c.type, reinterpret_cast<const Unit*>(c.text), &read), 1);
    EXPECT_EQ(read, c.bits);
  }
  // A NaN of any payload reads as NaN; the bits stay visible in hex.
  EXPECT_EQ(Text(kTypeFloat32, 0xFFC00001), u"NaN");
  EXPECT_EQ(Text(kTypeFloat32, 0x40490FDB, true), u"0x40490FDB");
  EXPECT_EQ(Text(kTypeInt64, 0xFFFFFFFFFFFFFFFE, true), u"0xFFFFFFFFFFFFFFFE");
}

// Typed text: what it rounds to, and what is refused (bits left alone).
TEST(value_type, TypedTextRoundsOrIsRefused) {
  constexpr uint64_t kRefused = 0x5A5A5A5A5A5A5A5A;
  struct Case {
    uint8_t type;
    const char16_t* text;
    uint64_t bits;  // kRefused: the text is refused
  };
  const Case cases[] = {
      {kTypeFloat32, u"16777217", 0x4B800000},  // halfway: to even
      {kTypeFloat32, u"3.4028235677e38", 0x7F7FFFFF},
      {kTypeFloat32, u"3.4028236e38", kRefused},  // rounds beyond the largest
      {kTypeFloat32, u"1e39", kRefused},
      {kTypeFloat32, u"8e-46", 0x00000001},  // rounds up to the smallest subnormal
      {kTypeFloat32, u"1e-46", kRefused},    // rounds to zero
      {kTypeFloat32, u"0e5", 0},
      {kTypeFloat32, u"  -2.5 ", 0xC0200000},
      {kTypeFloat32, u"+1", 0x3F800000},
      {kTypeFloat32, u"1E3", 0x447A0000},
      {kTypeFloat32, u".5", 0x3F000000},
      {kTypeFloat32, u"1.5e-3", 0x3AC49BA6},
      {kTypeFloat32, u"-infinity", 0xFF800000},
      {kTypeFloat32, u"nan", 0x7FC00000},
      {kTypeFloat32, u"0x40490FDB", 0x40490FDB},
      {kTypeFloat32, u"0x140490FDB", kRefused},
      {kTypeFloat64, u"1e309", kRefused},
      {kTypeFloat64, u"1e-400", kRefused},
      {kTypeFloat64, u"3e-324", 0x0000000000000001},
      {kTypeFloat64, u"1..2", kRefused},
      {kTypeFloat64, u"nan1", kRefused},
      {kTypeFloat64, u"1,5", kRefused},
      {kTypeFloat64, u"\u22121", kRefused},  // a typographic minus
      {kTypeInt32, u"-2147483648", 0x80000000},
      {kTypeInt32, u"2147483648", kRefused},
      {kTypeInt32, u"-2147483649", kRefused},
      {kTypeInt32, u"1.5", kRefused},
      {kTypeInt32, u"1e3", kRefused},
      {kTypeInt32, u"12a", kRefused},
      {kTypeUint32, u"-1", kRefused},
      {kTypeUint32, u"4294967296", kRefused},
      {kTypeUint32, u"0xFFFFFFFF", 0xFFFFFFFF},
      {kTypeInt64, u"9223372036854775808", kRefused},
      {kTypeInt64, u"-9223372036854775809", kRefused},
      {kTypeUint64, u"18446744073709551616", kRefused},
      {kTypeUint64, u"+7", 7},
      {kTypeUint64, u"", kRefused},
      {kTypeUint64, u" ", kRefused},
      {kTypeUint64, u"-", kRefused},
  };
  for (const Case& c : cases) {
    uint64_t bits = kRefused;
    int result = ParseTypedValue(c.type, reinterpret_cast<const Unit*>(c.text), &bits);
    EXPECT_EQ(result, c.bits == kRefused ? 0 : 1) << int(c.type) << " " << std::string(c.text, c.text + 1);
    EXPECT_EQ(bits, c.bits) << int(c.type);
  }
}

TEST(value_type, RowsTitlesAndColumnClick) {
  struct Row {
    uint8_t type;
    uint32_t quantity, row;
    RowKind kind;
    uint32_t first;
  };
  const Row rows[] = {
      {kType16, 3, 1, kRowSingle, 1},         {kTypeFloat32, 5, 0, kRowValueStart, 0},
      {kTypeFloat32, 5, 1, kRowValuePart, 0}, {kTypeFloat32, 5, 2, kRowValueStart, 2},
      {kTypeFloat32, 5, 4, kRowSingle, 4},    {kTypeFloat64, 6, 3, kRowValuePart, 0},
      {kTypeInt64, 6, 4, kRowSingle, 4},      {kTypeInt64, 3, 0, kRowSingle, 0},
  };
  for (const Row& r : rows) {
    RowPlace place = PlaceRow(r.type, r.quantity, r.row);
    EXPECT_EQ(place.kind, r.kind) << int(r.type) << " row " << r.row;
    EXPECT_EQ(place.first, r.first) << int(r.type) << " row " << r.row;
  }

  struct Title {
    uint8_t type, order, format;
    const char16_t* text;
  };
  const Title titles[] = {
      {kTypeFloat32, kOrderCdab, kValueDecimal, u"Value (float32 CDAB)"},
      {kTypeInt64, kOrderDcba, kValueHex, u"Value (int64 HGFEDCBA hex)"},
      {kTypeUint32, kOrderBadc, kValueBinary, u"Value (uint32 BADC)"},
      {kTypeFloat64, kOrderCdab, kValueDecimal, u"Value (float64 GHEFCDAB)"},
      {kType16, kOrderCdab, kValueSignedDecimal, u"Value (sdec)"},
  };
  for (const Title& t : titles) {
    Unit buffer[40];
    EXPECT_EQ(ValueTypeTitle(t.type, t.order, t.format, buffer, 40), 1);
    EXPECT_EQ(std::u16string(buffer), t.text);
  }
  // The 16-bit cycle stays; a wide value toggles between number and hex.
  EXPECT_EQ(NextTypedFormat(kType16, kValueBinary), kValueDecimal);
  EXPECT_EQ(NextTypedFormat(kType16, kValueDecimal), kValueSignedDecimal);
  EXPECT_EQ(NextTypedFormat(kTypeFloat32, kValueDecimal), kValueHex);
  EXPECT_EQ(NextTypedFormat(kTypeFloat32, kValueHex), kValueDecimal);
  EXPECT_EQ(NextTypedFormat(kTypeInt32, kValueSignedDecimal), kValueHex);
}

}  // namespace
