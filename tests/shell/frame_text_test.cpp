// The frame lines' texts and their throttle, against a recording output.
#include "shell/frame_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::u16string Text(int line, const std::vector<uint8_t>& bytes, bool nullData = false) {
  TextBuffer out;
  EXPECT_EQ(BuildFrameLineText(line, nullData ? nullptr : bytes.data(), static_cast<uint32_t>(bytes.size()), out),
            1);
  return out.Text();
}

std::u16string Pairs(uint32_t count) {
  std::u16string text;
  for (uint32_t i = 0; i < count; ++i) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    if (i > 0) text += u' ';
    text += kHex[(i & 0xFF) >> 4];
    text += kHex[i & 0x0F];
  }
  return text;
}

TEST(FrameLineText, HexPairsUpToTheLimitThenAnEllipsis) {
  std::vector<uint8_t> frame(300);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(Text(kTxLine, frame), u"TX: " + Pairs(256) + u" \u2026");
  frame.resize(256);
  EXPECT_EQ(Text(kRxLine, frame), u"RX: " + Pairs(256));
  frame.resize(257);
  EXPECT_EQ(Text(kRxLine, frame), u"RX: " + Pairs(256) + u" \u2026");
  EXPECT_EQ(Text(kTxLine, {0x01, 0xAB, 0x0f}), u"TX: 01 AB 0F");
  EXPECT_EQ(Text(kTxLine, {}), u"TX: -");
  EXPECT_EQ(Text(kRxLine, {0x01, 0x02}, true), u"RX: -");  // a length without bytes
}

// Records what the throttle does, one word per call.
class Recorder : public FrameLineOutput {
 public:
  std::vector<std::u16string> log;
  void ShowLineText(int line, const Unit* text) override {
    log.push_back((line == kTxLine ? u"tx=" : u"rx=") + std::u16string(text));
  }
  void ShowRxError(bool error) override { log.push_back(error ? u"error" : u"normal"); }
  int StartThrottle(uint32_t periodMs) override {
    log.push_back(periodMs == 100 ? u"start" : u"start?");
    return timerWorks;
  }
  int timerWorks = 1;
  void StopThrottle() override { log.push_back(u"stop"); }
};

TEST(FrameLineThrottle, OneChangePerPeriodEndingOnTheLatestText) {
  Recorder out;
  FrameLineThrottle throttle(out);
  using Log = std::vector<std::u16string>;

  // Three RX updates within one period: the first at once, the last at the
  // tick, the middle never; the TX line shares the period.
  throttle.Update(kRxLine, u"RX: 01", false);
  throttle.Update(kRxLine, u"RX: 02", false);
  throttle.Update(kTxLine, u"TX: 0A", false);
  throttle.Update(kRxLine, u"RX: 03", false);
  EXPECT_EQ(out.log, (Log{u"rx=RX: 01", u"start"}));
  throttle.Tick();
  EXPECT_EQ(out.log, (Log{u"rx=RX: 01", u"start", u"tx=TX: 0A", u"rx=RX: 03"}));
  out.log.clear();
  throttle.Tick();  // nothing pending: the throttle stops
  EXPECT_EQ(out.log, (Log{u"stop"}));
  EXPECT_FALSE(throttle.Running());
  out.log.clear();

  // The error colour comes with its text and goes with the next frame; the
  // error flag is for the RX line only.
  throttle.Update(kRxLine, u"RX: Timeout", true);
  throttle.Update(kTxLine, u"TX: 01", true);
  throttle.Update(kRxLine, u"RX: 05", false);
  throttle.Tick();
  EXPECT_EQ(out.log, (Log{u"error", u"rx=RX: Timeout", u"start", u"tx=TX: 01", u"normal", u"rx=RX: 05"}));
  EXPECT_FALSE(throttle.RxError());
  out.log.clear();

  // A copy applies what is pending; the following tick has nothing to do.
  throttle.Update(kRxLine, u"RX: 06", true);
  throttle.ApplyPending();
  throttle.Tick();
  EXPECT_EQ(out.log, (Log{u"error", u"rx=RX: 06", u"stop"}));
  out.log.clear();

  // Detach drops what is pending and stops the throttle; a late tick is ignored.
  throttle.Update(kTxLine, u"TX: 07", false);
  throttle.Update(kTxLine, u"TX: 08", false);
  throttle.Drop();
  throttle.Tick();
  EXPECT_EQ(out.log, (Log{u"tx=TX: 07", u"start", u"stop"}));
  EXPECT_EQ(throttle.Update(2, u"?", false), 0);
  out.log.clear();

  // Without a timer nothing may wait for a tick: every update shows at once.
  out.timerWorks = 0;
  throttle.Update(kRxLine, u"RX: 09", false);
  throttle.Update(kRxLine, u"RX: 0A", false);
  EXPECT_EQ(out.log, (Log{u"normal", u"rx=RX: 09", u"start", u"rx=RX: 0A", u"start"}));
  EXPECT_FALSE(throttle.Running());
}

}  // namespace
