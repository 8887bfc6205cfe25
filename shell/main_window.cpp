#include "shell/main_window.h"

#include <commctrl.h>

#include "common/app_context.h"
#include "common/ui/window_text.h"
#include "shell/connection_setup.h"
#include "shell/error_box.h"
#include "shell/information_view.h"
#include "shell/main_view_hooks.h"
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

// Shown only while a plug-in view is on screen (states 1 and 2).
const int32_t kMainViewControls[] = {IDC_TABLE, IDC_CHOICES, IDC_TX_LINE, IDC_RX_LINE};

void Show(HWND control, bool visible) { ShowWindow(control, visible ? SW_SHOWNA : SW_HIDE); }

// Room for a cell's text asked for only to learn its look.
constexpr uint64_t kCellScratchCapacity = 64;

}  // namespace

MainWindow::MainWindow(PluginRegistry& registry) : registry_(registry) {}

MainWindow::~MainWindow() {
  if (tabBodyBrush) DeleteObject(tabBodyBrush);
  if (monospaceFont) DeleteObject(monospaceFont);
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
      ui::OnNotify<MainWindow>(IDC_TABS, TCN_SELCHANGE, &MainWindow::OnTabChanged),
      ui::OnNotify<MainWindow>(IDC_TABLE, LVN_GETDISPINFOW, &MainWindow::OnTableGetText),
      ui::OnNotify<MainWindow>(IDC_TABLE, NM_CUSTOMDRAW, &MainWindow::OnTableCustomDraw),
      ui::OnNotify<MainWindow>(IDC_TABLE, LVN_COLUMNCLICK, &MainWindow::OnTableColumnClick),
      ui::OnControl<MainWindow>(WM_NOTIFY, IDC_TABLE, &MainWindow::OnTableNotify),
  };
  ui::DispatchMessageMap(*this, map, message);
}

