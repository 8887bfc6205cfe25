#include "shell/cell_editor.h"

#include "common/numeric_text.h"
#include "common/ui/refusal_beep.h"
#include "common/ui/window_text.h"

namespace {

constexpr int32_t kMaxMaskDigits = 16;

// The digits of a masked editor; the text around them is always rebuilt.
struct Mask {
  uint32_t mode;
  int32_t count;
  Unit digits[kMaxMaskDigits];
};

int32_t DigitCount(uint32_t mode) { return mode == kCellEditHexMask ? 4 : 16; }
int32_t MaskLength(uint32_t mode) { return mode == kCellEditHexMask ? 6 : 19; }

// Text position of a digit: after "0x" in hexadecimal, between the group
// spaces in binary.
int32_t DigitPosition(uint32_t mode, int32_t index) {
  return mode == kCellEditHexMask ? index + 2 : index + index / 4;
}

// The number of digit positions before position.
int32_t DigitIndexAt(uint32_t mode, int32_t position) {
  int32_t count = DigitCount(mode);
  int32_t index = 0;
  while (index < count && DigitPosition(mode, index) < position) ++index;
  return index;
}

int32_t CaretPosition(uint32_t mode, int32_t index) {
  return index >= DigitCount(mode) ? MaskLength(mode) : DigitPosition(mode, index);
}

Unit Uppercase(Unit unit) { return (unit >= u'a' && unit <= u'f') ? static_cast<Unit>(unit - u'a' + u'A') : unit; }

// The editor modes are numbered as the numeric notations.
bool MaskDigitValid(uint32_t mode, Unit unit) { return NumericUnitValid(mode, unit); }

// A missing position, or one that holds no digit of the mode, reads "0".
Mask ReadMask(uint32_t mode, const Unit* text, int32_t length) {
  Mask mask{mode, DigitCount(mode), {}};
  for (int32_t i = 0; i < mask.count; ++i) {
    int32_t position = DigitPosition(mode, i);
    Unit unit = position < length ? text[position] : u'0';
    mask.digits[i] = MaskDigitValid(mode, unit) ? Uppercase(unit) : u'0';
  }
  return mask;
}

void WriteMask(const Mask& mask, TextBuffer& out) {
  out.Resize(0);
  if (mask.mode == kCellEditHexMask) out.Append(u"0x");
  for (int32_t i = 0; i < mask.count; ++i) {
    if (mask.mode == kCellEditBinMask && i > 0 && i % 4 == 0) out.AppendUnit(u' ');
    out.AppendUnit(mask.digits[i]);
  }
}

// Digits inside [start, end) become "0"; returns whether the range was
// a selection at all.
bool ZeroRange(Mask& mask, int32_t start, int32_t end) {
  for (int32_t i = 0; i < mask.count; ++i) {
    int32_t position = DigitPosition(mask.mode, i);
    if (position >= start && position < end) mask.digits[i] = u'0';
  }
  return start != end;
}

// What cut and paste may leave in a decimal editor; the free mode is held
// to the unsigned rule.
bool FreeTextValid(uint32_t mode, const Unit* text, int32_t length) {
  bool signedMode = mode == kCellEditSigned;
  if (length > (signedMode ? 6 : 5)) return false;
  for (int32_t i = 0; i < length; ++i) {
    if (text[i] >= u'0' && text[i] <= u'9') continue;
    if (signedMode && i == 0 && text[i] == u'-') continue;
    return false;
  }
  return true;
}

struct Selection {
  int32_t start;
  int32_t end;
};

Selection ReadSelection(HWND edit) {
  DWORD start = 0;
  DWORD end = 0;
  SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  return Selection{static_cast<int32_t>(start), static_cast<int32_t>(end)};
}

// The editor's digits, its selection and the caret's digit index (counted
// from the selection's start).
struct MaskState {
  Mask mask;
  Selection selection;
  int32_t index;
};

MaskState ReadState(HWND edit, uint32_t mode) {
  ui::WindowText text(edit);
  Selection selection = ReadSelection(edit);
  return MaskState{ReadMask(mode, text.Units(), text.Length()), selection, DigitIndexAt(mode, selection.start)};
}

void ShowMask(HWND edit, const Mask& mask, int32_t index) {
  TextBuffer text;
  WriteMask(mask, text);
  ui::SetWindowTextIfChanged(edit, text.Text());
  int32_t caret = CaretPosition(mask.mode, index);
  SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(caret), caret);
}

// The clipboard's Unicode text; 0 when there is none or it cannot be opened.
int ReadClipboardText(HWND owner, TextBuffer& out) {
  if (!OpenClipboard(owner)) return 0;
  int read = 0;
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const Unit* text = data ? static_cast<const Unit*>(GlobalLock(data)) : nullptr;
  if (text) {
    read = out.Assign(text);
    GlobalUnlock(data);
  }
  CloseClipboard();
  return read;
}

