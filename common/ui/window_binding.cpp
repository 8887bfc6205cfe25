#include "common/ui/window_binding.h"

#include <commctrl.h>

#include "common/exit_codes.h"
#include "common/memory.h"
#include "common/platform.h"

namespace ui {
namespace {

// Timers that run, so that a tick never touches a record that was stopped
// and released in the meantime. Only the user-interface thread uses it.
BoundTimer* g_runningTimers = nullptr;

bool IsColourMessage(UINT message) { return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC; }

// Messages whose answer is the dialog procedure's own return value rather
// than the dialog's message result.
bool ReturnsResultItself(UINT message) {
  if (IsColourMessage(message)) return true;
  switch (message) {
    case WM_INITDIALOG:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_COMPAREITEM:
      return true;
    default:
      return false;
  }
}

// The control a message comes from, when it names one.
bool ControlOf(const Message& delivered, UINT& control) {
  switch (delivered.message) {
    case WM_COMMAND:
      control = LOWORD(delivered.wParam);
      return true;
    case WM_NOTIFY:
      if (!delivered.lParam) return false;
      control = static_cast<UINT>(reinterpret_cast<const NMHDR*>(delivered.lParam)->idFrom);
      return true;
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_COMPAREITEM:
    case WM_DELETEITEM:
      control = static_cast<UINT>(delivered.wParam);
      return true;
    default:
      if (!IsColourMessage(delivered.message)) return false;
      control = static_cast<UINT>(GetDlgCtrlID(reinterpret_cast<HWND>(delivered.lParam)));
      return true;
  }
}

bool CodeOf(const Message& delivered, UINT& code) {
  if (delivered.message == WM_COMMAND) {
    code = HIWORD(delivered.wParam);
    return true;
  }
  if (delivered.message == WM_NOTIFY && delivered.lParam) {
    code = reinterpret_cast<const NMHDR*>(delivered.lParam)->code;
    return true;
  }
  return false;
}

}  // namespace

bool MessageMatches(UINT message, Match match, UINT control, UINT code, const Message& delivered) {
  if (message != delivered.message) return false;
  if (match == Match::MessageOnly) return true;
  UINT deliveredControl = 0;
  if (!ControlOf(delivered, deliveredControl) || deliveredControl != control) return false;
  if (match == Match::Control) return true;
  UINT deliveredCode = 0;
  return CodeOf(delivered, deliveredCode) && deliveredCode == code;
}

// --- dialogs ----------------------------------------------------------------

Dialog::~Dialog() {
  HWND window = Window();
  if (window && IsWindow(window) &&
      GetWindowLongPtrW(window, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(static_cast<Dialog*>(this))) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  }
}

INT_PTR Dialog::RunModal(HINSTANCE instance, UINT templateId, HWND owner) {
  if (Window()) return -1;
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId), owner, DialogProcedure,
                         reinterpret_cast<LPARAM>(this));
}

HWND Dialog::Create(HINSTANCE instance, UINT templateId, HWND owner) {
  if (Window()) return nullptr;
  return CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId), owner, DialogProcedure,
                            reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* dialog;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<Dialog*>(lParam);
    if (!dialog) return FALSE;
    dialog->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(dialog));
    if (GetWindowLongPtrW(window, GWLP_USERDATA) != reinterpret_cast<LONG_PTR>(dialog)) {
      dialog->window_ = nullptr;
      return FALSE;
    }
  } else {
    dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!dialog) return FALSE;
  }

  Message record{window, message, wParam, lParam, 0, false};
  Message* outer = dialog->current_;
  dialog->current_ = &record;
  dialog->Dispatch(record);
  dialog->current_ = outer;
  if (message == WM_NCDESTROY) dialog->destroyed_ = true;

  INT_PTR answer = FALSE;
  if (record.handled) {
    if (ReturnsResultItself(message)) {
      answer = static_cast<INT_PTR>(record.result);
    } else {
      if (!dialog->destroyed_) SetWindowLongPtrW(window, DWLP_MSGRESULT, static_cast<LONG_PTR>(record.result));
      answer = TRUE;
    }
  }

  // The binding ends once the outermost message of a destroyed dialog has
  // returned, so that outer handlers still see their window.
  if (dialog->destroyed_ && !outer) {
    dialog->window_ = nullptr;
    dialog->destroyed_ = false;
    // The window may already be gone; never clear the slot of another one.
    if (IsWindow(window) && GetWindowLongPtrW(window, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(dialog)) {
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    }
  }
  return answer;
}

