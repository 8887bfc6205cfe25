#include "common/ui/numeric_field.h"

#include "common/ui/refusal_beep.h"
#include "common/ui/window_text.h"

namespace ui {
namespace {

bool SameText(const Unit* a, const Unit* b) {
  if (!a) a = u"";
  if (!b) b = u"";
  for (; *a && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}

}  // namespace

NumericSettings NumericField::Settings() const {
  NumericSettings settings = settings_;
  settings.suffix = suffix_.Text();
  return settings;
}

int NumericField::Attach(HWND edit) {
  if (Window() || !edit || !IsWindow(edit)) return 0;
  if (!Bind(edit)) return 0;
  // An edit that already has the focus is being edited: no suffix until it
  // loses the focus.
  focused_ = GetFocus() == edit;
  if (settings_.mode != kNumericNone) ShowValue(CurrentValue());
  return 1;
}

int NumericField::Reshow(int64_t value) {
  if (Window() && settings_.mode != kNumericNone) ShowValue(value);
  return 1;
}

int NumericField::SetMode(uint32_t mode) {
  if (mode > kNumericLastMode) return 0;
  if (mode == settings_.mode) return 1;
  int64_t value = CurrentValue();
  settings_.mode = mode;
  return Reshow(value);
}

int NumericField::SetRange(int64_t first, int64_t second) {
  int64_t low = first < second ? first : second;
  int64_t high = first < second ? second : first;
  if (settings_.hasRange && settings_.min == low && settings_.max == high) return 1;
  int64_t value = CurrentValue();
  settings_.hasRange = true;
  settings_.min = low;
  settings_.max = high;
  return Reshow(value);
}

int NumericField::ClearRange() {
  if (!settings_.hasRange) return 1;
  int64_t value = CurrentValue();
  settings_.hasRange = false;
  return Reshow(value);
}

int NumericField::SetDigits(int32_t digits) {
  if (digits < 0) return 0;
  if (digits == settings_.digits) return 1;
  int64_t value = CurrentValue();
  settings_.digits = digits;
  return Reshow(value);
}

int NumericField::SetSuffix(const Unit* suffix) {
  if (SameText(suffix, suffix_.Text())) return 1;
  int64_t value = CurrentValue();
  if (!suffix_.Assign(suffix)) return 0;
  return Reshow(value);
}

int64_t NumericField::CurrentValue() const {
  NumericSettings settings = Settings();
  if (!Window()) return NumericClamp(settings, 0);
  WindowText text(Window());
  return NumericParse(settings, text.Units(), text.Length());
}

int NumericField::ShowText(int64_t value, bool withSuffix) {
  TextBuffer shown;
  if (!NumericFormat(Settings(), value, withSuffix, shown)) return 0;
  SetWindowTextIfChanged(Window(), shown.Text());
  return 1;
}

int NumericField::ShowValue(int64_t value) {
  if (!Window() || settings_.mode == kNumericNone) return 0;
  return ShowText(value, !focused_);
}

void NumericField::Dispatch(Message& message) {
  static constexpr MessageEntry<NumericField> kMap[] = {
      On(WM_SETFOCUS, &NumericField::OnFocusGained),
      On(WM_KILLFOCUS, &NumericField::OnFocusLost),
      On(WM_CHAR, &NumericField::OnChar),
      On(WM_PASTE, &NumericField::OnPaste),
  };
  DispatchMessageMap(*this, kMap, message);
}

// The edit's own focus handling follows (the messages are not taken).
void NumericField::OnFocusGained(NumericField& field, Message&) {
  if (field.focused_) return;
  field.focused_ = true;
  if (field.settings_.mode != kNumericNone) field.ShowValue(field.CurrentValue());
  SendMessageW(field.Window(), EM_SETSEL, 0, -1);
}

// Runs before the edit reports the focus loss, so its owner reads the
// canonical text.
void NumericField::OnFocusLost(NumericField& field, Message&) {
  if (!field.focused_) return;
  if (field.settings_.mode != kNumericNone) {
    int64_t value = field.CurrentValue();
    field.focused_ = false;
    field.ShowValue(value);
  }
  field.focused_ = false;
}

void NumericField::OnChar(NumericField& field, Message& message) {
  Unit unit = static_cast<Unit>(message.wParam);
  if (unit < 32 || field.settings_.mode == kNumericNone) return;
  DWORD start = 0;
  DWORD end = 0;
  SendMessageW(field.Window(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  WindowText text(field.Window());
  if (NumericAcceptsUnit(field.Settings(), unit, text.Units(), text.Length(), static_cast<int32_t>(start),
                         static_cast<int32_t>(end))) {
    return;
  }
  RefusalBeep();
  message.result = 0;
  message.handled = true;
}

// The edit pastes whatever the clipboard holds; the field then keeps only
// what reads as a value.
void NumericField::OnPaste(NumericField& field, Message& message) {
  message.result = field.CallDefault(message);
  message.handled = true;
  if (field.settings_.mode == kNumericNone) return;
  field.ShowText(field.CurrentValue(), false);
  LRESULT end = GetWindowTextLengthW(field.Window());
  SendMessageW(field.Window(), EM_SETSEL, static_cast<WPARAM>(end), end);
}

}  // namespace ui
