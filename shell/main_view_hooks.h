#pragma once
// Where the main view's frame lines, tab rename and table editing join the
// main window; main_view.cpp implements them with frame_lines.*,
// tab_rename.* and table_edit.*.

#include "common/plugin_interface.h"
#include "common/ui/window_binding.h"

class MainWindow;

// Initialisation step 3: subclasses the tab control (rename), the two frame
// lines (flicker-free painting) and the table (cell editor).
void MainViewAttachControls(MainWindow& window);

// ShowTxFrame, ShowRxFrame and ShowRxText.
void MainViewFrameCommand(MainWindow& window, const HostCommand& command);

// Drops pending frame-line updates and stops their throttle timer (another
// plug-in is activated, or the window closes).
void MainViewDropFrameLines(MainWindow& window);

// Drops pending frame-line updates and shows "TX: -" and "RX: -" without
// the error colour (another plug-in is activated).
void MainViewResetFrameLines(MainWindow& window);

// Ends an open table edit now, in the tab and format it began in (before
// another tab is selected or the value format changes).
void MainViewFinishTableEdit(MainWindow& window);

// Whether the RX line shows its text in the error colour.
bool MainViewRxError(const MainWindow& window);

// A context-menu request over the window (copy of a frame line); sets
// handled when it took the message.
void MainViewContextMenu(MainWindow& window, ui::Message& message);

// Notifications of the table (306) other than the cell texts and column
// clicks, which the main window answers itself: the editing path.
void MainViewTableNotify(MainWindow& window, ui::Message& message);