void MainWindow::OnInit(MainWindow& window, ui::Message& message) {
  window.host_.Bind(window.Window(), &MainWindow::ExecuteCommand, &window);
  window.MoveToDefaultPosition();
  window.layout_.Init(window.Window(), kAnchors, static_cast<int32_t>(sizeof(kAnchors) / sizeof(kAnchors[0])), true,
                      true);
  MainViewAttachControls(window);
  for (int32_t i = 0; i < kFieldCount; ++i) window.fields[i].Attach(window.Control(IDC_FIELD_0 + i));
  window.UpdateTabBodyColour();
  window.CreateMonospaceFont();
  SendMessageW(window.Control(IDC_DOCUMENT), EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
  ListView_SetExtendedListViewStyle(window.Control(IDC_TABLE),
                                    LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  window.LoadIcons();
  InformationViewLoad(window);
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
  MainViewDropFrameLines(window);
  if (const PluginEntry* plugin = window.ActivePlugin()) {
    PluginShowConnectionIndicator(plugin->ops, window.Control(IDC_CONNECTION_ICON), 0);
  }
  window.Detach();
  if (window.tabBodyBrush) {
    DeleteObject(window.tabBodyBrush);
    window.tabBodyBrush = nullptr;
  }
  message.handled = true;
}

void MainWindow::OnSize(MainWindow& window, ui::Message& message) {
  window.layout_.OnSize(message.wParam, message.lParam);
  if (message.wParam != SIZE_MINIMIZED) window.FollowTableWidth();
  message.handled = true;
}

void MainWindow::OnGetMinMaxInfo(MainWindow& window, ui::Message& message) {
  window.layout_.OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(message.lParam));
  message.handled = true;
}

// A per-monitor-aware window takes the rectangle Windows suggests for the
// new DPI; otherwise it would keep its pixel size while its layout scales.
void MainWindow::OnDpiChanged(MainWindow& window, ui::Message& message) {
  const RECT* suggested = reinterpret_cast<const RECT*>(message.lParam);
  if (suggested) {
    SetWindowPos(window.Window(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  window.layout_.OnDpiChanged(message.wParam);
  window.FollowTableWidth();
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
    SetBkColor(dc, window.tabBodyColour);
  } else if ((id >= IDC_FIELD_LABEL_0 && id <= IDC_FIELD_LABEL_3) || id == IDC_TX_LINE || id == IDC_RX_LINE) {
    SetBkMode(dc, TRANSPARENT);
    const bool error = id == IDC_RX_LINE && MainViewRxError(window);
    SetTextColor(dc, error ? RGB(204, 0, 0) : GetSysColor(COLOR_WINDOWTEXT));
  } else {
    return;
  }
  message.result = reinterpret_cast<int64_t>(window.tabBodyBrush);
  message.handled = true;
}

void MainWindow::OnContextMenu(MainWindow& window, ui::Message& message) { MainViewContextMenu(window, message); }

void MainWindow::OnPostedCommand(MainWindow& window, ui::Message& message) {
  window.host_.HandlePosted(message.lParam);
  message.handled = true;
}

void MainWindow::OnConnectClicked(MainWindow& window, ui::Message& message) {
  message.handled = true;
  if (window.state_ == kStateAttached) {
    if (window.Deliver(ViewEventKind::Connect, 0, 0) != 0) window.EnterState(kStateConnected);
  } else if (window.state_ == kStateConnected) {
    window.Deliver(ViewEventKind::Disconnect, 0, 0);
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
  HWND choices = window.Control(IDC_CHOICES);
  LRESULT selected = SendMessageW(choices, CB_GETCURSEL, 0, 0);
  if (selected == CB_ERR) return;
  LRESULT data = SendMessageW(choices, CB_GETITEMDATA, static_cast<WPARAM>(selected), 0);
  window.Deliver(ViewEventKind::ChoiceSelected, static_cast<uint64_t>(data), 0);
}

void MainWindow::OnFieldFocusLost(MainWindow& window, ui::Message& message) {
  message.handled = true;
  const int32_t index = static_cast<int32_t>(LOWORD(message.wParam)) - IDC_FIELD_0;
  Unit text[kFieldTextCapacity] = {};
  GetWindowTextW(window.Control(IDC_FIELD_0 + index), reinterpret_cast<wchar_t*>(text), kFieldTextCapacity);
  text[kFieldTextCapacity - 1] = 0;
  ViewEvent event = {};
  event.kind = ViewEventKind::FieldEdited;
  event.arg = static_cast<uint64_t>(index);
  event.text = text;
  window.Deliver(event);
}

void MainWindow::OnTipClicked(MainWindow& window, ui::Message& message) {
  message.handled = true;
  window.ShowNextTip();
}

void MainWindow::OnTabChanged(MainWindow& window, ui::Message& message) {
  message.handled = true;
  if (window.state_ == kStateInformation) {
    InformationViewShow(window, TabCtrl_GetCurSel(window.Control(IDC_TABS)));
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
  NMLVDISPINFOW* info = reinterpret_cast<NMLVDISPINFOW*>(message.lParam);
  LVITEMW& item = info->item;
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

void MainWindow::OnTableColumnClick(MainWindow& window, ui::Message& message) {
  message.handled = true;
  const NMLISTVIEW* info = reinterpret_cast<const NMLISTVIEW*>(message.lParam);
  window.Deliver(ViewEventKind::ColumnClicked, static_cast<uint64_t>(info->iSubItem), window.SelectedTabKey());
}

void MainWindow::OnTableNotify(MainWindow& window, ui::Message& message) { MainViewTableNotify(window, message); }

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

void MainWindow::CreateMonospaceFont() {
  HWND tx = Control(IDC_TX_LINE);
  HFONT base = reinterpret_cast<HFONT>(SendMessageW(tx, WM_GETFONT, 0, 0));
  if (!base) base = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  LOGFONTW font = {};
  if (!GetObjectW(base, sizeof(font), &font)) return;
  font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  lstrcpynW(font.lfFaceName, L"Consolas", LF_FACESIZE);
  HFONT created = CreateFontIndirectW(&font);
  if (!created) return;
  if (monospaceFont) DeleteObject(monospaceFont);
  monospaceFont = created;
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
  if (tabBodyBrush) DeleteObject(tabBodyBrush);
  tabBodyBrush = brush;
  tabBodyColour = colour;
}

void MainWindow::LoadIcons() {
  HINSTANCE instance = static_cast<HINSTANCE>(CurrentAppContext()->resourceInstance);
  bigIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VELMORA), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VELMORA), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  if (bigIcon_) SendMessageW(Window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  if (smallIcon_) SendMessageW(Window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
}

// --- states ---------------------------------------------------------------

void MainWindow::EnterState(ShellState state) {
  const ShellState previous = state_;
  state_ = state;
  const bool view = state != kStateInformation;
  for (int32_t id : kMainViewControls) Show(Control(id), view);
  for (int32_t i = 0; i < kFieldCount; ++i) {
    Show(Control(IDC_FIELD_LABEL_0 + i), view && fieldVisible[i]);
    Show(Control(IDC_FIELD_0 + i), view && fieldVisible[i]);
  }
  Show(Control(IDC_DOCUMENT), !view);
  Show(Control(IDC_TIP_LINE), view);
  ui::SetWindowTextIfChanged(Control(IDC_CONNECT_BUTTON), state == kStateConnected ? u"Disconnect" : u"Connect");
  ApplyEnableTable();
  if (!view) {
    ui::SetWindowTextIfChanged(Control(IDC_VIEW_GROUP), u"About");
    SetStateTabs();
    InformationViewShow(*this, 0);
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

void MainWindow::ApplyEnableTable() {
  const uint32_t bit = 1u << static_cast<uint32_t>(state_);
  for (const EnableRule& rule : kEnableTable) EnableWindow(Control(rule.controlId), (rule.mask & bit) != 0);
  EnableWindow(Control(IDC_ADD_BUTTON), state_ == kStateAttached && addAllowed);
  EnableWindow(Control(IDC_REMOVE_BUTTON), state_ == kStateAttached && removeAllowed);
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

void MainWindow::ResetView() {
  TabCtrl_DeleteAllItems(Control(IDC_TABS));
  HostCommand clear = {};
  clear.kind = HostCommandKind::ClearChoices;
  ExecuteCommand(this, clear);
  HostCommand shape = {};
  shape.kind = HostCommandKind::SetTableShape;
  ExecuteCommand(this, shape);
  for (bool& visible : fieldVisible) visible = true;
}

void MainWindow::Activate(int32_t index) {
  Detach();
  MainViewDropFrameLines(*this);
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
