#include "shell/main_window.h"

#include <commctrl.h>

#include "common/app_context.h"
#include "common/ui/combo_box.h"
#include "common/ui/list_view.h"
#include "common/ui/window_text.h"
#include "shell/connection_setup.h"
#include "shell/error_box.h"
#include "shell/plugin_calls.h"
#include "shell/resources/resource_ids.h"

namespace {

const AnchorEntry kAnchors[] = {
    {IDC_CONNECTION_ICON, 0},
    {IDC_PROTOCOL_LINE, 0},
    {IDC_CONNECTION_LINE, 0},
    {IDC_SETUP_BUTTON, kAnchorMoveX},
    {IDC_TABS, kAnchorSizeX | kAnchorSizeY},
    {IDC_TABLE, kAnchorSizeX | kAnchorSizeY},
    {IDC_CHOICES, kAnchorMoveX},
    {IDC_FIELD_LABEL_0, kAnchorMoveX},
    {IDC_FIELD_LABEL_1, kAnchorMoveX},
    {IDC_FIELD_LABEL_2, kAnchorMoveX},
    {IDC_FIELD_LABEL_3, kAnchorMoveX},
    {IDC_FIELD_0, kAnchorMoveX},
    {IDC_FIELD_1, kAnchorMoveX},
    {IDC_FIELD_2, kAnchorMoveX},
    {IDC_FIELD_3, kAnchorMoveX},
    {IDC_TX_LINE, kAnchorSizeX | kAnchorMoveY},
    {IDC_RX_LINE, kAnchorSizeX | kAnchorMoveY},
    {IDC_DOCUMENT, kAnchorSizeX | kAnchorSizeY},
    {IDC_ADD_BUTTON, kAnchorMoveY},
    {IDC_REMOVE_BUTTON, kAnchorMoveY},
    {IDC_TIP_LINE, kAnchorSizeX | kAnchorMoveY},
    {IDC_VIEW_GROUP, kAnchorSizeX | kAnchorSizeY},
    {IDC_CONNECT_BUTTON, kAnchorMoveX | kAnchorMoveY},
};

// A control is enabled in state s when bit s of its mask is set.
struct EnableRule {
  int32_t controlId;
  uint32_t mask;
};
const EnableRule kEnableTable[] = {
    {IDC_SETUP_BUTTON, 3}, {IDC_CONNECT_BUTTON, 6}, {IDC_CHOICES, 2}, {IDC_FIELD_0, 2},
    {IDC_FIELD_1, 2},      {IDC_FIELD_2, 2},        {IDC_FIELD_3, 2},
};

// Shown only while a plug-in view is on screen (states 1 and 2); the choice
// box besides only while it holds choices, the fields unless the plug-in hid
// them.
const int32_t kMainViewControls[] = {IDC_TABLE, IDC_TX_LINE, IDC_RX_LINE};

// Placing the table once the commands that show or hide what is beside it
// have all run: a plug-in that clears its choices and adds new ones does not
// make the table jump.
constexpr UINT kPlaceTableMessage = WM_APP + 3;

void Show(HWND control, bool visible) { ShowWindow(control, visible ? SW_SHOWNA : SW_HIDE); }

// The shell scales its controls and fonts itself at a DPI change (the
// anchor layout, ScaleFonts): the dialog manager of a per-monitor dialog
// would scale them as well, so its own rescaling is turned off. Looked up
// at run time: older systems and Wine lack the entry.
void TurnOffDialogRescaling(HWND window) {
  using Behaviour = BOOL(WINAPI*)(HWND, int, int);
  constexpr int kDisableAll = 0x0001;  // DDC_DISABLE_ALL
  HMODULE user = GetModuleHandleW(L"user32.dll");
  FARPROC entry = user ? GetProcAddress(user, "SetDialogDpiChangeBehavior") : nullptr;
  if (entry) reinterpret_cast<Behaviour>(reinterpret_cast<void*>(entry))(window, kDisableAll, kDisableAll);
}

// The main window's object, found by the keys filter from the window a key
// goes to (the filter is the thread's and sees every dialog of it).
const wchar_t kWindowObjectProperty[] = L"Velmora.MainWindow";

// Room for a cell's text asked for only to learn its look.
constexpr uint64_t kCellScratchCapacity = 64;

}  // namespace

MainWindow::MainWindow(PluginRegistry& registry) : registry_(registry) {}

MainWindow::~MainWindow() {
  if (tabBodyBrush_) DeleteObject(tabBodyBrush_);
  if (monospaceFont_) DeleteObject(monospaceFont_);
  if (scaledDialogFont_) DeleteObject(scaledDialogFont_);
}

