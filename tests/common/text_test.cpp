#include "common/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Str(const TextBuffer& buffer) { return std::u16string(buffer.Text()); }

TEST(TextBuffer, EmptyBufferReadsAsEmptyText) {
  TextBuffer buffer;
  EXPECT_EQ(buffer.Storage(), nullptr);
  EXPECT_EQ(Str(buffer), u"");
  EXPECT_EQ(buffer.Resize(0), 1);
  EXPECT_EQ(buffer.Length(), 0);
  EXPECT_TRUE(buffer.EndsWith(nullptr));
  EXPECT_TRUE(buffer.EndsWith(u""));
  EXPECT_FALSE(buffer.EndsWith(u"x"));
}

TEST(TextBuffer, GrowsToExactlyTheNeededLength) {
  TextBuffer buffer;
  ASSERT_EQ(buffer.Assign(u"abc"), 1);
  EXPECT_EQ(buffer.Capacity(), 3);
  ASSERT_EQ(buffer.Append(u"de"), 1);
  EXPECT_EQ(buffer.Capacity(), 5);
  EXPECT_EQ(Str(buffer), u"abcde");
  // Shrinking keeps the storage; a shorter assign does not reallocate.
  const Unit* storage = buffer.Storage();
  ASSERT_EQ(buffer.Assign(u"z"), 1);
  EXPECT_EQ(buffer.Storage(), storage);
  EXPECT_EQ(buffer.Capacity(), 5);
}

TEST(TextBuffer, AssignFromItsOwnStorageKeepsTheTail) {
  TextBuffer buffer;
  ASSERT_EQ(buffer.Assign(u"hello world"), 1);
  ASSERT_EQ(buffer.Assign(buffer.Text() + 6), 1);
  EXPECT_EQ(Str(buffer), u"world");
  EXPECT_EQ(buffer.Length(), 5);
  ASSERT_EQ(buffer.Assign(buffer.Text()), 1);
  EXPECT_EQ(Str(buffer), u"world");
}

TEST(TextBuffer, AppendOfItsOwnTextDoublesItWhileStorageMoves) {
  TextBuffer buffer;
  ASSERT_EQ(buffer.Assign(u"abc"), 1);
  const Unit* before = buffer.Storage();
  ASSERT_EQ(buffer.Append(buffer.Text(), buffer.Length()), 1);
  EXPECT_EQ(Str(buffer), u"abcabc");
  ASSERT_EQ(buffer.Append(buffer.Text() + 4, 2), 1);  // a slice of itself
  EXPECT_EQ(Str(buffer), u"abcabcbc");
  (void)before;
}

TEST(TextBuffer, NoOpAppendsSucceed) {
  TextBuffer buffer;
  EXPECT_EQ(buffer.Append(nullptr, 5), 1);
  EXPECT_EQ(buffer.Append(u"abc", 0), 1);
  EXPECT_EQ(buffer.Append(u"abc", -3), 1);
  EXPECT_EQ(buffer.Storage(), nullptr);
  EXPECT_EQ(buffer.Assign(nullptr), 1);
  EXPECT_EQ(buffer.AppendUnit(u'x'), 1);
  EXPECT_EQ(Str(buffer), u"x");
}

TEST(TextBuffer, FailedGrowthLeavesTheBufferUnchanged) {
  TextBuffer buffer;
  ASSERT_EQ(buffer.Assign(u"keep"), 1);
  buffer.width = 7;
  // Lengths past 0x7FFFFFFE units, or negative ones, are refused up front.
  EXPECT_EQ(buffer.Resize(0x7FFFFFFF), 0);
  EXPECT_EQ(buffer.Append(u"x", 0x7FFFFFFE), 0);
  EXPECT_EQ(Str(buffer), u"keep");
  EXPECT_EQ(buffer.Length(), 4);
  EXPECT_EQ(buffer.Capacity(), 4);
  EXPECT_EQ(buffer.width, 7);
}

TEST(TextBuffer, ResizeKeepsContentsAndTerminates) {
  TextBuffer buffer;
  ASSERT_EQ(buffer.Assign(u"abcdef"), 1);
  ASSERT_EQ(buffer.Resize(3), 1);
  EXPECT_EQ(Str(buffer), u"abc");
  ASSERT_EQ(buffer.Resize(-1), 1);
  EXPECT_EQ(buffer.Length(), 0);
  EXPECT_EQ(Str(buffer), u"");
  ASSERT_EQ(buffer.Resize(10), 1);
  EXPECT_EQ(buffer.Length(), 10);
  EXPECT_EQ(buffer.Text()[10], 0);
}

TEST(TextBuffer, EndsWith) {
  TextBuffer buffer;
  ASSERT_EQ(buffer.Assign(u"100 ms"), 1);
  EXPECT_TRUE(buffer.EndsWith(u" ms"));
  EXPECT_TRUE(buffer.EndsWith(u"100 ms"));
  EXPECT_FALSE(buffer.EndsWith(u"x100 ms"));
  EXPECT_FALSE(buffer.EndsWith(u"s "));
}