bool KeyDown(int key) { return (GetKeyState(key) & 0x8000) != 0; }

}  // namespace

int32_t CellEditLengthLimit(uint32_t mode) {
  switch (mode) {
    case kCellEditUnsigned:
      return 5;
    case kCellEditSigned:
    case kCellEditHexMask:
      return 6;
    case kCellEditFree:
    case kCellEditBinMask:
      return 19;
    default:
      return 0;
  }
}

int CellEditor::Open(HWND edit, uint32_t mode, const Unit* initialText) {
  if (Window() || mode > kCellEditLastMode || !edit || !IsWindow(edit)) return 0;
  mode_ = mode;
  keep_ = false;
  TextBuffer text;
  if (Masked()) {
    WriteMask(ReadMask(mode, initialText ? initialText : u"", TextLength(initialText)), text);
  } else {
    text.Assign(initialText);
  }
  SetWindowTextW(edit, reinterpret_cast<const wchar_t*>(text.Text()));
  SendMessageW(edit, EM_LIMITTEXT, static_cast<WPARAM>(CellEditLengthLimit(mode)), 0);
  if (!Bind(edit)) return 0;
  SendMessageW(edit, EM_SETSEL, 0, -1);
  return 1;
}

void CellEditor::Close() {
  if (Subclassed()) Unbind();
  keep_ = false;
}

