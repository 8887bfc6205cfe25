// The connection setup dialog (template 202): the list of accepted plug-ins
// by display name, the selected plug-in's settings page embedded below it,
// and the diagnostics report at every opening. The dialog grows or shrinks
// to the page; it is centred over its owner the first time a page is laid
// out and then stays where it is.
#include <windows.h>

#include "common/app_context.h"
#include "common/ui/combo_box.h"
#include "common/ui/window_binding.h"
#include "shell/connection_setup.h"
#include "shell/resources/resource_ids.h"

namespace {

// Posted at initialisation: the diagnostics report comes once the dialog is
// on screen and its owner disabled, not from inside its creation.
constexpr UINT kShowReportMessage = WM_APP;

RECT ChildRect(HWND dialog, int id) {
  RECT rect = {};
  HWND child = GetDlgItem(dialog, id);
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

int Width(const RECT& rect) { return rect.right - rect.left; }
int Height(const RECT& rect) { return rect.bottom - rect.top; }

class SetupDialog : public ui::Dialog {
 public:
  SetupDialog(PluginRegistry& registry, int32_t activeIndex) : registry_(registry), activeIndex_(activeIndex) {}

 protected:
  void Dispatch(ui::Message& message) override {
    static const ui::MessageEntry<SetupDialog> map[] = {
        ui::On<SetupDialog>(WM_INITDIALOG, &SetupDialog::OnInit),
        ui::On<SetupDialog>(kShowReportMessage, &SetupDialog::OnShowReport),
        ui::OnCommand<SetupDialog>(IDC_PLUGIN_LIST, CBN_SELCHANGE, &SetupDialog::OnListChanged),
        ui::OnCommand<SetupDialog>(IDOK, BN_CLICKED, &SetupDialog::OnOk),
        ui::OnCommand<SetupDialog>(IDCANCEL, BN_CLICKED, &SetupDialog::OnCancel),
    };
    ui::DispatchMessageMap(*this, map, message);
  }

 private:
  static void OnInit(SetupDialog& dialog, ui::Message& message);
  static void OnShowReport(SetupDialog& dialog, ui::Message& message);
  static void OnListChanged(SetupDialog& dialog, ui::Message& message);
  static void OnOk(SetupDialog& dialog, ui::Message& message);
  static void OnCancel(SetupDialog& dialog, ui::Message& message);

  bool Valid(int32_t index) const { return index >= 0 && static_cast<uint32_t>(index) < registry_.PluginCount(); }
  void Select(int32_t index);
  void LayOutPage();
  void CentreOverOwner();

  PluginRegistry& registry_;
  int32_t activeIndex_;
  int32_t selected_ = -1;
  HWND page_ = nullptr;
  // Client coordinates at creation, before any page was laid out.
  RECT initialClient_ = {};
  RECT initialMarker_ = {};
  RECT initialBand_ = {};
  RECT initialOk_ = {};
  RECT initialCancel_ = {};
  bool centred_ = false;
};

void SetupDialog::OnInit(SetupDialog& dialog, ui::Message& message) {
  HWND window = dialog.Window();
  GetClientRect(window, &dialog.initialClient_);
  dialog.initialMarker_ = ChildRect(window, IDC_PAGE_MARKER);
  dialog.initialBand_ = ChildRect(window, IDC_WHITE_BAND);
  dialog.initialOk_ = ChildRect(window, IDOK);
  dialog.initialCancel_ = ChildRect(window, IDCANCEL);
  // The band lies under everything it stands behind.
  SetWindowPos(GetDlgItem(window, IDC_WHITE_BAND), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  ui::ComboBox list(GetDlgItem(window, IDC_PLUGIN_LIST));
  for (uint32_t i = 0; i < dialog.registry_.PluginCount(); ++i) {
    list.Add(dialog.registry_.Plugin(i)->descriptor->displayName);
  }
  int32_t initial = -1;
  if (dialog.Valid(dialog.activeIndex_)) {
    initial = dialog.activeIndex_;
  } else if (dialog.registry_.PluginCount() > 0) {
    initial = 0;
  }
  list.Select(initial);
  dialog.Select(initial);
  PostMessageW(window, kShowReportMessage, 0, 0);
  // The system puts the focus on the first control that takes it.
  message.result = TRUE;
  message.handled = true;
}

void SetupDialog::OnShowReport(SetupDialog& dialog, ui::Message& message) {
  dialog.registry_.ShowReport(dialog.Window());
  message.handled = true;
}

void SetupDialog::OnListChanged(SetupDialog& dialog, ui::Message& message) {
  const int32_t index = ui::ComboBox(GetDlgItem(dialog.Window(), IDC_PLUGIN_LIST)).Selected();
  if (index != dialog.selected_) dialog.Select(index);
  message.handled = true;
}

// OK is disabled without a selection; should it still arrive, it cancels
// rather than end with an index that is none.
void SetupDialog::OnOk(SetupDialog& dialog, ui::Message& message) {
  message.handled = true;
  if (!dialog.Valid(dialog.selected_)) {
    EndDialog(dialog.Window(), kSetupCancelled);
    return;
  }
  const PluginEntry* plugin = dialog.registry_.Plugin(static_cast<uint32_t>(dialog.selected_));
  plugin->ops.applySettings(plugin->ops.instance);
  EndDialog(dialog.Window(), dialog.selected_);
}

// Also Escape and the close box, which the dialog manager turns into Cancel.
void SetupDialog::OnCancel(SetupDialog& dialog, ui::Message& message) {
  EndDialog(dialog.Window(), kSetupCancelled);
  message.handled = true;
}

void SetupDialog::Select(int32_t index) {
  HWND window = Window();
  if (page_) {
    DestroyWindow(page_);
    page_ = nullptr;
  }
  selected_ = index;
  EnableWindow(GetDlgItem(window, IDOK), FALSE);
  SendMessageW(window, DM_SETDEFID, IDCANCEL, 0);
  if (!Valid(index)) return;
  EnableWindow(GetDlgItem(window, IDOK), TRUE);
  SendMessageW(window, DM_SETDEFID, IDOK, 0);
  const PluginEntry* plugin = registry_.Plugin(static_cast<uint32_t>(index));
  page_ = static_cast<HWND>(plugin->ops.createSettingsPage(plugin->ops.instance, window));
  if (page_) LayOutPage();
}

void SetupDialog::LayOutPage() {
  HWND window = Window();
  RECT pageClient = {};
  GetClientRect(page_, &pageClient);
  const int extra = Height(pageClient) - Height(initialMarker_);

  RECT frame = {}, client = {};
  GetWindowRect(window, &frame);
  GetClientRect(window, &client);
  const int frameHeight = Height(frame) - Height(client);
  SetWindowPos(window, nullptr, 0, 0, Width(frame), frameHeight + Height(initialClient_) + extra,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  SetWindowPos(GetDlgItem(window, IDC_WHITE_BAND), HWND_BOTTOM, initialBand_.left, initialBand_.top,
               Width(initialBand_), Height(initialBand_) + extra, SWP_NOACTIVATE);
  // Right behind the list in the z-order, so that Tab goes from the list
  // through the page's controls to the buttons.
  SetWindowPos(page_, GetDlgItem(window, IDC_PLUGIN_LIST), initialMarker_.left, initialMarker_.top, 0, 0,
               SWP_NOSIZE | SWP_NOACTIVATE);
  SetWindowPos(GetDlgItem(window, IDOK), nullptr, initialOk_.left, initialOk_.top + extra, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(GetDlgItem(window, IDCANCEL), nullptr, initialCancel_.left, initialCancel_.top + extra, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  if (!centred_) {
    centred_ = true;
    CentreOverOwner();
  }
  RedrawWindow(GetDlgItem(window, IDC_PLUGIN_LIST), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
  RedrawWindow(page_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// Over the owner (the work area when there is none), then held inside the
// nearest monitor's work area: an edge beyond the right or bottom is pulled
// back first, so that the left and top edges stay visible on a dialog
// larger than the work area.
void SetupDialog::CentreOverOwner() {
  HWND window = Window();
  RECT dialog = {};
  GetWindowRect(window, &dialog);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& work = monitor.rcWork;
  RECT over = work;
  HWND owner = GetWindow(window, GW_OWNER);
  if (owner) GetWindowRect(owner, &over);
  int left = over.left + (Width(over) - Width(dialog)) / 2;
  int top = over.top + (Height(over) - Height(dialog)) / 2;
  if (left + Width(dialog) > work.right) left = work.right - Width(dialog);
  if (top + Height(dialog) > work.bottom) top = work.bottom - Height(dialog);
  if (left < work.left) left = work.left;
  if (top < work.top) top = work.top;
  SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

int32_t RunConnectionSetup(HWND owner, PluginRegistry& registry, int32_t activeIndex) {
  SetupDialog dialog(registry, activeIndex);
  HINSTANCE resources = static_cast<HINSTANCE>(CurrentAppContext()->resourceInstance);
  const INT_PTR result = dialog.RunModal(resources, IDD_CONNECTION_SETUP, owner);
  if (result == -1) return kSetupNotCreated;
  return static_cast<int32_t>(result);
}
