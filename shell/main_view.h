#pragma once
// The main view's behaviours on the main window's controls: the frame lines,
// the tab strip with its rename editor and the table's editing paths, each in
// its own file (frame_lines.*, tab_rename.*, table_edit.*). The main window
// holds one MainView and hands it the messages and commands they answer.

#include <windows.h>

#include "common/plugin_interface.h"
#include "common/ui/window_binding.h"
#include "shell/frame_lines.h"
#include "shell/tab_rename.h"
#include "shell/table_edit.h"
#include "shell/table_menu.h"

class MainView {
 public:
  // Initialisation step 3: subclasses the tab control (rename), the two frame
  // lines (flicker-free painting) and the table (cell editor) of dialog; the
  // table's events go to events.
  void Attach(HWND dialog, CellEventSink& events);

  // ShowTxFrame, ShowRxFrame and ShowRxText.
  void FrameCommand(const HostCommand& command) { frames_.Command(command); }

  // Drops pending frame-line updates and stops their throttle timer (another
  // plug-in is activated, or the window closes).
  void DropFrameLines() { frames_.Drop(); }

  // Drops pending frame-line updates and shows "TX: -" and "RX: -" without
  // the error colour (another plug-in is activated).
  void ResetFrameLines() { frames_.Reset(); }

  // Ends an open table edit now, in the tab and format it began in (before
  // another tab is selected or the value format changes).
  void FinishTableEdit() { table_.Finish(); }

  // Selects the next tab (step 1) or the previous one (-1) as a click does,
  // wrapping round.
  void SelectNextTab(int32_t step) { tabs_.SelectNext(step); }

  // Whether the RX line shows its text in the error colour.
  bool RxError() const { return frames_.RxError(); }

  // A context-menu request over the window (the table's menu, the copy of a
  // frame line); sets handled when it took the message.
  void ContextMenu(ui::Message& message);

  // Notifications of the table (306) other than the cell texts and column
  // clicks, which the main window answers itself: the editing path.
  void TableNotify(ui::Message& message) { table_.Notify(message); }

 private:
  FrameLines frames_;
  TabStrip tabs_;
  TableEditing table_;
  TableMenuKeys tableMenuKeys_;
  CellEventSink* events_ = nullptr;
};
