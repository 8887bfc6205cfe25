// Numeric fields on real edit controls, driven by the messages a user's
// typing produces: focus changes, typed characters and clipboard pastes.
#include "common/ui/numeric_field.h"

#include <gtest/gtest.h>

#include <string>

#include "common/ui/refusal_beep.h"
#include "common/ui_pump.h"

namespace {

int g_beeps = 0;
void CountBeep() { ++g_beeps; }

// Records the text an owner reads when a field reports its focus loss.
class FieldsDialog : public ui::Dialog {
 public:
  std::wstring textAtFocusLoss;

 protected:
  void Dispatch(ui::Message& message) override {
    if (message.message == WM_INITDIALOG) {
      message.result = FALSE;
      message.handled = true;
    } else if (message.message == WM_COMMAND && HIWORD(message.wParam) == EN_KILLFOCUS) {
      wchar_t text[64] = {};
      GetWindowTextW(reinterpret_cast<HWND>(message.lParam), text, 64);
      textAtFocusLoss = text;
    }
  }
};

class NumericFieldTest : public ::testing::Test {
 protected:
  // One dialog serves the whole suite: under Wine without a window manager,
  // destroying an active window takes seconds.
  static void SetUpTestSuite() {
    dialog_ = new FieldsDialog;
    window_ = uitest::OpenActiveDialog(dialog_, 101);
  }
  static void TearDownTestSuite() { uitest::CloseSuiteDialog(&window_, &dialog_); }

  void SetUp() override {
    ASSERT_NE(window_, nullptr);
    ASSERT_EQ(GetActiveWindow(), window_);
    Leave();
    for (int i = 0; i < 4; ++i) SetWindowTextW(Edit(i), L"");
    g_beeps = 0;
    previousHook_ = ui::SetRefusalBeepHook(CountBeep);
  }
  void TearDown() override { ui::SetRefusalBeepHook(previousHook_); }


  static HWND Edit(int index) { return GetDlgItem(window_, 1001 + index); }
  static std::wstring Text(HWND edit) {
    wchar_t text[256] = {};
    GetWindowTextW(edit, text, 256);
    return text;
  }
  static void Focus(HWND edit) { SetFocus(edit); }
  static void Leave() { SetFocus(GetDlgItem(window_, 1005)); }
  static void Type(HWND edit, const wchar_t* keys) {
    for (; *keys; ++keys) SendMessageW(edit, WM_CHAR, *keys, 1);
  }
  static void Select(HWND edit, int start, int end) { SendMessageW(edit, EM_SETSEL, start, end); }
  static std::pair<DWORD, DWORD> Selection(HWND edit) {
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {start, end};
  }
  static bool PutOnClipboard(HWND owner, const wchar_t* text) {
    if (!OpenClipboard(owner)) return false;
    EmptyClipboard();
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    memcpy(GlobalLock(memory), text, bytes);
    GlobalUnlock(memory);
    bool ok = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    CloseClipboard();
    return ok;
  }

