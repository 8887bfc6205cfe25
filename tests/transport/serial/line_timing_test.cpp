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

// t1.5 plus one character rounded down: at 1200 baud 8N1 (8.3 ms a
// character) 14 + 8; above 19200 baud a character is under a millisecond.
TEST(LineTiming, ReadIntervalAddsOneCharacterToT15) {
  struct Case {
    uint32_t baud, bits, interval;
  } cases[] = {{1200, 10, 22}, {1200, 11, 23}, {9600, 10, 3}, {19200, 10, 2},
               {115200, 11, 2}, {0, 10, 2},   {300, 12, 95}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.baud);
    EXPECT_EQ(RtuReadIntervalMs(c.baud, c.bits), c.interval);
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
