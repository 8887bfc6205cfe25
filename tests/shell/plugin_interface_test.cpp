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

// The numbers both sides are built against; a plug-in built earlier keeps
// sending and receiving these values.
TEST(InterfaceNumbers, MatchTheContract) {
  const struct {
    uint64_t actual, expected;
    const char* name;
  } cases[] = {
      {kPluginInterfaceVersion, 11, "interface version"},
      {kPluginDescriptorSize, 40, "descriptor size"},
      {kPluginOpsMinimumSize, 64, "smallest table"},
      {kPluginOpsSize, 104, "full table"},
      {kHostLinkSize, 40, "host link size"},
      {kHostLinkMinimumSize, 32, "host link size without the traffic log"},
      {kTrafficFrameSize, 40, "traffic frame size"},
      {kTrafficTx, 0, "TX"},
      {kTrafficRx, 1, "RX"},
      {kTrafficRtu, 0, "RTU framing"},
      {kTrafficAscii, 1, "ASCII framing"},
      {kTrafficMbap, 2, "MBAP framing"},
      {kTrafficMaster, 0, "master"},
      {kTrafficSlave, 1, "slave"},
      {kTrafficFrameRow, 0, "frame row"},
      {kTrafficFailureRow, 1, "failure row"},
      {kTrafficNoticeRow, 2, "notice row"},
      {kPluginLineCapacity, 256, "line capacity"},
      {kPluginTipCapacity, 512, "tip capacity"},
      {kCellEditFromDoubleClick, 0x10000, "double-click flag"},
      {static_cast<uint64_t>(HostCommandKind::SetLabel), 0, "SetLabel"},
      {static_cast<uint64_t>(HostCommandKind::SetFieldText), 1, "SetFieldText"},
      {static_cast<uint64_t>(HostCommandKind::ShowField), 2, "ShowField"},
      {static_cast<uint64_t>(HostCommandKind::ClearChoices), 3, "ClearChoices"},
      {static_cast<uint64_t>(HostCommandKind::AddChoice), 4, "AddChoice"},
      {static_cast<uint64_t>(HostCommandKind::SelectChoice), 5, "SelectChoice"},
      {static_cast<uint64_t>(HostCommandKind::AddTab), 6, "AddTab"},
      {static_cast<uint64_t>(HostCommandKind::RemoveTab), 7, "RemoveTab"},
      {static_cast<uint64_t>(HostCommandKind::EnableAddRemove), 8, "EnableAddRemove"},
      {static_cast<uint64_t>(HostCommandKind::SetTableShape), 9, "SetTableShape"},
      {static_cast<uint64_t>(HostCommandKind::SetColumnTitle), 10, "SetColumnTitle"},
      {static_cast<uint64_t>(HostCommandKind::RefreshTable), 11, "RefreshTable"},
      {static_cast<uint64_t>(HostCommandKind::FitColumns), 12, "FitColumns"},
      {static_cast<uint64_t>(HostCommandKind::ShowTxFrame), 13, "ShowTxFrame"},
      {static_cast<uint64_t>(HostCommandKind::ShowRxFrame), 14, "ShowRxFrame"},
      {static_cast<uint64_t>(HostCommandKind::ShowRxText), 15, "ShowRxText"},
      {static_cast<uint64_t>(HostCommandKind::ShowError), 16, "ShowError"},
      {static_cast<uint64_t>(HostCommandKind::SetFieldFormat), 17, "SetFieldFormat"},
      {static_cast<uint64_t>(HostCommandKind::RefreshHeaderLines), 18, "RefreshHeaderLines"},
      {static_cast<uint64_t>(ViewEventKind::Connect), 0, "Connect"},
      {static_cast<uint64_t>(ViewEventKind::Disconnect), 1, "Disconnect"},
      {static_cast<uint64_t>(ViewEventKind::FieldEdited), 2, "FieldEdited"},
      {static_cast<uint64_t>(ViewEventKind::ChoiceSelected), 3, "ChoiceSelected"},
      {static_cast<uint64_t>(ViewEventKind::AddRequested), 4, "AddRequested"},
      {static_cast<uint64_t>(ViewEventKind::RemoveRequested), 5, "RemoveRequested"},
      {static_cast<uint64_t>(ViewEventKind::TabSelected), 6, "TabSelected"},
      {static_cast<uint64_t>(ViewEventKind::GetCellText), 7, "GetCellText"},
      {static_cast<uint64_t>(ViewEventKind::BeginCellEdit), 8, "BeginCellEdit"},
      {static_cast<uint64_t>(ViewEventKind::EndCellEdit), 9, "EndCellEdit"},
      {static_cast<uint64_t>(ViewEventKind::GetCellEditor), 10, "GetCellEditor"},
      {static_cast<uint64_t>(ViewEventKind::ColumnClicked), 11, "ColumnClicked"},
      {static_cast<uint64_t>(ViewEventKind::GetMenuItem), 12, "GetMenuItem"},
      {static_cast<uint64_t>(ViewEventKind::MenuItemChosen), 13, "MenuItemChosen"},
      {kMenuItemPresent, 1, "menu item"},
      {kMenuItemChecked, 2, "checked menu item"},
      {kMenuItemDisabled, 4, "disabled menu item"},
      {kMenuItemSeparator, 8, "menu separator"},
      {kFieldUnrestricted, 0, "unrestricted"},
      {kFieldUnsignedDecimal, 1, "unsigned decimal"},
      {kFieldSignedDecimal, 2, "signed decimal"},
      {kFieldHexadecimal, 3, "hexadecimal"},
      {kFieldBinary, 4, "binary"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected) << c.name;
  EXPECT_STREQ(kGetPluginDescriptorExport, "GetPluginDescriptor");
  EXPECT_STREQ(kCreatePluginExport, "CreatePlugin");
}

TEST(CellArgument, SplitsRowAndColumn) {
  EXPECT_EQ(CellRow(0x0003FFFFu), 0xFFFFu);
  EXPECT_EQ(CellColumn(0x0003FFFFu), 3u);
  EXPECT_EQ(CellRow(7 | kCellEditFromDoubleClick), 7u);
  EXPECT_EQ(CellColumn(0xFFFF00000000ull | (1u << 16)), 1u);
}

}  // namespace
