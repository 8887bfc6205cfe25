#include "shell/anchor_geometry.h"

#include <gtest/gtest.h>

#include <stdint.h>

#include <vector>

// Found by argument lookup: AnchorRect lives in the global namespace.
bool operator==(const AnchorRect& a, const AnchorRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::ostream& operator<<(std::ostream& out, const AnchorRect& r) {
  return out << "{" << r.left << "," << r.top << "," << r.right << "," << r.bottom << "}";
}

namespace {

struct MulDivCase {
  int32_t value, numerator, denominator, expected;
};

TEST(AnchorScaling, RoundsHalfAwayFromZeroLikeMulDiv) {
  const MulDivCase cases[] = {
      {100, 144, 96, 150}, {3, 144, 96, 5},    {-3, 144, 96, -5},        {1, 96, 144, 1},
      {2, 96, 144, 1},     {-1, 96, 144, -1},  {10, 120, 96, 13},        {7, 3, -2, -11},
      {0, 144, 96, 0},     {5, 144, 0, 0},     {INT32_MAX, 2, 1, INT32_MAX}, {INT32_MIN, 2, 1, INT32_MIN},
  };
  for (const MulDivCase& c : cases) {
    EXPECT_EQ(MulDivRound(c.value, c.numerator, c.denominator), c.expected)
        << c.value << "*" << c.numerator << "/" << c.denominator;
  }
  EXPECT_EQ(ScaleFrom96(40, 0), 40);
  EXPECT_EQ(ScaleTo96(40, 0), 40);
  EXPECT_EQ(ScaleFrom96(40, 168), 70);
  EXPECT_EQ(ScaleTo96(70, 168), 40);
  EXPECT_EQ(AnchorRectTo96(AnchorRect{15, 30, 45, 60}, 144), (AnchorRect{10, 20, 30, 40}));
}

// A 200 x 100 client area at 96 DPI with one control per rule.
constexpr int32_t kClientW96 = 200;
constexpr int32_t kClientH96 = 100;

struct PlaceCase {
  const char* name;
  uint32_t flags;
  AnchorRect initial96;
  uint32_t dpi;
  AnchorRect current;
  int32_t width, height;
  AnchorRect expected;
};

TEST(AnchorPlace, KeepsEachControlOnItsAnchors) {
  const AnchorRect right{150, 10, 190, 30};
  const AnchorRect wide{10, 10, 190, 30};
  const AnchorRect middle{80, 40, 120, 60};
  const AnchorRect bottom{10, 70, 50, 90};
  const PlaceCase cases[] = {
      {"unchanged size", kAnchorMoveX, right, 96, right, 200, 100, right},
      {"move X grows", kAnchorMoveX, right, 96, right, 300, 100, {250, 10, 290, 30}},
      {"move X shrinks", kAnchorMoveX, right, 96, right, 150, 100, {100, 10, 140, 30}},
      {"size X", kAnchorSizeX, wide, 96, wide, 300, 100, {10, 10, 290, 30}},
      {"size X keeps a changed left edge", kAnchorSizeX, wide, 96, {20, 10, 190, 30}, 300, 100, {20, 10, 290, 30}},
      {"move Y", kAnchorMoveY, bottom, 96, bottom, 200, 160, {10, 130, 50, 150}},
      {"size Y", kAnchorSizeY, wide, 96, wide, 200, 160, {10, 10, 190, 90}},
      {"move X and Y", kAnchorMoveX | kAnchorMoveY, right, 96, right, 300, 160, {250, 70, 290, 90}},
      {"size X and Y", kAnchorSizeX | kAnchorSizeY, wide, 96, wide, 300, 160, {10, 10, 290, 90}},
      {"move wins over size", kAnchorMoveX | kAnchorSizeX, right, 96, right, 300, 100, {250, 10, 290, 30}},
      {"centre X", kAnchorCentreX, middle, 96, middle, 300, 100, {130, 40, 170, 60}},
      {"centre Y", kAnchorCentreY, middle, 96, middle, 200, 200, {80, 90, 120, 110}},
      {"centre wins over move", kAnchorCentreX | kAnchorMoveX, middle, 96, middle, 300, 100, {130, 40, 170, 60}},
      {"no anchor", 0, right, 96, right, 300, 160, right},
      {"repaint only", kAnchorRepaint, right, 96, right, 300, 160, right},
      // At 150 % the margins are 1.5 times the 96-DPI ones; the control's
      // current (already scaled) width is kept.
      {"move X at 144", kAnchorMoveX, right, 144, {225, 15, 285, 45}, 450, 150, {375, 15, 435, 45}},
      {"size X at 144", kAnchorSizeX, wide, 144, {15, 15, 285, 45}, 500, 150, {15, 15, 485, 45}},
      {"centre X at 144", kAnchorCentreX, middle, 144, {120, 60, 180, 90}, 450, 150, {195, 60, 255, 90}},
      {"move Y at 120", kAnchorMoveY, bottom, 120, {13, 88, 63, 113}, 250, 125, {13, 88, 63, 113}},
      {"grip at 144", kAnchorMoveX | kAnchorMoveY | kAnchorRepaint | kAnchorSizeGrip, {183, 83, 200, 100}, 144,
       {275, 125, 300, 150}, 600, 300, {575, 275, 600, 300}},
  };
  for (const PlaceCase& c : cases) {
    EXPECT_EQ(AnchorPlace(c.flags, c.current, c.initial96, kClientW96, kClientH96, c.dpi, c.width, c.height),
              c.expected)
        << c.name;
  }
}

TEST(AnchorPlace, GrowingByAnyAmountMovesAndWidensByThatAmount) {
  const AnchorRect controls[] = {{0, 0, 10, 10}, {150, 10, 190, 30}, {5, 5, 195, 95}, {199, 99, 200, 100}};
  for (const AnchorRect& control : controls) {
    for (int32_t grow : {-40, 1, 100, 333}) {
      AnchorRect moved = AnchorPlace(kAnchorMoveX | kAnchorMoveY, control, control, kClientW96, kClientH96, 96,
                                     kClientW96 + grow, kClientH96 + grow);
      EXPECT_EQ(moved, (AnchorRect{control.left + grow, control.top + grow, control.right + grow,
                                   control.bottom + grow}));
      AnchorRect sized = AnchorPlace(kAnchorSizeX | kAnchorSizeY, control, control, kClientW96, kClientH96, 96,
                                     kClientW96 + grow, kClientH96 + grow);
      EXPECT_EQ(sized, (AnchorRect{control.left, control.top, control.right + grow, control.bottom + grow}));
    }
  }
}

// Two columns halve the room whatever their headings; more keep their
// headings' room and share the rest, or when the room is short the narrow
// keep theirs and the widest are cut alike; nothing beyond the room, nothing
// negative.
TEST(ShareColumns, HalvesTwoAndKeepsHeadingsOfMore) {
  struct Case {
    int32_t room;
    std::vector<int32_t> least, expected;
  };
  const Case cases[] = {
      {301, {10, 200}, {150, 150}},
      {-5, {10, 200}, {0, 0}},
      {400, {40, 60, 100}, {106, 126, 166}},
      {100, {40, 60, 100}, {33, 33, 33}},
      {300, {50, 120, 60, 200}, {50, 95, 60, 95}},
      {90, {0, 0, 0}, {30, 30, 30}},
      {200, {50, 150, 0}, {50, 150, 0}},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> widths(c.least.size(), -1);
    ShareColumns(c.room, c.least.data(), static_cast<int32_t>(c.least.size()), widths.data());
    EXPECT_EQ(widths, c.expected) << "room " << c.room;
  }
}

}  // namespace
