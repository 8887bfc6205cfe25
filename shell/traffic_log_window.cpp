#include "shell/traffic_log_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include "common/memory.h"

namespace {

const wchar_t kClassName[] = L"VelmoraTrafficLog";
constexpr UINT_PTR kRefreshTimer = 1;
const COLORREF kErrorColour = RGB(204, 0, 0);

// Widths in 96-DPI pixels, in column order.
const int kColumnWidths96[kTrafficColumnCount] = {96, 34, 130, 56, 330, 420};

constexpr int kMargin96 = 8;
constexpr int kButtonWidth96 = 80;
constexpr int kButtonHeight96 = 24;

LRESULT SendW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageW(window, message, wParam, lParam);
}

int Scale(HWND window, int value) { return MulDiv(value, static_cast<int>(GetDpiForWindow(window)), 96); }

bool RegisterOnce(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW existing = {};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(instance, kClassName, &existing)) return true;
  WNDCLASSEXW type = {};
  type.cbSize = sizeof type;
  type.lpfnWndProc = procedure;
  type.hInstance = instance;
  type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  type.lpszClassName = kClassName;
  type.hIcon = reinterpret_cast<HICON>(GetClassLongPtrW(GetActiveWindow(), GCLP_HICON));
  return RegisterClassExW(&type) != 0;
}

// Writes text as UTF-8 to path; false when the file could not be written.
bool WriteUtf8(const wchar_t* path, const TextBuffer& text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text.Text()), text.Length(),
                                        nullptr, 0, nullptr, nullptr);
  char* utf8 = static_cast<char*>(mem::Allocate(bytes > 0 ? static_cast<size_t>(bytes) : 1));
  if (bytes > 0) {
    WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text.Text()), text.Length(), utf8, bytes,
                        nullptr, nullptr);
  }
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool written = file != INVALID_HANDLE_VALUE;
  if (written) {
    DWORD done = 0;
    written = bytes <= 0 || (WriteFile(file, utf8, static_cast<DWORD>(bytes), &done, nullptr) &&
                             done == static_cast<DWORD>(bytes));
    CloseHandle(file);
  }
  mem::Release(utf8);
  return written;
}

bool EndsWithNoCase(const wchar_t* text, const wchar_t* end) {
  const int length = lstrlenW(text);
  const int endLength = lstrlenW(end);
  return length >= endLength && CompareStringOrdinal(text + length - endLength, endLength, end, endLength, TRUE) ==
                                    CSTR_EQUAL;
}

}  // namespace

TrafficLogWindow::~TrafficLogWindow() { Close(); }

void TrafficLogWindow::Open(HWND owner, HFONT font, HFONT listFont) {
  font_ = font;
  listFont_ = listFont ? listFont : font;
  if (!window_) Create(owner);
  if (!window_) return;
  ShowWindow(window_, SW_SHOWNORMAL);
  SetForegroundWindow(window_);
  SetFocus(list_);
  Refresh();
}

void TrafficLogWindow::Close() {
  if (window_) DestroyWindow(window_);
}

void TrafficLogWindow::Create(HWND owner) {
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE));
  if (!RegisterOnce(instance, &TrafficLogWindow::Procedure)) return;
  const int width = MulDiv(1120, static_cast<int>(GetDpiForWindow(owner)), 96);
  const int height = MulDiv(480, static_cast<int>(GetDpiForWindow(owner)), 96);
  RECT ownerRect = {};
  GetWindowRect(owner, &ownerRect);
  CreateWindowExW(0, kClassName, L"Traffic Log", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, ownerRect.left + 40,
                  ownerRect.top + 40, width, height, owner, nullptr, instance, this);
}

LRESULT CALLBACK TrafficLogWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TrafficLogWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TrafficLogWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  const LRESULT result = self->Handle(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->window_ = nullptr;
    self->list_ = nullptr;
    self->throttling_ = false;
    self->behind_ = false;
    self->paused_ = false;
  }
  return result;
}

