// Table values: the four cell texts, titles and editor modes, the parser's
// skipping and saturation, reference numbers and the saturating decimal read.
#include "view/value_format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Cell(uint8_t format, uint16_t value) {
  Unit buffer[kValueEditorCapacity];
  EXPECT_EQ(FormatValueText(format, value, buffer, kValueEditorCapacity), 1);
  return buffer;
}

TEST(ValueFormat, CellTextsTitlesAndEditorModes) {
  struct Case {
    uint8_t format;
    uint16_t value;
    const char16_t* text;
  };
  const Case cases[] = {
      {kValueDecimal, 65535, u"65535"},
      {kValueSignedDecimal, 65535, u"-1"},
      {kValueHex, 65535, u"0xFFFF"},
      {kValueBinary, 65535, u"1111 1111 1111 1111"},
      {kValueDecimal, 0, u"0"},
      {kValueSignedDecimal, 32767, u"32767"},
      {kValueSignedDecimal, 32768, u"-32768"},
      {kValueHex, 0x00AB, u"0x00AB"},
      {kValueHex, 1, u"0x0001"},
      {kValueBinary, 1, u"0000 0000 0000 0001"},
      {kValueBinary, 0x8421, u"1000 0100 0010 0001"},
      {7, 42, u"42"},  // an unknown format reads as decimal
  };
  for (const Case& c : cases) EXPECT_EQ(Cell(c.format, c.value), c.text) << int(c.format) << " " << c.value;

  const char16_t* titles[] = {u"Value (dec)", u"Value (sdec)", u"Value (hex)", u"Value (bin)"};
  uint8_t format = kValueDecimal;
  for (uint32_t i = 0; i < kValueFormatCount; ++i) {
    EXPECT_EQ(std::u16string(ValueFormatTitle(format)), titles[i]);
    EXPECT_EQ(ValueEditorMode(format), i + 1);
    format = NextValueFormat(format);
  }
  EXPECT_EQ(format, kValueDecimal);  // four clicks return to decimal
}

TEST(ValueFormat, ShortBuffersAreCutAndReported) {
  Unit buffer[8] = {u'#', u'#', u'#', u'#', u'#', u'#', u'#', u'#'};
  EXPECT_EQ(FormatValueText(kValueBinary, 0xFFFF, buffer, 5), 0);
  EXPECT_EQ(std::u16string(buffer), u"1111");
  EXPECT_EQ(FormatValueText(kValueHex, 0xFFFF, buffer, 0), 0);  // nothing written
  EXPECT_EQ(std::u16string(buffer), u"1111");
  EXPECT_EQ(FormatValueText(kValueHex, 0xFFFF, nullptr, 8), 0);
  EXPECT_EQ(FormatValueText(kValueHex, 0xFFFF, buffer, 7), 1);  // exactly fits
  EXPECT_EQ(std::u16string(buffer), u"0xFFFF");
}

TEST(ValueFormat, ParserSkipsNonDigitsAndSaturates) {
  struct Case {
    uint32_t mode;
    const char16_t* text;
    uint16_t value;
  };
  const Case cases[] = {
      {3, u"1f", 31},
      {3, u"0x1F", 31},
      {3, u"1 F", 31},
      {3, u"FFFFF", 65535},
      {3, u"-1", 1},  // no sign outside signed mode
      {4, u"1111 0000", 240},
      {4, u"12", 1},  // 2 is no binary digit
      {4, u"1 1111 1111 1111 1111", 65535},
      {2, u"-1", 65535},
      {2, u"-99999", 32768},
      {2, u"99999", 32767},
      {2, u"-32768", 32768},
      {2, u"1-2", 12},  // a later minus is skipped
      {2, u"--5", 65531},
      {1, u"70000", 65535},
      {1, u"65535", 65535},
      {1, u"4294967296", 65535},
      {1, u"-7", 7},
      {1, u"12ab", 12},  // a to f are no decimal digits
      {1, u"", 0},
      {2, u"", 0},
      {2, u"-", 0},
      {3, u"xyz", 0},
      {0, u"123", 123},  // unknown modes read decimal
  };
  for (const Case& c : cases) EXPECT_EQ(ParseValueText(c.mode, c.text), c.value) << c.mode;
  EXPECT_EQ(ParseValueText(1, nullptr), 0);

  // Every cell text reads back as its value in its own editor mode.
  for (uint8_t format = 0; format < kValueFormatCount; ++format) {
    for (uint32_t value : {0u, 1u, 255u, 32767u, 32768u, 40000u, 65535u}) {
      std::u16string text = Cell(format, static_cast<uint16_t>(value));
      EXPECT_EQ(ParseValueText(ValueEditorMode(format), text.c_str()), value) << int(format);
    }
  }
}