void CellEditor::KeepAt(const RECT& rect) {
  keepRect_ = rect;
  keep_ = true;
  if (!Window()) return;
  SetWindowPos(Window(), nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void CellEditor::Dispatch(ui::Message& message) {
  static constexpr ui::MessageEntry<CellEditor> kMap[] = {
      ui::On(WM_CHAR, &CellEditor::OnChar),
      ui::On(WM_KEYDOWN, &CellEditor::OnKeyDown),
      ui::On(WM_CUT, &CellEditor::OnCut),
      ui::On(WM_PASTE, &CellEditor::OnPaste),
      ui::On(WM_CLEAR, &CellEditor::OnClear),
      ui::On(WM_UNDO, &CellEditor::OnUndo),
      ui::On(EM_UNDO, &CellEditor::OnUndo),
      ui::On(WM_WINDOWPOSCHANGING, &CellEditor::OnPositionChanging),
  };
  DispatchMessageMap(*this, kMap, message);
}

void CellEditor::OnChar(CellEditor& editor, ui::Message& message) {
  Unit unit = static_cast<Unit>(message.wParam);
  if (editor.Masked()) {
    if (unit == u'\b') {
      editor.Backspace();
    } else if (unit >= 32) {
      editor.TypeDigit(unit);
    } else {
      return;  // Enter, Escape and the clipboard shortcuts reach the edit
    }
    message.result = 0;
    message.handled = true;
    return;
  }
  if (unit >= 32) editor.TypeFree(message);
}

// The edit's own Shift+Delete and Shift+Insert cut and paste without a
// message; they are turned into the messages, so the editor's rules apply.
void CellEditor::OnKeyDown(CellEditor& editor, ui::Message& message) {
  bool shift = KeyDown(VK_SHIFT) && !KeyDown(VK_CONTROL);
  if (shift && (message.wParam == VK_DELETE || message.wParam == VK_INSERT)) {
    SendMessageW(editor.Window(), message.wParam == VK_DELETE ? WM_CUT : WM_PASTE, 0, 0);
  } else if (!editor.Masked()) {
    return;
  } else if (message.wParam == VK_DELETE) {
    editor.DeleteDigits();
  } else if (message.wParam == VK_LEFT) {
    editor.MoveCaret(-1);
  } else if (message.wParam == VK_RIGHT) {
    editor.MoveCaret(1);
  } else {
    return;
  }
  message.result = 0;
  message.handled = true;
}

void CellEditor::OnCut(CellEditor& editor, ui::Message& message) {
  if (!editor.Masked()) {
    editor.CheckedByEdit(message);
    return;
  }
  SendMessageW(editor.Window(), WM_COPY, 0, 0);
  editor.DeleteDigits();
  message.handled = true;
}

void CellEditor::OnPaste(CellEditor& editor, ui::Message& message) {
  if (!editor.Masked()) {
    editor.CheckedByEdit(message);
    return;
  }
  editor.PasteDigits();
  message.handled = true;
}

// Clearing a selection in a mask zeroes its digits.
void CellEditor::OnClear(CellEditor& editor, ui::Message& message) {
  if (!editor.Masked()) return;
  Selection selection = ReadSelection(editor.Window());
  if (selection.start != selection.end) editor.DeleteDigits();
  message.handled = true;
}

// Whatever an undo brings back is read into the mask again.
void CellEditor::OnUndo(CellEditor& editor, ui::Message& message) {
  if (!editor.Masked()) return;
  message.result = editor.CallDefault(message);
  message.handled = true;
  MaskState state = ReadState(editor.Window(), editor.mode_);
  ShowMask(editor.Window(), state.mask, state.index);
}

void CellEditor::OnPositionChanging(CellEditor& editor, ui::Message& message) {
  if (!editor.keep_) return;
  WINDOWPOS* position = reinterpret_cast<WINDOWPOS*>(message.lParam);
  if (!position) return;
  position->x = editor.keepRect_.left;
  position->y = editor.keepRect_.top;
  position->cx = editor.keepRect_.right - editor.keepRect_.left;
  position->cy = editor.keepRect_.bottom - editor.keepRect_.top;
  position->flags &= ~static_cast<UINT>(SWP_NOMOVE | SWP_NOSIZE);
}

void CellEditor::TypeFree(ui::Message& message) {
  Unit unit = static_cast<Unit>(message.wParam);
  bool accepted = NumericUnitValid(mode_, unit);
  if (accepted && mode_ == kCellEditSigned && unit == u'-') {
    ui::WindowText text(Window());
    Selection selection = ReadSelection(Window());
    NumericSettings settings;
    settings.mode = kNumericSigned;
    accepted = NumericMinusAllowed(settings, text.Units(), text.Length(), selection.start, selection.end);
  }
  if (accepted) return;
  ui::RefusalBeep();
  message.result = 0;
  message.handled = true;
}

// The edit cuts or pastes first; a text that no longer reads as a value is
// put back with its selection.
void CellEditor::CheckedByEdit(ui::Message& message) {
  TextBuffer before;
  {
    ui::WindowText text(Window());
    before.Assign(text.Units());
  }
  Selection selection = ReadSelection(Window());
  message.result = CallDefault(message);
  message.handled = true;
  ui::WindowText after(Window());
  if (FreeTextValid(mode_, after.Units(), after.Length())) return;
  SetWindowTextW(Window(), reinterpret_cast<const wchar_t*>(before.Text()));
  SendMessageW(Window(), EM_SETSEL, static_cast<WPARAM>(selection.start), selection.end);
  ui::RefusalBeep();
}

void CellEditor::TypeDigit(Unit unit) {
  MaskState state = ReadState(Window(), mode_);
  if (!MaskDigitValid(mode_, unit) || state.index >= state.mask.count) {
    ui::RefusalBeep();
    return;
  }
  ZeroRange(state.mask, state.selection.start, state.selection.end);
  state.mask.digits[state.index] = Uppercase(unit);
  ShowMask(Window(), state.mask, state.index + 1);
}

void CellEditor::Backspace() {
  MaskState state = ReadState(Window(), mode_);
  if (ZeroRange(state.mask, state.selection.start, state.selection.end)) {
    ShowMask(Window(), state.mask, state.index);
  } else if (state.index > 0) {
    state.mask.digits[state.index - 1] = u'0';
    ShowMask(Window(), state.mask, state.index - 1);
  }
}

void CellEditor::DeleteDigits() {
  MaskState state = ReadState(Window(), mode_);
  if (ZeroRange(state.mask, state.selection.start, state.selection.end)) {
    ShowMask(Window(), state.mask, state.index);
  } else if (state.index < state.mask.count) {
    state.mask.digits[state.index] = u'0';
    ShowMask(Window(), state.mask, state.index);
  }
}

void CellEditor::MoveCaret(int32_t step) {
  MaskState state = ReadState(Window(), mode_);
  int32_t index = state.index + step;
  if (index < 0) index = 0;
  if (index > state.mask.count) index = state.mask.count;
  ShowMask(Window(), state.mask, index);
}

void CellEditor::PasteDigits() {
  TextBuffer clip;
  if (!ReadClipboardText(Window(), clip)) {
    ui::RefusalBeep();
    return;
  }
  const Unit* text = clip.Text();
  if (mode_ == kCellEditHexMask) {
    while (*text == u' ' || *text == u'\t') ++text;
    if (text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) text += 2;
  }
  MaskState state = ReadState(Window(), mode_);
  ZeroRange(state.mask, state.selection.start, state.selection.end);
  int32_t index = state.index;
  int32_t taken = 0;
  for (; *text && index < state.mask.count; ++text) {
    if (!MaskDigitValid(mode_, *text)) continue;
    state.mask.digits[index++] = Uppercase(*text);
    ++taken;
  }
  if (taken == 0) {
    ui::RefusalBeep();
    return;
  }
  ShowMask(Window(), state.mask, index);
}