LRESULT TrafficLogWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
      const struct {
        int id;
        const wchar_t* text;
      } buttons[] = {{kTrafficPauseButton, L"&Pause"},
                     {kTrafficClearButton, L"C&lear"},
                     {kTrafficCopyButton, L"&Copy"},
                     {kTrafficSaveButton, L"&Save..."}};
      for (const auto& button : buttons) {
        HWND control = CreateWindowExW(0, L"BUTTON", button.text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                                       0, 0, 0, 0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(button.id)),
                                       instance, nullptr);
        SendW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
      }
      HWND status = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_CENTERIMAGE, 0,
                                    0, 0, 0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTrafficStatusLine)),
                                    instance, nullptr);
      SendW(status, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
      list_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS, 0,
                              0, 0, 0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTrafficList)), instance,
                              nullptr);
      SendW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(listFont_), FALSE);
      // No grid lines and no double buffer: under Wine they made each
      // repaint of a following view about a third slower (the benchmark's
      // round trips), and the rows need neither.
      ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT);
      for (int column = 0; column < kTrafficColumnCount; ++column) {
        LVCOLUMNW entry = {};
        entry.mask = LVCF_TEXT | LVCF_WIDTH;
        entry.pszText = const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(kTrafficColumnTitles[column]));
        entry.cx = Scale(window_, kColumnWidths96[column]);
        ListView_InsertColumn(list_, column, &entry);
      }
      Layout();
      return 0;
    }
    case WM_SIZE:
      // Minimised, the client area is empty: the controls keep their places
      // for the restore, and the list its scroll position (laid out at no
      // height, the list scrolled to its top and stopped following).
      if (wParam == SIZE_MINIMIZED) return 0;
      Layout();
      if (wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED) CatchUp();
      return 0;
    case WM_SHOWWINDOW:
      // Sent before the window becomes visible: the list is filled before
      // it is first drawn.
      if (wParam) CatchUp();
      break;
    case WM_GETMINMAXINFO: {
      MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize.x = Scale(window_, 4 * (kButtonWidth96 + kMargin96) + 3 * kMargin96);
      info->ptMinTrackSize.y = Scale(window_, 200);
      return 0;
    }
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
          case kTrafficPauseButton: TogglePause(); return 0;
          case kTrafficClearButton: ClearRows(); return 0;
          case kTrafficCopyButton: CopySelection(); return 0;
          case kTrafficSaveButton: Save(); return 0;
          default: break;
        }
      }
      break;
    case WM_NOTIFY:
      return Notify(reinterpret_cast<NMHDR*>(lParam));
    case WM_TIMER:
      if (wParam == kRefreshTimer) {
        KillTimer(window_, kRefreshTimer);
        throttling_ = false;
        // Rows came during the pause between refreshes: show them and wait
        // again; otherwise the next row wakes the window at once.
        if (store_.Next() != next_ || store_.First() != first_) Wake();
      }
      return 0;
    case WM_SETFOCUS:
      if (list_) SetFocus(list_);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window_);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void TrafficLogWindow::Layout() {
  if (!list_) return;
  RECT client = {};
  GetClientRect(window_, &client);
  const int margin = Scale(window_, kMargin96);
  const int buttonWidth = Scale(window_, kButtonWidth96);
  const int buttonHeight = Scale(window_, kButtonHeight96);
  int x = margin;
  for (int id = kTrafficPauseButton; id <= kTrafficSaveButton; ++id) {
    MoveWindow(GetDlgItem(window_, id), x, margin, buttonWidth, buttonHeight, TRUE);
    x += buttonWidth + margin;
  }
  const int statusWidth = client.right - x - margin;
  MoveWindow(GetDlgItem(window_, kTrafficStatusLine), x, margin, statusWidth > 0 ? statusWidth : 0, buttonHeight, TRUE);
  const int top = 2 * margin + buttonHeight;
  const int listHeight = client.bottom - top - margin;
  MoveWindow(list_, margin, top, client.right - 2 * margin, listHeight > 0 ? listHeight : 0, TRUE);
}

