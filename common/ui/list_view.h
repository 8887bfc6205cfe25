#pragma once
// A report-style list view through its own operations: the one place that
// knows the list view's messages and the records its notifications carry. A
// handle wrapper, copied freely; the control belongs to its dialog.

#include <windows.h>

#include <commctrl.h>

#include <stdint.h>

#include "common/text.h"
#include "common/ui/window_binding.h"

namespace ui {

class ListView {
 public:
  explicit ListView(HWND window) : window_(window) {}

  HWND Window() const { return window_; }

  void SetExtendedStyle(DWORD style);

  // The rows of an owner-data list; the scroll position stays and only the
  // rows that changed repaint.
  void SetRowCount(int32_t rows);

  int32_t ColumnCount() const;
  // Appends untitled columns of the given width, or removes the last ones,
  // until there are count; returns the count reached.
  int32_t SetColumnCount(int32_t count, int32_t width);
  // False for a column that does not exist.
  bool SetColumnTitle(int32_t column, const Unit* title);
  void SetColumnWidth(int32_t column, int32_t width);
  // A column's width in pixels; 0 for a column that does not exist.
  int32_t ColumnWidth(int32_t column) const;

  // The rectangle of a row's label (column 0) and of one of its cells (the
  // whole cell), in client coordinates; false when the row does not exist.
  bool LabelRect(int32_t row, RECT& rect) const;
  bool CellRect(int32_t row, int32_t column, RECT& rect) const;
  // The cell under a point of the client area; false over no row.
  bool CellAt(POINT point, int32_t& row, int32_t& column) const;

  // Starts the label edit of a row; its edit control, null when refused.
  HWND EditLabel(int32_t row);
  // The edit control of the label edit in progress, or null.
  HWND EditControl() const;

  // The records of the list view's WM_NOTIFY messages: the code of every one,
  // the display record of LVN_GETDISPINFOW and the label edits, the record
  // of LVN_COLUMNCLICK and the one of NM_DBLCLK.
  static UINT Code(const Message& notify);
  static NMLVDISPINFOW& DisplayInfo(const Message& notify);
  static const NMLISTVIEW& Change(const Message& notify);
  static const NMITEMACTIVATE& Activation(const Message& notify);

 private:
  HWND window_;
};

}  // namespace ui
