#include "shell/error_box.h"

#include <windows.h>

namespace {

ErrorBoxHook g_hook = nullptr;

}  // namespace

void ShowErrorBox(HWND owner, const Unit* text, const Unit* caption) {
  const unsigned style = MB_OK | MB_ICONERROR;
  if (g_hook) {
    g_hook(owner, text, caption, style);
    return;
  }
  MessageBoxW(owner, reinterpret_cast<const wchar_t*>(text), reinterpret_cast<const wchar_t*>(caption), style);
}

ErrorBoxHook SetErrorBoxHook(ErrorBoxHook hook) {
  ErrorBoxHook previous = g_hook;
  g_hook = hook;
  return previous;
}
