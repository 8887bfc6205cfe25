#include "shell/table_edit.h"

#include <commctrl.h>

#include "common/ui/list_view.h"
#include "common/ui/window_text.h"

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
      ui::On(WM_GETDLGCODE, &TableEditing::OnGetDialogCode),
      ui::On(WM_KEYDOWN, &TableEditing::OnKeyDown),
      ui::On(WM_CONTEXTMENU, &TableEditing::OnContextMenu),
  };
  DispatchMessageMap(*this, kMap, message);
}

// The list view does not clip its children: a refresh while the user types
// would paint the cell over the open editor. The edited row's label would
// show under the cell editor as well.
void TableEditing::OnPaint(TableEditing& table, ui::Message&) {
  if (!table.inProgress_) return;
  HWND edit = ui::ListView(table.Window()).EditControl();
  RECT covered = {};
  if (edit && IsWindowVisible(edit) && GetWindowRect(edit, &covered)) {
    MapWindowPoints(nullptr, table.Window(), reinterpret_cast<POINT*>(&covered), 2);
    ValidateRect(table.Window(), &covered);
  }
  if (!table.startedByShell_ || table.row_ < 0) return;
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

int64_t TableEditing::Deliver(ViewEventKind kind, uint64_t arg, const Unit* text, Unit* buffer, uint64_t capacity,
                              uintptr_t* tabKey) {
  if (!sink_) return 0;
  ViewEvent event = {};
  event.kind = kind;
  event.arg = arg;
  event.tabKey = tabKey ? *tabKey : 0;
  event.text = text;
  event.buffer = buffer;
  event.capacity = capacity;
  const int64_t result = sink_->DeliverCellEvent(event);
  if (tabKey) *tabKey = event.tabKey;
  return result;
}

// Enter belongs to the table (the value editor), not to the dialog.
void TableEditing::OnGetDialogCode(TableEditing& table, ui::Message& message) {
  const MSG* key = reinterpret_cast<const MSG*>(message.lParam);
  if (!key || key->message != WM_KEYDOWN || key->wParam != VK_RETURN) return;
  message.result = table.CallDefault(message) | DLGC_WANTMESSAGE;
  message.handled = true;
}

// Enter or F2 opens the value editor of the selected row as a double-click
// does; Shift+F2 edits its label (the menu key asks for the table's menu,
// which falls back to the label where the plug-in offers none).
void TableEditing::OnKeyDown(TableEditing& table, ui::Message& message) {
  const bool shift = GetKeyState(VK_SHIFT) < 0;
  const bool value = message.wParam == VK_RETURN || (message.wParam == VK_F2 && !shift);
  const bool label = message.wParam == VK_F2 && shift;
  if (!value && !label) return;
  message.result = 0;
  message.handled = true;
  const int32_t row = table.SelectedRow();
  if (row < 0 || table.inProgress_) return;
  if (value) {
    table.StartValueEdit(row);
  } else {
    ui::ListView(table.Window()).EditLabel(row);
  }
}

// A keyboard context menu request of the table itself is answered by the
// table menu's keys (table_menu.h), never twice.
void TableEditing::OnContextMenu(TableEditing&, ui::Message& message) {
  if (message.lParam != -1) return;
  message.result = 0;
  message.handled = true;
}

int32_t TableEditing::SelectedRow() const {
  return static_cast<int32_t>(SendMessageW(Window(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// Only column 1 has the shell's editor; the list view's own label edit
// serves column 0.
void TableEditing::DoubleClick(const NMITEMACTIVATE& activate) {
  if (inProgress_) return;
  int32_t row = -1;
  int32_t column = -1;
  if (!ui::ListView(Window()).CellAt(activate.ptAction, row, column) || column != 1) return;
  StartValueEdit(row);
}

void TableEditing::StartValueEdit(int32_t row) {
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
  uintptr_t key = 0;
  bool allowed =
      row >= 0 && Deliver(ViewEventKind::BeginCellEdit, EditArg(row, fromDoubleClick), nullptr, nullptr, 0, &key);
  HWND edit = allowed ? ui::ListView(Window()).EditControl() : nullptr;
  if (allowed && fromDoubleClick) allowed = edit && editor_.Open(edit, mode_, initialText_);
  message.result = allowed ? FALSE : TRUE;
  message.handled = true;
  if (!allowed) {
    Reset();
    return;
  }
  row_ = row;
  tabKey_ = key;
  inProgress_ = true;
  if (!fromDoubleClick) return;
  RECT cell = {};
  if (ui::ListView(Window()).CellRect(row, 1, cell)) editor_.KeepAt(cell);
}

void TableEditing::EndEdit(const NMLVDISPINFOW& info) {
  if (inProgress_ && info.item.pszText) {
    Deliver(ViewEventKind::EndCellEdit, EditArg(row_, startedByShell_), reinterpret_cast<const Unit*>(info.item.pszText),
            nullptr, 0, &tabKey_);
  }
  Reset();
}

// The text goes out first; the list view's own end of the edit then finds
// nothing in progress.
void TableEditing::Finish() {
  if (!inProgress_) return;
  HWND edit = ui::ListView(Window()).EditControl();
  if (edit) {
    ui::WindowText text(edit);
    Deliver(ViewEventKind::EndCellEdit, EditArg(row_, startedByShell_), text.Units(), nullptr, 0, &tabKey_);
  }
  Reset();
  SendMessageW(Window(), LVM_CANCELEDITLABEL, 0, 0);
}

void TableEditing::Reset() {
  editor_.Close();
  row_ = -1;
  tabKey_ = 0;
  startedByShell_ = false;
  inProgress_ = false;
}

void TableEditing::EditSelectedLabel() {
  const int32_t row = SelectedRow();
  if (row >= 0 && !inProgress_) ui::ListView(Window()).EditLabel(row);
}
