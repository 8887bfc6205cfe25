#pragma once
// In-place editing in the main view's table. The list view's own label edit
// of column 0 asks the plug-in (BeginCellEdit) and reports the text
// (EndCellEdit); a double-click on column 1 asks for the editor mode and the
// initial text (GetCellEditor), starts the list view's label edit and turns
// its edit control into the cell editor, kept over column 1.

#include <windows.h>

#include <commctrl.h>

#include <stdint.h>

#include "common/plugin_interface.h"
#include "common/text.h"
#include "common/ui/window_binding.h"
#include "shell/cell_editor.h"

constexpr int32_t kCellEditorTextCapacity = 64;  // GetCellEditor's buffer

// Where the table's events go: fills in the selected tab's key unless the
// event names one and delivers the event to the attached plug-in (0 when
// none is attached).
class CellEventSink {
 public:
  virtual int64_t DeliverCellEvent(ViewEvent& event) = 0;

 protected:
  virtual ~CellEventSink() = default;
};

class TableEditing : public ui::Subclass {
 public:
  // Subclasses the table (306).
  int Attach(HWND table, CellEventSink& sink);
  // A notification of the table; sets handled and the result for the ones
  // it answers (double-click, start and end of a label edit).
  void Notify(ui::Message& message);
  // Ends an open edit now with the text typed so far, delivered to the tab,
  // row and column it began in. Called before anything that changes what
  // the edit belongs to: another tab selected, another value format.
  void Finish();

  // Opens the label editor of the selected row (the menu key where the
  // plug-in offers no menu).
  void EditSelectedLabel();

  // The row being edited, -1 when none.
  int32_t Row() const { return row_; }
  bool StartedByShell() const { return startedByShell_; }
  bool InProgress() const { return inProgress_; }

 protected:
  void Dispatch(ui::Message& message) override;

 private:
  static void OnPaint(TableEditing& table, ui::Message& message);
  static void OnGetDialogCode(TableEditing& table, ui::Message& message);
  static void OnKeyDown(TableEditing& table, ui::Message& message);
  static void OnContextMenu(TableEditing& table, ui::Message& message);

  void DoubleClick(const NMITEMACTIVATE& activate);
  // The shell's editor on column 1 of row, as a double-click opens it.
  void StartValueEdit(int32_t row);
  int32_t SelectedRow() const;
  void BeginEdit(ui::Message& message, const NMLVDISPINFOW& info);
  void EndEdit(const NMLVDISPINFOW& info);
  // tabKey 0 names the selected tab; the key delivered is returned in it.
  int64_t Deliver(ViewEventKind kind, uint64_t arg, const Unit* text, Unit* buffer, uint64_t capacity,
                  uintptr_t* tabKey = nullptr);
  void Reset();

  CellEventSink* sink_ = nullptr;
  CellEditor editor_;
  int32_t row_ = -1;
  // The tab the edit began in.
  uintptr_t tabKey_ = 0;
  uint32_t mode_ = kCellEditFree;
  Unit initialText_[kCellEditorTextCapacity] = {};
  bool startedByShell_ = false;
  bool inProgress_ = false;
};
