// What each host command does to the main view. Commands arrive here from
// HostLinkHost once their stamp has been checked, on the user-interface
// thread, whether they were sent or posted.
#include "shell/command_dispatch.h"

#include <commctrl.h>

#include "common/memory.h"
#include "common/ui/combo_box.h"
#include "common/ui/list_view.h"
#include "common/ui/window_text.h"
#include "shell/anchor_geometry.h"
#include "shell/error_box.h"
#include "shell/resources/resource_ids.h"

namespace {

// A list view row is addressed by 16 bits in the cell events.
constexpr uint64_t kMaxRows = 0x10000;
constexpr int kAppendedColumnWidth = 100;
// The value column never shrinks below this, in 96-DPI pixels.
constexpr int kLeastValueColumnWidth96 = 40;
// A heading's margins beside its text, in 96-DPI pixels.
constexpr int kHeadingMargins96 = 16;

const wchar_t* W(const Unit* text) { return reinterpret_cast<const wchar_t*>(text ? text : u""); }

bool FieldIndex(const HostCommand& command, int32_t& index) {
  if (command.index >= static_cast<uint64_t>(kFieldCount)) return false;
  index = static_cast<int32_t>(command.index);
  return true;
}

// The side panel is narrower than the longest function names: the list
// drops down wide enough to show every entry whole.
void WidenChoiceList(ui::ComboBox choices, const wchar_t* text) {
  HDC dc = GetDC(choices.Window());
  if (!dc) return;
  HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(choices.Window(), WM_GETFONT, 0, 0)));
  SIZE extent = {};
  const BOOL measured = GetTextExtentPoint32W(dc, text, lstrlenW(text), &extent);
  SelectObject(dc, previous);
  ReleaseDC(choices.Window(), dc);
  if (!measured) return;
  const int wanted = extent.cx + 2 * GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXVSCROLL) + 8;
  if (wanted > choices.DroppedWidth()) choices.SetDroppedWidth(wanted);
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

}  // namespace

void CommandDispatch::Attach(HWND dialog) {
  dialog_ = dialog;
  for (int32_t i = 0; i < kFieldCount; ++i) fields_[i].Attach(Control(IDC_FIELD_0 + i));
}

void CommandDispatch::Reset() {
  ClearChoices();
  HostCommand shape = {};
  shape.kind = HostCommandKind::SetTableShape;
  SetTableShape(shape);
  for (bool& visible : fieldVisible_) visible = true;
  target_.BesideTableChanged();
}

void CommandDispatch::SetLabel(const HostCommand& command) {
  int32_t index;
  if (FieldIndex(command, index)) ui::SetWindowTextIfChanged(Control(IDC_FIELD_LABEL_0 + index), command.text);
}

void CommandDispatch::SetFieldText(const HostCommand& command) {
  int32_t index;
  if (!FieldIndex(command, index)) return;
  ui::SetWindowTextIfChanged(Control(IDC_FIELD_0 + index), command.text);
  ui::NumericField& field = fields_[index];
  if (field.Mode() != kNumericNone) field.ShowValue(field.CurrentValue());
}

void CommandDispatch::ShowField(const HostCommand& command) {
  int32_t index;
  if (!FieldIndex(command, index)) return;
  fieldVisible_[index] = command.value != 0;
  const int show = target_.ViewShown() && fieldVisible_[index] ? SW_SHOWNA : SW_HIDE;
  ShowWindow(Control(IDC_FIELD_LABEL_0 + index), show);
  ShowWindow(Control(IDC_FIELD_0 + index), show);
  target_.BesideTableChanged();
}

void CommandDispatch::AddChoice(const HostCommand& command) {
  ui::ComboBox choices(Control(IDC_CHOICES));
  if (choices.Add(command.text, static_cast<uintptr_t>(command.index)) < 0) return;
  WidenChoiceList(choices, W(command.text));
  if (target_.ViewShown()) ShowWindow(choices.Window(), SW_SHOWNA);
  target_.BesideTableChanged();
}

