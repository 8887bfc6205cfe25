// What each host command does to the main view. Commands arrive here from
// HostLinkHost once their stamp has been checked, on the user-interface
// thread, whether they were sent or posted.
#include <windows.h>
#include <commctrl.h>

#include "common/memory.h"
#include "common/ui/window_text.h"
#include "shell/error_box.h"
#include "shell/main_view_hooks.h"
#include "shell/main_window.h"
#include "shell/resources/resource_ids.h"

namespace {

// A list view row is addressed by 16 bits in the cell events.
constexpr uint64_t kMaxRows = 0x10000;
constexpr int kAppendedColumnWidth = 100;
// The value column never shrinks below this, in 96-DPI pixels.
constexpr int kLeastValueColumnWidth96 = 40;

const wchar_t* W(const Unit* text) { return reinterpret_cast<const wchar_t*>(text ? text : u""); }

bool FieldIndex(const HostCommand& command, int32_t& index) {
  if (command.index >= static_cast<uint64_t>(kFieldCount)) return false;
  index = static_cast<int32_t>(command.index);
  return true;
}

void SetLabel(MainWindow& window, const HostCommand& command) {
  int32_t index;
  if (FieldIndex(command, index)) ui::SetWindowTextIfChanged(window.Control(IDC_FIELD_LABEL_0 + index), command.text);
}

void SetFieldText(MainWindow& window, const HostCommand& command) {
  int32_t index;
  if (!FieldIndex(command, index)) return;
  ui::SetWindowTextIfChanged(window.Control(IDC_FIELD_0 + index), command.text);
  ui::NumericField& field = window.fields[index];
  if (field.Mode() != kNumericNone) field.ShowValue(field.CurrentValue());
}

void ShowField(MainWindow& window, const HostCommand& command) {
  int32_t index;
  if (!FieldIndex(command, index)) return;
  window.fieldVisible[index] = command.value != 0;
  const int show = window.State() != kStateInformation && window.fieldVisible[index] ? SW_SHOWNA : SW_HIDE;
  ShowWindow(window.Control(IDC_FIELD_LABEL_0 + index), show);
  ShowWindow(window.Control(IDC_FIELD_0 + index), show);
}

// The side panel is narrower than the longest function names: the list
// drops down wide enough to show every entry whole.
void WidenChoiceList(HWND choices, const wchar_t* text) {
  HDC dc = GetDC(choices);
  if (!dc) return;
  HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(choices, WM_GETFONT, 0, 0)));
  SIZE extent = {};
  const BOOL measured = GetTextExtentPoint32W(dc, text, lstrlenW(text), &extent);
  SelectObject(dc, previous);
  ReleaseDC(choices, dc);
  if (!measured) return;
  const int wanted = extent.cx + 2 * GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXVSCROLL) + 8;
  if (wanted > SendMessageW(choices, CB_GETDROPPEDWIDTH, 0, 0)) {
    SendMessageW(choices, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(wanted), 0);
  }
}

void AddChoice(MainWindow& window, const HostCommand& command) {
  HWND choices = window.Control(IDC_CHOICES);
  LRESULT item = SendMessageW(choices, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(command.text)));
  if (item < 0) return;
  SendMessageW(choices, CB_SETITEMDATA, static_cast<WPARAM>(item), static_cast<LPARAM>(command.index));
  WidenChoiceList(choices, W(command.text));
}

void ClearChoices(MainWindow& window) {
  HWND choices = window.Control(IDC_CHOICES);
  SendMessageW(choices, CB_RESETCONTENT, 0, 0);
  SendMessageW(choices, CB_SETDROPPEDWIDTH, 0, 0);  // back to the box's own width
}

