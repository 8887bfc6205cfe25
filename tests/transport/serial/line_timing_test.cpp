#include "transport/serial/line_timing.h"

#include <gtest/gtest.h>

namespace {

struct CharacterTimes {
  uint32_t baud;
  uint32_t t15;
  uint32_t t35;
  uint32_t rtuWritePerCharacter;
  uint32_t asciiWritePerCharacter;
};

TEST(LineTiming, CharacterTimesFollowTheBaudRate) {
  const CharacterTimes cases[] = {
      {1200, 14, 33, 10, 9},  {2400, 7, 17, 5, 5},    {9600, 2, 5, 2, 2},  {19200, 2, 3, 1, 1},
      {38400, 2, 2, 1, 1},    {115200, 2, 2, 1, 1},   {0, 2, 0, 0, 0},     {300, 55, 129, 37, 34},
  };
  for (const CharacterTimes& c : cases) {
    SCOPED_TRACE(c.baud);
    EXPECT_EQ(RtuT15Ms(c.baud), c.t15);
    EXPECT_EQ(RtuT35Ms(c.baud), c.t35);
    EXPECT_EQ(RtuWriteMsPerCharacter(c.baud), c.rtuWritePerCharacter);
    EXPECT_EQ(AsciiWriteMsPerCharacter(c.baud), c.asciiWritePerCharacter);
  }
}

TEST(LineTiming, BitsPerCharacterCountStartParityAndStopBits) {
  EXPECT_EQ(BitsPerCharacter(8, kParityNone, kStopBitsOne), 10u);
  EXPECT_EQ(BitsPerCharacter(7, kParityEven, kStopBitsOne), 10u);
  EXPECT_EQ(BitsPerCharacter(8, kParityOdd, kStopBitsTwo), 12u);
  EXPECT_EQ(BitsPerCharacter(7, kParityNone, kStopBitsTwo), 10u);
}

TEST(LineTiming, WireTimeRoundsUpAndSaturates) {
  struct Case {
    uint32_t count, bits, baud, ms;
  } cases[] = {
      {8, 10, 9600, 9},       {100, 10, 1200, 834},  {1, 10, 115200, 1},   {0, 10, 9600, 0},
      {257, 10, 9600, 268},   {5, 10, 0, 0},         {0xFFFFFFFFu, 12, 1, 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    EXPECT_EQ(WireTimeMs(c.count, c.bits, c.baud), c.ms);
  }
}

}  // namespace
