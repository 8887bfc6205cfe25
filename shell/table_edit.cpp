#include "shell/table_edit.h"

#include <commctrl.h>

#include "common/ui/list_view.h"

namespace {

uint64_t EditArg(int32_t row, bool fromDoubleClick) {
  return (static_cast<uint64_t>(row) & 0xFFFFu) | (fromDoubleClick ? kCellEditFromDoubleClick : 0);
}

}  // namespace

int TableEditing::Attach(HWND table, CellEventSink& sink) {
  sink_ = &sink;
  return Bind(table);
}

void TableEditing::Dispatch(ui::Message& message) {
  static constexpr ui::MessageEntry<TableEditing> kMap[] = {
      ui::On(WM_PAINT, &TableEditing::OnPaint),
  };
  DispatchMessageMap(*this, kMap, message);
}

// The list view would paint the edited row's label under the cell editor.
void TableEditing::OnPaint(TableEditing& table, ui::Message&) {
  if (!table.inProgress_ || !table.startedByShell_ || table.row_ < 0) return;
  RECT label = {};
  if (ui::ListView(table.Window()).LabelRect(table.row_, label)) ValidateRect(table.Window(), &label);
}

void TableEditing::Notify(ui::Message& message) {
  switch (ui::ListView::Code(message)) {
    case NM_DBLCLK:
      DoubleClick(ui::ListView::Activation(message));
      break;
    case LVN_BEGINLABELEDITW:
      BeginEdit(message, ui::ListView::DisplayInfo(message));
      break;
    case LVN_ENDLABELEDITW:
      EndEdit(ui::ListView::DisplayInfo(message));
      message.result = FALSE;  // the list view stores nothing
      message.handled = true;
      break;
    default:
      break;
  }
}

int64_t TableEditing::Deliver(ViewEventKind kind, uint64_t arg, const Unit* text, Unit* buffer, uint64_t capacity) {
  if (!sink_) return 0;
  ViewEvent event = {};
  event.kind = kind;
  event.arg = arg;
  event.text = text;
  event.buffer = buffer;
  event.capacity = capacity;
  return sink_->DeliverCellEvent(event);
}

// Only column 1 has the shell's editor; the list view's own label edit
// serves column 0.
void TableEditing::DoubleClick(const NMITEMACTIVATE& activate) {
  if (inProgress_) return;
  int32_t row = -1;
  int32_t column = -1;
  if (!ui::ListView(Window()).CellAt(activate.ptAction, row, column) || column != 1) return;
  uint64_t arg = EditArg(row, true);
  if (!Deliver(ViewEventKind::BeginCellEdit, arg, nullptr, nullptr, 0)) return;
  Unit text[kCellEditorTextCapacity] = {};
  int64_t mode = Deliver(ViewEventKind::GetCellEditor, arg, nullptr, text, kCellEditorTextCapacity);
  text[kCellEditorTextCapacity - 1] = 0;
  mode_ = (mode >= 0 && mode <= kCellEditLastMode) ? static_cast<uint32_t>(mode) : kCellEditFree;
  for (int32_t i = 0; i < kCellEditorTextCapacity; ++i) initialText_[i] = text[i];
  row_ = row;
  startedByShell_ = true;
  SetFocus(Window());
  if (!ui::ListView(Window()).EditLabel(row_)) Reset();
}

void TableEditing::BeginEdit(ui::Message& message, const NMLVDISPINFOW& info) {
  int32_t row = info.item.iItem;
  bool fromDoubleClick = startedByShell_ && row == row_;
  if (!fromDoubleClick) Reset();
  bool allowed = row >= 0 && Deliver(ViewEventKind::BeginCellEdit, EditArg(row, fromDoubleClick), nullptr, nullptr, 0);
  HWND edit = allowed ? ui::ListView(Window()).EditControl() : nullptr;
  if (allowed && fromDoubleClick) allowed = edit && editor_.Open(edit, mode_, initialText_);
  message.result = allowed ? FALSE : TRUE;
  message.handled = true;
  if (!allowed) {
    Reset();
    return;
  }
  row_ = row;
  inProgress_ = true;
  if (!fromDoubleClick) return;
  RECT cell = {};
  if (ui::ListView(Window()).CellRect(row, 1, cell)) editor_.KeepAt(cell);
}

void TableEditing::EndEdit(const NMLVDISPINFOW& info) {
  if (inProgress_ && info.item.pszText) {
    Deliver(ViewEventKind::EndCellEdit, EditArg(row_, startedByShell_), reinterpret_cast<const Unit*>(info.item.pszText),
            nullptr, 0);
  }
  Reset();
}

void TableEditing::Reset() {
  editor_.Close();
  row_ = -1;
  startedByShell_ = false;
  inProgress_ = false;
}
