#include "shell/tab_rename.h"

#include <commctrl.h>

namespace {

// The editor's width for the longest title a tab may have: as many of the
// font's widest common letter, with the edit's margins and border.
int32_t LongestTitleWidth(HWND edit) {
  HDC dc = GetDC(edit);
  if (!dc) return 0;
  HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)));
  SIZE letter = {};
  const BOOL measured = GetTextExtentPoint32W(dc, L"W", 1, &letter);
  SelectObject(dc, previous);
  ReleaseDC(edit, dc);
  if (!measured) return 0;
  const LRESULT margins = SendMessageW(edit, EM_GETMARGINS, 0, 0);
  return letter.cx * kTabTitleLimit + LOWORD(margins) + HIWORD(margins) + 2 * GetSystemMetrics(SM_CXBORDER) + 2;
}

LPARAM TabKey(HWND tabs, int32_t index) {
  TCITEMW item = {};
  item.mask = TCIF_PARAM;
  if (!SendMessageW(tabs, TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item))) return 0;
  return item.lParam;
}

}  // namespace

// --- the editor --------------------------------------------------------------

void TabRenameEdit::Dispatch(ui::Message& message) {
  static constexpr ui::MessageEntry<TabRenameEdit> kMap[] = {
      ui::On(WM_GETDLGCODE, &TabRenameEdit::OnGetDialogCode),
      ui::On(WM_KEYDOWN, &TabRenameEdit::OnKeyDown),
      ui::On(WM_CHAR, &TabRenameEdit::OnChar),
      ui::On(WM_KILLFOCUS, &TabRenameEdit::OnFocusLost),
  };
  DispatchMessageMap(*this, kMap, message);
}

// Enter and Escape belong to the editor, not to the dialog's buttons.
void TabRenameEdit::OnGetDialogCode(TabRenameEdit&, ui::Message& message) {
  message.result = DLGC_WANTALLKEYS;
  message.handled = true;
}

void TabRenameEdit::OnKeyDown(TabRenameEdit& edit, ui::Message& message) {
  if (message.wParam == VK_RETURN) {
    edit.strip_.Commit();
  } else if (message.wParam == VK_ESCAPE) {
    edit.strip_.Cancel();
  } else {
    return;
  }
  message.result = 0;
  message.handled = true;
}

// The characters of Enter and Escape would only beep in a one-line edit.
void TabRenameEdit::OnChar(TabRenameEdit&, ui::Message& message) {
  if (message.wParam != L'\r' && message.wParam != 27) return;
  message.result = 0;
  message.handled = true;
}

// The commit destroys the edit; a destroyed edit gets nothing more.
void TabRenameEdit::OnFocusLost(TabRenameEdit& edit, ui::Message& message) {
  edit.strip_.Commit();
  if (IsWindow(message.window)) return;
  message.result = 0;
  message.handled = true;
}

// --- the strip ---------------------------------------------------------------

int TabStrip::Attach(HWND tabs, const int32_t* pageControls, int32_t count) {
  if (count < 0 || count > kTabPageControlMax) return 0;
  for (int32_t i = 0; i < count; ++i) pageControls_[i] = pageControls[i];
  pageControlCount_ = count;
  return Bind(tabs);
}

void TabStrip::Dispatch(ui::Message& message) {
  static constexpr ui::MessageEntry<TabStrip> kMap[] = {
      ui::On(WM_PAINT, &TabStrip::OnPaint),
      ui::On(WM_LBUTTONDOWN, &TabStrip::OnMouseDown),
      ui::On(WM_RBUTTONDOWN, &TabStrip::OnMouseDown),
      ui::On(WM_RBUTTONUP, &TabStrip::OnRightButtonUp),
      ui::On(WM_KEYDOWN, &TabStrip::OnKeyDown),
  };
  DispatchMessageMap(*this, kMap, message);
}

// The tab control paints into the device context it is given, clipped
// around the visible controls of its page and the rename editor.
void TabStrip::OnPaint(TabStrip& strip, ui::Message& message) {
  if (message.wParam) return;
  HWND tabs = strip.Window();
  HWND parent = GetParent(tabs);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(tabs, &paint);
  for (int32_t i = 0; i <= strip.pageControlCount_; ++i) {
    HWND control = i < strip.pageControlCount_ ? GetDlgItem(parent, strip.pageControls_[i]) : strip.Editor();
    RECT rect = {};
    if (!control || !IsWindowVisible(control) || !GetWindowRect(control, &rect)) continue;
    MapWindowPoints(nullptr, tabs, reinterpret_cast<POINT*>(&rect), 2);
    ExcludeClipRect(dc, rect.left, rect.top, rect.right, rect.bottom);
  }
  ui::Message inner = message;
  inner.wParam = reinterpret_cast<WPARAM>(dc);
  strip.CallDefault(inner);
  EndPaint(tabs, &paint);
  message.result = 0;
  message.handled = true;
}

// A press anywhere on the strip first commits an open editor.
void TabStrip::OnMouseDown(TabStrip& strip, ui::Message&) {
  if (strip.index_ >= 0) strip.Commit();
}