bool CommandDispatch::HasChoices() const { return ui::ComboBox(Control(IDC_CHOICES)).Count() > 0; }

void CommandDispatch::ClearChoices() {
  ui::ComboBox(Control(IDC_CHOICES)).Clear();
  target_.BesideTableChanged();
}

void CommandDispatch::SelectChoice(const HostCommand& command) {
  ui::ComboBox(Control(IDC_CHOICES)).SelectData(static_cast<uintptr_t>(command.index));
}

void CommandDispatch::AddTab(const HostCommand& command) {
  HWND tabs = Control(IDC_TABS);
  TCITEMW item = {};
  item.mask = TCIF_TEXT | TCIF_PARAM;
  item.pszText = const_cast<wchar_t*>(W(command.text));
  item.lParam = static_cast<LPARAM>(command.value);
  const int index = TabCtrl_InsertItem(tabs, TabCtrl_GetItemCount(tabs), &item);
  if (index < 0) return;
  TabCtrl_SetCurSel(tabs, index);
  target_.TabSelected(static_cast<uintptr_t>(command.value));
}

// The removed tab's neighbour before it (or the first tab) takes the
// selection when the removed one had it.
void CommandDispatch::RemoveTab(const HostCommand& command) {
  HWND tabs = Control(IDC_TABS);
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
  target_.TabSelected(target_.SelectedTabKey());
}

void CommandDispatch::EnableAddRemove(const HostCommand& command) {
  addAllowed_ = (command.index & 0xFFFFu) != 0;
  removeAllowed_ = ((command.index >> 16) & 0xFFFFu) != 0;
  target_.AddRemoveChanged();
}

void CommandDispatch::SetTableShape(const HostCommand& command) {
  ui::ListView table(Control(IDC_TABLE));
  const uint64_t rows = command.index < kMaxRows ? command.index : kMaxRows;
  table.SetRowCount(static_cast<int32_t>(rows));
  table.SetColumnCount(command.value < kMaxTableColumns ? static_cast<int32_t>(command.value) : kMaxTableColumns,
                       kAppendedColumnWidth);
  if (command.value == 0) columnsFitted_ = false;
}

void CommandDispatch::SetColumnTitle(const HostCommand& command) {
  if (command.index >= static_cast<uint64_t>(kMaxTableColumns)) return;
  ui::ListView(Control(IDC_TABLE)).SetColumnTitle(static_cast<int32_t>(command.index), command.text);
}

int CommandDispatch::ColumnRoom() const {
  HWND table = Control(IDC_TABLE);
  RECT client = {};
  GetClientRect(table, &client);
  const bool barShown = (GetWindowLongPtrW(table, GWL_STYLE) & WS_VSCROLL) != 0;
  const int available = client.right - (barShown ? 0 : GetSystemMetricsForDpi(SM_CXVSCROLL, target_.Dpi()));
  return available > 0 ? available : 0;
}

// The room each of count headings needs: its text in the header's font
// and the margins beside it; 0 for one without a text.
void CommandDispatch::MeasureHeadings(int32_t count, int32_t* least) const {
  HWND header = ListView_GetHeader(Control(IDC_TABLE));
  HDC dc = header ? GetDC(header) : nullptr;
  if (!dc) return;
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(header, WM_GETFONT, 0, 0));
  HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
  const int32_t margins = MulDiv(kHeadingMargins96, static_cast<int>(target_.Dpi()), 96);
  for (int32_t i = 0; i < count; ++i) {
    wchar_t text[128] = {};
    HDITEMW item = {};
    item.mask = HDI_TEXT;
    item.pszText = text;
    item.cchTextMax = 128;
    SIZE size = {};
    if (Header_GetItem(header, i, &item) && text[0] && GetTextExtentPoint32W(dc, text, lstrlenW(text), &size)) {
      least[i] = size.cx + margins;
    }
  }
  if (previous) SelectObject(dc, previous);
  ReleaseDC(header, dc);
}

