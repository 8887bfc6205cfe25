#pragma once
// The "Traffic Log" window: modeless, resizable, one per program, owned by
// the main window. A virtual list (the list view asks for the cells it
// shows) over the TrafficStore, so 100,000 rows cost no more to show than
// thirty; Pause and Resume, Clear, Copy (Ctrl+C, Ctrl+A selects every row)
// and Save... (text or CSV, through the usual save dialog).
//
// Threads: the user-interface thread only. The shell's host link adds rows
// on the plug-ins' threads and posts one wake to the main window when the
// store goes from read to unread; the main window hands it to Wake. While
// the window is open it shows new rows at once and then at most every
// kTrafficRefreshMs; while it is closed the store keeps collecting without
// waking anybody. While it is minimised or hidden (its owner minimised) the
// list is not refreshed; it is brought up to date as soon as it is restored
// or shown again.

#include <windows.h>

#include <stdint.h>

#include "common/text.h"
#include "shell/traffic_rows.h"
#include "shell/traffic_store.h"

constexpr uint32_t kTrafficRefreshMs = 250;
// The main window's system menu item and the message of the store's wake.
constexpr UINT kTrafficLogCommand = 0x0110;
constexpr UINT kTrafficWakeMessage = WM_APP + 2;

// The log window's controls (tests address them).
constexpr int kTrafficPauseButton = 1001;
constexpr int kTrafficClearButton = 1002;
constexpr int kTrafficCopyButton = 1003;
constexpr int kTrafficSaveButton = 1004;
constexpr int kTrafficStatusLine = 1005;
constexpr int kTrafficList = 1006;

class TrafficLogWindow {
 public:
  TrafficLogWindow(TrafficStore& store, const TrafficClock& clock) : store_(store), clock_(clock) {}
  ~TrafficLogWindow();
  TrafficLogWindow(const TrafficLogWindow&) = delete;
  TrafficLogWindow& operator=(const TrafficLogWindow&) = delete;

  // Shows the window, creating it the first time (owner: the main window)
  // and bringing it to the front after that.
  // font for the buttons, listFont for the rows.
  void Open(HWND owner, HFONT font, HFONT listFont);
  void Close();
  HWND Window() const { return window_; }

  // The store has rows the window has not read.
  void Wake();

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Create(HWND owner);
  void Layout();
  // Wake's work once it is due: the status while paused, the list
  // otherwise, and the pause before the next one.
  void Update();
  // Restored or shown again: shows at once what came while the window was
  // minimised or hidden.
  void CatchUp();
  // Reads the store's state and shows it; the view follows the newest row
  // unless the user scrolled up.
  void Refresh();
  void ShowStatus();
  void TogglePause();
  void ClearRows();
  void CopySelection();
  void Save();
  void SelectAll();
  LRESULT Notify(NMHDR* header);
  // The store's sequence number of list row index; false for the dropped
  // row.
  bool SequenceOf(int index, uint64_t* sequence) const;
  int RowCount() const;
  // Appends the line of list row index.
  int AppendLine(int index, bool csv, TextBuffer& out);

  TrafficStore& store_;
  const TrafficClock& clock_;
  HWND window_ = nullptr;
  HWND list_ = nullptr;
  HFONT font_ = nullptr;
  HFONT listFont_ = nullptr;
  bool paused_ = false;
  bool throttling_ = false;
  // A wake came while minimised or hidden and is not shown yet.
  bool behind_ = false;
  // What the list shows: rows [first_, next_) after the dropped row.
  uint64_t first_ = 0;
  uint64_t next_ = 0;
  uint64_t dropped_ = 0;
  TrafficRow row_;  // the row of the cell asked for last
};