void SelectChoice(MainWindow& window, const HostCommand& command) {
  HWND choices = window.Control(IDC_CHOICES);
  const LRESULT count = SendMessageW(choices, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT data = SendMessageW(choices, CB_GETITEMDATA, static_cast<WPARAM>(i), 0);
    if (static_cast<uint64_t>(data) != command.index) continue;
    if (SendMessageW(choices, CB_GETCURSEL, 0, 0) != i) SendMessageW(choices, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
    return;
  }
}

int FindTab(HWND tabs, uint64_t key) {
  const int count = TabCtrl_GetItemCount(tabs);
  for (int i = 0; i < count; ++i) {
    TCITEMW item = {};
    item.mask = TCIF_PARAM;
    if (TabCtrl_GetItem(tabs, i, &item) && static_cast<uint64_t>(item.lParam) == key) return i;
  }
  return -1;
}

void AddTab(MainWindow& window, const HostCommand& command) {
  HWND tabs = window.Control(IDC_TABS);
  TCITEMW item = {};
  item.mask = TCIF_TEXT | TCIF_PARAM;
  item.pszText = const_cast<wchar_t*>(W(command.text));
  item.lParam = static_cast<LPARAM>(command.value);
  const int index = TabCtrl_InsertItem(tabs, TabCtrl_GetItemCount(tabs), &item);
  if (index < 0) return;
  TabCtrl_SetCurSel(tabs, index);
  window.Deliver(ViewEventKind::TabSelected, 0, static_cast<uintptr_t>(command.value));
}

// The removed tab's neighbour before it (or the first tab) takes the
// selection when the removed one had it.
void RemoveTab(MainWindow& window, const HostCommand& command) {
  HWND tabs = window.Control(IDC_TABS);
  const int index = FindTab(tabs, command.value);
  if (index < 0) return;
  const int selected = TabCtrl_GetCurSel(tabs);
  TabCtrl_DeleteItem(tabs, index);
  const int count = TabCtrl_GetItemCount(tabs);
  if (count > 0) {
    int next = selected;
    if (index == selected) {
      next = index > 0 ? index - 1 : 0;
    } else if (index < selected) {
      next = selected - 1;
    }
    TabCtrl_SetCurSel(tabs, next);
  }
  window.Deliver(ViewEventKind::TabSelected, 0, window.SelectedTabKey());
}

void EnableAddRemove(MainWindow& window, const HostCommand& command) {
  window.addAllowed = (command.index & 0xFFFFu) != 0;
  window.removeAllowed = ((command.index >> 16) & 0xFFFFu) != 0;
  window.ApplyEnableTable();
}

int ColumnCount(HWND table) {
  HWND header = ListView_GetHeader(table);
  return header ? Header_GetItemCount(header) : 0;
}

void SetTableShape(MainWindow& window, const HostCommand& command) {
  HWND table = window.Control(IDC_TABLE);
  const uint64_t rows = command.index < kMaxRows ? command.index : kMaxRows;
  ListView_SetItemCountEx(table, static_cast<int>(rows), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  const int wanted = command.value < 256 ? static_cast<int>(command.value) : 256;
  int columns = ColumnCount(table);
  while (columns > wanted) ListView_DeleteColumn(table, --columns);
  while (columns < wanted) {
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH | LVCF_TEXT;
    column.cx = kAppendedColumnWidth;
    column.pszText = const_cast<wchar_t*>(L"");
    if (ListView_InsertColumn(table, columns, &column) < 0) break;
    ++columns;
  }
  if (command.value == 0) window.columnsFitted = false;
}

void SetColumnTitle(MainWindow& window, const HostCommand& command) {
  HWND table = window.Control(IDC_TABLE);
  if (command.index >= static_cast<uint64_t>(ColumnCount(table))) return;
  LVCOLUMNW column = {};
  column.mask = LVCF_TEXT;
  column.pszText = const_cast<wchar_t*>(W(command.text));
  ListView_SetColumn(table, static_cast<int>(command.index), &column);
}

// The table's width for its columns, with room for a vertical scroll bar
// whether it shows or not.
int ColumnRoom(MainWindow& window) {
  HWND table = window.Control(IDC_TABLE);
  RECT client = {};
  GetClientRect(table, &client);
  const bool barShown = (GetWindowLongPtrW(table, GWL_STYLE) & WS_VSCROLL) != 0;
  const int available = client.right - (barShown ? 0 : GetSystemMetricsForDpi(SM_CXVSCROLL, window.Layout().Dpi()));
  return available > 0 ? available : 0;
}

void FitHalves(MainWindow& window) {
  HWND table = window.Control(IDC_TABLE);
  const int half = ColumnRoom(window) / 2;
  ListView_SetColumnWidth(table, 0, half);
  ListView_SetColumnWidth(table, 1, half);
  window.fittedFirstWidth = ListView_GetColumnWidth(table, 0);
}

void FitColumns(MainWindow& window) {
  if (window.columnsFitted) return;
  window.columnsFitted = true;
  FitHalves(window);
}

// A mode outside 1 to 4 means no format.
void SetFieldFormat(MainWindow& window, const HostCommand& command) {
  int32_t index;
  if (!FieldIndex(command, index) || command.length != sizeof(FieldFormat) || !command.data) return;
  FieldFormat format;
  mem::CopyBytes(&format, command.data, sizeof(format));
  ui::NumericField& field = window.fields[index];
  const uint32_t mode = format.mode >= kNumericUnsigned && format.mode <= kNumericLastMode ? format.mode : kNumericNone;
  if (format.hasRange) {
    field.SetRange(format.min, format.max);
  } else {
    field.ClearRange();
  }
  field.SetDigits(format.digits > 0 ? format.digits : 0);
  field.SetSuffix(format.suffix);
  field.SetMode(mode);
}

}  // namespace

void MainWindow::FollowTableWidth() {
  HWND table = Control(IDC_TABLE);
  const int columns = ColumnCount(table);
  if (!columnsFitted || columns < 2) return;
  if (columns == 2 && ListView_GetColumnWidth(table, 0) == fittedFirstWidth) {
    FitHalves(*this);
    return;
  }
  int others = 0;
  for (int i = 0; i < columns - 1; ++i) others += ListView_GetColumnWidth(table, i);
  const int least = MulDiv(kLeastValueColumnWidth96, static_cast<int>(Layout().Dpi()), 96);
  const int width = ColumnRoom(*this) - others;
  ListView_SetColumnWidth(table, columns - 1, width > least ? width : least);
}

void MainWindow::ExecuteCommand(void* context, const HostCommand& command) {
  MainWindow& window = *static_cast<MainWindow*>(context);
  switch (command.kind) {
    case HostCommandKind::SetLabel: SetLabel(window, command); break;
    case HostCommandKind::SetFieldText: SetFieldText(window, command); break;
    case HostCommandKind::ShowField: ShowField(window, command); break;
    case HostCommandKind::ClearChoices: ClearChoices(window); break;
    case HostCommandKind::AddChoice: AddChoice(window, command); break;
    case HostCommandKind::SelectChoice: SelectChoice(window, command); break;
    case HostCommandKind::AddTab: AddTab(window, command); break;
    case HostCommandKind::RemoveTab: RemoveTab(window, command); break;
    case HostCommandKind::EnableAddRemove: EnableAddRemove(window, command); break;
    case HostCommandKind::SetTableShape: SetTableShape(window, command); break;
    case HostCommandKind::SetColumnTitle: SetColumnTitle(window, command); break;
    case HostCommandKind::RefreshTable: InvalidateRect(window.Control(IDC_TABLE), nullptr, FALSE); break;
    case HostCommandKind::FitColumns: FitColumns(window); break;
    case HostCommandKind::ShowTxFrame:
    case HostCommandKind::ShowRxFrame:
    case HostCommandKind::ShowRxText: MainViewFrameCommand(window, command); break;
    case HostCommandKind::ShowError: ShowErrorBox(window.Window(), command.text, command.caption); break;
    case HostCommandKind::SetFieldFormat: SetFieldFormat(window, command); break;
    case HostCommandKind::RefreshHeaderLines: window.RefreshHeaderLines(); break;
  }
}
