// Wide values in the I/O map view: typed into a view they land in the
// device map's registers in the chosen order, a client's writes show as the
// whole value, and a 64-bit edit is never read half done by a client that
// reads the same registers in a tight loop (also under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "common/memory.h"
#include "modbus/functions.h"
#include "modbus/mbap_framer.h"
#include "server/context_ops.h"
#include "server/request.h"
#include "server/server_context.h"
#include "support/scripted_transport.h"
#include "support/view_host.h"
#include "view/value_type.h"

namespace {

Transport* MakeTransport(const void*) { return mem::New<ScriptedTransport>(); }
Framer* MakeFramer(const void*) { return mem::New<MbapFramer>(); }
uint8_t Address(const void*) { return 1; }

const ServerComposition kComposition = {
    ServerFamily::kMbap, u"", u"", MakeTransport, MakeFramer, Address, nullptr, nullptr};

int gRefusals = 0;
void CountRefusal() { ++gRefusals; }

constexpr uint32_t kOrderItem = kValueTypeCount + 1;

class value_type_map_view : public ::testing::Test {
 protected:
  value_type_map_view() : context(ServerContextCreate(&kComposition, &settings)), host(ContextOps(context)) {
    previous = SetInputRefusedHook(CountRefusal);
    host.Attach();
  }
  ~value_type_map_view() override {
    host.Detach();
    ServerContextDestroy(context);
    SetInputRefusedHook(previous);
  }
  void Choose(uint32_t index) { host.Event(ViewEventKind::MenuItemChosen, index, host.SelectedKey()); }

  int settings = 0;
  ServerContext* context;
  ViewHost host;
  InputRefusedHook previous;
};

TEST_F(value_type_map_view, EditsLandInTheMapAndClientWritesShowWhole) {
  struct Case {
    uint8_t area;
    uint32_t type, order;
    const char16_t* typed;
    uint16_t registers[4];  // the map's cells from the view's start on
    const char16_t* shown;
  };
  const Case cases[] = {
      {kAreaHoldingRegisters, kTypeFloat32, kOrderCdab, u"3.1415927", {0x0FDB, 0x4049}, u"3.1415927"},
      {kAreaInputRegisters, kTypeInt32, kOrderBadc, u"-2", {0xFFFF, 0xFEFF}, u"-2"},
      {kAreaHoldingRegisters, kTypeFloat64, kOrderAbcd, u"-Inf", {0xFFF0, 0, 0, 0}, u"-Inf"},
      {kAreaInputRegisters, kTypeUint64, kOrderDcba, u"1", {0x0100, 0, 0, 0}, u"1"},
      {kAreaHoldingRegisters, kTypeUint32, kOrderAbcd, u"4294967296", {0, 0}, u"0"},  // refused
  };
  host.EditField(0, u"100");
  host.EditField(1, u"5");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.typed, c.typed + 2));
    host.ChooseFunction(c.area);
    context->map.LockMap();
    for (uint16_t i = 0; i < 5; ++i) context->map.SetCell(c.area, static_cast<uint16_t>(100 + i), 0);
    context->map.UnlockMap();
    Choose(c.type);
    Choose(kOrderItem + c.order);
    int before = gRefusals;
    EXPECT_TRUE(host.EditCell(0, 1, c.typed));
    EXPECT_EQ(gRefusals - before, std::u16string(c.shown) == u"0" ? 1 : 0);
    uint32_t words = ValueTypeWords(static_cast<uint8_t>(c.type));
    for (uint16_t i = 0; i < words; ++i) EXPECT_EQ(context->map.ReadCellLocked(c.area, 100 + i), c.registers[i]) << i;
    EXPECT_EQ(host.Cell(0, 1), c.shown);
    EXPECT_EQ(host.Cell(1, 1), c.area == kAreaInputRegisters ? u"\u2191 300101" : u"\u2191 400101");
    EXPECT_FALSE(host.EditCell(1, 1, u"0"));
    EXPECT_EQ(host.Cell(4, 1), u"0") << "the trailing row stays 16-bit";
  }

  // A client's write of the last two registers of a float32 view.
  Choose(kTypeFloat32);
  Choose(kOrderItem + kOrderAbcd);
  host.EditField(1, u"4");
  context->map.WriteCellFromUser(kAreaHoldingRegisters, 102, 0x3F80);
  context->map.WriteCellFromUser(kAreaHoldingRegisters, 103, 0x0000);
  EXPECT_EQ(host.Cell(2, 1), u"1");
  EXPECT_EQ(host.columnTitles[1], u"Value (float32 ABCD)");
  host.ClickColumn(1);
  EXPECT_EQ(host.columnTitles[1], u"Value (float32 ABCD hex)");
  EXPECT_EQ(host.Cell(2, 1), u"0x3F800000");

  // The bit areas keep their bits and have no menu.
  host.ChooseFunction(kAreaCoils);
  EXPECT_EQ(host.columnTitles[1], u"Value (hex)");
  char16_t text[64] = u"";
  EXPECT_EQ(host.Event(ViewEventKind::GetMenuItem, 0, host.SelectedKey(), nullptr, text, 64), 0);
}

TEST_F(value_type_map_view, A64BitEditIsNeverReadHalfDone) {
  Choose(kTypeInt64);
  const char16_t* texts[2] = {u"81985529216486895", u"-81985529216486896"};  // 0x0123456789ABCDEF and its complement
  const uint64_t values[2] = {0x0123456789ABCDEF, ~uint64_t{0x0123456789ABCDEF}};
  ASSERT_TRUE(host.EditCell(0, 1, texts[0]));

  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, torn{0};
  std::thread client([&] {
    ServerRequest request = {};
    request.function = kReadHoldingRegisters;
    request.address = 0;
    request.quantityOrValue = 4;
    ServerResponse response;
    WrittenRange written;
    while (!done) {
      ExecuteRequest(&context->map, request, &response, &written);
      uint64_t value = 0;
      for (int i = 0; i < 8; ++i) value = (value << 8) | response.data[i];
      if (value != values[0] && value != values[1]) ++torn;
      ++reads;
    }
  });
  // Edits go on until the client has read often enough, bounded in case it
  // never gets to run.
  int edit = 0;
  while (edit < 4000 || (reads < 20000 && edit < 2000000)) host.EditCell(0, 1, texts[++edit & 1]);
  if (edit & 1) host.EditCell(0, 1, texts[0]);
  done = true;
  client.join();
  EXPECT_EQ(torn.load(), 0) << "of " << reads.load() << " reads";
  EXPECT_GE(reads.load(), 20000);
  EXPECT_EQ(host.Cell(0, 1), texts[0]);
}

}  // namespace