TEST(ValueFormat, ReferenceNumbers) {
  struct Case {
    Unit digit;
    uint32_t number;
    const char16_t* text;
  };
  const Case cases[] = {
      {ReferenceDigitForFunction(3), 0 + 1, u"400001"},
      {ReferenceDigitForFunction(1), 99 + 1, u"000100"},
      {ReferenceDigitForFunction(2), 1, u"100001"},
      {ReferenceDigitForFunction(4), 1, u"300001"},
      {ReferenceDigitForFunction(5), 12345, u"012345"},
      {ReferenceDigitForFunction(6), 1, u"400001"},
      {ReferenceDigitForFunction(15), 1, u"000001"},
      {ReferenceDigitForFunction(16), 1, u"400001"},
      {ReferenceDigitForArea(3), 65535 + 1, u"465536"},
      {ReferenceDigitForArea(2), 1, u"300001"},
      {ReferenceDigitForArea(1), 1, u"100001"},
      {ReferenceDigitForArea(0), 100, u"000100"},
  };
  for (const Case& c : cases) {
    Unit buffer[16];
    EXPECT_EQ(FormatReferenceNumber(c.digit, c.number, buffer, 16), 1);
    EXPECT_EQ(std::u16string(buffer), c.text);
  }
  EXPECT_EQ(ReferenceDigitForFunction(8), 0);
  EXPECT_EQ(ReferenceDigitForArea(4), 0);
}

TEST(ValueFormat, LeadingDecimalSaturatesInsteadOfWrapping) {
  struct Case {
    const char16_t* text;
    int32_t maxUnits;
    uint32_t value;
  };
  const Case cases[] = {
      {u"1500 ms", -1, 1500},
      {u"4294967295", -1, 4294967295u},
      {u"4294967346", -1, 4294967295u},  // would wrap to 50
      {u"99999999999999999999999", 32, 4294967295u},
      {u"123456", 3, 123},
      {u"", -1, 0},
      {u" 5", -1, 0},  // the number must start the text
      {u"-5", -1, 0},
      {u"007", -1, 7},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadLeadingDecimal(c.text, c.maxUnits), c.value);
  EXPECT_EQ(ReadLeadingDecimal(nullptr, -1), 0u);
}

TEST(CopyTextCut, CapacityRules) {
  Unit buffer[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(CopyTextCut(u"abc", buffer, 4), 1);
  EXPECT_EQ(std::u16string(buffer), u"abc");
  EXPECT_EQ(CopyTextCut(u"abcd", buffer, 4), 0);
  EXPECT_EQ(std::u16string(buffer), u"abc");
  EXPECT_EQ(CopyTextCut(u"xyz", buffer, 1), 0);
  EXPECT_EQ(buffer[0], 0);
  buffer[0] = u'#';
  EXPECT_EQ(CopyTextCut(u"xyz", buffer, 0), 0);  // capacity 0: untouched
  EXPECT_EQ(buffer[0], u'#');
  EXPECT_EQ(CopyTextCut(nullptr, buffer, 4), 1);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(CopyTextCut(u"", nullptr, 4), 0);
}

}  // namespace
