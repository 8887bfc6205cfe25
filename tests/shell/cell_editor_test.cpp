// The cell editor on a real edit control, one table of cases: the mode, the
// initial text and selection, the keys a user presses (or the clipboard
// text pasted) and what the edit shows afterwards.
#include "shell/cell_editor.h"

#include <gtest/gtest.h>

#include <string>

#include "common/ui/refusal_beep.h"
#include "common/ui_pump.h"

namespace {

int g_beeps = 0;
void CountBeep() { ++g_beeps; }

// Key script: ordinary characters are typed (WM_CHAR, so "\b" is Backspace
// and "\x16" and "\x18" are Ctrl+V and Ctrl+X); these stand for key presses
// (in the table as \u2190 Left, \u2192 Right, \u2326 Delete, \u232B
// Shift+Delete, \u2380 Shift+Insert).
constexpr wchar_t kLeft = L'\u2190';
constexpr wchar_t kRight = L'\u2192';
constexpr wchar_t kDelete = L'\u2326';
constexpr wchar_t kShiftDelete = L'\u232B';  // the edit's own cut shortcut
constexpr wchar_t kShiftInsert = L'\u2380';  // the edit's own paste shortcut

constexpr const wchar_t* kNoClipboardText = L"\x01";  // clipboard emptied

struct Case {
  const char* what;
  uint32_t mode;
  const wchar_t* initial;
  int selStart, selEnd;  // -1 as end: to the end of the text
  const wchar_t* clipboard;  // null: left alone
  const wchar_t* keys;
  const wchar_t* text;  // expected
  int caretStart, caretEnd;
  int beeps;
  const wchar_t* clipboardAfter;  // null: not checked
};

const Case kCases[] = {
    // Hexadecimal mask.
    {"f over the first digit", 3, L"0x12AB", 2, 2, nullptr, L"f", L"0xF2AB", 3, 3, 0, nullptr},
    {"opening selects all: typing zeroes it and writes the first digit", 3, L"0x12ab", 0, -1, nullptr, L"5",
     L"0x5000", 3, 3, 0, nullptr},
    {"a selection's start is the caret's digit", 3, L"0x12AB", 3, 5, nullptr, L"c", L"0x1C0B", 4, 4, 0, nullptr},
    {"after the last digit typing beeps", 3, L"0x12AB", 6, 6, nullptr, L"7", L"0x12AB", 6, 6, 1, nullptr},
    {"a letter beyond F beeps", 3, L"0x12AB", 2, 2, nullptr, L"g", L"0x12AB", 2, 2, 1, nullptr},
    {"Backspace on the first digit does nothing", 3, L"0x12AB", 2, 2, nullptr, L"\b", L"0x12AB", 2, 2, 0, nullptr},
    {"Backspace before the prefix does nothing", 3, L"0x12AB", 0, 0, nullptr, L"\b", L"0x12AB", 0, 0, 0, nullptr},
    {"Backspace zeroes the digit before", 3, L"0x12AB", 4, 4, nullptr, L"\b", L"0x10AB", 3, 3, 0, nullptr},
    {"Backspace zeroes a selection", 3, L"0x12AB", 1, 5, nullptr, L"\b", L"0x000B", 2, 2, 0, nullptr},
    {"Delete zeroes the digit at the caret", 3, L"0x12AB", 3, 3, nullptr, L"\u2326", L"0x10AB", 3, 3, 0,
     nullptr},
    {"Delete at the end does nothing", 3, L"0x12AB", 6, 6, nullptr, L"\u2326", L"0x12AB", 6, 6, 0, nullptr},
    {"Left stops at the first digit", 3, L"0x12AB", 3, 3, nullptr, L"\u2190\u2190\u2190", L"0x12AB", 2, 2, 0,
     nullptr},
    {"Right goes to the end after the last digit", 3, L"0x12AB", 4, 4, nullptr, L"\u2192\u2192\u2192",
     L"0x12AB", 6, 6, 0, nullptr},
    {"Right collapses a selection from its start", 3, L"0x12AB", 3, 5, nullptr, L"\u2192", L"0x12AB", 4, 4, 0,
     nullptr},
    {"typing walks the digits", 3, L"0x0000", 0, 0, nullptr, L"beef", L"0xBEEF", 6, 6, 0, nullptr},
    {"a pasted 0x00ff", 3, L"0x12AB", 2, 2, L"0x00ff", L"\x16", L"0x00FF", 6, 6, 0, nullptr},
    {"a paste stops when the digits are full", 3, L"0x0000", 4, 4, L"abc", L"\x16", L"0x00AB", 6, 6, 0, nullptr},
    {"a paste skips blanks before 0X and other characters", 3, L"0xFFFF", 2, 2, L" 0X1-2", L"\x16", L"0x12FF", 4, 4,
     0, nullptr},
    {"a paste into a selection zeroes it first", 3, L"0x12AB", 0, -1, L"5", L"\x16", L"0x5000", 3, 3, 0, nullptr},
    {"a paste without digits beeps and keeps the selection", 3, L"0x12AB", 0, -1, L"xyz", L"\x16", L"0x12AB", 0, 6,
     1, nullptr},
    {"a paste with no text on the clipboard beeps", 3, L"0x12AB", 2, 2, kNoClipboardText, L"\x16", L"0x12AB", 2, 2,
     1, nullptr},
    {"cut copies the selection and zeroes it", 3, L"0x12AB", 3, 5, L"-", L"\x18", L"0x100B", 3, 3, 0, L"2A"},
    {"Shift+Delete cuts through the same rule", 3, L"0x12AB", 3, 5, L"-", L"\u232B", L"0x100B", 3, 3, 0,
     L"2A"},
    {"Shift+Insert pastes through the same rule", 3, L"0x0000", 2, 2, L"7", L"\u2380", L"0x7000", 3, 3, 0,
     nullptr},
    {"a short or broken initial text reads as zeros", 3, L"0x1", 6, 6, nullptr, L"", L"0x1000", 6, 6, 0, nullptr},
    // Binary mask.
    {"Right from 3 skips the space to 5", 4, L"0000 0000 0000 0000", 3, 3, nullptr, L"\u2192",
     L"0000 0000 0000 0000", 5, 5, 0, nullptr},
    {"Left from 5 skips the space to 3", 4, L"0000 0000 0000 0000", 5, 5, nullptr, L"\u2190",
     L"0000 0000 0000 0000", 3, 3, 0, nullptr},
    {"a digit on a space goes to the next group", 4, L"0000 0000 0000 0000", 4, 4, nullptr, L"1",
     L"0000 1000 0000 0000", 6, 6, 0, nullptr},
    {"the caret skips the space after a group", 4, L"0000 0000 0000 0000", 3, 3, nullptr, L"1",
     L"0001 0000 0000 0000", 5, 5, 0, nullptr},
    {"a 2 beeps", 4, L"0000 0000 0000 0000", 0, 0, nullptr, L"2", L"0000 0000 0000 0000", 0, 0, 1, nullptr},
    {"after the last digit typing beeps", 4, L"0000 0000 0000 0000", 19, 19, nullptr, L"1", L"0000 0000 0000 0000",
     19, 19, 1, nullptr},
    {"Backspace after a group lands before the space", 4, L"1111 1111 1111 1111", 5, 5, nullptr, L"\b",
     L"1110 1111 1111 1111", 3, 3, 0, nullptr},
    {"Right from the last digit goes to the end", 4, L"0000 0000 0000 0000", 18, 18, nullptr, L"\u2192",
     L"0000 0000 0000 0000", 19, 19, 0, nullptr},
    {"a paste skips what is no binary digit", 4, L"0000 0000 0000 0000", 0, 0, L"1 0 1 x 1 2", L"\x16",
     L"1011 0000 0000 0000", 5, 5, 0, nullptr},
    {"a long paste stops at the end", 4, L"0000 0000 0000 0000", 15, 15, L"111111111", L"\x16",
     L"0000 0000 0000 1111", 19, 19, 0, nullptr},
    {"a missing group reads as zeros", 4, L"1111 11", 0, 0, nullptr, L"", L"1111 1100 0000 0000", 0, 0, 0,
     nullptr},
    // Unsigned decimal.
    {"letters and signs beep", 1, L"", 0, 0, nullptr, L"1a-2", L"12", 2, 2, 2, nullptr},
    {"a paste with a letter restores text and selection", 1, L"34", 0, -1, L"1a", L"\x16", L"34", 0, 2, 1, nullptr},
    {"a paste of digits is kept", 1, L"12", 2, 2, L"789", L"\x16", L"12789", 5, 5, 0, nullptr},
    {"a cut of digits is kept", 1, L"123", 1, 2, L"-", L"\x18", L"13", 1, 1, 0, L"2"},
    // Signed decimal.
    {"a minus at position 1 beeps", 2, L"12", 1, 1, nullptr, L"-", L"12", 1, 1, 1, nullptr},
    {"a minus over the whole text is taken", 2, L"12", 0, -1, nullptr, L"-", L"-", 1, 1, 0, nullptr},
    {"a second minus in front beeps", 2, L"-12", 0, 0, nullptr, L"-", L"-12", 0, 0, 1, nullptr},
    {"a minus over the minus is taken", 2, L"-12", 0, 1, nullptr, L"-", L"-12", 1, 1, 0, nullptr},
    {"a pasted sign in front is kept", 2, L"12", 0, 0, L"-5", L"\x16", L"-512", 2, 2, 0, nullptr},
    {"a pasted sign behind digits is refused", 2, L"12", 2, 2, L"5-", L"\x16", L"12", 2, 2, 1, nullptr},
    {"a second pasted sign is refused", 2, L"-1", 0, 0, L"-", L"\x16", L"-1", 0, 0, 1, nullptr},
    // Free entry: anything typed, but cut and paste are held to the unsigned rule.
    {"anything can be typed", 0, L"", 0, 0, nullptr, L"a-!", L"a-!", 3, 3, 0, nullptr},
    {"a paste is checked as unsigned", 0, L"12", 2, 2, L"x", L"\x16", L"12", 2, 2, 1, nullptr},
    {"a paste of digits is kept", 0, L"12", 2, 2, L"3", L"\x16", L"123", 3, 3, 0, nullptr},
};

class CellEditorTest : public ::testing::Test {
 protected:
  // One host window for the whole suite: destroying a top-level window is
  // slow under Wine without a window manager.
  static void SetUpTestSuite() {
    host_ = CreateWindowExW(0, L"STATIC", L"Cells", WS_POPUP | WS_VISIBLE, 0, 0, 400, 200, nullptr, nullptr,
                            uitest::Self(), nullptr);
  }
  static void TearDownTestSuite() {
    if (host_) DestroyWindow(host_);
    host_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(host_, nullptr);
    edit_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 10, 10, 200, 24,
                            host_, nullptr, uitest::Self(), nullptr);
    ASSERT_NE(edit_, nullptr);
    SetFocus(edit_);
    g_beeps = 0;
    previousHook_ = ui::SetRefusalBeepHook(CountBeep);
  }
  void TearDown() override {
    ui::SetRefusalBeepHook(previousHook_);
    if (edit_) DestroyWindow(edit_);
  }