// Two halves for the masters' and slaves' two columns; a wider table (the
// gateway's and the bus monitor's counts) keeps each heading whole while
// the room allows, so that no column starts beyond the right edge.
void CommandDispatch::FitShares() {
  ui::ListView table(Control(IDC_TABLE));
  const int32_t columns = table.ColumnCount() > 2 ? table.ColumnCount() : 2;
  int32_t least[kMaxTableColumns] = {};
  int32_t widths[kMaxTableColumns] = {};
  if (columns > 2) MeasureHeadings(columns, least);
  ShareColumns(ColumnRoom(), least, columns, widths);
  for (int32_t i = 0; i < columns; ++i) {
    table.SetColumnWidth(i, widths[i]);
    fittedWidths_[i] = table.ColumnWidth(i);
  }
}

void CommandDispatch::FitColumns() {
  if (columnsFitted_) return;
  columnsFitted_ = true;
  FitShares();
}

void CommandDispatch::FollowTableWidth() {
  ui::ListView table(Control(IDC_TABLE));
  const int32_t columns = table.ColumnCount();
  if (!columnsFitted_ || columns < 2) return;
  bool asFitted = true;
  for (int32_t i = 0; i < columns - 1 && asFitted; ++i) asFitted = table.ColumnWidth(i) == fittedWidths_[i];
  if (asFitted) {
    FitShares();
    return;
  }
  int others = 0;
  for (int32_t i = 0; i < columns - 1; ++i) others += table.ColumnWidth(i);
  const int least = MulDiv(kLeastValueColumnWidth96, static_cast<int>(target_.Dpi()), 96);
  const int width = ColumnRoom() - others;
  table.SetColumnWidth(columns - 1, width > least ? width : least);
}

// A mode outside 1 to 4 means no format.
void CommandDispatch::SetFieldFormat(const HostCommand& command) {
  int32_t index;
  if (!FieldIndex(command, index) || command.length != sizeof(FieldFormat) || !command.data) return;
  FieldFormat format;
  mem::CopyBytes(&format, command.data, sizeof(format));
  ui::NumericField& field = fields_[index];
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

void CommandDispatch::Run(void* context, const HostCommand& command) {
  static_cast<CommandDispatch*>(context)->Execute(command);
}

void CommandDispatch::Execute(const HostCommand& command) {
  switch (command.kind) {
    case HostCommandKind::SetLabel: SetLabel(command); break;
    case HostCommandKind::SetFieldText: SetFieldText(command); break;
    case HostCommandKind::ShowField: ShowField(command); break;
    case HostCommandKind::ClearChoices: ClearChoices(); break;
    case HostCommandKind::AddChoice: AddChoice(command); break;
    case HostCommandKind::SelectChoice: SelectChoice(command); break;
    case HostCommandKind::AddTab: AddTab(command); break;
    case HostCommandKind::RemoveTab: RemoveTab(command); break;
    case HostCommandKind::EnableAddRemove: EnableAddRemove(command); break;
    case HostCommandKind::SetTableShape: SetTableShape(command); break;
    case HostCommandKind::SetColumnTitle: SetColumnTitle(command); break;
    case HostCommandKind::RefreshTable: InvalidateRect(Control(IDC_TABLE), nullptr, FALSE); break;
    case HostCommandKind::FitColumns: FitColumns(); break;
    case HostCommandKind::ShowTxFrame:
    case HostCommandKind::ShowRxFrame:
    case HostCommandKind::ShowRxText: target_.ShowFrame(command); break;
    case HostCommandKind::ShowError: ShowErrorBox(dialog_, command.text, command.caption); break;
    case HostCommandKind::SetFieldFormat: SetFieldFormat(command); break;
    case HostCommandKind::RefreshHeaderLines: target_.RefreshHeaderLines(); break;
  }
}

void CommandDispatch::ShowFieldValue(int32_t index) {
  if (index < 0 || index >= kFieldCount) return;
  ui::NumericField& field = fields_[index];
  if (field.Mode() != kNumericNone) field.ShowValue(field.CurrentValue());
}
