#pragma once
// The TX and RX frame lines of the main view: two statics that show the
// last frames as hexadecimal text (or the RX line's status text, in the
// error colour on failures), change at most once per throttle period,
// paint without flicker and copy their text to the clipboard.

#include <windows.h>

#include "common/plugin_interface.h"
#include "common/ui/window_binding.h"
#include "shell/frame_text.h"

// A static that paints through a memory bitmap and never erases its
// background on its own.
class FlickerFreeStatic : public ui::Subclass {
 protected:
  void Dispatch(ui::Message& message) override;

 private:
  static void OnEraseBackground(FlickerFreeStatic& line, ui::Message& message);
  static void OnPaint(FlickerFreeStatic& line, ui::Message& message);
};

class FrameLines : public FrameLineOutput, public ui::TimerTarget {
 public:
  FrameLines() = default;
  ~FrameLines() override = default;
  FrameLines(const FrameLines&) = delete;
  FrameLines& operator=(const FrameLines&) = delete;

  // Subclasses both lines; owner carries the throttle timer.
  int Attach(HWND owner, HWND tx, HWND rx);
  // ShowTxFrame, ShowRxFrame and ShowRxText; other kinds are ignored.
  void Command(const HostCommand& command);
  // Drops pending updates and stops the throttle.
  void Drop();
  // Drops pending updates and shows "TX: -" and "RX: -" without the error
  // colour.
  void Reset();
  bool RxError() const { return throttle_.RxError(); }
  // The line of a window, or -1 when window is neither line.
  int LineOf(HWND window) const;
  // A context menu asked for over the owner (its WM_CONTEXTMENU arguments):
  // copies the line it concerns. Returns 1 when a line was concerned.
  int ContextMenu(HWND target, LPARAM screenPoint);
  // Applies what is pending, then puts the line's whole text on the
  // clipboard, with every byte of a frame the line cuts short; nothing
  // when the clipboard cannot be opened. 1 when copied.
  int Copy(int line);

 protected:
  void ShowLineText(int line, const Unit* text) override;
  void ShowRxError(bool error) override;
  int StartThrottle(uint32_t periodMs) override;
  void StopThrottle() override;
  void OnTimer(ui::BoundTimer& timer) override;

 private:
  // Every line shows the latest text given to the throttle for it, so the
  // whole text of the latest update is the one the line's copy carries.
  void Update(int line, const TextBuffer& shown, const TextBuffer& whole, bool error);

  HWND owner_ = nullptr;
  HWND lines_[2] = {};
  TextBuffer latestWhole_[2];
  TextBuffer shownWhole_[2];
  FlickerFreeStatic painters_[2];
  FrameLineThrottle throttle_{*this};
  ui::BoundTimer timer_;
};
