// Releases a subclassed control's record, normally or after someone else
// removed the toolkit's subclass, so that a test can read the exit code.
#include <windows.h>
#include <commctrl.h>

#include "common/ui/window_binding.h"

namespace {

class Plain : public ui::Subclass {
 protected:
  void Dispatch(ui::Message&) override {}
};

bool Same(const wchar_t* a, const wchar_t* b) {
  for (; *a && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  HWND window = CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  if (!window) return 4;
  Plain* record = new Plain;
  if (!record->Bind(window)) return 5;
  if (Same(argv[1], L"release-after-foreign-removal")) {
    RemoveWindowSubclass(window, ui::SubclassProcedure, reinterpret_cast<UINT_PTR>(record));
  } else if (!Same(argv[1], L"release-normally")) {
    return 2;
  }
  delete record;
  DestroyWindow(window);
  return 0;
}
