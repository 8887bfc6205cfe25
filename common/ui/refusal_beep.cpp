#include "common/ui/refusal_beep.h"

#include <windows.h>

namespace ui {
namespace {
BeepHook g_hook = nullptr;
}

void RefusalBeep() {
  if (g_hook) {
    g_hook();
    return;
  }
  MessageBeep(MB_ICONEXCLAMATION);
}

BeepHook SetRefusalBeepHook(BeepHook hook) {
  BeepHook previous = g_hook;
  g_hook = hook;
  return previous;
}

}  // namespace ui