INT_PTR MainWindow::Run(HINSTANCE instance) { return RunModal(instance, IDD_MAIN_WINDOW, nullptr); }

const PluginEntry* MainWindow::ActivePlugin() const {
  return activeIndex_ < 0 ? nullptr : registry_.Plugin(static_cast<uint32_t>(activeIndex_));
}

int64_t MainWindow::Deliver(ViewEvent& event) {
  const PluginEntry* plugin = ActivePlugin();
  if (!plugin) return 0;
  return plugin->ops.handleEvent(plugin->ops.instance, &event);
}

int64_t MainWindow::Deliver(ViewEventKind kind, uint64_t arg, uintptr_t tabKey) {
  ViewEvent event = {};
  event.kind = kind;
  event.arg = arg;
  event.tabKey = tabKey;
  return Deliver(event);
}

int64_t MainWindow::DeliverCellEvent(ViewEvent& event) {
  if (event.tabKey == 0) event.tabKey = SelectedTabKey();
  return Deliver(event);
}

void MainWindow::TabSelected(uintptr_t key) { Deliver(ViewEventKind::TabSelected, 0, key); }

uintptr_t MainWindow::SelectedTabKey() const {
  HWND tabs = Control(IDC_TABS);
  int selected = TabCtrl_GetCurSel(tabs);
  if (selected < 0) return 0;
  TCITEMW item = {};
  item.mask = TCIF_PARAM;
  if (!TabCtrl_GetItem(tabs, selected, &item)) return 0;
  return static_cast<uintptr_t>(item.lParam);
}

// --- messages -------------------------------------------------------------

void MainWindow::Dispatch(ui::Message& message) {
  static const ui::MessageEntry<MainWindow> map[] = {
      ui::On<MainWindow>(WM_INITDIALOG, &MainWindow::OnInit),
      ui::On<MainWindow>(WM_CLOSE, &MainWindow::OnClose),
      ui::On<MainWindow>(WM_DESTROY, &MainWindow::OnDestroy),
      ui::On<MainWindow>(WM_SIZE, &MainWindow::OnSize),
      ui::On<MainWindow>(WM_GETMINMAXINFO, &MainWindow::OnGetMinMaxInfo),
      ui::On<MainWindow>(WM_DPICHANGED, &MainWindow::OnDpiChanged),
      ui::On<MainWindow>(WM_THEMECHANGED, &MainWindow::OnThemeChanged),
      ui::On<MainWindow>(WM_CTLCOLORSTATIC, &MainWindow::OnStaticColour),
      ui::On<MainWindow>(WM_CONTEXTMENU, &MainWindow::OnContextMenu),
      ui::On<MainWindow>(kPostedCommandMessage, &MainWindow::OnPostedCommand),
      ui::On<MainWindow>(kTrafficWakeMessage, &MainWindow::OnTrafficWake),
      ui::On<MainWindow>(kPlaceTableMessage, &MainWindow::OnPlaceTable),
      ui::On<MainWindow>(WM_SYSCOMMAND, &MainWindow::OnSysCommand),
      ui::OnCommand<MainWindow>(IDC_CONNECT_BUTTON, BN_CLICKED, &MainWindow::OnConnectClicked),
      ui::OnCommand<MainWindow>(IDC_SETUP_BUTTON, BN_CLICKED, &MainWindow::OnSetupClicked),
      ui::OnCommand<MainWindow>(IDC_ADD_BUTTON, BN_CLICKED, &MainWindow::OnAddClicked),
      ui::OnCommand<MainWindow>(IDC_REMOVE_BUTTON, BN_CLICKED, &MainWindow::OnRemoveClicked),
      ui::OnCommand<MainWindow>(IDC_CHOICES, CBN_SELCHANGE, &MainWindow::OnChoiceChanged),
      ui::OnCommand<MainWindow>(IDC_FIELD_0, EN_KILLFOCUS, &MainWindow::OnFieldFocusLost),
      ui::OnCommand<MainWindow>(IDC_FIELD_1, EN_KILLFOCUS, &MainWindow::OnFieldFocusLost),
      ui::OnCommand<MainWindow>(IDC_FIELD_2, EN_KILLFOCUS, &MainWindow::OnFieldFocusLost),
      ui::OnCommand<MainWindow>(IDC_FIELD_3, EN_KILLFOCUS, &MainWindow::OnFieldFocusLost),
      ui::OnCommand<MainWindow>(IDC_TIP_LINE, STN_CLICKED, &MainWindow::OnTipClicked),
      ui::OnNotify<MainWindow>(IDC_TABS, TCN_SELCHANGING, &MainWindow::OnTabChanging),
      ui::OnNotify<MainWindow>(IDC_TABS, TCN_SELCHANGE, &MainWindow::OnTabChanged),
      ui::OnNotify<MainWindow>(IDC_TABLE, LVN_GETDISPINFOW, &MainWindow::OnTableGetText),
      ui::OnNotify<MainWindow>(IDC_TABLE, LVN_ODFINDITEMW, &MainWindow::OnTableFindItem),
      ui::OnNotify<MainWindow>(IDC_TABLE, NM_CUSTOMDRAW, &MainWindow::OnTableCustomDraw),
      ui::OnNotify<MainWindow>(IDC_TABLE, LVN_COLUMNCLICK, &MainWindow::OnTableColumnClick),
      ui::OnControl<MainWindow>(WM_NOTIFY, IDC_TABLE, &MainWindow::OnTableNotify),
  };
  ui::DispatchMessageMap(*this, map, message);
}

