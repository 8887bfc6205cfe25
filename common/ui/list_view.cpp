#include "common/ui/list_view.h"

namespace ui {

void ListView::SetExtendedStyle(DWORD style) {
  SendMessageW(window_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(style));
}

void ListView::SetRowCount(int32_t rows) {
  SendMessageW(window_, LVM_SETITEMCOUNT, static_cast<WPARAM>(rows < 0 ? 0 : rows),
               LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
}

int32_t ListView::ColumnCount() const {
  HWND header = reinterpret_cast<HWND>(SendMessageW(window_, LVM_GETHEADER, 0, 0));
  if (!header) return 0;
  const LRESULT count = SendMessageW(header, HDM_GETITEMCOUNT, 0, 0);
  return count < 0 ? 0 : static_cast<int32_t>(count);
}

int32_t ListView::SetColumnCount(int32_t count, int32_t width) {
  int32_t columns = ColumnCount();
  while (columns > count && SendMessageW(window_, LVM_DELETECOLUMN, static_cast<WPARAM>(columns - 1), 0)) --columns;
  while (columns < count) {
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH | LVCF_TEXT;
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(L"");
    if (SendMessageW(window_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(columns), reinterpret_cast<LPARAM>(&column)) < 0) {
      break;
    }
    ++columns;
  }
  return columns;
}

bool ListView::SetColumnTitle(int32_t column, const Unit* title) {
  if (column < 0 || column >= ColumnCount()) return false;
  LVCOLUMNW record = {};
  record.mask = LVCF_TEXT;
  record.pszText = const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(title ? title : u""));
  return SendMessageW(window_, LVM_SETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&record)) != 0;
}

void ListView::SetColumnWidth(int32_t column, int32_t width) {
  SendMessageW(window_, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(width, 0));
}

int32_t ListView::ColumnWidth(int32_t column) const {
  return static_cast<int32_t>(SendMessageW(window_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

bool ListView::LabelRect(int32_t row, RECT& rect) const {
  RECT label = {};
  label.left = LVIR_LABEL;
  if (!SendMessageW(window_, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&label))) {
    return false;
  }
  rect = label;
  return true;
}

bool ListView::CellRect(int32_t row, int32_t column, RECT& rect) const {
  RECT cell = {};
  cell.top = column;
  cell.left = LVIR_BOUNDS;
  if (!SendMessageW(window_, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell))) {
    return false;
  }
  rect = cell;
  return true;
}

bool ListView::CellAt(POINT point, int32_t& row, int32_t& column) const {
  LVHITTESTINFO hit = {};
  hit.pt = point;
  if (SendMessageW(window_, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) < 0 || hit.iItem < 0) return false;
  row = hit.iItem;
  column = hit.iSubItem;
  return true;
}

HWND ListView::EditLabel(int32_t row) {
  return reinterpret_cast<HWND>(SendMessageW(window_, LVM_EDITLABELW, static_cast<WPARAM>(row), 0));
}

HWND ListView::EditControl() const { return reinterpret_cast<HWND>(SendMessageW(window_, LVM_GETEDITCONTROL, 0, 0)); }

UINT ListView::Code(const Message& notify) { return reinterpret_cast<const NMHDR*>(notify.lParam)->code; }

NMLVDISPINFOW& ListView::DisplayInfo(const Message& notify) { return *reinterpret_cast<NMLVDISPINFOW*>(notify.lParam); }

const NMLISTVIEW& ListView::Change(const Message& notify) {
  return *reinterpret_cast<const NMLISTVIEW*>(notify.lParam);
}

const NMITEMACTIVATE& ListView::Activation(const Message& notify) {
  return *reinterpret_cast<const NMITEMACTIVATE*>(notify.lParam);
}

}  // namespace ui
