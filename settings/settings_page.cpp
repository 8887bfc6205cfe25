#include "settings/settings_page.h"

#include <commctrl.h>

#include "common/memory.h"
#include "settings/settings_resource_ids.h"

HWND PageSlot::Create(SettingsPageState* state, HWND parent) {
  Destroy();
  if (!state) return nullptr;
  // The pages use the link and IP address controls.
  INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_LINK_CLASS | ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&classes);
  state_ = state;
  HWND window = state_->Create(PluginResourceModule(), IDD_SETTINGS_PAGE, parent);
  if (!window) Destroy();
  return window;
}

void PageSlot::Destroy() {
  if (!state_) return;
  if (HWND window = state_->Window()) DestroyWindow(window);
  mem::Delete(state_);
  state_ = nullptr;
}

void PageSlot::Apply() {
  if (state_ && state_->Window()) state_->Apply();
}

void EnablePageControls(HWND page, int first, int last, bool enable) {
  for (int id = first; id <= last; ++id) EnableWindow(GetDlgItem(page, id), enable ? TRUE : FALSE);
}