  static FieldsDialog* dialog_;
  static HWND window_;
  ui::BeepHook previousHook_ = nullptr;
};

FieldsDialog* NumericFieldTest::dialog_ = nullptr;
HWND NumericFieldTest::window_ = nullptr;

TEST_F(NumericFieldTest, RangeAndSuffixClampTypedValuesOnFocusLoss) {
  ui::NumericField field;
  ASSERT_EQ(field.SetMode(kNumericUnsigned), 1);
  ASSERT_EQ(field.SetRange(10000, 50), 1);  // the smaller bound becomes min
  ASSERT_EQ(field.SetSuffix(u" ms"), 1);
  EXPECT_EQ(field.CurrentValue(), 50);  // no window yet: 0 clamped
  HWND edit = Edit(0);
  ASSERT_EQ(field.Attach(edit), 1);
  EXPECT_EQ(Text(edit), L"50 ms");

  Focus(edit);
  EXPECT_TRUE(field.Focused());
  EXPECT_EQ(Text(edit), L"50");
  EXPECT_EQ(Selection(edit), std::make_pair(DWORD{0}, DWORD{2}));
  Type(edit, L"7");
  EXPECT_EQ(Text(edit), L"7");
  Leave();
  EXPECT_FALSE(field.Focused());
  EXPECT_EQ(Text(edit), L"50 ms");
  // The owner already reads the canonical text when told of the focus loss.
  EXPECT_EQ(dialog_->textAtFocusLoss, L"50 ms");

  Focus(edit);
  Type(edit, L"123456");
  EXPECT_EQ(Text(edit), L"123456");
  Leave();
  EXPECT_EQ(Text(edit), L"10000 ms");
  EXPECT_EQ(field.CurrentValue(), 10000);

  // Letters and signs are refused with a beep.
  Focus(edit);
  Type(edit, L"1x-");
  EXPECT_EQ(Text(edit), L"1");
  EXPECT_EQ(g_beeps, 2);
  // Control characters (backspace) pass.
  Type(edit, L"\b");
  EXPECT_EQ(Text(edit), L"");
  Leave();
  EXPECT_EQ(Text(edit), L"50 ms");
}

TEST_F(NumericFieldTest, HexDigitLimitRefusesAFifthDigitUnlessTextIsSelected) {
  ui::NumericField field;
  HWND edit = Edit(1);
  ASSERT_EQ(field.Attach(edit), 1);
  ASSERT_EQ(field.SetMode(kNumericHex), 1);
  ASSERT_EQ(field.SetDigits(4), 1);
  ASSERT_EQ(field.ShowValue(255), 1);
  EXPECT_EQ(Text(edit), L"00FF");

  Focus(edit);
  Select(edit, 4, 4);
  Type(edit, L"A");
  EXPECT_EQ(Text(edit), L"00FF");
  EXPECT_EQ(g_beeps, 1);
  Select(edit, 0, 1);
  Type(edit, L"a");
  EXPECT_EQ(Text(edit), L"a0FF");
  EXPECT_EQ(g_beeps, 1);
  Select(edit, 4, 4);
  Type(edit, L"g");
  EXPECT_EQ(g_beeps, 2);
  Leave();
  EXPECT_EQ(Text(edit), L"A0FF");
  EXPECT_EQ(field.CurrentValue(), 0xA0FF);
}

TEST_F(NumericFieldTest, BinaryIsPaddedToItsDigits) {
  ui::NumericField field;
  HWND edit = Edit(2);
  ASSERT_EQ(field.SetMode(kNumericBinary), 1);
  ASSERT_EQ(field.SetDigits(16), 1);
  ASSERT_EQ(field.Attach(edit), 1);
  ASSERT_EQ(field.ShowValue(5), 1);
  EXPECT_EQ(Text(edit), L"0000000000000101");
  Focus(edit);
  Select(edit, 16, 16);
  Type(edit, L"1");
  EXPECT_EQ(g_beeps, 1);
  Select(edit, 0, 1);
  Type(edit, L"2");  // not a binary digit
  EXPECT_EQ(g_beeps, 2);
}

TEST_F(NumericFieldTest, SignedModeTakesAMinusOnlyInFront) {
  ui::NumericField field;
  HWND edit = Edit(2);
  ASSERT_EQ(field.SetMode(kNumericSigned), 1);
  ASSERT_EQ(field.Attach(edit), 1);
  Focus(edit);
  Type(edit, L"12");
  Select(edit, 1, 1);
  Type(edit, L"-");
  EXPECT_EQ(Text(edit), L"12");
  EXPECT_EQ(g_beeps, 1);
  Select(edit, 0, 0);
  Type(edit, L"-");
  EXPECT_EQ(Text(edit), L"-12");
  Select(edit, 0, 0);
  Type(edit, L"-");
  EXPECT_EQ(Text(edit), L"-12");
  EXPECT_EQ(g_beeps, 2);
  // Replacing the existing sign is allowed.
  Select(edit, 0, 1);
  Type(edit, L"-");
  EXPECT_EQ(Text(edit), L"-12");
  EXPECT_EQ(g_beeps, 2);
  Leave();
  EXPECT_EQ(field.CurrentValue(), -12);
}

TEST_F(NumericFieldTest, PasteKeepsOnlyTheDigits) {
  ui::NumericField field;
  HWND edit = Edit(0);
  ASSERT_EQ(field.SetMode(kNumericUnsigned), 1);
  ASSERT_EQ(field.SetSuffix(u" ms"), 1);
  ASSERT_EQ(field.Attach(edit), 1);
  Focus(edit);
  ASSERT_TRUE(PutOnClipboard(window_, L"1a2b"));
  Select(edit, 0, -1);
  Type(edit, L"\x16");  // Ctrl+V: the edit pastes through WM_PASTE
  EXPECT_EQ(Text(edit), L"12");
  EXPECT_EQ(Selection(edit), std::make_pair(DWORD{2}, DWORD{2}));
  EXPECT_EQ(g_beeps, 0);

  ASSERT_TRUE(PutOnClipboard(window_, L"x9y"));
  SendMessageW(edit, WM_PASTE, 0, 0);
  EXPECT_EQ(Text(edit), L"129");
  Leave();
  EXPECT_EQ(Text(edit), L"129 ms");
}

TEST_F(NumericFieldTest, SuffixIsIgnoredWhileFocused) {
  ui::NumericField field;
  HWND edit = Edit(0);
  ASSERT_EQ(field.SetMode(kNumericUnsigned), 1);
  ASSERT_EQ(field.SetSuffix(u" ms"), 1);
  ASSERT_EQ(field.Attach(edit), 1);
  Focus(edit);
  SetWindowTextW(edit, L"250 ms");
  EXPECT_EQ(field.CurrentValue(), 250);
  Leave();
  EXPECT_EQ(Text(edit), L"250 ms");
}

TEST_F(NumericFieldTest, ModeZeroNeitherFiltersNorReformats) {
  ui::NumericField field;
  HWND edit = Edit(3);
  SetWindowTextW(edit, L"abc");
  ASSERT_EQ(field.SetSuffix(u" ms"), 1);
  ASSERT_EQ(field.Attach(edit), 1);
  EXPECT_EQ(Text(edit), L"abc");
  EXPECT_EQ(field.ShowValue(5), 0);
  Focus(edit);
  EXPECT_EQ(Selection(edit), std::make_pair(DWORD{0}, DWORD{3}));
  Select(edit, 3, 3);
  Type(edit, L"-x!");
  Leave();
  EXPECT_EQ(Text(edit), L"abc-x!");
  EXPECT_EQ(g_beeps, 0);
}

TEST_F(NumericFieldTest, SettingsBeforeAttachApplyAtAttachAndChangesKeepTheValue) {
  ui::NumericField field;
  HWND edit = Edit(1);
  SetWindowTextW(edit, L"ff");
  ASSERT_EQ(field.SetMode(kNumericHex), 1);
  ASSERT_EQ(field.SetDigits(4), 1);
  ASSERT_EQ(field.SetSuffix(u"h"), 1);
  ASSERT_EQ(field.Attach(edit), 1);
  EXPECT_EQ(Text(edit), L"00FFh");

  // The value survives a change of suffix, digits and notation.
  ASSERT_EQ(field.SetSuffix(u" hex"), 1);
  EXPECT_EQ(Text(edit), L"00FF hex");
  ASSERT_EQ(field.SetDigits(2), 1);
  EXPECT_EQ(Text(edit), L"FF hex");
  ASSERT_EQ(field.SetMode(kNumericUnsigned), 1);
  EXPECT_EQ(Text(edit), L"255 hex");
  ASSERT_EQ(field.SetRange(0, 100), 1);
  EXPECT_EQ(Text(edit), L"100 hex");
  ASSERT_EQ(field.ClearRange(), 1);
  EXPECT_EQ(Text(edit), L"100 hex");
  EXPECT_EQ(field.SetMode(5), 0);
  EXPECT_EQ(field.SetDigits(-1), 0);
  // Leaving mode 0 alone: the text is no longer touched.
  ASSERT_EQ(field.SetMode(kNumericNone), 1);
  ASSERT_EQ(field.SetSuffix(u""), 1);
  EXPECT_EQ(Text(edit), L"100 hex");
}

TEST_F(NumericFieldTest, AttachFailsTwiceAndForMissingWindows) {
  ui::NumericField field;
  EXPECT_EQ(field.Attach(nullptr), 0);
  EXPECT_EQ(field.Attach(reinterpret_cast<HWND>(static_cast<intptr_t>(0x7FFFFFF0))), 0);
  ASSERT_EQ(field.Attach(Edit(0)), 1);
  EXPECT_EQ(field.Attach(Edit(1)), 0);
}

TEST_F(NumericFieldTest, FieldOutlivesItsEdit) {
  ui::NumericField field;
  HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_AUTOHSCROLL, 0, 0, 50, 20, window_, nullptr,
                              uitest::Self(), nullptr);
  ASSERT_NE(edit, nullptr);
  ASSERT_EQ(field.SetMode(kNumericUnsigned), 1);
  ASSERT_EQ(field.Attach(edit), 1);
  DestroyWindow(edit);
  EXPECT_EQ(field.Window(), nullptr);
  EXPECT_FALSE(field.Subclassed());
  // Without a window the value reads as 0 clamped, and nothing is shown.
  ASSERT_EQ(field.SetRange(-5, 5), 1);
  EXPECT_EQ(field.CurrentValue(), 0);
  ASSERT_EQ(field.SetRange(7, 9), 1);
  EXPECT_EQ(field.CurrentValue(), 7);
  EXPECT_EQ(field.ShowValue(8), 0);
}

TEST_F(NumericFieldTest, AttachedWhileFocusedShowsNoSuffixUntilFocusIsLost) {
  ui::NumericField field;
  HWND edit = Edit(0);
  SetWindowTextW(edit, L"42");
  Focus(edit);
  ASSERT_EQ(field.SetMode(kNumericUnsigned), 1);
  ASSERT_EQ(field.SetSuffix(u" ms"), 1);
  ASSERT_EQ(field.Attach(edit), 1);
  EXPECT_TRUE(field.Focused());
  EXPECT_EQ(Text(edit), L"42");
  Leave();
  EXPECT_EQ(Text(edit), L"42 ms");
}

}  // namespace
