#pragma once
// Drives velmora.exe's connection setup dialog from a test, as a user does.
#include <windows.h>

#include <string>

#include "shell/resources/resource_ids.h"
#include "support/ui_automation.h"

namespace uiauto {

// The process's dialog window with exactly this caption, shown or not yet.
inline HWND FindDialog(const App& app, const std::wstring& caption) {
  return FindProcessDialog(app.ProcessId(), caption, true, false, nullptr);
}

// Clicks the main window's setup button and waits for the connection setup
// dialog. Once the dialog is on screen it shows the diagnostics box, when
// there is one: the box is read into box, counted in boxes and closed. The
// settled marker proves the dialog has reached the report: the box then
// exists, though it may not be shown yet. Null when the dialog did not
// appear.
inline HWND OpenSetup(const App& app, HWND main, BoxText* box = nullptr, int* boxes = nullptr) {
  Click(GetDlgItem(main, IDC_SETUP_BUTTON));
  HWND dialog = app.MainWindow(L"Connection Setup");
  if (!dialog || !Settle(GetDlgItem(main, IDC_DOCUMENT))) return nullptr;
  HWND report = FindDialog(app, L"Plugin diagnostics");
  if (!report) return dialog;
  if (!WaitFor([&] { return IsWindowVisible(report) != 0; })) return nullptr;
  if (box) {
    box->caption = L"Plugin diagnostics";
    box->text = Text(GetDlgItem(report, 0xFFFF));
  }
  if (boxes) ++*boxes;
  PostMessageW(report, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  if (!WaitFor([&] { return !IsWindow(report); })) return nullptr;
  return dialog;
}

// The plug-in's settings page inside the dialog (the dialog's child
// dialog), or null while there is none.
inline HWND SettingsPage(HWND dialog) {
  HWND found = nullptr;
  EnumChildWindows(
      dialog,
      [](HWND window, LPARAM result) -> BOOL {
        wchar_t className[64] = {};
        GetClassNameW(window, className, 64);
        if (std::wstring(className) != L"#32770") return TRUE;
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Picks entry index in the dialog's list and waits for that plug-in's page,
// known by the text of its control id starting with textPrefix; null when
// the page does not appear.
inline HWND PickSettingsPage(HWND dialog, int index, int id, const std::wstring& textPrefix) {
  PickChoice(GetDlgItem(dialog, IDC_PLUGIN_LIST), index);
  HWND page = nullptr;
  bool shown = WaitFor([&] {
    page = SettingsPage(dialog);
    return page && Text(GetDlgItem(page, id)).compare(0, textPrefix.size(), textPrefix) == 0;
  });
  return shown ? page : nullptr;
}

// Picks entry index in the dialog's list and confirms with OK, or cancels
// with answer "cancel"; waits until the dialog is gone.
inline bool AnswerSetup(HWND dialog, const std::string& answer) {
  if (answer == "cancel") {
    Click(GetDlgItem(dialog, IDCANCEL));
  } else {
    PickChoice(GetDlgItem(dialog, IDC_PLUGIN_LIST), std::stoi(answer));
    Click(GetDlgItem(dialog, IDOK));
  }
  return WaitFor([&] { return !IsWindow(dialog); });
}

}  // namespace uiauto
