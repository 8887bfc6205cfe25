#include "common/numeric_text.h"

#include <gtest/gtest.h>

#include <stdint.h>

#include <string>

namespace {

constexpr int64_t kMin64 = INT64_MIN;
constexpr int64_t kMax64 = INT64_MAX;

NumericSettings Make(uint32_t mode, int32_t digits = 0, const char16_t* suffix = nullptr) {
  NumericSettings settings;
  settings.mode = mode;
  settings.digits = digits;
  settings.suffix = suffix;
  return settings;
}

NumericSettings Ranged(uint32_t mode, int64_t min, int64_t max, const char16_t* suffix = nullptr) {
  NumericSettings settings = Make(mode, 0, suffix);
  settings.hasRange = true;
  settings.min = min;
  settings.max = max;
  return settings;
}

std::u16string Format(const NumericSettings& settings, int64_t value, bool withSuffix) {
  TextBuffer out;
  EXPECT_EQ(NumericFormat(settings, value, withSuffix, out), 1);
  return std::u16string(out.Text());
}

int64_t Parse(const NumericSettings& settings, const std::u16string& text) {
  return NumericParse(settings, text.c_str(), static_cast<int32_t>(text.size()));
}

struct FormatCase {
  const char* name;
  NumericSettings settings;
  int64_t value;
  bool withSuffix;
  const char16_t* expected;
};

TEST(NumericFormat, ShowsTheClampedValueInTheModesNotation) {
  const FormatCase cases[] = {
      {"unsigned", Make(kNumericUnsigned), 1234, false, u"1234"},
      {"unsigned zero", Make(kNumericUnsigned), 0, false, u"0"},
      {"negative outside signed mode", Make(kNumericUnsigned), -5, false, u"0"},
      {"below the range", Ranged(kNumericUnsigned, 50, 10000, u" ms"), 7, true, u"50 ms"},
      {"above the range", Ranged(kNumericUnsigned, 50, 10000, u" ms"), 123456, true, u"10000 ms"},
      {"suffix left off", Ranged(kNumericUnsigned, 50, 10000, u" ms"), 500, false, u"500"},
      {"signed negative", Make(kNumericSigned), -42, false, u"-42"},
      {"signed most negative", Make(kNumericSigned), kMin64, false, u"-9223372036854775808"},
      {"signed range", Ranged(kNumericSigned, -100, 100), -500, false, u"-100"},
      {"hex padded", Make(kNumericHex, 4), 255, false, u"00FF"},
      {"hex wider than digits", Make(kNumericHex, 2), 0x1234, false, u"1234"},
      {"hex unpadded", Make(kNumericHex), 0xABC, false, u"ABC"},
      {"binary padded", Make(kNumericBinary, 16), 5, false, u"0000000000000101"},
      {"binary zero", Make(kNumericBinary), 0, false, u"0"},
      {"binary with suffix", Make(kNumericBinary, 4, u" b"), 2, true, u"0010 b"},
      {"largest", Make(kNumericUnsigned), kMax64, false, u"9223372036854775807"},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(Format(c.settings, c.value, c.withSuffix), c.expected) << c.name;
  }
}

struct ParseCase {
  const char* name;
  NumericSettings settings;
  const char16_t* text;
  int64_t expected;
};

TEST(NumericParse, ReadsDigitsOfTheBaseAndSkipsEverythingElse) {
  const ParseCase cases[] = {
      {"plain", Make(kNumericUnsigned), u"1234", 1234},
      {"stray units skipped", Make(kNumericUnsigned), u"1a2b", 12},
      {"suffix cut off", Make(kNumericUnsigned, 0, u" ms"), u"100 ms", 100},
      {"suffix with digits cut off", Make(kNumericHex, 0, u"h"), u"1Fh", 0x1F},
      {"text without the suffix", Make(kNumericUnsigned, 0, u" ms"), u"100", 100},
      {"hex suffix is not cut from the middle", Make(kNumericHex, 0, u"B"), u"B1", 0xB1},
      {"no digit, no range", Make(kNumericUnsigned), u"abc", 0},
      {"no digit takes min", Ranged(kNumericUnsigned, 50, 10000), u"", 50},
      {"below range", Ranged(kNumericUnsigned, 50, 10000, u" ms"), u"7", 50},
      {"above range", Ranged(kNumericUnsigned, 50, 10000, u" ms"), u"123456", 10000},
      {"minus outside signed mode", Make(kNumericUnsigned), u"-5", 5},
      {"signed negative", Make(kNumericSigned), u"-42", -42},
      {"minus only leads", Make(kNumericSigned), u"4-2", 42},
      {"minus alone", Ranged(kNumericSigned, -9, 9), u"-", -9},
      {"hex either case", Make(kNumericHex), u"fF", 255},
      {"binary skips other digits", Make(kNumericBinary), u"1021", 0b101},
      {"decimal skips hex letters", Make(kNumericUnsigned), u"9f", 9},
      {"saturates instead of wrapping", Make(kNumericUnsigned), u"99999999999999999999999", kMax64},
      {"hex saturates", Make(kNumericHex), u"FFFFFFFFFFFFFFFF", kMax64},
      {"most negative", Make(kNumericSigned), u"-9223372036854775808", kMin64},
      {"beyond most negative", Make(kNumericSigned), u"-99999999999999999999", kMin64},
      {"mode 0 reads decimal", Make(kNumericNone), u"x12", 12},
  };
  for (const ParseCase& c : cases) {
    EXPECT_EQ(Parse(c.settings, c.text), c.expected) << c.name;
  }
  EXPECT_EQ(NumericParse(Make(kNumericUnsigned), nullptr, 5), 0);
}

TEST(NumericParse, ReadsBackWhatFormatShows) {
  const NumericSettings settings[] = {
      Make(kNumericUnsigned, 0, u" ms"), Make(kNumericSigned, 0, u" V"), Make(kNumericHex, 4, u"h"),
      Make(kNumericBinary, 16), Ranged(kNumericSigned, -300, 300, u" s"),
  };
  const int64_t values[] = {0, 1, 7, 255, 300, 4095, -1, -300, 65535};
  for (const NumericSettings& s : settings) {
    for (int64_t value : values) {
      for (bool withSuffix : {false, true}) {
        std::u16string shown = Format(s, value, withSuffix);
        EXPECT_EQ(Parse(s, shown), NumericClamp(s, value)) << "mode " << s.mode << " value " << value;
      }
    }
  }
}

struct UnitCase {
  uint32_t mode;
  const char16_t* valid;
  const char16_t* invalid;
};

TEST(NumericUnits, EachModeTakesItsOwnCharacters) {
  const UnitCase cases[] = {
      {kNumericNone, u"09aZ- .", u""},
      {kNumericUnsigned, u"0123456789", u"-aA .+"},
      {kNumericSigned, u"0123456789-", u"aA .+"},
      {kNumericHex, u"0123456789ABCDEFabcdef", u"gG-x "},
      {kNumericBinary, u"01", u"2-aA "},
  };
  for (const UnitCase& c : cases) {
    for (const char16_t* u = c.valid; *u; ++u) EXPECT_TRUE(NumericUnitValid(c.mode, *u)) << c.mode << " " << char(*u);
    for (const char16_t* u = c.invalid; *u; ++u) {
      EXPECT_FALSE(NumericUnitValid(c.mode, *u)) << c.mode << " " << char(*u);
    }
  }
  EXPECT_FALSE(NumericUnitValid(5, u'1'));
}

struct KeyCase {
  const char* name;
  NumericSettings settings;
  char16_t unit;
  const char16_t* text;
  int32_t selectionStart;
  int32_t selectionEnd;
  bool accepted;
};

TEST(NumericAcceptsUnit, AppliesTheMinusAndDigitRules) {
  const NumericSettings hex4 = Make(kNumericHex, 4);
  const NumericSettings signed3 = Make(kNumericSigned, 3);
  const KeyCase cases[] = {
      {"control units pass", hex4, 8, u"FFFF", 4, 4, true},
      {"mode 0 takes anything", Make(kNumericNone, 2), u'x', u"abcdef", 6, 6, true},
      {"invalid character", hex4, u'g', u"", 0, 0, false},
      {"fourth hex digit", hex4, u'A', u"123", 3, 3, true},
      {"fifth hex digit refused", hex4, u'A', u"1234", 4, 4, false},
      {"fifth digit with a digit selected", hex4, u'A', u"1234", 1, 2, true},
      {"fifth digit over the whole text", hex4, u'A', u"1234", 0, 4, true},
      {"empty selection at the front", hex4, u'A', u"1234", 0, 0, false},
      {"no digit limit", Make(kNumericHex), u'A', u"123456789", 9, 9, true},
      {"suffix not counted", Make(kNumericUnsigned, 3, u"99"), u'1', u"1299", 2, 2, true},
      {"selection over the suffix only", Make(kNumericUnsigned, 2, u" dB"), u'1', u"12 dB", 2, 5, false},
      {"decimal digit limit", signed3, u'5', u"-123", 4, 4, false},
      {"minus leads empty text", signed3, u'-', u"", 0, 0, true},
      {"minus before digits", signed3, u'-', u"12", 0, 0, true},
      {"minus in the middle", signed3, u'-', u"12", 1, 1, false},
      {"minus at the end", signed3, u'-', u"12", 2, 2, false},
      {"second minus", signed3, u'-', u"-12", 0, 0, false},
      {"minus over the existing sign", signed3, u'-', u"-12", 0, 1, true},
      {"minus over everything", signed3, u'-', u"-12", 0, 3, true},
      {"minus with reversed selection", signed3, u'-', u"-12", 2, 0, true},
      {"minus outside signed mode", Make(kNumericUnsigned), u'-', u"", 0, 0, false},
      {"minus ignores the digit limit", signed3, u'-', u"123", 0, 0, true},
      {"binary digit limit", Make(kNumericBinary, 2), u'1', u"10", 2, 2, false},
      {"selection past the end", hex4, u'1', u"1234", 2, 99, true},
  };
  for (const KeyCase& c : cases) {
    std::u16string text(c.text);
    EXPECT_EQ(NumericAcceptsUnit(c.settings, c.unit, text.c_str(), static_cast<int32_t>(text.size()),
                                 c.selectionStart, c.selectionEnd),
              c.accepted)
        << c.name;
  }
}

}  // namespace