  std::wstring Text() const {
    wchar_t text[64] = {};
    GetWindowTextW(edit_, text, 64);
    return text;
  }
  std::pair<int, int> Selection() const {
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {static_cast<int>(start), static_cast<int>(end)};
  }
  bool SetClipboard(const wchar_t* text) {
    if (!OpenClipboard(host_)) return false;
    EmptyClipboard();
    bool ok = true;
    if (text != kNoClipboardText) {
      size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
      HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
      memcpy(GlobalLock(memory), text, bytes);
      GlobalUnlock(memory);
      ok = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    }
    CloseClipboard();
    return ok;
  }
  std::wstring Clipboard() {
    std::wstring text;
    if (!OpenClipboard(host_)) return L"(closed)";
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (data) {
      text = static_cast<const wchar_t*>(GlobalLock(data));
      GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
  }
  void PressWithShift(UINT key) {
    BYTE state[256] = {};
    GetKeyboardState(state);
    BYTE saved = state[VK_SHIFT];
    state[VK_SHIFT] = 0x80;
    SetKeyboardState(state);
    SendMessageW(edit_, WM_KEYDOWN, key, 1);
    state[VK_SHIFT] = saved;
    SetKeyboardState(state);
  }
  void Press(const wchar_t* keys) {
    for (; *keys; ++keys) {
      switch (*keys) {
        case kLeft: SendMessageW(edit_, WM_KEYDOWN, VK_LEFT, 1); break;
        case kRight: SendMessageW(edit_, WM_KEYDOWN, VK_RIGHT, 1); break;
        case kDelete: SendMessageW(edit_, WM_KEYDOWN, VK_DELETE, 1); break;
        case kShiftDelete: PressWithShift(VK_DELETE); break;
        case kShiftInsert: PressWithShift(VK_INSERT); break;
        default: SendMessageW(edit_, WM_CHAR, *keys, 1); break;
      }
    }
  }

  static HWND host_;
  HWND edit_ = nullptr;
  ui::BeepHook previousHook_ = nullptr;
};

HWND CellEditorTest::host_ = nullptr;

TEST_F(CellEditorTest, TableOfCases) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    SetWindowTextW(edit_, L"");
    CellEditor editor;
    ASSERT_EQ(editor.Open(edit_, c.mode, reinterpret_cast<const Unit*>(c.initial)), 1);
    EXPECT_EQ(SendMessageW(edit_, EM_GETLIMITTEXT, 0, 0), CellEditLengthLimit(c.mode));
    SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(c.selStart), c.selEnd);
    if (c.clipboard) {
      ASSERT_TRUE(SetClipboard(c.clipboard));
    }
    g_beeps = 0;
    Press(c.keys);
    EXPECT_EQ(Text(), c.text);
    EXPECT_EQ(Selection(), std::make_pair(c.caretStart, c.caretEnd));
    EXPECT_EQ(g_beeps, c.beeps);
    if (c.clipboardAfter) {
      EXPECT_EQ(Clipboard(), c.clipboardAfter);
    }
    editor.Close();
  }
}

