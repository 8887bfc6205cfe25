#include "common/ui/window_text.h"

#include "common/memory.h"

namespace ui {

WindowText::WindowText(HWND window) {
  int count = GetWindowTextLengthW(window);
  if (count < 0) count = 0;
  units_ = static_cast<Unit*>(mem::Allocate((static_cast<size_t>(count) + 1) * sizeof(Unit)));
  length_ = GetWindowTextW(window, reinterpret_cast<wchar_t*>(units_), count + 1);
  if (length_ < 0) length_ = 0;
  units_[length_] = 0;
}

WindowText::~WindowText() { mem::Release(units_); }

bool WindowText::Equals(const Unit* text, int32_t length) const {
  if (length != length_) return false;
  for (int32_t i = 0; i < length_; ++i) {
    if (text[i] != units_[i]) return false;
  }
  return true;
}

void SetWindowTextIfChanged(HWND window, const Unit* text) {
  if (!text) text = u"";
  WindowText current(window);
  if (!current.Equals(text, TextLength(text))) SetWindowTextW(window, reinterpret_cast<const wchar_t*>(text));
}

}  // namespace ui
