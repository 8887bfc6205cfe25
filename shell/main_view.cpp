// The main view's behaviours joined to the main window: the frame lines,
// the tab strip with its rename editor and the table's editing paths, each
// in its own file. There is one main window per process, so the behaviours
// live here once.
#include "shell/frame_lines.h"
#include "shell/main_view_hooks.h"
#include "shell/main_window.h"
#include "shell/resources/resource_ids.h"
#include "shell/tab_rename.h"
#include "shell/table_menu.h"
#include "shell/table_edit.h"

namespace {

// The controls on the tab page, left out of the tab strip's painting.
const int32_t kTabPageControls[] = {
    IDC_TABLE,   IDC_CHOICES, IDC_FIELD_LABEL_0, IDC_FIELD_LABEL_1, IDC_FIELD_LABEL_2, IDC_FIELD_LABEL_3, IDC_FIELD_0,
    IDC_FIELD_1, IDC_FIELD_2, IDC_FIELD_3,       IDC_TX_LINE,       IDC_RX_LINE,
};

// The table's events go to the attached plug-in with the selected tab's key.
class WindowCellEvents : public CellEventSink {
 public:
  MainWindow* window = nullptr;

  int64_t DeliverCellEvent(ViewEvent& event) override {
    if (!window) return 0;
    event.tabKey = window->SelectedTabKey();
    return window->Deliver(event);
  }
};

struct MainViewParts {
  FrameLines frames;
  TabStrip tabs;
  TableEditing table;
  TableMenuKeys tableMenuKeys;
  WindowCellEvents events;
};

// One main window per process. A namespace-scope object rather than a
// function-local static: no guarded initialisation, which would link the
// threads runtime into the program.
MainViewParts gParts;

MainViewParts& Parts() { return gParts; }

}  // namespace

void MainViewAttachControls(MainWindow& window) {
  MainViewParts& parts = Parts();
  parts.events.window = &window;
  parts.frames.Attach(window.Window(), window.Control(IDC_TX_LINE), window.Control(IDC_RX_LINE));
  parts.tabs.Attach(window.Control(IDC_TABS), kTabPageControls,
                    static_cast<int32_t>(sizeof(kTabPageControls) / sizeof(kTabPageControls[0])));
  parts.table.Attach(window.Control(IDC_TABLE), parts.events);
  parts.tableMenuKeys.Bind(window.Control(IDC_TABLE));
}

void MainViewFrameCommand(MainWindow&, const HostCommand& command) { Parts().frames.Command(command); }

void MainViewDropFrameLines(MainWindow&) { Parts().frames.Drop(); }

bool MainViewRxError(const MainWindow&) { return Parts().frames.RxError(); }

void MainViewContextMenu(MainWindow& window, ui::Message& message) {
  HWND source = reinterpret_cast<HWND>(message.wParam);
  HWND table = window.Control(IDC_TABLE);
  if (IsTableMenuSource(table, source)) {
    // A plug-in without a menu leaves the message to the default handling.
    if (!ShowTableMenu(window.Window(), table, message.lParam, Parts().events)) return;
  } else if (!Parts().frames.ContextMenu(source, message.lParam)) {
    return;
  }
  message.result = 0;
  message.handled = true;
}

void MainViewTableNotify(MainWindow&, ui::Message& message) { Parts().table.Notify(message); }
