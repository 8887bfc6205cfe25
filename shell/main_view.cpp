// The main view's behaviours joined to the main window: the frame lines,
// the tab strip with its rename editor and the table's editing paths, each
// in its own file. There is one main window per process, so the behaviours
// live here once.
#include "shell/frame_lines.h"
#include "shell/main_view_hooks.h"
#include "shell/main_window.h"
#include "shell/resources/resource_ids.h"
#include "shell/tab_rename.h"
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
    if (event.tabKey == 0) event.tabKey = window->SelectedTabKey();
    return window->Deliver(event);
  }
};

struct MainViewParts {
  FrameLines frames;
  TabStrip tabs;
  TableEditing table;
  WindowCellEvents events;
};

// One main window per process. A namespace-scope object rather than a
// function-local static: no guarded initialisation, which would link the
// threads runtime into the program.
MainViewParts gParts;

MainViewParts& Parts() { return gParts; }

HWND gMainWindow = nullptr;

// Keys the dialog manager would take for itself, seen first through its
// message filter (the hook belongs to the user-interface thread and ends
// with it): Ctrl+Tab and Ctrl+Shift+Tab switch tabs wherever the focus is in
// the main window, where the dialog manager would move the focus; Enter in
// an entry field applies the field, where the dialog manager would click a
// default button (such as Connect, once clicked).
LRESULT CALLBACK ShellKeysFilter(int code, WPARAM wParam, LPARAM lParam) {
  const MSG* message = reinterpret_cast<const MSG*>(lParam);
  if (code != MSGF_DIALOGBOX || !message || message->message != WM_KEYDOWN || !gMainWindow ||
      (message->hwnd != gMainWindow && !IsChild(gMainWindow, message->hwnd))) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  if (message->wParam == VK_TAB && GetKeyState(VK_CONTROL) < 0) {
    Parts().tabs.SelectNext(GetKeyState(VK_SHIFT) < 0 ? -1 : 1);
    return 1;
  }
  const int id = GetDlgCtrlID(message->hwnd);
  if (message->wParam == VK_RETURN && id >= IDC_FIELD_0 && id < IDC_FIELD_0 + kFieldCount &&
      GetParent(message->hwnd) == gMainWindow && Parts().events.window) {
    Parts().events.window->ApplyField(id - IDC_FIELD_0);
    return 1;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void MainViewAttachControls(MainWindow& window) {
  MainViewParts& parts = Parts();
  parts.events.window = &window;
  parts.frames.Attach(window.Window(), window.Control(IDC_TX_LINE), window.Control(IDC_RX_LINE));
  parts.tabs.Attach(window.Control(IDC_TABS), kTabPageControls,
                    static_cast<int32_t>(sizeof(kTabPageControls) / sizeof(kTabPageControls[0])));
  parts.table.Attach(window.Control(IDC_TABLE), parts.events);
  gMainWindow = window.Window();
  SetWindowsHookExW(WH_MSGFILTER, &ShellKeysFilter, nullptr, GetCurrentThreadId());
}

void MainViewFrameCommand(MainWindow&, const HostCommand& command) { Parts().frames.Command(command); }

void MainViewDropFrameLines(MainWindow&) { Parts().frames.Drop(); }

void MainViewResetFrameLines(MainWindow&) { Parts().frames.Reset(); }

void MainViewFinishTableEdit(MainWindow&) { Parts().table.Finish(); }

bool MainViewRxError(const MainWindow&) { return Parts().frames.RxError(); }

void MainViewContextMenu(MainWindow&, ui::Message& message) {
  if (!Parts().frames.ContextMenu(reinterpret_cast<HWND>(message.wParam), message.lParam)) return;
  message.result = 0;
  message.handled = true;
}

void MainViewTableNotify(MainWindow&, ui::Message& message) { Parts().table.Notify(message); }
