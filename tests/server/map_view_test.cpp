// The I/O map view driven the way the shell drives it (support/view_host.h):
// attachment, layout, field edits, tabs, cell texts and edits of every area,
// the value formats, aliases shared by tabs, Connect's messages, detach.

#include <gtest/gtest.h>

#include <string>

#include "common/memory.h"
#include "server/context_ops.h"
#include "server/server_context.h"
#include "support/fake_clock.h"
#include "support/scripted_transport.h"
#include "support/view_host.h"
#include "modbus/mbap_framer.h"

namespace {

struct TestSettings {
  int32_t openResult = 1;
};

Transport* MakeTransport(const void* settings) {
  ScriptedTransport* transport = mem::New<ScriptedTransport>();
  transport->openResult = static_cast<const TestSettings*>(settings)->openResult;
  return transport;
}
Framer* MakeFramer(const void*) { return mem::New<MbapFramer>(); }
uint8_t Address(const void*) { return 1; }

const ServerComposition kComposition = {ServerFamily::kMbap,
                                        u"Failed to listen on the selected TCP address and port.",
                                        u"RX: Invalid Modbus TCP/IP frame",
                                        MakeTransport,
                                        MakeFramer,
                                        Address,
                                        nullptr,
                                        nullptr};


class MapViewTest : public ::testing::Test {
 protected:
  MapViewTest() : context(ServerContextCreate(&kComposition, &settings)), host(ContextOps(context)) { host.Attach(); }
  ~MapViewTest() override {
    host.Detach();
    ServerContextDestroy(context);
  }

  // The position of the first logged command of kind for field index.
  size_t FirstFor(HostCommandKind kind, uint64_t index) const {
    for (size_t i = 0; i < host.log.size(); ++i)
      if (host.log[i].kind == kind && host.log[i].index == index) return i;
    return host.log.size();
  }