void MainWindow::OnInit(MainWindow& window, ui::Message& message) {
  window.host_.Bind(window.Window(), &CommandDispatch::Run, &window.commands_);
  window.host_.BindTraffic(&window.traffic_, kTrafficWakeMessage);
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  window.trafficClock_.baseTick = plat::Tick();
  window.trafficClock_.baseMsOfDay =
      ((now.wHour * 60u + now.wMinute) * 60u + now.wSecond) * 1000u + now.wMilliseconds;
  if (HMENU system = GetSystemMenu(window.Window(), FALSE)) {
    AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(system, MF_STRING, kTrafficLogCommand, L"Traffic log...\tCtrl+L");
  }
  window.MoveToDefaultPosition();
  window.layout_.Init(window.Window(), kAnchors, static_cast<int32_t>(sizeof(kAnchors) / sizeof(kAnchors[0])), true,
                      true);
  window.layout_.Right96(IDC_TABLE, window.narrowRight96_);
  window.layout_.Right96(IDC_CHOICES, window.wideRight96_);
  window.view_.Attach(window.Window(), window);
  window.commands_.Attach(window.Window());
  SetPropW(window.Window(), kWindowObjectProperty, &window);
  window.keysHook_ = SetWindowsHookExW(WH_MSGFILTER, &MainWindow::KeysFilter, nullptr, GetCurrentThreadId());
  window.UpdateTabBodyColour();
  TurnOffDialogRescaling(window.Window());
  HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageW(window.Window(), WM_GETFONT, 0, 0));
  if (!dialogFont) dialogFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  if (GetObjectW(dialogFont, sizeof(window.dialogFont96_), &window.dialogFont96_)) {
    window.dialogFont96_.lfHeight = ScaleTo96(window.dialogFont96_.lfHeight, window.layout_.Dpi());
  }
  window.CreateMonospaceFont(dialogFont);
  SendMessageW(window.Control(IDC_DOCUMENT), EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
  ui::ListView(window.Control(IDC_TABLE))
      .SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  window.LoadIcons(window.layout_.Dpi());
  window.information_.Load(static_cast<HINSTANCE>(CurrentAppContext()->resourceInstance));
  window.EnterState(kStateInformation);
  message.result = TRUE;
  message.handled = true;
}

void MainWindow::OnClose(MainWindow& window, ui::Message& message) {
  EndDialog(window.Window(), 0);
  message.handled = true;
}

void MainWindow::OnDestroy(MainWindow& window, ui::Message& message) {
  window.tipTimer_.Stop();
  if (window.keysHook_) UnhookWindowsHookEx(window.keysHook_);
  window.keysHook_ = nullptr;
  RemovePropW(window.Window(), kWindowObjectProperty);
  window.view_.DropFrameLines();
  if (const PluginEntry* plugin = window.ActivePlugin()) {
    PluginShowConnectionIndicator(plugin->ops, window.Control(IDC_CONNECTION_ICON), 0);
  }
  window.Detach();
  window.trafficLog_.Close();
  if (window.tabBodyBrush_) {
    DeleteObject(window.tabBodyBrush_);
    window.tabBodyBrush_ = nullptr;
  }
  message.handled = true;
}

void MainWindow::OnSize(MainWindow& window, ui::Message& message) {
  window.layout_.OnSize(message.wParam, message.lParam);
  if (message.wParam != SIZE_MINIMIZED) window.commands_.FollowTableWidth();
  message.handled = true;
}

void MainWindow::OnGetMinMaxInfo(MainWindow& window, ui::Message& message) {
  window.layout_.OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(message.lParam));
  message.handled = true;
}