// On release over a tab: select it, tell the owner as the control itself
// would, and open the editor.
void TabStrip::OnRightButtonUp(TabStrip& strip, ui::Message& message) {
  TCHITTESTINFO hit = {};
  hit.pt.x = static_cast<short>(LOWORD(message.lParam));
  hit.pt.y = static_cast<short>(HIWORD(message.lParam));
  HWND tabs = strip.Window();
  int32_t index = static_cast<int32_t>(SendMessageW(tabs, TCM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  if (index < 0) return;
  strip.Select(index);
  strip.OpenEditor(index);
  message.result = 0;
  message.handled = true;
}

// F2 on the focused strip renames the selected tab.
void TabStrip::OnKeyDown(TabStrip& strip, ui::Message& message) {
  if (message.wParam != VK_F2) return;
  const int32_t selected = static_cast<int32_t>(SendMessageW(strip.Window(), TCM_GETCURSEL, 0, 0));
  if (selected >= 0) strip.OpenEditor(selected);
  message.result = 0;
  message.handled = true;
}

// The owner hears of the change before it (an edit still open in the old
// tab ends there) and after it.
void TabStrip::Select(int32_t index) {
  HWND tabs = Window();
  if (index_ >= 0) Commit();
  NMHDR header = {};
  header.hwndFrom = tabs;
  header.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(tabs));
  header.code = TCN_SELCHANGING;
  SendMessageW(GetParent(tabs), WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
  SendMessageW(tabs, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  header.code = TCN_SELCHANGE;
  SendMessageW(GetParent(tabs), WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
}

void TabStrip::SelectNext(int32_t step) {
  HWND tabs = Window();
  const int32_t count = static_cast<int32_t>(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
  if (count < 2) return;
  const int32_t selected = static_cast<int32_t>(SendMessageW(tabs, TCM_GETCURSEL, 0, 0));
  Select(((selected < 0 ? 0 : selected) + step + count) % count);
}

int TabStrip::OpenEditor(int32_t index) {
  HWND tabs = Window();
  if (!tabs) return 0;
  if (index_ >= 0) Commit();
  RECT rect = {};
  if (!SendMessageW(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&rect))) return 0;
  InflateRect(&rect, -2, -2);
  wchar_t title[kTabTitleCapacity] = {};
  TCITEMW item = {};
  item.mask = TCIF_TEXT | TCIF_PARAM;
  item.pszText = title;
  item.cchTextMax = kTabTitleCapacity;
  if (!SendMessageW(tabs, TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item))) return 0;
  HWND edit = CreateWindowExW(0, L"EDIT", title, WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, rect.left,
                              rect.top, rect.right - rect.left, rect.bottom - rect.top, tabs, nullptr,
                              reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(tabs, GWLP_HINSTANCE)), nullptr);
  if (!edit) return 0;
  SendMessageW(edit, WM_SETFONT, static_cast<WPARAM>(SendMessageW(tabs, WM_GETFONT, 0, 0)), FALSE);
  SendMessageW(edit, EM_LIMITTEXT, kTabTitleLimit, 0);
  // Wider than a short title's tab where the strip has room, so that a
  // long title shows whole while it is typed.
  RECT strip = {};
  GetClientRect(tabs, &strip);
  int32_t width = LongestTitleWidth(edit);
  if (width > strip.right - 4) width = strip.right - 4;
  if (width > rect.right - rect.left) {
    const int32_t left = rect.left + width > strip.right - 2 ? strip.right - 2 - width : rect.left;
    SetWindowPos(edit, nullptr, left, rect.top, width, rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (!edit_.Bind(edit)) {
    DestroyWindow(edit);
    return 0;
  }
  index_ = index;
  key_ = item.lParam;
  SetFocus(edit);
  SendMessageW(edit, EM_SETSEL, 0, -1);
  return 1;
}

void TabStrip::Commit() { Close(true); }

void TabStrip::Cancel() { Close(false); }

int32_t TabStrip::EditedTab() const {
  HWND tabs = Window();
  int32_t count = static_cast<int32_t>(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
  if (index_ < count && TabKey(tabs, index_) == key_) return index_;
  int32_t found = -1;
  for (int32_t i = 0; i < count; ++i) {
    if (TabKey(tabs, i) != key_) continue;
    if (found >= 0) return -1;  // the key no longer names one tab
    found = i;
  }
  return found;
}

// Destroying the focused editor makes it lose the focus, which commits
// again: the editor is forgotten before it goes.
void TabStrip::Close(bool commit) {
  if (closing_ || index_ < 0) return;
  closing_ = true;
  wchar_t text[kTabTitleCapacity] = {};
  HWND edit = edit_.Window();
  if (edit) GetWindowTextW(edit, text, kTabTitleCapacity);
  // An unchanged title stays as the plug-in gave it, however long.
  const bool changed = edit && SendMessageW(edit, EM_GETMODIFY, 0, 0) != 0;
  int32_t tab = commit && changed && text[0] ? EditedTab() : -1;
  index_ = -1;
  key_ = 0;
  if (edit) DestroyWindow(edit);
  if (tab >= 0) {
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    SendMessageW(Window(), TCM_SETITEMW, static_cast<WPARAM>(tab), reinterpret_cast<LPARAM>(&item));
  }
  closing_ = false;
}
