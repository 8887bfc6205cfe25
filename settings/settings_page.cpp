#include "settings/settings_page.h"

#include <commctrl.h>

#include "common/memory.h"
#include "settings/settings_resource_ids.h"

void SettingsPageState::Dispatch(ui::Message& message) {
  colours_.Answer(message);
  if (message.handled) return;
  if (message.message != WM_INITDIALOG) {
    DispatchPage(message);
    return;
  }
  colours_.Create();
  Fill();
  message.result = FALSE;
  message.handled = true;
}

HWND PageSlot::Create(SettingsPageState* state, HWND parent, UINT templateId) {
  Destroy();
  if (!state) return nullptr;
  // The pages use the link and IP address controls.
  INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_LINK_CLASS | ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&classes);
  state_ = state;
  HWND window = state_->Create(PluginResourceModule(), templateId, parent);
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

void PlaceGroupUnder(HWND page, HWND group) {
  RECT above = {}, own = {};
  GetClientRect(page, &above);
  GetClientRect(group, &own);
  SetWindowPos(group, nullptr, 0, above.bottom, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  const LONG width = above.right > own.right ? above.right : own.right;
  SetWindowPos(page, nullptr, 0, 0, width, above.bottom + own.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