  FakeClock clock;
  TestSettings settings;
  ServerContext* context;
  ViewHost host;
};

TEST_F(MapViewTest, AFreshAttachmentShowsViewOneOfHoldingRegisters) {
  ASSERT_EQ(host.tabs.size(), 1u);
  EXPECT_EQ(host.tabs[0].title, u"View 1");
  ASSERT_EQ(host.choices.size(), 4u);
  const char16_t* names[] = {u"Coils (0x)", u"Discrete Inputs (1x)", u"Input Registers (3x)",
                             u"Holding Registers (4x)"};
  for (uint64_t i = 0; i < 4; ++i) {
    EXPECT_EQ(host.choices[i].first, names[i]);
    EXPECT_EQ(host.choices[i].second, i);
  }
  EXPECT_EQ(host.selectedChoice, 3u);
  EXPECT_EQ(host.labels[0], u"Start address:");
  EXPECT_EQ(host.labels[1], u"Quantity:");
  EXPECT_EQ(host.fieldTexts[0], u"0");
  EXPECT_EQ(host.fieldTexts[1], u"20");
  EXPECT_TRUE(host.fieldShown[0] && host.fieldShown[1]);
  EXPECT_FALSE(host.fieldShown[2] || host.fieldShown[3]);
  EXPECT_EQ(host.formats[0].mode, kFieldUnsignedDecimal);
  EXPECT_EQ(host.formats[0].min, 0);
  EXPECT_EQ(host.formats[0].max, 65535);
  EXPECT_EQ(host.formats[1].min, 1);
  EXPECT_EQ(host.formats[1].max, 65536);
  EXPECT_EQ(host.rows, 20u);
  EXPECT_EQ(host.columns, 2u);
  EXPECT_EQ(host.columnTitles[0], u"I/O no.");
  EXPECT_EQ(host.columnTitles[1], u"Value (dec)");
  EXPECT_EQ(host.addRemove, 1u);
  EXPECT_EQ(host.rxLine, u"RX: -");
  EXPECT_FALSE(host.rxError);
  EXPECT_EQ(host.Cell(0, 0), u"400001");
  EXPECT_EQ(host.Cell(19, 0), u"400020");
  EXPECT_EQ(host.Cell(19, 1), u"0");
  // Each field gets its range before its text, and the two hidden fields
  // lose whatever format the previous plug-in gave them.
  for (uint64_t field = 0; field < 2; ++field) {
    EXPECT_LT(FirstFor(HostCommandKind::SetFieldFormat, field), FirstFor(HostCommandKind::SetFieldText, field));
  }
  EXPECT_EQ(host.formats[2].mode, kFieldUnrestricted);
  EXPECT_EQ(host.formats[3].hasRange, 0u);
}

struct FieldCase {
  const char16_t* start;     // typed into the start field, or null
  const char16_t* quantity;  // then typed into the quantity field, or null
  const char16_t* shownStart;
  const char16_t* shownQuantity;
  int64_t quantityMax;
};

const FieldCase kFieldCases[] = {
    {u"65530", nullptr, u"65530", u"6", 6},
    {nullptr, u"0", u"0", u"1", 65536},
    {u"70000", nullptr, u"65535", u"1", 1},
    {u"12abc", u"abc", u"12", u"1", 65524},
    {u"99999999999", u"5", u"65535", u"1", 1},
    {u"100", u"65436", u"100", u"65436", 65436},
    {u"", u"40", u"0", u"40", 65536},
};

TEST_F(MapViewTest, FieldTextsAreReadAsDecimalAndClampedIntoRange) {
  for (const FieldCase& c : kFieldCases) {
    host.EditField(0, u"0");
    host.EditField(1, u"20");
    if (c.start) host.EditField(0, c.start);
    if (c.quantity) host.EditField(1, c.quantity);
    EXPECT_EQ(host.fieldTexts[0], c.shownStart);
    EXPECT_EQ(host.fieldTexts[1], c.shownQuantity);
    EXPECT_EQ(host.formats[1].max, c.quantityMax);
    EXPECT_EQ(std::to_string(host.rows), std::string(c.shownQuantity, c.shownQuantity + std::char_traits<char16_t>::length(c.shownQuantity)));
  }
  // The last row of the map.
  host.EditField(0, u"65535");
  EXPECT_EQ(host.Cell(0, 0), u"465536");
  EXPECT_EQ(host.Cell(1, 0), u"<untouched>");
}

TEST_F(MapViewTest, TabsAreAddedNumberedAndRemovedDownToOne) {
  host.Add();
  host.Add();
  ASSERT_EQ(host.tabs.size(), 3u);
  EXPECT_EQ(host.tabs[1].title, u"View 2");
  EXPECT_EQ(host.tabs[2].title, u"View 3");
  EXPECT_EQ(host.selected, 2);
  EXPECT_EQ(host.addRemove, 0x10001u);

  // Each tab keeps its own window; selecting lays it out.
  host.EditField(0, u"100");
  host.SelectTab(0);
  EXPECT_EQ(host.fieldTexts[0], u"0");
  host.SelectTab(2);
  EXPECT_EQ(host.fieldTexts[0], u"100");

  // Removing a tab that is not selected keeps the selection's view current.
  host.Event(ViewEventKind::RemoveRequested, 0, host.tabs[0].key);
  ASSERT_EQ(host.tabs.size(), 2u);
  EXPECT_EQ(host.tabs[host.selected].title, u"View 3");
  EXPECT_EQ(host.Cell(0, 0), u"400101");
  host.Remove();
  ASSERT_EQ(host.tabs.size(), 1u);
  EXPECT_EQ(host.tabs[0].title, u"View 2");
  EXPECT_EQ(host.addRemove, 1u);
  EXPECT_EQ(host.Cell(0, 0), u"400001");
  host.Remove();  // the last view stays
  EXPECT_EQ(host.tabs.size(), 1u);
  host.Event(ViewEventKind::RemoveRequested, 0, 12345);  // no such view
  EXPECT_EQ(host.tabs.size(), 1u);
  host.Add();
  EXPECT_EQ(host.tabs[1].title, u"View 4");
}

TEST_F(MapViewTest, CellsOfEveryAreaShowAndTakeValuesAndAliasesInEveryTab) {
  // sdec shows 65535 as -1; four clicks return to dec.
  context->map.WriteCellFromUser(kAreaHoldingRegisters, 0, 65535);
  const char16_t* formats[] = {u"65535", u"-1", u"0xFFFF", u"1111 1111 1111 1111", u"65535"};
  const char16_t* titles[] = {u"Value (dec)", u"Value (sdec)", u"Value (hex)", u"Value (bin)", u"Value (dec)"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(host.Cell(0, 1), formats[i]);
    EXPECT_EQ(host.columnTitles[1], titles[i]);
    host.ClickColumn(1);
  }
  host.ClickColumn(0);  // only lays out again
  EXPECT_EQ(host.columnTitles[1], u"Value (sdec)");
  host.ClickColumn(1);
  host.ClickColumn(1);
  host.ClickColumn(1);

  // Every area is editable, bit cells keep 0 or 1.
  struct AreaEdit {
    uint8_t area;
    const char16_t* reference;
    const char16_t* typed;
    uint16_t stored;
  };
  const AreaEdit edits[] = {
      {kAreaCoils, u"000006", u"5", 1},
      {kAreaDiscreteInputs, u"100006", u"1", 1},
      {kAreaInputRegisters, u"300006", u"70000", 65535},
      {kAreaHoldingRegisters, u"400006", u"1x2", 12},
  };
  for (const AreaEdit& edit : edits) {
    host.ChooseFunction(edit.area);
    EXPECT_EQ(host.selectedChoice, edit.area);
    EXPECT_EQ(host.fieldTexts[1], u"20");  // start and quantity stay
    EXPECT_EQ(host.Cell(5, 0), edit.reference);
    const size_t refreshes = host.refreshes;
    EXPECT_TRUE(host.EditCell(5, 1, edit.typed));
    EXPECT_GT(host.refreshes, refreshes);
    EXPECT_EQ(context->map.ReadCellLocked(edit.area, 5), edit.stored);
  }

  // The editor starts from the value in the view's format.
  char16_t initial[64] = {};
  EXPECT_EQ(host.Event(ViewEventKind::GetCellEditor, 5 | kCellEditFromDoubleClick, host.SelectedKey(), nullptr,
                       initial, 64),
            kFieldUnsignedDecimal);
  EXPECT_EQ(std::u16string(initial), u"12");
  char16_t small[23] = {};
  EXPECT_EQ(host.Event(ViewEventKind::GetCellEditor, 5, host.SelectedKey(), nullptr, small, 23), 0);
  EXPECT_EQ(host.Event(ViewEventKind::GetCellEditor, 20, host.SelectedKey(), nullptr, initial, 64), 0);
  EXPECT_EQ(host.Event(ViewEventKind::BeginCellEdit, 5 | (2u << 16), host.SelectedKey()), 0);
  EXPECT_EQ(host.Cell(20, 1), u"<untouched>");
  EXPECT_EQ(host.Cell(0, 2), u"<untouched>");

  // An alias shows in every tab that covers the cell, until it is cleared.
  host.Add();  // View 2 over holding registers 0-19
  EXPECT_TRUE(host.EditCell(0, 0, u"Pump"));
  host.SelectTab(0);
  EXPECT_EQ(host.Cell(0, 0), u"Pump");
  host.ChooseFunction(kAreaInputRegisters);
  EXPECT_EQ(host.Cell(0, 0), u"300001");
  host.SelectTab(1);
  EXPECT_TRUE(host.EditCell(0, 0, u""));
  EXPECT_EQ(host.Cell(0, 0), u"400001");
}

TEST_F(MapViewTest, ConnectReportsItsOutcomeAndDetachStartsAgainAtViewOne) {
  EXPECT_EQ(host.Connect(), 1);
  EXPECT_EQ(host.rxLine, u"RX: -");
  host.Disconnect();
  EXPECT_EQ(host.rxLine, u"RX: -");

  settings.openResult = 0;
  EXPECT_EQ(host.Connect(), 0);
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_EQ(host.errors[0].first, u"Failed to listen on the selected TCP address and port.");
  EXPECT_EQ(host.errors[0].second, u"Connection Error");
  EXPECT_EQ(context->worker.transport, nullptr);  // nothing left running
  settings.openResult = 1;

  host.Add();
  host.EditField(0, u"7");
  context->map.WriteCellFromUser(kAreaHoldingRegisters, 0, 42);
  EXPECT_EQ(host.Connect(), 1);
  host.Detach();  // ends the connection without a Disconnect
  EXPECT_EQ(context->worker.thread, nullptr);
  EXPECT_EQ(context->worker.transport, nullptr);
  host.Attach();
  ASSERT_EQ(host.tabs.size(), 1u);
  EXPECT_EQ(host.tabs[0].title, u"View 1");
  EXPECT_EQ(host.fieldTexts[0], u"0");
  EXPECT_EQ(host.Cell(0, 1), u"42");  // the map outlives the views
}

}  // namespace
