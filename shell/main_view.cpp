// The main view's behaviours joined to the main window's controls.
#include "shell/main_view.h"

#include "shell/resources/resource_ids.h"
#include "shell/table_menu.h"

namespace {

// The controls on the tab page, left out of the tab strip's painting.
const int32_t kTabPageControls[] = {
    IDC_TABLE,   IDC_CHOICES, IDC_FIELD_LABEL_0, IDC_FIELD_LABEL_1, IDC_FIELD_LABEL_2, IDC_FIELD_LABEL_3, IDC_FIELD_0,
    IDC_FIELD_1, IDC_FIELD_2, IDC_FIELD_3,       IDC_TX_LINE,       IDC_RX_LINE,
};

}  // namespace

void MainView::Attach(HWND dialog, CellEventSink& events) {
  events_ = &events;
  frames_.Attach(dialog, GetDlgItem(dialog, IDC_TX_LINE), GetDlgItem(dialog, IDC_RX_LINE));
  tabs_.Attach(GetDlgItem(dialog, IDC_TABS), kTabPageControls,
               static_cast<int32_t>(sizeof(kTabPageControls) / sizeof(kTabPageControls[0])));
  table_.Attach(GetDlgItem(dialog, IDC_TABLE), events);
  tableMenuKeys_.Bind(GetDlgItem(dialog, IDC_TABLE));
}

void MainView::ContextMenu(ui::Message& message) {
  HWND source = reinterpret_cast<HWND>(message.wParam);
  HWND table = table_.Window();
  if (IsTableMenuSource(table, source)) {
    // A plug-in without a menu: the menu key edits the selected row's label,
    // a right-click is left to the default handling.
    if (!ShowTableMenu(GetParent(table), table, message.lParam, *events_)) {
      if (message.lParam != -1) return;
      table_.EditSelectedLabel();
    }
  } else if (!frames_.ContextMenu(source, message.lParam)) {
    return;
  }
  message.result = 0;
  message.handled = true;
}
