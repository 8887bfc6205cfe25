// The table's editing paths, the tab strip's rename editor and the frame
// lines on real controls of a small dialog, driven by the messages a user's
// clicks and keys produce, with a recording stand-in for the plug-in.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/ui_pump.h"
#include "shell/frame_lines.h"
#include "shell/tab_rename.h"
#include "shell/table_edit.h"
#include "support/painted_pixels.h"

namespace {

constexpr int kTabs = 305;
constexpr int kTable = 306;
constexpr int kTxLine = 316;
constexpr int kRxLine = 317;

struct Event {
  ViewEventKind kind;
  uint64_t arg;
  std::wstring text;
  bool operator==(const Event& other) const {
    return kind == other.kind && arg == other.arg && text == other.text;
  }
};

void PrintTo(const Event& event, std::ostream* out) {
  *out << "{" << static_cast<int>(event.kind) << ", 0x" << std::hex << event.arg << ", \"";
  for (wchar_t unit : event.text) *out << static_cast<char>(unit);
  *out << "\"}";
}

constexpr uint64_t kShell = kCellEditFromDoubleClick;
constexpr ViewEventKind kBegin = ViewEventKind::BeginCellEdit;
constexpr ViewEventKind kEditor = ViewEventKind::GetCellEditor;
constexpr ViewEventKind kEnd = ViewEventKind::EndCellEdit;

// The dialog and the plug-in stand-in in one: cell texts, answers to the
// edit events, and the RX line's colour as the shell gives it.
class PartsDialog : public ui::Dialog, public CellEventSink {
 public:
  std::vector<Event> events;
  int tabSelections = 0;
  // Answers, by event: whether BeginCellEdit allows (first and second
  // call), the editor mode and its initial text.
  int64_t allowFirst = 1;
  int64_t allowSecond = 1;
  int64_t editorMode = kCellEditHexMask;
  std::u16string editorText = u"0x12AB";

  TableEditing table;
  TabStrip tabs;
  FrameLines frames;

  int64_t DeliverCellEvent(ViewEvent& event) override {
    events.push_back({event.kind, event.arg, event.text ? reinterpret_cast<const wchar_t*>(event.text) : L""});
    if (event.kind == kBegin) {
      int begins = 0;
      for (const Event& e : events) begins += e.kind == kBegin;
      return begins % 2 == 1 || !(event.arg & kShell) ? allowFirst : allowSecond;
    }
    if (event.kind == kEditor) {
      for (size_t i = 0; i <= editorText.size() && i < event.capacity; ++i) event.buffer[i] = editorText.c_str()[i];
      return editorMode;
    }
    return 0;
  }

 protected:
  void Dispatch(ui::Message& message) override {
    if (message.message == WM_INITDIALOG) {
      static const int32_t kPage[] = {kTable, kTxLine, kRxLine};
      table.Attach(GetDlgItem(message.window, kTable), *this);
      tabs.Attach(GetDlgItem(message.window, kTabs), kPage, 3);
      frames.Attach(message.window, GetDlgItem(message.window, kTxLine), GetDlgItem(message.window, kRxLine));
      message.result = FALSE;
      message.handled = true;
    } else if (message.message == WM_NOTIFY) {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(message.lParam);
      if (header->idFrom == kTabs && header->code == TCN_SELCHANGE) ++tabSelections;
      if (header->idFrom != kTable) return;
      if (header->code == LVN_GETDISPINFOW) {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(message.lParam)->item;
        if (item.mask & LVIF_TEXT) {
          swprintf(item.pszText, item.cchTextMax, L"r%d c%d", item.iItem, item.iSubItem);
        }
        message.handled = true;
        return;
      }
      table.Notify(message);
    } else if (message.message == WM_CTLCOLORSTATIC) {
      HDC dc = reinterpret_cast<HDC>(message.wParam);
      bool error = GetDlgCtrlID(reinterpret_cast<HWND>(message.lParam)) == kRxLine && frames.RxError();
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, error ? RGB(204, 0, 0) : RGB(0, 0, 0));
      message.result = reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
      message.handled = true;
    } else if (message.message == WM_CONTEXTMENU) {
      message.handled = frames.ContextMenu(reinterpret_cast<HWND>(message.wParam), message.lParam) != 0;
    }
  }
};

class MainViewPartsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dialog_ = new PartsDialog;
    window_ = uitest::OpenActiveDialog(dialog_, 200);
    if (!window_) return;
    HWND table = Control(kTable);
    for (int i = 0; i < 2; ++i) {
      LVCOLUMNW column = {};
      column.mask = LVCF_WIDTH | LVCF_TEXT;
      column.cx = 110;
      column.pszText = const_cast<wchar_t*>(i == 0 ? L"Name" : L"Value");
      SendMessageW(table, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    SendMessageW(table, LVM_SETITEMCOUNT, 10, 0);
    SendMessageW(table, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  }
  static void TearDownTestSuite() { uitest::CloseSuiteDialog(&window_, &dialog_); }
  void SetUp() override {
    ASSERT_NE(window_, nullptr);
    dialog_->events.clear();
    dialog_->allowFirst = 1;
    dialog_->allowSecond = 1;
    dialog_->editorMode = kCellEditHexMask;
    dialog_->editorText = u"0x12AB";
    SetFocus(Control(1005));
  }

  static HWND Control(int id) { return GetDlgItem(window_, id); }
  static std::wstring Text(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
  }
  static RECT CellRect(int row, int column) {
    RECT rect = {};
    rect.top = column;
    rect.left = column == 0 ? LVIR_LABEL : LVIR_BOUNDS;  // bounds of column 0 are the whole row
    SendMessageW(Control(kTable), LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
    return rect;
  }
  static void DoubleClick(int row, int column) {
    RECT cell = CellRect(row, column);
    LPARAM point = MAKELPARAM((cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2);
    SendMessageW(Control(kTable), WM_LBUTTONDBLCLK, MK_LBUTTON, point);
    SendMessageW(Control(kTable), WM_LBUTTONUP, 0, point);
  }
  static HWND TableEdit() { return reinterpret_cast<HWND>(SendMessageW(Control(kTable), LVM_GETEDITCONTROL, 0, 0)); }
  static void Key(HWND window, UINT key) {
    SendMessageW(window, WM_KEYDOWN, key, 1);
    uitest::PumpFor(20);
  }
  static void Type(HWND window, const wchar_t* keys) {
    for (; *keys; ++keys) SendMessageW(window, WM_CHAR, *keys, 1);
  }

  static PartsDialog* dialog_;
  static HWND window_;
};

PartsDialog* MainViewPartsTest::dialog_ = nullptr;
HWND MainViewPartsTest::window_ = nullptr;

TEST_F(MainViewPartsTest, RefusalsAndEscapeCancelAndColumnZeroHasNoShellEditor) {
  // Refused before the editor is asked for.
  dialog_->allowFirst = 0;
  DoubleClick(1, 1);
  EXPECT_EQ(dialog_->events, (std::vector<Event>{{kBegin, 1 | kShell, L""}}));
  EXPECT_EQ(TableEdit(), nullptr);

  // Refused when the list view asks again: no editor, no end event.
  dialog_->events.clear();
  dialog_->allowFirst = 1;
  dialog_->allowSecond = 0;
  DoubleClick(1, 1);
  EXPECT_EQ(dialog_->events.size(), 3u);
  EXPECT_EQ(TableEdit(), nullptr);
  EXPECT_EQ(dialog_->table.Row(), -1);

  // Column 0: no shell editor.
  dialog_->events.clear();
  DoubleClick(1, 0);
  for (const Event& event : dialog_->events) EXPECT_NE(event.kind, kEditor);
  if (HWND edit = TableEdit()) Key(edit, VK_ESCAPE);

  // Escape ends a shell edit without a text.
  dialog_->events.clear();
  dialog_->allowSecond = 1;
  dialog_->editorMode = kCellEditUnsigned;
  dialog_->editorText = u"42";
  DoubleClick(3, 1);
  HWND edit = TableEdit();
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(SendMessageW(edit, EM_GETLIMITTEXT, 0, 0), 5);
  EXPECT_TRUE(dialog_->table.StartedByShell());
  EXPECT_TRUE(dialog_->table.InProgress());
  Key(edit, VK_ESCAPE);
  EXPECT_EQ(dialog_->events.size(), 3u);
  EXPECT_EQ(dialog_->table.Row(), -1);
  EXPECT_FALSE(dialog_->table.StartedByShell());
  EXPECT_FALSE(dialog_->table.InProgress());

  // The list view's own label edit, refused.
  dialog_->events.clear();
  dialog_->allowFirst = 0;
  SetFocus(Control(kTable));
  EXPECT_EQ(SendMessageW(Control(kTable), LVM_EDITLABELW, 4, 0), 0);
  EXPECT_EQ(TableEdit(), nullptr);
  EXPECT_EQ(dialog_->events, (std::vector<Event>{{kBegin, 4, L""}}));
}

TEST_F(MainViewPartsTest, RenameEditorCommitsOnceAndFollowsItsTab) {
  HWND tabs = Control(kTabs);
  SendMessageW(tabs, TCM_DELETEALLITEMS, 0, 0);
  const wchar_t* titles[] = {L"One", L"Two", L"Three"};
  for (int i = 0; i < 3; ++i) {
    TCITEMW item = {};
    item.mask = TCIF_TEXT | TCIF_PARAM;
    item.pszText = const_cast<wchar_t*>(titles[i]);
    item.lParam = 11 * (i + 1);
    SendMessageW(tabs, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
  }
  auto title = [&](int index) {
    wchar_t text[64] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 64;
    SendMessageW(tabs, TCM_GETITEMW, index, reinterpret_cast<LPARAM>(&item));
    return std::wstring(text);
  };
  auto rightClick = [&](int index) {
    RECT rect = {};
    SendMessageW(tabs, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect));
    LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    SendMessageW(tabs, WM_RBUTTONDOWN, MK_RBUTTON, point);
    SendMessageW(tabs, WM_RBUTTONUP, 0, point);
    return rect;
  };

  int selections = dialog_->tabSelections;
  rightClick(1);
  HWND edit = dialog_->tabs.Editor();
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(SendMessageW(tabs, TCM_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(dialog_->tabSelections, selections + 1);
  EXPECT_EQ(Text(edit), L"Two");
  EXPECT_EQ(GetFocus(), edit);
  EXPECT_EQ(SendMessageW(edit, WM_GETDLGCODE, 0, 0) & DLGC_WANTALLKEYS, DLGC_WANTALLKEYS);
  Type(edit, L"Renamed");
  Key(edit, VK_RETURN);  // destroying the focused editor commits again: once is all
  EXPECT_EQ(title(1), L"Renamed");
  EXPECT_EQ(dialog_->tabs.Editor(), nullptr);
  EXPECT_EQ(dialog_->tabs.RenamingIndex(), -1);

  // Focus loss commits.
  rightClick(0);
  Type(dialog_->tabs.Editor(), L"Lost");
  SetFocus(Control(1005));
  EXPECT_EQ(title(0), L"Lost");
  EXPECT_EQ(dialog_->tabs.Editor(), nullptr);

  // A tab before the edited one goes away: the commit follows its tab.
  rightClick(2);
  Type(dialog_->tabs.Editor(), L"Followed");
  SendMessageW(tabs, TCM_DELETEITEM, 0, 0);
  Key(dialog_->tabs.Editor(), VK_RETURN);
  EXPECT_EQ(title(0), L"Renamed");
  EXPECT_EQ(title(1), L"Followed");
  // The edited tab itself goes away: the commit lands nowhere.
  rightClick(1);
  Type(dialog_->tabs.Editor(), L"Orphan");
  SendMessageW(tabs, TCM_DELETEITEM, 1, 0);
  Key(dialog_->tabs.Editor(), VK_RETURN);
  EXPECT_EQ(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0), 1);
  EXPECT_EQ(title(0), L"Renamed");
}

int ErrorPixels(HWND line) { return painted::CountColour(line, RGB(204, 0, 0)); }

TEST_F(MainViewPartsTest, FrameLinesShowCopyAndColourTheirTexts) {
  HWND rx = Control(kRxLine);
  std::vector<uint8_t> frame(300, 0xAB);
  HostCommand command = {};
  command.kind = HostCommandKind::ShowRxText;
  command.text = u"RX: Timeout";
  command.index = 1;
  dialog_->frames.Command(command);
  EXPECT_EQ(Text(rx), L"RX: Timeout");
  EXPECT_TRUE(dialog_->frames.RxError());
  RECT dirty = {};
  EXPECT_TRUE(GetUpdateRect(rx, &dirty, FALSE));  // the colour change repaints
  EXPECT_GT(ErrorPixels(rx), 0);

  command = {};
  command.kind = HostCommandKind::ShowRxFrame;
  command.data = frame.data();
  command.length = static_cast<uint32_t>(frame.size());
  dialog_->frames.Command(command);  // pending: the throttle runs
  EXPECT_EQ(Text(rx), L"RX: Timeout");
  // A right click on the line applies what is pending and copies it: the
  // line is cut, the copy carries the whole frame.
  RECT rect = {};
  GetWindowRect(rx, &rect);
  SendMessageW(window_, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(rx), MAKELPARAM(rect.left + 2, rect.top + 2));
  std::wstring shown = Text(rx);
  EXPECT_EQ(shown.size(), 4u + 256 * 3 - 1 + 2);
  EXPECT_EQ(shown.substr(shown.size() - 4), L"AB \u2026");
  EXPECT_FALSE(dialog_->frames.RxError());
  ASSERT_TRUE(OpenClipboard(window_));
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  ASSERT_NE(data, nullptr);
  std::wstring whole = L"RX:";
  for (size_t i = 0; i < frame.size(); ++i) whole += L" AB";
  EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(GlobalLock(data))), whole);
  GlobalUnlock(data);
  CloseClipboard();
  EXPECT_EQ(ErrorPixels(rx), 0);

  // A null text is "RX: -"; detach drops what is pending.
  dialog_->frames.Drop();
  command = {};
  command.kind = HostCommandKind::ShowRxText;
  dialog_->frames.Command(command);
  EXPECT_EQ(Text(rx), L"RX: -");
  command.text = u"RX: dropped";
  dialog_->frames.Command(command);
  dialog_->frames.Drop();
  uitest::PumpFor(250);
  EXPECT_EQ(Text(rx), L"RX: -");
}

}  // namespace
