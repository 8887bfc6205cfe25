// Wide values in the poll view, driven as the shell drives it: the value
// menu, the row layout, an edit of a value's first row reaching every one of
// its registers in the write request, refusals, the column click, and the
// 16-bit functions that keep their own view.
#include <gtest/gtest.h>

#include <string>

#include "client_harness.h"
#include "view/value_type.h"

namespace {

int gRefusals = 0;
void CountRefusal() { ++gRefusals; }

std::u16string MenuText(ViewHost& v, uint32_t index, int64_t* flags) {
  char16_t text[64] = u"<untouched>";
  *flags = v.Event(ViewEventKind::GetMenuItem, index, v.SelectedKey(), nullptr, text, 64);
  return text;
}

void Choose(ViewHost& v, uint32_t index) { v.Event(ViewEventKind::MenuItemChosen, index, v.SelectedKey()); }

constexpr uint32_t kOrderItem = kValueTypeCount + 1;  // the first order in the menu

TEST(value_type_poll_view, EditsReachEveryRegisterOfTheWriteRequest) {
  InputRefusedHook previous = SetInputRefusedHook(CountRefusal);
  ClientHarness h(FramingKind::kMbap);
  ViewHost& v = *h.view;
  v.ChooseFunction(16);
  v.EditField(2, u"5");

  struct Case {
    uint32_t type, order;
    const char16_t* typed;
    const char16_t* shown;
    const char16_t* title;
    const char16_t* registers;  // the request's data, first registers
  };
  const Case cases[] = {
      {kTypeFloat32, kOrderAbcd, u"3.14159274", u"3.1415927", u"Value (float32 ABCD)", u"40 49 0F DB 00 00"},
      {kTypeFloat32, kOrderCdab, u"-0", u"-0", u"Value (float32 CDAB)", u"00 00 80 00 00 00"},
      {kTypeUint32, kOrderBadc, u"305419896", u"305419896", u"Value (uint32 BADC)", u"34 12 78 56 00 00"},
      {kTypeInt32, kOrderDcba, u"-2147483648", u"-2147483648", u"Value (int32 DCBA)", u"00 00 00 80 00 00"},
      {kTypeInt64, kOrderCdab, u"-2", u"-2", u"Value (int64 GHEFCDAB)", u"FF FE FF FF FF FF FF FF 00 00"},
      {kTypeFloat64, kOrderDcba, u"1e-300", u"1e-300", u"Value (float64 HGFEDCBA)", u"59 F3 F8 C2 1F 6E A5 01 00 00"},
      {kTypeUint64, kOrderAbcd, u"1E2", u"<kept>", u"Value (uint64 ABCDEFGH)", u"00 00 00 00 00 00 00 00 00 00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.typed, c.typed + 3));
    for (uint32_t i = 0; i < 5; ++i) v.EditCell(i, 1, u"0");  // 16-bit rows: clear the registers
    Choose(v, c.type);
    Choose(v, kOrderItem + c.order);
    EXPECT_EQ(v.columnTitles[1], c.title);
    int before = gRefusals;
    EXPECT_TRUE(v.EditCell(0, 1, c.typed));
    bool kept = std::u16string(c.shown) == u"<kept>";
    EXPECT_EQ(gRefusals - before, kept ? 1 : 0);
    EXPECT_EQ(v.Cell(0, 1), kept ? u"0" : c.shown);
    EXPECT_NE(v.txLine.find(c.registers), std::u16string::npos) << std::string(v.txLine.begin(), v.txLine.end());
    uint32_t words = ValueTypeWords(static_cast<uint8_t>(c.type));
    for (uint32_t row = 1; row < words; ++row) {
      EXPECT_EQ(v.Cell(row, 1), u"\u2191 400001");
      EXPECT_FALSE(v.EditCell(row, 1, u"1")) << "a value's other rows are not edited alone";
      EXPECT_TRUE(v.EditCell(row, 0, u"")) << "their aliases are";
    }
    // Rows that do not make a whole value stay 16-bit; the I/O numbers stay per register.
    EXPECT_EQ(v.Cell(4, 1), u"0");
    EXPECT_EQ(v.Cell(4, 0), u"400005");
    EXPECT_EQ(v.Cell(1, 0), u"400002");
  }

  // The menu as the shell reads it: the checked type, the order names of a
  // 64-bit type, the end.
  int64_t flags = 0;
  EXPECT_EQ(MenuText(v, kTypeUint64, &flags), u"64-bit unsigned");
  EXPECT_EQ(flags, kMenuItemPresent | kMenuItemChecked);
  EXPECT_EQ(MenuText(v, kOrderItem + kOrderCdab, &flags), u"GHEFCDAB (words swapped)");
  EXPECT_EQ(flags, kMenuItemPresent);
  MenuText(v, kValueTypeCount, &flags);
  EXPECT_EQ(flags, kMenuItemSeparator);
  MenuText(v, kValueMenuItemCount, &flags);
  EXPECT_EQ(flags, 0);

  // The column click toggles the whole value and its hex; float32 again.
  Choose(v, kTypeFloat32);
  Choose(v, kOrderItem + kOrderAbcd);
  v.EditCell(0, 1, u"1.5");
  v.ClickColumn(1);
  EXPECT_EQ(v.columnTitles[1], u"Value (float32 ABCD hex)");
  EXPECT_EQ(v.Cell(0, 1), u"0x3FC00000");
  EXPECT_TRUE(v.EditCell(0, 1, u"0x40490FDB"));
  v.ClickColumn(1);
  EXPECT_EQ(v.Cell(0, 1), u"3.1415927");

  // Function 6 writes one register: 16-bit, no menu; the choice comes back
  // with function 3.
  v.ChooseFunction(6);
  EXPECT_EQ(v.columnTitles[1], u"Value (dec)");
  EXPECT_EQ(MenuText(v, 0, &flags), u"<untouched>");
  EXPECT_EQ(flags, 0);
  v.ChooseFunction(3);
  EXPECT_EQ(v.columnTitles[1], u"Value (float32 ABCD)");
  v.ChooseFunction(1);
  EXPECT_EQ(v.Cell(0, 1), u"16457") << "the coil functions stay 16-bit";
  Choose(v, kTypeFloat32);
  v.ChooseFunction(4);
  EXPECT_EQ(v.Cell(0, 1), u"16457") << "function 6 left one row: too short for a float";
  v.EditField(2, u"2");
  EXPECT_EQ(v.Cell(0, 1), u"3.1415927");
  Choose(v, kType16);
  EXPECT_EQ(v.columnTitles[1], u"Value (dec)");
  EXPECT_EQ(v.Cell(0, 1), u"16457");
  SetInputRefusedHook(previous);
}

}  // namespace
