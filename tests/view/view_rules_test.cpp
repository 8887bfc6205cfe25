// The portable rules of the view helpers: the title copy into short
// buffers, the tip rotation and the indicator's frames.
#include "view/view_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ViewRules, ProtocolLineIsCutAndReportedForShortBuffers) {
  struct Case {
    uint32_t capacity;
    int result;
    const char16_t* text;
  };
  const Case cases[] = {
      {256, 1, u"Modbus RTU (master)"},
      {20, 1, u"Modbus RTU (master)"},  // 19 units and the NUL
      {19, 0, u"Modbus RTU (master"},
      {7, 0, u"Modbus"},
      {1, 0, u""},
  };
  for (const Case& c : cases) {
    Unit buffer[256];
    EXPECT_EQ(ProtocolLine(u"Modbus RTU (master)", buffer, c.capacity), c.result) << c.capacity;
    EXPECT_EQ(std::u16string(buffer), c.text);
  }
  Unit untouched[2] = {u'#', 0};
  EXPECT_EQ(ProtocolLine(u"Modbus RTU (master)", untouched, 0), 0);  // no underflow into the buffer
  EXPECT_EQ(untouched[0], u'#');
}

TEST(ViewRules, TipRotation) {
  TipRotation none;
  EXPECT_EQ(SeedTip(none, 17), -1);
  EXPECT_EQ(AdvanceTip(none), -1);

  TipRotation eight;
  eight.count = 8;
  EXPECT_EQ(SeedTip(eight, 17), 1);
  const int32_t following[] = {2, 3, 4, 5, 6, 7, 0, 1};
  for (int32_t expected : following) EXPECT_EQ(AdvanceTip(eight), expected);
  EXPECT_EQ(SeedTip(eight, 0xFFFFFFFFu), 7);
  EXPECT_EQ(AdvanceTip(eight), 0);
}

TEST(ViewRules, IndicatorFrames) {
  // Widths on a 200-unit window, mirrored frames, and where each is drawn.
  const int32_t widths[kIndicatorFrameCount] = {200, 138, 38,  62,  126, 162, 188, 200, 200, 200,
                                                200, 112, 0,   76,  138, 162, 188, 200, 200, 200};
  uint32_t frame = 0;
  for (uint32_t i = 0; i < kIndicatorFrameCount; ++i) {
    EXPECT_EQ(IndicatorFrameWidth(frame, 200), widths[i]) << frame;
    EXPECT_EQ(IndicatorFrameMirrored(frame), frame >= 3 && frame <= 12) << frame;
    EXPECT_EQ(IndicatorFrameLeft(200, widths[i]), (200 - widths[i]) / 2);
    frame = NextIndicatorFrame(frame);
  }
  EXPECT_EQ(frame, 0u);  // one cycle of twenty ticks
  EXPECT_EQ(kIndicatorFrameCount * kIndicatorTickMs, 2500u);
  EXPECT_EQ(IndicatorFrameWidth(1, 33), 22);  // 33 * 69 / 100 rounded down
  EXPECT_EQ(IndicatorFrameWidth(25, 40), 40);  // unknown frames read as frame 0
  EXPECT_EQ(IndicatorFrameWidth(0, 0), 0);
  EXPECT_EQ(IndicatorFrameWidth(0, -5), 0);
}

}  // namespace
