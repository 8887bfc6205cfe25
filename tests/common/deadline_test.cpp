#include "common/deadline.h"

#include <gtest/gtest.h>

#include "support/fake_clock.h"

namespace {

TEST(Deadline, SignedDifferenceSurvivesWrap) {
  EXPECT_TRUE(TickBefore(0xFFFFFFF0u, 0x10u));
  EXPECT_FALSE(TickBefore(0x10u, 0xFFFFFFF0u));
  EXPECT_EQ(TickDiff(0x10u, 0xFFFFFFF0u), 0x20);
}

TEST(Deadline, RemainingTimeAcrossTheWrapOfTheClock) {
  FakeClock clock(0xFFFFFF00u);
  uint32_t deadline = DeadlineAfter(0x200);  // lies past the wrap
  EXPECT_EQ(RemainingMs(deadline), 0x200u);
  clock.Advance(0x180);  // now 0x80 after wrapping
  EXPECT_EQ(plat::Tick(), 0x80u);
  EXPECT_FALSE(DeadlinePassed(deadline));
  EXPECT_EQ(RemainingMs(deadline), 0x80u);
  clock.Advance(0x80);
  EXPECT_TRUE(DeadlinePassed(deadline));
  EXPECT_EQ(RemainingMs(deadline), 0u);
  clock.Advance(5);
  EXPECT_EQ(RemainingMs(deadline), 0u);
}

}  // namespace
