// What a new user reads in velmora.exe is not cut while the window has
// room: the chosen function or area in the closed drop-down, every tip, a
// tab title of the longest length in the rename editor and the late-answer
// delay of the fault slave. Measured as the program shows them: each text's
// extent in the control's font against the control's rectangle, at 96 and
// at 144 DPI, at the window's first size and widened. The program runs with
// the TCP master, slave and fault slave of the distribution.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "server/fault_page_ids.h"
#include "support/velmora_session.h"

namespace {

using namespace uiauto;

// The prefix's display DPI for one start of the program: the program reads
// LogPixels when it starts, so the value is put back at once (CTest runs
// this program alone).
class StartAtDpi {
 public:
  StartAtDpi(DWORD dpi, Shell& shell, const Scratch& scratch) {
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                    nullptr, &key_, nullptr);
    DWORD size = sizeof(previous_);
    had_ = RegQueryValueExW(key_, L"LogPixels", nullptr, &type_, reinterpret_cast<BYTE*>(&previous_), &size) ==
           ERROR_SUCCESS;
    RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof(dpi));
    shell.Start(scratch);
  }
  ~StartAtDpi() {
    if (had_) {
      RegSetValueExW(key_, L"LogPixels", 0, type_, reinterpret_cast<const BYTE*>(&previous_), sizeof(previous_));
    } else {
      RegDeleteValueW(key_, L"LogPixels");
    }
    RegCloseKey(key_);
  }

 private:
  HKEY key_ = nullptr;
  DWORD previous_ = 0, type_ = 0;
  bool had_ = false;
};

// The dialogs' font ("Segoe UI" 9 pt) at a DPI, measured in this process:
// the program's font is its own, so the same face and size are made here.
class DialogFont {
 public:
  explicit DialogFont(int dpi)
      : dc_(GetDC(nullptr)),
        font_(CreateFontW(-MulDiv(9, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                          L"Segoe UI")),
        previous_(SelectObject(dc_, font_)) {}
  ~DialogFont() {
    SelectObject(dc_, previous_);
    DeleteObject(font_);
    ReleaseDC(nullptr, dc_);
  }
  int Width(const std::wstring& text) const {
    SIZE extent = {};
    GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &extent);
    return extent.cx;
  }
  // The height the text takes when it wraps at width.
  int WrappedHeight(const std::wstring& text, int width) const {
    RECT box = {0, 0, width, 0};
    DrawTextW(dc_, text.c_str(), static_cast<int>(text.size()), &box, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    return box.bottom;
  }

 private:
  HDC dc_;
  HFONT font_;
  HGDIOBJ previous_;
};

// The closed drop-down's text area, read through a record in its process.
RECT ComboTextArea(HWND combo) {
  RemoteBuffer remote(combo, sizeof(COMBOBOXINFO));
  COMBOBOXINFO info = {};
  info.cbSize = sizeof(info);
  if (!remote.Valid() || !remote.Write(0, &info, sizeof(info))) return RECT{};
  if (SendInt(combo, CB_GETCOMBOBOXINFO, 0, reinterpret_cast<LPARAM>(remote.Address()))) remote.Read(0, &info, sizeof(info));
  return info.rcItem;
}

int ClientWidth(HWND control) {
  RECT client = {};
  GetClientRect(control, &client);
  return client.right;
}

void Widen(HWND window, int pixels) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  SetWindowPos(window, nullptr, 0, 0, rect.right - rect.left + pixels, rect.bottom - rect.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Every choice of the side panel's drop-down shows whole when chosen, and
// every tip of the plug-in shows whole on the tip line (a click shows the
// next one; there are eight).
void ExpectPanelAndTipsWhole(Shell& shell, const DialogFont& font, const char* where) {
  SCOPED_TRACE(where);
  HWND combo = shell.Item(IDC_CHOICES);
  const RECT area = ComboTextArea(combo);
  ASSERT_GT(area.right, area.left);
  for (const std::wstring& choice : ChoiceTexts(combo)) {
    EXPECT_LE(font.Width(choice), area.right - area.left) << "cut in the closed drop-down: " << choice.c_str();
  }
  HWND tip = shell.Item(IDC_TIP_LINE);
  RECT tipClient = {};
  GetClientRect(tip, &tipClient);
  for (int i = 0; i < 8; ++i) {
    const std::wstring text = shell.Text(IDC_TIP_LINE);
    EXPECT_LE(font.WrappedHeight(text, tipClient.right), tipClient.bottom) << "tip cut: " << text.c_str();
    ClickStatic(tip);
    shell.Settle();
  }
}

struct DpiCase {
  int dpi;
  const wchar_t* shot;
};

const DpiCase kDpiCases[] = {{96, L"texts_fit_96dpi.png"}, {144, L"texts_fit_144dpi.png"}};

TEST(TextsFit, SidePanelTipsRenameEditorAndDelayField) {
  for (const DpiCase& c : kDpiCases) {
    SCOPED_TRACE(c.dpi);
    Scratch scratch({});
    ASSERT_TRUE(scratch.AddDistPlugins({L"streamhdr_client", L"streamhdr_server", L"streamhdr_fault_server"}));
    Shell shell;
    {
      StartAtDpi at(static_cast<DWORD>(c.dpi), shell, scratch);
    }
    ASSERT_NE(shell.main, nullptr);
    DPI_AWARENESS_CONTEXT old = SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    const DialogFont font(c.dpi);

    shell.Setup("0");  // the master
    ExpectPanelAndTipsWhole(shell, font, "master, first size");
    EXPECT_TRUE(SavePng(Capture(shell.main), ArtefactPath(c.shot)));

    // The rename editor holds a title of the longest length whole.
    HWND tabs = shell.Item(IDC_TABS);
    const RECT item = RemoteRect(tabs, TCM_GETITEMRECT, 0, RECT{});
    PostMessageW(tabs, WM_RBUTTONDOWN, MK_RBUTTON, Centre(item));
    PostMessageW(tabs, WM_RBUTTONUP, 0, Centre(item));
    shell.Settle();
    HWND edit = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (edit = FindWindowExW(tabs, nullptr, L"Edit", nullptr)) != nullptr; }));
    const std::wstring longest(31, L'W');
    Type(edit, longest);
    shell.Settle();
    EXPECT_EQ(Text(edit), longest);
    EXPECT_EQ(SendInt(edit, EM_GETFIRSTVISIBLELINE), 0) << "the title scrolled in its editor";
    EXPECT_LE(static_cast<short>(LOWORD(SendInt(edit, EM_POSFROMCHAR, longest.size()))), ClientWidth(edit));
    EXPECT_TRUE(SavePng(Capture(shell.main), ArtefactPath(c.dpi == 96 ? L"rename_editor_96dpi.png"
                                                                      : L"rename_editor_144dpi.png")));
    Key(edit, VK_ESCAPE);
    shell.Settle();

