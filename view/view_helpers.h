#pragma once
// The view helpers every plug-in carries (Windows side): tips loaded from the
// plug-in's own string resources, the animated connection indicator on the
// shell's icon window, and the colours of a settings page. Everything runs on
// the shell's user-interface thread.
//
// How a plug-in uses it (library velmora_view_ui; its .rc file includes
// "client/client_tips.rc" or "server/server_tips.rc"):
//   tips, indicator      its PluginInstance made with &kViewExtras (a
//                        TipRotation and a ConnectionIndicator per instance;
//                        deleting the instance stops the indicator)
//   settings page        a PageColours member: Create() at WM_INITDIALOG,
//                        Answer(message) for WM_CTLCOLORSTATIC, WM_CTLCOLORBTN
//                        and WM_CTLCOLORDLG; Release() (or the destructor)
//                        when the page goes
// Resources (tips, page templates, menus) come from PluginResourceModule().

#include <windows.h>

#include <stdint.h>

#include "common/text.h"
#include "common/ui/window_binding.h"
#include "view/plugin_instance.h"
#include "view/view_rules.h"

// The module that holds the plug-in's resources: the one in the module
// record (the application context) when there is one, else the module this
// code is linked into.
HINSTANCE PluginResourceModule();

// Counts the tips on the first request, then loads the tip seed selects (seed
// modulo the count) into the buffer. 0 without tips, with no buffer or
// capacity, or when the string cannot be loaded.
int LoadTip(TipRotation& rotation, uint32_t seed, Unit* buffer, uint32_t capacity);
// The tip after the one shown last, as LoadTip.
int LoadNextTip(TipRotation& rotation, Unit* buffer, uint32_t capacity);

// Animates the shell's icon window while the plug-in is connected: the
// window is subclassed once, its icon drawn narrowing and turning over in 20
// frames of 125 ms. Stopping (or the window's destruction) gives the window
// back to its own drawing.
class ConnectionIndicator : public ui::Subclass, private ui::TimerTarget {
 public:
  ConnectionIndicator() = default;
  ~ConnectionIndicator() override;

  // connected: subclasses iconWindow unless a window is already subclassed,
  // takes its icon and (re)starts the animation at frame 0. Not connected:
  // Stop().
  void Show(HWND iconWindow, bool connected);
  // Stops the timer, rewinds to frame 0 and, when the window still exists,
  // removes the subclass and repaints it with erasing. Harmless when idle.
  void Stop();

  uint32_t Frame() const { return frame_; }
  bool Animating() const { return timer_.Running(); }

 protected:
  void Dispatch(ui::Message& message) override;

 private:
  void OnTimer(ui::BoundTimer& timer) override;
  static void OnPaint(ConnectionIndicator& indicator, ui::Message& message);
  static void OnPrintClient(ConnectionIndicator& indicator, ui::Message& message);
  static void OnNcDestroy(ConnectionIndicator& indicator, ui::Message& message);
  void Paint(HDC target);
  void PaintFrame(HDC dc, const RECT& client);

  HICON icon_ = nullptr;
  uint32_t frame_ = 0;
  ui::BoundTimer timer_;
};

// A settings page's colours: labels, group boxes, radio buttons, check boxes
// and the page itself sit on the system window colour, taken when the page is
// created. The page owns the brush.
class PageColours {
 public:
  PageColours() = default;
  ~PageColours() { Release(); }
  PageColours(const PageColours&) = delete;
  PageColours& operator=(const PageColours&) = delete;

  // Takes the window colour and makes its brush (a previous brush is deleted).
  void Create();
  void Release();

  // For WM_CTLCOLORSTATIC, WM_CTLCOLORBTN and WM_CTLCOLORDLG: sets the device
  // context's background colour and transparent mode and answers the brush.
  // Returns whether the message was answered.
  bool Answer(ui::Message& message) const;

  COLORREF Colour() const { return colour_; }
  HBRUSH Brush() const { return brush_; }

 private:
  COLORREF colour_ = 0;
  HBRUSH brush_ = nullptr;
};

// The tips (LoadTip, LoadNextTip) and the connection indicator of one
// plug-in instance, for PluginInstance.
extern const ViewExtrasOps kViewExtras;
