#pragma once
// A drop-down list through its own operations: the one place that knows the
// combo box's messages. A handle wrapper, copied freely; the control belongs
// to its dialog. Entries carry a number of their own (their data), so that a
// caller finds an entry by what it stands for rather than by its position.

#include <windows.h>

#include <stdint.h>

#include "common/text.h"

namespace ui {

class ComboBox {
 public:
  explicit ComboBox(HWND window) : window_(window) {}

  HWND Window() const { return window_; }

  int32_t Count() const;
  // Adds an entry (in place of its sort order in a sorted box) and returns
  // its index, -1 when the box refused it.
  int32_t Add(const Unit* text);
  int32_t Add(const Unit* text, uintptr_t data);
  // The entry's data; 0 for an index outside the list.
  uintptr_t Data(int32_t index) const;
  // The first entry whose data is data, -1 when none has it.
  int32_t FindData(uintptr_t data) const;

  // The selected entry, -1 when none is selected.
  int32_t Selected() const;
  // The selected entry's data; false (data untouched) when none is selected.
  bool SelectedData(uintptr_t& data) const;
  // Selects the entry (-1: none); sends nothing when it is already selected,
  // so that the box does not repaint for nothing.
  void Select(int32_t index);
  // Selects the first entry whose data is data; false, and the selection
  // stays, when none has it.
  bool SelectData(uintptr_t data);

  // Removes every entry and gives the drop-down its box's own width again.
  void Clear();
  // The width of the dropped-down list in pixels: the width set, or the
  // box's own when that is wider.
  int32_t DroppedWidth() const;
  // 0 or less: the box's own width.
  void SetDroppedWidth(int32_t width);

 private:
  HWND window_;
};

}  // namespace ui
