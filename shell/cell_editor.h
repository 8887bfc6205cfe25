#pragma once
// The cell editor: the list view's label edit turned into the in-place
// editor of the table's value column. The decimal modes filter what is typed
// and check what is cut or pasted; the hexadecimal and binary modes are
// fixed-width overtype masks in which every digit is always present, so a
// register value is edited digit by digit.
//
// While a selection exists, the caret's digit index is counted from the
// selection's start: typing over a selection zeroes it and writes the first
// selected digit, as overtype over a selection does in any editor.

#include <windows.h>

#include <stdint.h>

#include "common/text.h"
#include "common/ui/window_binding.h"

// Editor modes, numbered as the plug-ins return them from GetCellEditor.
constexpr uint32_t kCellEditFree = 0;      // anything typed; cut and paste checked as unsigned
constexpr uint32_t kCellEditUnsigned = 1;  // decimal digits
constexpr uint32_t kCellEditSigned = 2;    // decimal digits after an optional "-"
constexpr uint32_t kCellEditHexMask = 3;   // "0x" and four hexadecimal digits
constexpr uint32_t kCellEditBinMask = 4;   // sixteen binary digits in groups of four
constexpr uint32_t kCellEditLastMode = kCellEditBinMask;

// The edit's length limit in a mode (0 for an unknown mode).
int32_t CellEditLengthLimit(uint32_t mode);

class CellEditor : public ui::Subclass {
 public:
  // Turns edit into the editor: the initial text (rewritten as a mask in the
  // masked modes), the mode's length limit, the subclass and the whole text
  // selected. Fails for an unknown mode or when the editor is already open.
  int Open(HWND edit, uint32_t mode, const Unit* initialText);
  // Removes the subclass when it is still installed.
  void Close();
  // From now on every move of the edit lands on rect (the parent's client
  // coordinates), and the edit is moved there at once.
  void KeepAt(const RECT& rect);

  uint32_t Mode() const { return mode_; }

 protected:
  void Dispatch(ui::Message& message) override;

 private:
  static void OnChar(CellEditor& editor, ui::Message& message);
  static void OnKeyDown(CellEditor& editor, ui::Message& message);
  static void OnCut(CellEditor& editor, ui::Message& message);
  static void OnPaste(CellEditor& editor, ui::Message& message);
  static void OnClear(CellEditor& editor, ui::Message& message);
  static void OnUndo(CellEditor& editor, ui::Message& message);
  static void OnPositionChanging(CellEditor& editor, ui::Message& message);

  bool Masked() const { return mode_ == kCellEditHexMask || mode_ == kCellEditBinMask; }
  void TypeFree(ui::Message& message);
  void CheckedByEdit(ui::Message& message);
  void TypeDigit(Unit unit);
  void Backspace();
  void DeleteDigits();
  void MoveCaret(int32_t step);
  void PasteDigits();

  uint32_t mode_ = kCellEditFree;
  bool keep_ = false;
  RECT keepRect_ = {};
};
