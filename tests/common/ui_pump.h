#pragma once
// Message pumping for the window tests: bounded by the system clock, so a
// test that waits for a window event stops by itself.
#include <windows.h>

namespace uitest {

// Dispatches the thread's messages until done() holds or timeoutMs passed.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
  }
}

inline void PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

inline HINSTANCE Self() { return GetModuleHandleW(nullptr); }

// Creates a suite's shared dialog from its resource, shows it and waits
// until it is the active window (focus tests read GetActiveWindow). Returns
// the window, nullptr when the dialog could not be created.
template <typename DialogType>
HWND OpenActiveDialog(DialogType* dialog, int resource) {
  HWND window = dialog->Create(Self(), resource, nullptr);
  if (!window) return nullptr;
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  PumpUntil([window] { return GetActiveWindow() == window; }, 3000);
  return window;
}

// Destroys a suite's shared dialog and its owner object.
template <typename DialogType>
void CloseSuiteDialog(HWND* window, DialogType** dialog) {
  if (*window) DestroyWindow(*window);
  *window = nullptr;
  delete *dialog;
  *dialog = nullptr;
}

}  // namespace uitest
