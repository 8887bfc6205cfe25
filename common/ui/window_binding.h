#pragma once
// Window objects: a dialog, a subclassed control or a timer is a plain record
// bound to a window handle. Every message reaches the record through one
// toolkit procedure, which builds a Message and walks the record's message
// map. Records outlive their windows: only the binding ends when the window
// is destroyed. Everything here runs on the thread that owns the windows.

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

namespace ui {

// Built for every message delivered to a bound object. A handler that takes
// the message sets handled and, where the message has one, the result.
struct Message {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  int64_t result;
  bool handled;
};

// What a message map entry compares besides the message number. The control
// identifier and notification code are those of WM_COMMAND and WM_NOTIFY;
// the control alone also matches the colour messages (the control sending
// them) and the owner-drawn item messages.
enum class Match : uint8_t { MessageOnly, Control, ControlAndCode };

template <typename T>
struct MessageEntry {
  UINT message;
  Match match;
  UINT control;
  UINT code;
  void (*handler)(T& object, Message& message);
};

template <typename T>
constexpr MessageEntry<T> On(UINT message, void (*handler)(T&, Message&)) {
  return MessageEntry<T>{message, Match::MessageOnly, 0, 0, handler};
}
template <typename T>
constexpr MessageEntry<T> OnControl(UINT message, UINT control, void (*handler)(T&, Message&)) {
  return MessageEntry<T>{message, Match::Control, control, 0, handler};
}
template <typename T>
constexpr MessageEntry<T> OnCommand(UINT control, UINT code, void (*handler)(T&, Message&)) {
  return MessageEntry<T>{WM_COMMAND, Match::ControlAndCode, control, code, handler};
}
template <typename T>
constexpr MessageEntry<T> OnNotify(UINT control, UINT code, void (*handler)(T&, Message&)) {
  return MessageEntry<T>{WM_NOTIFY, Match::ControlAndCode, control, code, handler};
}

bool MessageMatches(UINT message, Match match, UINT control, UINT code, const Message& delivered);

// Calls the matching entries in order; the first that sets handled ends the
// dispatch.
template <typename T, size_t N>
void DispatchMessageMap(T& object, const MessageEntry<T> (&map)[N], Message& message) {
  for (const MessageEntry<T>& entry : map) {
    if (!MessageMatches(entry.message, entry.match, entry.control, entry.code, message)) continue;
    entry.handler(object, message);
    if (message.handled) return;
  }
}

// The common part of every bound object.
class WindowObject {
 public:
  WindowObject() = default;
  virtual ~WindowObject() = default;
  WindowObject(const WindowObject&) = delete;
  WindowObject& operator=(const WindowObject&) = delete;

  // The bound window, or null before binding and after the binding ended.
  HWND Window() const { return window_; }
  // The message being handled, or null. Nested messages restore it.
  Message* CurrentMessage() const { return current_; }

 protected:
  // Routes a message to the object's handlers, normally by DispatchMessageMap.
  virtual void Dispatch(Message& message) = 0;

 private:
  friend INT_PTR CALLBACK DialogProcedure(HWND, UINT, WPARAM, LPARAM);
  friend LRESULT CALLBACK SubclassProcedure(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  friend class Dialog;
  friend class Subclass;

  HWND window_ = nullptr;
  Message* current_ = nullptr;
};

// A dialog created from a template with the object as creation parameter.
class Dialog : public WindowObject {
 public:
  // Clears the window's user slot when the dialog still exists, so that its
  // later messages no longer reach the released record.
  ~Dialog() override;

  // Runs the dialog modally: the result given to EndDialog, or -1 when the
  // dialog could not be created or the object is already bound.
  INT_PTR RunModal(HINSTANCE instance, UINT templateId, HWND owner);
  // Creates the dialog modeless: its window, or null.
  HWND Create(HINSTANCE instance, UINT templateId, HWND owner);

  // Set between the final non-client destroy and the return of the outermost
  // message.
  bool Destroyed() const { return destroyed_; }

 private:
  friend INT_PTR CALLBACK DialogProcedure(HWND, UINT, WPARAM, LPARAM);
  bool destroyed_ = false;
};

// A control whose messages pass through the object before the control's own
// procedure. The binding ends by itself with the final non-client destroy.
class Subclass : public WindowObject {
 public:
  // Removes a subclass still installed; a failed removal is a broken
  // invariant and ends the process (0xC0000005).
  ~Subclass() override;

  // Fails when the object is already bound or the window does not exist.
  int Bind(HWND window);
  // Removes the subclass; fails when the object is not bound or the system
  // refuses.
  int Unbind();
  bool Subclassed() const { return subclassed_; }

 protected:
  // Passes the message being handled to the control's own procedure.
  LRESULT CallDefault(const Message& message);

 private:
  friend LRESULT CALLBACK SubclassProcedure(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  bool subclassed_ = false;
};

class BoundTimer;

// Receives the ticks of the timers started for it.
class TimerTarget {
 public:
  virtual void OnTimer(BoundTimer& timer) = 0;

 protected:
  virtual ~TimerTarget() = default;
};

// A system timer on a window whose identifier is the record's own address
// while it runs. Released records are stopped; a tick that arrives for a
// record that is stopped or gone is ignored.
class BoundTimer {
 public:
  BoundTimer() = default;
  ~BoundTimer();
  BoundTimer(const BoundTimer&) = delete;
  BoundTimer& operator=(const BoundTimer&) = delete;

  // Stops the timer, then starts it when window, period and target are all
  // given. Returns 1 when the timer runs.
  int Start(HWND window, uint32_t periodMs, TimerTarget* target);
  void Stop();

  bool Running() const { return id_ != 0; }
  UINT_PTR Identifier() const { return id_; }
  HWND Window() const { return window_; }

 private:
  friend VOID CALLBACK TimerProcedure(HWND, UINT, UINT_PTR, DWORD);

  HWND window_ = nullptr;
  TimerTarget* target_ = nullptr;
  UINT_PTR id_ = 0;
  BoundTimer* nextRunning_ = nullptr;
};

// The toolkit's procedures, public so that tests can reach them the way the
// system does.
INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK SubclassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                   DWORD_PTR reference);
VOID CALLBACK TimerProcedure(HWND window, UINT message, UINT_PTR id, DWORD time);

}  // namespace ui