// Fonts, icons and controls follow the new DPI once, by the shell alone
// (the dialog manager's rescaling is off). A per-monitor-aware window takes
// the rectangle Windows suggests for the new DPI (before its minimum size
// is raised to the new scale); otherwise it would keep its pixel size while
// its layout scales.
void MainWindow::OnDpiChanged(MainWindow& window, ui::Message& message) {
  const uint32_t dpi = LOWORD(message.wParam) ? LOWORD(message.wParam) : kDesignDpi;
  if (dpi != window.layout_.Dpi()) {
    window.ScaleFonts(dpi);
    window.LoadIcons(dpi);
  }
  const RECT* suggested = reinterpret_cast<const RECT*>(message.lParam);
  if (suggested) {
    SetWindowPos(window.Window(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  window.layout_.OnDpiChanged(message.wParam);
  window.commands_.FollowTableWidth();
  message.handled = true;
}

void MainWindow::OnThemeChanged(MainWindow& window, ui::Message& message) {
  window.UpdateTabBodyColour();
  RedrawWindow(window.Window(), nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_FRAME);
  (void)message;
}

// The labels and frame lines paint transparently on the tab body; the
// document box takes the tab body colour.
void MainWindow::OnStaticColour(MainWindow& window, ui::Message& message) {
  HDC dc = reinterpret_cast<HDC>(message.wParam);
  const int id = GetDlgCtrlID(reinterpret_cast<HWND>(message.lParam));
  if (id == IDC_DOCUMENT) {
    SetBkColor(dc, window.tabBodyColour_);
  } else if ((id >= IDC_FIELD_LABEL_0 && id <= IDC_FIELD_LABEL_3) || id == IDC_TX_LINE || id == IDC_RX_LINE) {
    SetBkMode(dc, TRANSPARENT);
    const bool error = id == IDC_RX_LINE && window.view_.RxError();
    SetTextColor(dc, error ? RGB(204, 0, 0) : GetSysColor(COLOR_WINDOWTEXT));
  } else {
    return;
  }
  message.result = reinterpret_cast<int64_t>(window.tabBodyBrush_);
  message.handled = true;
}

// A frame line's copy carries the latest frame, also one the pace still keeps.
void MainWindow::OnContextMenu(MainWindow& window, ui::Message& message) {
  window.host_.TakeLatest();
  window.view_.ContextMenu(message);
}

void MainWindow::OnPostedCommand(MainWindow& window, ui::Message& message) {
  window.host_.HandlePosted(message.lParam);
  message.handled = true;
}

void MainWindow::OnTrafficWake(MainWindow& window, ui::Message& message) {
  window.trafficLog_.Wake();
  message.handled = true;
}

void MainWindow::OnSysCommand(MainWindow& window, ui::Message& message) {
  if ((message.wParam & 0xFFF0) != kTrafficLogCommand) return;
  window.OpenTrafficLog();
  message.handled = true;
}

void MainWindow::OpenTrafficLog() {
  HFONT font = scaledDialogFont_ ? scaledDialogFont_ : reinterpret_cast<HFONT>(SendMessageW(Window(), WM_GETFONT, 0, 0));
  trafficLog_.Open(Window(), font, monospaceFont_);
}

void MainWindow::OnConnectClicked(MainWindow& window, ui::Message& message) {
  message.handled = true;
  if (window.state_ == kStateAttached) {
    if (window.Deliver(ViewEventKind::Connect, 0, 0) != 0) window.EnterState(kStateConnected);
  } else if (window.state_ == kStateConnected) {
    window.Deliver(ViewEventKind::Disconnect, 0, 0);
    window.DropPosted();
    window.EnterState(kStateAttached);
  }
}

void MainWindow::OnSetupClicked(MainWindow& window, ui::Message& message) {
  message.handled = true;
  window.registry_.Scan();
  const int32_t result = RunConnectionSetup(window.Window(), window.registry_, window.activeIndex_);
  if (result == kSetupNotCreated) {
    ShowErrorBox(window.Window(), u"The connection setup dialog could not be created.", u"Velmora");
    return;
  }
  if (result < 0) return;
  if (result != window.activeIndex_) window.Activate(result);
  window.RefreshHeaderLines();
}

void MainWindow::OnAddClicked(MainWindow& window, ui::Message& message) {
  message.handled = true;
  window.Deliver(ViewEventKind::AddRequested, 0, 0);
}

void MainWindow::OnRemoveClicked(MainWindow& window, ui::Message& message) {
  message.handled = true;
  if (TabCtrl_GetCurSel(window.Control(IDC_TABS)) < 0) return;
  window.Deliver(ViewEventKind::RemoveRequested, 0, window.SelectedTabKey());
}

void MainWindow::OnChoiceChanged(MainWindow& window, ui::Message& message) {
  message.handled = true;
  uintptr_t data = 0;
  if (!ui::ComboBox(window.Control(IDC_CHOICES)).SelectedData(data)) return;
  window.Deliver(ViewEventKind::ChoiceSelected, static_cast<uint64_t>(data), 0);
}

void MainWindow::OnFieldFocusLost(MainWindow& window, ui::Message& message) {
  message.handled = true;
  const int32_t index = static_cast<int32_t>(LOWORD(message.wParam)) - IDC_FIELD_0;
  window.DeliverFieldEdited(index);
}

void MainWindow::ApplyField(int32_t index) {
  if (index < 0 || index >= kFieldCount) return;
  commands_.ShowFieldValue(index);
  DeliverFieldEdited(index);
  SendMessageW(Control(IDC_FIELD_0 + index), EM_SETSEL, 0, -1);
}

// Ctrl+Tab and Ctrl+Shift+Tab switch tabs wherever the focus is in the main
// window, where the dialog manager would move the focus; Enter in an entry
// field applies the field, where the dialog manager would click a default
// button (such as Connect, once clicked).
LRESULT CALLBACK MainWindow::KeysFilter(int code, WPARAM wParam, LPARAM lParam) {
  const MSG* message = reinterpret_cast<const MSG*>(lParam);
  HWND root = message && message->hwnd ? GetAncestor(message->hwnd, GA_ROOT) : nullptr;
  MainWindow* window = root ? static_cast<MainWindow*>(GetPropW(root, kWindowObjectProperty)) : nullptr;
  if (code != MSGF_DIALOGBOX || !window || message->message != WM_KEYDOWN) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  if (message->wParam == 'L' && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_SHIFT) >= 0) {
    window->OpenTrafficLog();
    return 1;
  }
  if (message->wParam == VK_TAB && GetKeyState(VK_CONTROL) < 0) {
    window->view_.SelectNextTab(GetKeyState(VK_SHIFT) < 0 ? -1 : 1);
    return 1;
  }
  const int id = GetDlgCtrlID(message->hwnd);
  if (message->wParam == VK_RETURN && id >= IDC_FIELD_0 && id < IDC_FIELD_0 + kFieldCount &&
      GetParent(message->hwnd) == root) {
    window->ApplyField(id - IDC_FIELD_0);
    return 1;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void MainWindow::DeliverFieldEdited(int32_t index) {
  Unit text[kFieldTextCapacity] = {};
  GetWindowTextW(Control(IDC_FIELD_0 + index), reinterpret_cast<wchar_t*>(text), kFieldTextCapacity);
  text[kFieldTextCapacity - 1] = 0;
  ViewEvent event = {};
  event.kind = ViewEventKind::FieldEdited;
  event.arg = static_cast<uint64_t>(index);
  event.text = text;
  Deliver(event);
}

void MainWindow::OnTipClicked(MainWindow& window, ui::Message& message) {
  message.handled = true;
  window.ShowNextTip();
}

// An edit still open belongs to the tab being left: it ends there first.
void MainWindow::OnTabChanging(MainWindow& window, ui::Message& message) {
  window.view_.FinishTableEdit();
  message.result = FALSE;
  message.handled = true;
}

// Typing in the table looks for no row: the owner-data list view would
// take an unanswered search for "row 0 matches".
void MainWindow::OnTableFindItem(MainWindow&, ui::Message& message) {
  message.result = -1;
  message.handled = true;
}

void MainWindow::OnTabChanged(MainWindow& window, ui::Message& message) {
  message.handled = true;
  if (window.state_ == kStateInformation) {
    window.information_.Show(window.Control(IDC_DOCUMENT), TabCtrl_GetCurSel(window.Control(IDC_TABS)));
    return;
  }
  const uintptr_t key = window.SelectedTabKey();
  if (key != 0) window.Deliver(ViewEventKind::TabSelected, 0, key);
}

// The plug-in leaves the buffer untouched for rows it does not know: it is
// emptied before and terminated after, so the table never shows stale or
// unterminated text.
void MainWindow::OnTableGetText(MainWindow& window, ui::Message& message) {
  message.handled = true;
  LVITEMW& item = ui::ListView::DisplayInfo(message).item;
  if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0) return;
  Unit* buffer = reinterpret_cast<Unit*>(item.pszText);
  buffer[0] = 0;
  ViewEvent event = {};
  event.kind = ViewEventKind::GetCellText;
  event.arg = (static_cast<uint64_t>(item.iSubItem & 0xFFFF) << 16) | static_cast<uint64_t>(item.iItem & 0xFFFF);
  event.tabKey = window.SelectedTabKey();
  event.buffer = buffer;
  event.capacity = static_cast<uint64_t>(item.cchTextMax);
  const int64_t look = window.Deliver(event);
  buffer[item.cchTextMax - 1] = 0;
  window.askedCell_ = {item.iItem, item.iSubItem, look == kCellTextNotCurrent};
}

// A value the plug-in calls not current is drawn as disabled text. The list
// view asks for a cell's text just before it draws the cell, so the answer
// is at hand; a cell drawn without that question is asked for once more.
void MainWindow::OnTableCustomDraw(MainWindow& window, ui::Message& message) {
  message.handled = true;
  NMLVCUSTOMDRAW& draw = *reinterpret_cast<NMLVCUSTOMDRAW*>(message.lParam);
  switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      window.askedCell_ = {};
      message.result = CDRF_NOTIFYITEMDRAW;
      return;
    case CDDS_ITEMPREPAINT:
      message.result = CDRF_NOTIFYSUBITEMDRAW;
      return;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
      break;
    default:
      message.result = CDRF_DODEFAULT;
      return;
  }
  const int32_t row = static_cast<int32_t>(draw.nmcd.dwItemSpec);
  bool notCurrent = window.askedCell_.notCurrent;
  if (window.askedCell_.row != row || window.askedCell_.column != draw.iSubItem) {
    Unit scratch[kCellScratchCapacity];
    ViewEvent event = {};
    event.kind = ViewEventKind::GetCellText;
    event.arg = (static_cast<uint64_t>(draw.iSubItem & 0xFFFF) << 16) | static_cast<uint64_t>(row & 0xFFFF);
    event.tabKey = window.SelectedTabKey();
    event.buffer = scratch;
    event.capacity = kCellScratchCapacity;
    notCurrent = window.Deliver(event) == kCellTextNotCurrent;
  }
  window.askedCell_ = {};
  draw.clrText = GetSysColor(notCurrent ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT);
  message.result = CDRF_NEWFONT;
}

// The value format changes with the click: an open edit ends first, read
// in the format it was typed in.
void MainWindow::OnTableColumnClick(MainWindow& window, ui::Message& message) {
  message.handled = true;
  window.view_.FinishTableEdit();
  const NMLISTVIEW& info = ui::ListView::Change(message);
  window.Deliver(ViewEventKind::ColumnClicked, static_cast<uint64_t>(info.iSubItem), window.SelectedTabKey());
}

void MainWindow::OnTableNotify(MainWindow& window, ui::Message& message) { window.view_.TableNotify(message); }

void MainWindow::OnTimer(ui::BoundTimer& timer) {
  if (&timer == &tipTimer_) ShowNextTip();
}

// --- initialisation -------------------------------------------------------

// The system's default position for new windows, read from a throwaway
// window created there; the size stays the template's.
void MainWindow::MoveToDefaultPosition() {
  HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!probe) return;
  RECT place;
  const bool known = GetWindowRect(probe, &place) != 0;
  DestroyWindow(probe);
  if (known) SetWindowPos(Window(), nullptr, place.left, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::CreateMonospaceFont(HFONT base) {
  HWND tx = Control(IDC_TX_LINE);
  LOGFONTW font = {};
  if (!GetObjectW(base, sizeof(font), &font)) return;
  font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  lstrcpynW(font.lfFaceName, L"Consolas", LF_FACESIZE);
  HFONT created = CreateFontIndirectW(&font);
  if (!created) return;
  if (monospaceFont_) DeleteObject(monospaceFont_);
  monospaceFont_ = created;
  HWND table = Control(IDC_TABLE);
  HWND header = ListView_GetHeader(table);
  HFONT headerFont = header ? reinterpret_cast<HFONT>(SendMessageW(header, WM_GETFONT, 0, 0)) : nullptr;
  SendMessageW(tx, WM_SETFONT, reinterpret_cast<WPARAM>(created), FALSE);
  SendMessageW(Control(IDC_RX_LINE), WM_SETFONT, reinterpret_cast<WPARAM>(created), FALSE);
  SendMessageW(table, WM_SETFONT, reinterpret_cast<WPARAM>(created), FALSE);
  if (header) SendMessageW(header, WM_SETFONT, reinterpret_cast<WPARAM>(headerFont), FALSE);
}

// The colour the tab control paints its body with, read from its own
// rendering (themes paint it differently from the dialog background).
// Without a theme the control draws only its edges and leaves the body to
// the dialog background beneath it, so the bitmap starts in that colour
// rather than black.
void MainWindow::UpdateTabBodyColour() {
  COLORREF colour = GetSysColor(COLOR_WINDOW);
  HWND tabs = Control(IDC_TABS);
  RECT client = {};
  GetClientRect(tabs, &client);
  const int width = client.right > 16 ? client.right : 16;
  const int height = client.bottom > 16 ? client.bottom : 16;
  HDC screen = GetDC(tabs);
  HDC memory = screen ? CreateCompatibleDC(screen) : nullptr;
  HBITMAP bitmap = screen ? CreateCompatibleBitmap(screen, width, height) : nullptr;
  if (memory && bitmap) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    RECT all = {0, 0, width, height};
    FillRect(memory, &all, GetSysColorBrush(COLOR_BTNFACE));
    SendMessageW(tabs, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT | PRF_ERASEBKGND);
    COLORREF pixel = GetPixel(memory, width / 2, height / 2);
    if (pixel != CLR_INVALID) colour = pixel;
    SelectObject(memory, previous);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  if (screen) ReleaseDC(tabs, screen);
  HBRUSH brush = CreateSolidBrush(colour);
  if (!brush) return;
  if (tabBodyBrush_) DeleteObject(tabBodyBrush_);
  tabBodyBrush_ = brush;
  tabBodyColour_ = colour;
}

void MainWindow::ScaleFonts(uint32_t dpi) {
  if (!dialogFont96_.lfFaceName[0]) return;
  LOGFONTW scaled = dialogFont96_;
  scaled.lfHeight = ScaleFrom96(dialogFont96_.lfHeight, dpi);
  HFONT font = CreateFontIndirectW(&scaled);
  if (!font) return;
  SendMessageW(Window(), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  for (HWND child = GetWindow(Window(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  if (HWND header = ListView_GetHeader(Control(IDC_TABLE))) {
    SendMessageW(header, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  CreateMonospaceFont(font);
  if (scaledDialogFont_) DeleteObject(scaledDialogFont_);
  scaledDialogFont_ = font;
}

// The window's icons at the system's icon sizes for dpi; the previous ones
// go once replaced.
void MainWindow::LoadIcons(uint32_t dpi) {
  HINSTANCE instance = static_cast<HINSTANCE>(CurrentAppContext()->resourceInstance);
  HICON bigOne = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VELMORA), IMAGE_ICON,
                                            GetSystemMetricsForDpi(SM_CXICON, dpi),
                                            GetSystemMetricsForDpi(SM_CYICON, dpi), 0));
  HICON smallOne = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VELMORA), IMAGE_ICON,
                                              GetSystemMetricsForDpi(SM_CXSMICON, dpi),
                                              GetSystemMetricsForDpi(SM_CYSMICON, dpi), 0));
  if (bigOne) {
    SendMessageW(Window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigOne));
    if (bigIcon_) DestroyIcon(bigIcon_);
    bigIcon_ = bigOne;
  }
  if (smallOne) {
    SendMessageW(Window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallOne));
    if (smallIcon_) DestroyIcon(smallIcon_);
    smallIcon_ = smallOne;
  }
}

// --- states ---------------------------------------------------------------

void MainWindow::EnterState(ShellState state) {
  const ShellState previous = state_;
  state_ = state;
  const bool view = state != kStateInformation;
  for (int32_t id : kMainViewControls) Show(Control(id), view);
  Show(Control(IDC_CHOICES), view && commands_.HasChoices());
  for (int32_t i = 0; i < kFieldCount; ++i) {
    Show(Control(IDC_FIELD_LABEL_0 + i), view && commands_.FieldVisible(i));
    Show(Control(IDC_FIELD_0 + i), view && commands_.FieldVisible(i));
  }
  Show(Control(IDC_DOCUMENT), !view);
  Show(Control(IDC_TIP_LINE), view);
  ui::SetWindowTextIfChanged(Control(IDC_CONNECT_BUTTON), state == kStateConnected ? u"Dis&connect" : u"&Connect");
  ApplyEnableTable();
  if (!view) {
    ui::SetWindowTextIfChanged(Control(IDC_VIEW_GROUP), u"About");
    SetStateTabs();
    information_.Show(Control(IDC_DOCUMENT), 0);
  } else {
    const PluginEntry* plugin = ActivePlugin();
    ui::SetWindowTextIfChanged(Control(IDC_VIEW_GROUP), plugin ? plugin->descriptor->viewTitle : u"");
  }
  if ((previous == kStateConnected) != (state == kStateConnected)) {
    if (const PluginEntry* plugin = ActivePlugin()) {
      PluginShowConnectionIndicator(plugin->ops, Control(IDC_CONNECTION_ICON), state == kStateConnected ? 1 : 0);
    }
  }
}

void MainWindow::BesideTableChanged() {
  if (placeTablePosted_ || !Window()) return;
  placeTablePosted_ = PostMessageW(Window(), kPlaceTableMessage, 0, 0) != FALSE;
  if (!placeTablePosted_) PlaceTable();
}

void MainWindow::OnPlaceTable(MainWindow& window, ui::Message& message) {
  window.placeTablePosted_ = false;
  window.PlaceTable();
  message.handled = true;
}

void MainWindow::PlaceTable() {
  const bool view = state_ != kStateInformation;
  const bool choices = commands_.HasChoices();
  Show(Control(IDC_CHOICES), view && choices);
  bool beside = choices;
  for (int32_t i = 0; i < kFieldCount; ++i) beside = beside || commands_.FieldVisible(i);
  if (beside != tableWide_ || narrowRight96_ >= wideRight96_) return;
  tableWide_ = !beside;
  for (int32_t id : kMainViewControls) layout_.SetRight96(id, tableWide_ ? wideRight96_ : narrowRight96_);
  if (IsIconic(Window())) return;  // placed at the restore's WM_SIZE
  RECT client{};
  GetClientRect(Window(), &client);
  layout_.Layout(client.right, client.bottom);
  commands_.FollowTableWidth();
}

void MainWindow::ApplyEnableTable() {
  const uint32_t bit = 1u << static_cast<uint32_t>(state_);
  for (const EnableRule& rule : kEnableTable) EnableWindow(Control(rule.controlId), (rule.mask & bit) != 0);
  EnableWindow(Control(IDC_ADD_BUTTON), state_ == kStateAttached && commands_.AddAllowed());
  EnableWindow(Control(IDC_REMOVE_BUTTON), state_ == kStateAttached && commands_.RemoveAllowed());
}

// State 0 shows exactly the tabs "Readme" and "License", the first selected.
void MainWindow::SetStateTabs() {
  HWND tabs = Control(IDC_TABS);
  TabCtrl_DeleteAllItems(tabs);
  const wchar_t* titles[] = {L"Readme", L"License"};
  for (int i = 0; i < 2; ++i) {
    TCITEMW item = {};
    item.mask = TCIF_TEXT | TCIF_PARAM;
    item.pszText = const_cast<wchar_t*>(titles[i]);
    item.lParam = 0;
    TabCtrl_InsertItem(tabs, i, &item);
  }
  TabCtrl_SetCurSel(tabs, 0);
}

// --- activation -----------------------------------------------------------

void MainWindow::Detach() {
  const PluginEntry* plugin = ActivePlugin();
  if (!plugin) return;
  host_.RaiseStamp();
  plugin->ops.detach(plugin->ops.instance);
  activeIndex_ = -1;
  host_.PurgeQueued();
}

void MainWindow::DropPosted() {
  host_.RaiseStamp();
  host_.PurgeQueued();
  // A table refresh among the dropped copies is not lost.
  InvalidateRect(Control(IDC_TABLE), nullptr, FALSE);
}

void MainWindow::ResetView() {
  TabCtrl_DeleteAllItems(Control(IDC_TABS));
  commands_.Reset();
}

void MainWindow::Activate(int32_t index) {
  Detach();
  view_.ResetFrameLines();
  ResetView();
  const PluginEntry* plugin = registry_.Plugin(static_cast<uint32_t>(index));
  if (!plugin) return;
  activeIndex_ = index;
  host_.RaiseStamp();
  plugin->ops.attach(plugin->ops.instance, host_.Link());
  StartTips();
  EnterState(kStateAttached);
}

void MainWindow::RefreshHeaderLines() {
  const PluginEntry* plugin = ActivePlugin();
  if (!plugin) return;
  Unit line[kPluginLineCapacity];
  if (PluginGetProtocolLine(plugin->ops, line, kPluginLineCapacity)) ui::SetWindowTextIfChanged(Control(IDC_PROTOCOL_LINE), line);
  if (PluginGetConnectionLine(plugin->ops, line, kPluginLineCapacity)) {
    ui::SetWindowTextIfChanged(Control(IDC_CONNECTION_LINE), line);
  }
}

// --- tips -----------------------------------------------------------------

void MainWindow::StartTips() {
  tipTimer_.Stop();
  const PluginEntry* plugin = ActivePlugin();
  Unit tip[kPluginTipCapacity];
  const uint32_t seed = GetTickCount() ^ static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Window())) ^
                        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this));
  if (plugin && PluginGetTip(plugin->ops, seed, tip, kPluginTipCapacity)) {
    ui::SetWindowTextIfChanged(Control(IDC_TIP_LINE), tip);
    tipTimer_.Start(Window(), kTipPeriodMs, this);
  } else {
    ui::SetWindowTextIfChanged(Control(IDC_TIP_LINE), u"");
  }
}

void MainWindow::ShowNextTip() {
  const PluginEntry* plugin = ActivePlugin();
  Unit tip[kPluginTipCapacity];
  if (plugin && PluginGetNextTip(plugin->ops, tip, kPluginTipCapacity)) ui::SetWindowTextIfChanged(Control(IDC_TIP_LINE), tip);
}
