// The combo box and list view wrappers on real controls, read back through
// the controls' own messages and driven by the input a user's keys and
// clicks produce; the dialog's handlers read the notifications only through
// the wrappers, as the shell's do.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "common/ui/combo_box.h"
#include "common/ui/list_view.h"
#include "common/ui_pump.h"

namespace {

constexpr int kBox = 1001;
constexpr int kList = 1002;

class ControlsDialog : public ui::Dialog {
 public:
  uintptr_t pickedData = 0;
  int picks = 0;
  int clickedColumn = -1;

 protected:
  void Dispatch(ui::Message& message) override {
    if (message.message == WM_INITDIALOG) {
      message.result = FALSE;
      message.handled = true;
    } else if (message.message == WM_COMMAND && LOWORD(message.wParam) == kBox &&
               HIWORD(message.wParam) == CBN_SELCHANGE) {
      picks += ui::ComboBox(reinterpret_cast<HWND>(message.lParam)).SelectedData(pickedData) ? 1 : 0;
    } else if (message.message == WM_NOTIFY && ui::ListView::Code(message) == LVN_GETDISPINFOW) {
      LVITEMW& item = ui::ListView::DisplayInfo(message).item;
      if (item.mask & LVIF_TEXT) swprintf(item.pszText, item.cchTextMax, L"r%d c%d", item.iItem, item.iSubItem);
      message.handled = true;
    } else if (message.message == WM_NOTIFY && ui::ListView::Code(message) == LVN_COLUMNCLICK) {
      clickedColumn = ui::ListView::Change(message).iSubItem;
      message.handled = true;
    }
  }
};

class ControlWrappersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    dialog_ = new ControlsDialog;
    window_ = uitest::OpenActiveDialog(dialog_, 102);
  }
  static void TearDownTestSuite() { uitest::CloseSuiteDialog(&window_, &dialog_); }
  void SetUp() override { ASSERT_NE(window_, nullptr); }

  static HWND Control(int id) { return GetDlgItem(window_, id); }
  static std::wstring BoxText() {
    wchar_t text[64] = {};
    GetWindowTextW(Control(kBox), text, 64);
    return text;
  }
  static void Settle() { uitest::PumpFor(50); }

  static ControlsDialog* dialog_;
  static HWND window_;
};

ControlsDialog* ControlWrappersTest::dialog_ = nullptr;
HWND ControlWrappersTest::window_ = nullptr;

// The box sorts its entries, so an entry's place is not the order it was
// added in: every look-up goes by the entry's data.
TEST_F(ControlWrappersTest, SortedBoxFindsEntriesByDataAndReportsTheUsersPick) {
  ui::ComboBox box(Control(kBox));
  box.Clear();
  const struct {
    const char16_t* text;
    uintptr_t data;
  } kEntries[] = {{u"Write", 16}, {u"Coils", 1}, {u"Read", 3}};
  for (const auto& entry : kEntries) ASSERT_GE(box.Add(entry.text, entry.data), 0);
  ASSERT_EQ(box.Count(), 3);
  EXPECT_EQ(box.Data(3), 0u);  // past the end
  const struct {
    uintptr_t pick;
    bool found;
    const wchar_t* shown;
    int32_t index;
  } kCases[] = {{3, true, L"Read", 1}, {16, true, L"Write", 2}, {7, false, L"Write", 2}, {1, true, L"Coils", 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.pick);
    EXPECT_EQ(box.SelectData(c.pick), c.found);
    EXPECT_EQ(BoxText(), c.shown);
    EXPECT_EQ(box.Selected(), c.index);
    uintptr_t data = 0;
    EXPECT_TRUE(box.SelectedData(data));
    EXPECT_EQ(data, c.found ? c.pick : 16u);
  }
  // The user presses Down twice: "Read", then "Write", each reported with
  // its own data.
  dialog_->picks = 0;
  SetFocus(box.Window());
  for (int i = 0; i < 2; ++i) {
    PostMessageW(box.Window(), WM_KEYDOWN, VK_DOWN, 0);
    Settle();
    EXPECT_EQ(dialog_->pickedData, i == 0 ? 3u : 16u);
  }
  EXPECT_EQ(dialog_->picks, 2);
  box.Select(-1);
  uintptr_t none = 99;
  EXPECT_FALSE(box.SelectedData(none));
  EXPECT_EQ(none, 99u);
  box.SetDroppedWidth(400);
  EXPECT_GE(box.DroppedWidth(), 400);
  box.Clear();
  EXPECT_EQ(box.Count(), 0);
  EXPECT_LT(box.DroppedWidth(), 400);
}

TEST_F(ControlWrappersTest, ListGrowsAndShrinksItsColumnsAndAnswersTheUsersClicks) {
  ui::ListView list(Control(kList));
  // Column count asked for, then the count reached and a title set on the
  // last column.
  const struct {
    int32_t wanted;
    int32_t reached;
  } kShapes[] = {{3, 3}, {1, 1}, {0, 0}, {2, 2}};
  for (const auto& shape : kShapes) {
    SCOPED_TRACE(shape.wanted);
    EXPECT_EQ(list.SetColumnCount(shape.wanted, 80), shape.reached);
    EXPECT_EQ(list.ColumnCount(), shape.reached);
    if (shape.reached > 0) {
      EXPECT_TRUE(list.SetColumnTitle(shape.reached - 1, u"last"));
    }
  }
  list.SetRowCount(-4);
  EXPECT_EQ(ListView_GetItemCount(list.Window()), 0);
  list.SetRowCount(5);
  ASSERT_EQ(ListView_GetItemCount(list.Window()), 5);
  // The owner answers the texts through the display record.
  wchar_t text[32] = {};
  ListView_GetItemText(list.Window(), 3, 1, text, 32);
  EXPECT_STREQ(text, L"r3 c1");

  // A cell's rectangle and the hit test agree; below the last row is no cell.
  RECT cell = {};
  ASSERT_TRUE(list.CellRect(2, 1, cell));
  int32_t row = -1;
  int32_t column = -1;
  EXPECT_TRUE(list.CellAt({(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2}, row, column));
  EXPECT_EQ(row, 2);
  EXPECT_EQ(column, 1);
  RECT label = {};
  ASSERT_TRUE(list.LabelRect(4, label));
  EXPECT_FALSE(list.CellAt({label.left + 2, label.bottom + 30}, row, column));
  EXPECT_FALSE(list.LabelRect(5, label));

  // The user clicks the second column's header.
  HWND header = ListView_GetHeader(list.Window());
  RECT second = {};
  ASSERT_TRUE(Header_GetItemRect(header, 1, &second));
  const LPARAM point = MAKELPARAM((second.left + second.right) / 2, (second.top + second.bottom) / 2);
  PostMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, point);
  PostMessageW(header, WM_LBUTTONUP, 0, point);
  Settle();
  EXPECT_EQ(dialog_->clickedColumn, 1);
}

}  // namespace
