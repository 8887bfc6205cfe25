#pragma once
// Drives velmora.exe's connection setup dialog from a test, as a user does.
#include <windows.h>

#include <string>

#include "shell/resources/resource_ids.h"
#include "support/ui_automation.h"

namespace uiauto {

// Clicks the main window's setup button and waits for the connection setup
// dialog. The dialog shows the diagnostics box before it appears itself:
// when a box comes first it is read into box, counted in boxes and closed.
// Null when the dialog did not appear.
inline HWND OpenSetup(const App& app, HWND main, BoxText* box = nullptr, int* boxes = nullptr) {
  Click(GetDlgItem(main, IDC_SETUP_BUTTON));
  HWND found = nullptr;
  if (!WaitFor([&] { return (found = app.FindTopLevel(L"", main)) != nullptr; })) return nullptr;
  if (Text(found) == L"Connection Setup") return found;
  BoxText seen;
  if (!DismissMessageBox(app, main, &seen)) return nullptr;
  if (box) *box = seen;
  if (boxes) ++*boxes;
  return app.MainWindow(L"Connection Setup");
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
