#pragma once
// What the serial and network pages share: the page state is a dialog record
// with the page colours, created as a child of the shell's setup dialog from
// dialog 100 of the plug-in's module, and owned by a PageSlot in the
// plug-in's page object. Plug-ins use SerialSettingsPage or
// NetworkSettingsPage, not this header.

#include <windows.h>

#include "common/ui/window_binding.h"
#include "view/view_helpers.h"

class SettingsPageState : public ui::Dialog {
 public:
  // Copies the page's controls into the settings record.
  virtual void Apply() = 0;

 protected:
  // Answers the colour messages with the page colours; call it first from a
  // page's Dispatch.
  void AnswerColours(ui::Message& message) const { colours_.Answer(message); }
  PageColours& Colours() { return colours_; }

 private:
  PageColours colours_;
};

// Owns at most one page state.
class PageSlot {
 public:
  PageSlot() = default;
  ~PageSlot() { Destroy(); }
  PageSlot(const PageSlot&) = delete;
  PageSlot& operator=(const PageSlot&) = delete;

  // Takes the state (made with mem::New), destroying the previous page
  // first, and creates the page window from dialog 100 as a child of parent.
  // Null when the window cannot be created (the state is freed then).
  HWND Create(SettingsPageState* state, HWND parent);
  // Destroys the page window through the binding's own handle, which is
  // cleared once the window is gone (the shell may have destroyed it, and
  // its old handle may already name another window), then frees the state.
  void Destroy();
  // Applies the page while its window exists.
  void Apply();

  HWND Window() const { return state_ ? state_->Window() : nullptr; }

 private:
  SettingsPageState* state_ = nullptr;
};

// Enables or disables the controls first..last of a page.
void EnablePageControls(HWND page, int first, int last, bool enable);