struct FormatCase {
  uint64_t value;
  bool negative;
  uint32_t radix;
  bool uppercase;
  int32_t width;
  Unit fill;
  int32_t group;
  const char16_t* expected;
};

class FormatNumber : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatNumber, ProducesTheExpectedText) {
  const FormatCase& c = GetParam();
  TextBuffer buffer;
  buffer.width = c.width;
  buffer.fill = c.fill;
  buffer.groupSize = c.group;
  ASSERT_EQ(buffer.FormatNumber(c.value, c.negative, c.radix, c.uppercase), 1);
  EXPECT_EQ(Str(buffer), std::u16string(c.expected));
  EXPECT_EQ(buffer.width, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, FormatNumber,
    ::testing::Values(FormatCase{31, false, 16, true, 4, u'0', 0, u"001F"},
                      FormatCase{31, false, 16, false, 4, u'0', 0, u"001f"},
                      FormatCase{1234567, false, 10, true, 0, u' ', 3, u"1 234 567"},
                      FormatCase{123456, false, 10, true, 0, u' ', 3, u"123 456"},
                      FormatCase{5, true, 10, true, 4, u' ', 0, u"  -5"},
                      FormatCase{5, true, 10, true, 4, u'0', 0, u"-005"},
                      FormatCase{0, false, 10, true, 0, u' ', 0, u"0"},
                      FormatCase{0, false, 10, true, 3, u'0', 0, u"000"},
                      FormatCase{0xA5, false, 2, true, 0, u' ', 4, u"1010 0101"},
                      // padding counts the separators but is itself not grouped
                      FormatCase{0xA5, false, 2, true, 10, u'0', 4, u"01010 0101"},
                      FormatCase{0xFFFFFFFFFFFFFFFFull, false, 16, true, 0, u' ', 0, u"FFFFFFFFFFFFFFFF"},
                      FormatCase{0xFFFFFFFFFFFFFFFFull, false, 10, true, 0, u' ', 0, u"18446744073709551615"},
                      FormatCase{42, false, 10, true, 1, u' ', 0, u"42"}));

TEST(TextBuffer, WidthAppliesToOneNumberOnly) {
  TextBuffer buffer;
  buffer.fill = u'0';
  buffer.width = 3;
  ASSERT_EQ(buffer.FormatNumber(7, false, 10, true), 1);
  ASSERT_EQ(buffer.AppendUnit(u'|'), 1);
  ASSERT_EQ(buffer.FormatNumber(7, false, 10, true), 1);
  EXPECT_EQ(Str(buffer), u"007|7");
}

TEST(TextBuffer, RadixOutsideTwoToSixteenFormatsNothing) {
  TextBuffer buffer;
  ASSERT_EQ(buffer.Assign(u"x"), 1);
  EXPECT_EQ(buffer.FormatNumber(5, false, 17, true), 1);
  EXPECT_EQ(buffer.FormatNumber(5, false, 1, true), 1);
  EXPECT_EQ(Str(buffer), u"x");
}

TEST(TextBuffer, BufferRadixAndSignedHelpers) {
  TextBuffer buffer;
  buffer.radix = 16;
  buffer.uppercase = false;
  ASSERT_EQ(buffer.AppendUnsigned(0xBEEF), 1);
  buffer.radix = 10;
  ASSERT_EQ(buffer.AppendUnit(u' '), 1);
  ASSERT_EQ(buffer.AppendSigned(-32768), 1);
  ASSERT_EQ(buffer.AppendUnit(u' '), 1);
  ASSERT_EQ(buffer.AppendSigned(INT64_MIN), 1);
  EXPECT_EQ(Str(buffer), u"beef -32768 -9223372036854775808");
}

TEST(CountHexDigits, CountsWithinTheLimit) {
  EXPECT_EQ(CountHexDigits(u"0x1aG-fF", -1), 5);
  EXPECT_EQ(CountHexDigits(u"0x1aG-fF", 3), 2);
  EXPECT_EQ(CountHexDigits(u"12", 10), 2);
  EXPECT_EQ(CountHexDigits(nullptr, -1), 0);
  EXPECT_EQ(CountHexDigits(u"zz", 0), 0);
}

}  // namespace

TEST(CopyBounded, CutsToTheCapacityAndAlwaysTerminates) {
  Unit units[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(CopyBounded(units, 4, u"abcdef"), 3);
  EXPECT_EQ(std::u16string(units), u"abc");
  EXPECT_EQ(CopyBounded(units, 4, static_cast<const Unit*>(nullptr)), 0);
  EXPECT_EQ(units[0], 0);
  EXPECT_EQ(CopyBounded(units, 0, u"a"), 0);
  char bytes[8];
  EXPECT_EQ(CopyBounded(bytes, 8, "host"), 4);
  EXPECT_STREQ(bytes, "host");
}