void TrafficLogWindow::Wake() {
  if (!window_) return;  // the store keeps its rows, unread, until the window opens
  if (throttling_) return;
  // Nobody sees the list: it is not refreshed, and the store is left
  // unread, so that it posts no more wakes until CatchUp reads it.
  if (IsIconic(window_) || !IsWindowVisible(window_)) {
    behind_ = true;
    return;
  }
  Update();
}

void TrafficLogWindow::CatchUp() {
  if (!behind_ || IsIconic(window_)) return;
  behind_ = false;
  // At once, even within the pause after the last refresh.
  KillTimer(window_, kRefreshTimer);
  throttling_ = false;
  Update();
}

void TrafficLogWindow::Update() {
  throttling_ = true;
  SetTimer(window_, kRefreshTimer, kTrafficRefreshMs, nullptr);
  if (paused_) {
    store_.Woken();
    ShowStatus();
    return;
  }
  Refresh();
}

int TrafficLogWindow::RowCount() const {
  const uint64_t rows = next_ - first_ + (dropped_ ? 1 : 0);
  return static_cast<int>(rows);
}

bool TrafficLogWindow::SequenceOf(int index, uint64_t* sequence) const {
  if (dropped_) {
    if (index == 0) return false;
    --index;
  }
  *sequence = first_ + static_cast<uint64_t>(index);
  return true;
}

void TrafficLogWindow::Refresh() {
  if (!window_) return;
  store_.Woken();
  const int before = RowCount();
  const int top = ListView_GetTopIndex(list_);
  const int perPage = ListView_GetCountPerPage(list_);
  // The newest row was in view (or there was nothing to scroll): keep
  // following it.
  const bool follow = before == 0 || top + perPage >= before;
  first_ = store_.First();
  next_ = store_.Next();
  dropped_ = store_.Dropped();
  const int rows = RowCount();
  // The list view redraws its scroll bar at once, twice when its count
  // changes and again when it scrolls, and under Wine each of those takes
  // several milliseconds (more than the rows themselves): the list is kept
  // from drawing while its count and position change (DefWindowProc's
  // WM_SETREDRAW only clears and sets WS_VISIBLE; the list view's own
  // redraws everything, its header too, at once), then its rows and frame
  // are repainted once with the next WM_PAINT. The header does not change.
  DefWindowProcW(list_, WM_SETREDRAW, FALSE, 0);
  ListView_SetItemCountEx(list_, rows, LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
  if (follow && rows > 0) ListView_EnsureVisible(list_, rows - 1, FALSE);
  DefWindowProcW(list_, WM_SETREDRAW, TRUE, 0);
  RedrawWindow(list_, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_NOCHILDREN);
  ShowStatus();
}

void TrafficLogWindow::ShowStatus() {
  TextBuffer text;
  const uint64_t shown = next_ - first_;
  text.AppendUnsigned(shown);
  text.Append(shown == 1 ? u" row" : u" rows");
  if (paused_) {
    const uint64_t waiting = store_.Next() - next_;
    text.Append(u"; paused, ");
    text.AppendUnsigned(waiting);
    text.Append(waiting == 1 ? u" new frame" : u" new frames");
  }
  SetDlgItemTextW(window_, kTrafficStatusLine, reinterpret_cast<const wchar_t*>(text.Text()));
}

void TrafficLogWindow::TogglePause() {
  paused_ = !paused_;
  SetDlgItemTextW(window_, kTrafficPauseButton, paused_ ? L"&Resume" : L"&Pause");
  if (paused_) {
    ShowStatus();
  } else {
    Refresh();
  }
}

void TrafficLogWindow::ClearRows() {
  store_.Clear();
  ListView_SetItemState(list_, -1, 0, LVIS_SELECTED);
  const bool paused = paused_;
  paused_ = false;
  Refresh();
  paused_ = paused;
  ShowStatus();
  InvalidateRect(list_, nullptr, FALSE);
}

int TrafficLogWindow::AppendLine(int index, bool csv, TextBuffer& out) {
  uint64_t sequence = 0;
  if (!SequenceOf(index, &sequence)) return AppendDroppedLine(dropped_, csv, out);
  if (!store_.Read(sequence, &row_)) return 1;  // gone since: nothing to copy
  return AppendTrafficLine(store_, clock_, row_, csv, out);
}

void TrafficLogWindow::SelectAll() { ListView_SetItemState(list_, -1, LVIS_SELECTED, LVIS_SELECTED); }

void TrafficLogWindow::CopySelection() {
  TextBuffer text;
  for (int index = ListView_GetNextItem(list_, -1, LVNI_SELECTED); index >= 0;
       index = ListView_GetNextItem(list_, index, LVNI_SELECTED)) {
    if (!AppendLine(index, false, text)) return;
  }
  if (!OpenClipboard(window_)) return;
  EmptyClipboard();
  const size_t bytes = (static_cast<size_t>(text.Length()) + 1) * sizeof(Unit);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
  void* place = block ? GlobalLock(block) : nullptr;
  if (place) {
    mem::CopyBytes(place, text.Text(), bytes);
    GlobalUnlock(block);
    if (!SetClipboardData(CF_UNICODETEXT, block)) GlobalFree(block);
  } else if (block) {
    GlobalFree(block);
  }
  CloseClipboard();
}

// Every row the list shows, with the titles first; CSV when the user picks
// it or names a .csv file.
void TrafficLogWindow::Save() {
  wchar_t path[MAX_PATH] = L"traffic.txt";
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFilter = L"Text (tab-separated) (*.txt)\0*.txt\0CSV (*.csv)\0*.csv\0";
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrDefExt = L"txt";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&dialog)) return;
  const bool csv = dialog.nFilterIndex == 2 || EndsWithNoCase(path, L".csv");
  TextBuffer text;
  bool built = AppendTrafficHeader(csv, text) != 0;
  const int rows = RowCount();
  for (int index = 0; built && index < rows; ++index) built = AppendLine(index, csv, text) != 0;
  if (!built || !WriteUtf8(path, text)) {
    MessageBoxW(window_, L"The traffic log could not be saved.", L"Traffic Log", MB_OK | MB_ICONERROR);
  }
}