TEST_F(CellEditorTest, OpeningSelectsTheWholeMaskAndKeepsTheEditWhereItIsPut) {
  CellEditor editor;
  EXPECT_EQ(editor.Open(edit_, 5, u"1"), 0);  // no such mode
  ASSERT_EQ(editor.Open(edit_, kCellEditBinMask, u"1010"), 1);
  EXPECT_EQ(editor.Open(edit_, kCellEditBinMask, u"1010"), 0);  // already open
  EXPECT_EQ(Text(), L"1010 0000 0000 0000");
  EXPECT_EQ(Selection(), std::make_pair(0, 19));

  RECT column = {120, 40, 260, 62};
  editor.KeepAt(column);
  SetWindowPos(edit_, nullptr, 0, 0, 50, 10, SWP_NOZORDER | SWP_NOACTIVATE);
  MoveWindow(edit_, 3, 3, 20, 20, TRUE);
  RECT now = {};
  GetWindowRect(edit_, &now);
  MapWindowPoints(nullptr, host_, reinterpret_cast<POINT*>(&now), 2);
  EXPECT_EQ(now.left, column.left);
  EXPECT_EQ(now.top, column.top);
  EXPECT_EQ(now.right, column.right);
  EXPECT_EQ(now.bottom, column.bottom);

  // Closed, the edit is an ordinary edit again.
  editor.Close();
  EXPECT_FALSE(editor.Subclassed());
  SendMessageW(edit_, EM_SETSEL, 0, -1);
  SendMessageW(edit_, WM_CHAR, L'x', 1);
  EXPECT_EQ(Text(), L"x");
  MoveWindow(edit_, 3, 3, 20, 20, TRUE);
  GetWindowRect(edit_, &now);
  MapWindowPoints(nullptr, host_, reinterpret_cast<POINT*>(&now), 2);
  EXPECT_EQ(now.left, 3);
}

}  // namespace
