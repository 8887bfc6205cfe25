// The main view before its frame lines, tab rename and table editing are in
// place: the frame-line commands and the table's edit notifications have no
// effect, and label edits are refused.
#include "shell/main_view_hooks.h"

#include <commctrl.h>

void MainViewAttachControls(MainWindow&) {}

void MainViewFrameCommand(MainWindow&, const HostCommand&) {}

void MainViewDropFrameLines(MainWindow&) {}

bool MainViewRxError(const MainWindow&) { return false; }

void MainViewContextMenu(MainWindow&, ui::Message&) {}

void MainViewTableNotify(MainWindow&, ui::Message& message) {
  const NMHDR* header = reinterpret_cast<const NMHDR*>(message.lParam);
  if (header->code == LVN_BEGINLABELEDITW) {
    message.result = TRUE;  // no edit
    message.handled = true;
  }
}
