// Which entries a table of a given size holds: the shell calls an optional
// entry only when the declared size covers it.
#include "common/plugin_interface.h"

#include <gtest/gtest.h>

namespace {

struct Coverage {
  uint32_t size;
  bool destroy, protocolLine, connectionLine, indicator, tip, nextTip;
};

class TableSize : public ::testing::TestWithParam<Coverage> {};

TEST_P(TableSize, CoversTheEntriesWithinIt) {
  const Coverage& c = GetParam();
  EXPECT_EQ(PluginOpsCovers(c.size, offsetof(PluginOps, destroy)), c.destroy);
  EXPECT_EQ(PluginOpsCovers(c.size, offsetof(PluginOps, getProtocolLine)), c.protocolLine);
  EXPECT_EQ(PluginOpsCovers(c.size, offsetof(PluginOps, getConnectionLine)), c.connectionLine);
  EXPECT_EQ(PluginOpsCovers(c.size, offsetof(PluginOps, showConnectionIndicator)), c.indicator);
  EXPECT_EQ(PluginOpsCovers(c.size, offsetof(PluginOps, getTip)), c.tip);
  EXPECT_EQ(PluginOpsCovers(c.size, offsetof(PluginOps, getNextTip)), c.nextTip);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TableSize,
                         ::testing::Values(Coverage{63, false, false, false, false, false, false},
                                           Coverage{64, true, false, false, false, false, false},
                                           Coverage{71, true, false, false, false, false, false},
                                           Coverage{72, true, true, false, false, false, false},
                                           Coverage{88, true, true, true, true, false, false},
                                           Coverage{103, true, true, true, true, true, false},
                                           Coverage{104, true, true, true, true, true, true},
                                           Coverage{0xFFFFFFFFu, true, true, true, true, true, true}));

TEST(CellArgument, SplitsRowAndColumn) {
  EXPECT_EQ(CellRow(0x0003FFFFu), 0xFFFFu);
  EXPECT_EQ(CellColumn(0x0003FFFFu), 3u);
  EXPECT_EQ(CellRow(7 | kCellEditFromDoubleClick), 7u);
  EXPECT_EQ(CellColumn(0xFFFF00000000ull | (1u << 16)), 1u);
}

}  // namespace