LRESULT TrafficLogWindow::Notify(NMHDR* header) {
  if (header->idFrom != static_cast<UINT_PTR>(kTrafficList)) return 0;
  switch (header->code) {
    case LVN_GETDISPINFOW: {
      LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(header)->item;
      if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0) return 0;
      TextBuffer text;
      uint64_t sequence = 0;
      if (!SequenceOf(item.iItem, &sequence)) {
        if (item.iSubItem == kTrafficColumnMeaning) AppendDroppedText(dropped_, text);
      } else if (store_.Read(sequence, &row_)) {
        AppendTrafficCell(store_, clock_, row_, item.iSubItem, text);
      }
      CopyTextCut(text.Text(), reinterpret_cast<Unit*>(item.pszText), static_cast<uint64_t>(item.cchTextMax));
      return 0;
    }
    case LVN_ODFINDITEMW:
      return -1;
    case NM_CUSTOMDRAW: {
      NMLVCUSTOMDRAW* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
      if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
      if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
        uint64_t sequence = 0;
        TrafficRow& row = row_;
        if (SequenceOf(static_cast<int>(draw->nmcd.dwItemSpec), &sequence) && store_.Read(sequence, &row) &&
            row.failure == kTrafficFailureRow) {
          draw->clrText = kErrorColour;
        }
        return CDRF_DODEFAULT;
      }
      return CDRF_DODEFAULT;
    }
    case LVN_KEYDOWN: {
      const NMLVKEYDOWN* key = reinterpret_cast<NMLVKEYDOWN*>(header);
      if (GetKeyState(VK_CONTROL) < 0 && key->wVKey == 'C') CopySelection();
      if (GetKeyState(VK_CONTROL) < 0 && key->wVKey == 'A') SelectAll();
      return 0;
    }
    default:
      return 0;
  }
}
