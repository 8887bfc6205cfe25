#pragma once
// The table's context menu: the attached plug-in names the items (the
// GetMenuItem events), the shell shows them as a popup menu and tells the
// plug-in which one the user chose (MenuItemChosen). Right-clicking the
// table or its header and the menu key or Shift+F10 on the focused table
// open it.

#include <windows.h>

#include "shell/table_edit.h"

// The keyboard's way to the menu on the focused table: the menu key and
// Shift+F10 ask the table's parent for the menu as from the keyboard
// (WM_CONTEXTMENU at -1, -1) and are not passed on, so that no default
// handling asks a second time. Wine's default handling knows only
// Shift+F10, and that only from the real keyboard state.
class TableMenuKeys : public ui::Subclass {
 protected:
  void Dispatch(ui::Message& message) override;
};

// Whether a WM_CONTEXTMENU's window is the table or its header.
bool IsTableMenuSource(HWND table, HWND source);

// Shows the menu at the WM_CONTEXTMENU position; from the keyboard
// (-1, -1) below the focused row's label, or at the table's top left. Blocks
// while the menu is open. False when the plug-in names no items (a plug-in
// that predates the menu): then nothing is shown.
bool ShowTableMenu(HWND owner, HWND table, LPARAM position, CellEventSink& events);
