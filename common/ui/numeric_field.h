#pragma once
// A numeric field: a single-line edit control subclassed to hold one integer
// in unsigned or signed decimal, hexadecimal or binary, with an optional
// range, a digit limit and a unit suffix shown only while the field does not
// have the focus ("1000 ms" at rest, "1000" while edited). Settings may be
// made before the edit is attached; they apply when it is.

#include <stdint.h>

#include "common/numeric_text.h"
#include "common/text.h"
#include "common/ui/window_binding.h"

namespace ui {

class NumericField : public Subclass {
 public:
  // Subclasses the edit and, in a mode, shows its value in canonical form.
  // Fails when the field already has a window or the window does not exist.
  int Attach(HWND edit);

  // Each setter changes the field only when the setting differs; the value
  // shown (read before the change) is then shown again in the new form.
  int SetMode(uint32_t mode);  // kNumericNone .. kNumericBinary
  int SetRange(int64_t first, int64_t second);  // the smaller becomes min
  int ClearRange();
  int SetDigits(int32_t digits);  // 0: no limit
  int SetSuffix(const Unit* suffix);

  // The window's text read in the field's notation; without a window 0
  // clamped to the range.
  int64_t CurrentValue() const;
  // With a window and a mode: shows the clamped value, with the suffix unless
  // focused; the text is set only when it differs. Returns 1 when shown.
  int ShowValue(int64_t value);

  uint32_t Mode() const { return settings_.mode; }
  bool Focused() const { return focused_; }
  // The settings with the suffix pointing at the field's own copy.
  NumericSettings Settings() const;

 protected:
  void Dispatch(Message& message) override;

 private:
  static void OnFocusGained(NumericField& field, Message& message);
  static void OnFocusLost(NumericField& field, Message& message);
  static void OnChar(NumericField& field, Message& message);
  static void OnPaste(NumericField& field, Message& message);

  int ShowText(int64_t value, bool withSuffix);
  int Reshow(int64_t value);

  NumericSettings settings_;
  TextBuffer suffix_;
  bool focused_ = false;
};

}  // namespace ui
