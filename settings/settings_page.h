#pragma once
// What the settings pages share (the serial and network pages, the fault
// slaves' group): the page state is a dialog record with the page colours,
// created as a child of the shell's setup dialog (or of another page) from a
// dialog template of the plug-in's module, and owned by a PageSlot in the
// plug-in's page object. Plug-ins use SerialSettingsPage or
// NetworkSettingsPage; a page added to one of them uses this header.

#include <windows.h>

#include "common/ui/window_binding.h"
#include "settings/settings_resource_ids.h"
#include "view/view_helpers.h"

// The colour messages are answered with the page colours, taken at
// WM_INITDIALOG before the page fills its controls; the setup dialog decides
// where the focus goes.
class SettingsPageState : public ui::Dialog {
 public:
  // Copies the page's controls into the settings record.
  virtual void Apply() = 0;

 protected:
  // Shows the settings record in the page's controls, once, at WM_INITDIALOG.
  virtual void Fill() = 0;
  // The page's own messages other than WM_INITDIALOG; none by default.
  virtual void DispatchPage(ui::Message& message) { (void)message; }

 private:
  void Dispatch(ui::Message& message) final;

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
  // first, and creates the page window from the dialog template (the
  // settings page unless told) as a child of parent. Null when
  // the window cannot be created (the state is freed then).
  HWND Create(SettingsPageState* state, HWND parent, UINT templateId = IDD_SETTINGS_PAGE);
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

// Places group (a page's own group, a child of page) under what page shows
// so far, and grows page to hold both: as tall as the two together, as wide
// as the wider.
void PlaceGroupUnder(HWND page, HWND group);