// --- subclassed controls ----------------------------------------------------

Subclass::~Subclass() {
  if (!subclassed_) return;
  if (!RemoveWindowSubclass(Window(), SubclassProcedure, reinterpret_cast<UINT_PTR>(this))) {
    plat::FatalExit(kExitBrokenInvariant);
  }
}

int Subclass::Bind(HWND window) {
  if (Window() || subclassed_ || !window || !IsWindow(window)) return 0;
  UINT_PTR self = reinterpret_cast<UINT_PTR>(this);
  if (!SetWindowSubclass(window, SubclassProcedure, self, static_cast<DWORD_PTR>(self))) return 0;
  window_ = window;
  subclassed_ = true;
  return 1;
}

int Subclass::Unbind() {
  if (!subclassed_) return 0;
  if (!RemoveWindowSubclass(Window(), SubclassProcedure, reinterpret_cast<UINT_PTR>(this))) return 0;
  window_ = nullptr;
  subclassed_ = false;
  return 1;
}

LRESULT Subclass::CallDefault(const Message& message) {
  return DefSubclassProc(message.window, message.message, message.wParam, message.lParam);
}

LRESULT CALLBACK SubclassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                   DWORD_PTR reference) {
  Subclass* object = reinterpret_cast<Subclass*>(reference);
  if (!object) return DefSubclassProc(window, message, wParam, lParam);

  Message record{window, message, wParam, lParam, 0, false};
  Message* outer = object->current_;
  object->current_ = &record;
  object->Dispatch(record);
  object->current_ = outer;
  LRESULT answer = record.handled ? static_cast<LRESULT>(record.result)
                                  : DefSubclassProc(window, message, wParam, lParam);

  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(window, SubclassProcedure, id);
    object->window_ = nullptr;
    object->subclassed_ = false;
  }
  return answer;
}

// --- timers -----------------------------------------------------------------

BoundTimer::~BoundTimer() { Stop(); }

int BoundTimer::Start(HWND window, uint32_t periodMs, TimerTarget* target) {
  Stop();
  if (!window || !periodMs || !target) return 0;
  UINT_PTR self = reinterpret_cast<UINT_PTR>(this);
  if (!SetTimer(window, self, periodMs, TimerProcedure)) return 0;
  window_ = window;
  target_ = target;
  id_ = self;
  nextRunning_ = g_runningTimers;
  g_runningTimers = this;
  return 1;
}

void BoundTimer::Stop() {
  if (id_) {
    KillTimer(window_, id_);
    for (BoundTimer** link = &g_runningTimers; *link; link = &(*link)->nextRunning_) {
      if (*link == this) {
        *link = nextRunning_;
        break;
      }
    }
  }
  window_ = nullptr;
  target_ = nullptr;
  id_ = 0;
  nextRunning_ = nullptr;
}

VOID CALLBACK TimerProcedure(HWND, UINT, UINT_PTR id, DWORD) {
  // The identifier is the record's address; it is trusted only while that
  // record is among the running timers.
  for (BoundTimer* timer = g_runningTimers; timer; timer = timer->nextRunning_) {
    if (reinterpret_cast<UINT_PTR>(timer) == id && timer->id_ == id) {
      timer->target_->OnTimer(*timer);
      return;
    }
  }
}

}  // namespace ui