    Widen(shell.main, c.dpi * 3);
    shell.Settle();
    ExpectPanelAndTipsWhole(shell, font, "master, widened");
    Widen(shell.main, -c.dpi * 3);
    shell.Settle();

    shell.Setup("1");  // the slave: the areas
    ExpectPanelAndTipsWhole(shell, font, "slave, first size");

    // The fault slave's late answer: the number fits its field, and the
    // unit is said once, by the label beside it.
    HWND dialog = OpenSetup(shell.app, shell.main);
    ASSERT_NE(dialog, nullptr);
    PickChoice(GetDlgItem(dialog, IDC_PLUGIN_LIST), 2);
    HWND delay = nullptr;
    ASSERT_TRUE(WaitFor([&] {
      EnumChildWindows(
          dialog,
          [](HWND window, LPARAM found) -> BOOL {
            if (GetDlgCtrlID(window) != IDC_FAULT_DELAY) return TRUE;
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
          },
          reinterpret_cast<LPARAM>(&delay));
      return delay != nullptr && Text(delay) != L"";
    })) << "the fault slave's page did not appear";
    EXPECT_EQ(Text(delay), L"1000");
    TypeOver(delay, L"10000");
    shell.Settle();
    EXPECT_EQ(Text(delay), L"10000");
    RECT field = {};
    // Wine carries EM_GETRECT's rectangle back to the asking process.
    SendMessageW(delay, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&field));
    EXPECT_LE(font.Width(Text(delay)), field.right - field.left) << "the delay is cut in its field";
    EXPECT_TRUE(SavePng(Capture(dialog), ArtefactPath(c.dpi == 96 ? L"fault_delay_96dpi.png" : L"fault_delay_144dpi.png")));
    ASSERT_TRUE(AnswerSetup(dialog, "cancel"));

    SetThreadDpiAwarenessContext(old);
    PostMessageW(shell.main, WM_CLOSE, 0, 0);
    EXPECT_EQ(shell.app.WaitExit(), 0u);
  }
}

}  // namespace
