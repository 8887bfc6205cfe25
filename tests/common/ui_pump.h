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

}  // namespace uitest
