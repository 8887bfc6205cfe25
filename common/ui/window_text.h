#pragma once
// The text of a window, read once into toolkit memory.

#include <windows.h>

#include <stdint.h>

#include "common/text.h"

namespace ui {

class WindowText {
 public:
  explicit WindowText(HWND window);
  ~WindowText();
  WindowText(const WindowText&) = delete;
  WindowText& operator=(const WindowText&) = delete;

  // Never null; NUL-terminated.
  const Unit* Units() const { return units_; }
  int32_t Length() const { return length_; }
  bool Equals(const Unit* text, int32_t length) const;
  bool Equals(const TextBuffer& other) const { return Equals(other.Text(), other.Length()); }

 private:
  Unit* units_ = nullptr;
  int32_t length_ = 0;
};

// Sets the window's text only when it differs from what it shows.
void SetWindowTextIfChanged(HWND window, const Unit* text);

}  // namespace ui
