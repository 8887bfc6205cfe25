#include "shell/anchor_layout.h"

#include "common/memory.h"
#include "common/platform.h"

namespace {

constexpr int32_t kFirstCapacity = 8;

bool IsChild(HWND window) { return (GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD) != 0; }

AnchorRect ClientRectOf(HWND control, HWND parent) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return AnchorRect{rect.left, rect.top, rect.right, rect.bottom};
}

uint32_t DpiOf(HWND window) {
  UINT dpi = GetDpiForWindow(window);
  return dpi ? dpi : kDesignDpi;
}

// A fully transparent small icon, so that the caption shows no default icon
// until the program sets its own.
HICON CreateEmptyIcon() {
  int width = GetSystemMetrics(SM_CXSMICON);
  int height = GetSystemMetrics(SM_CYSMICON);
  if (width <= 0 || height <= 0) width = height = 16;
  size_t rowBytes = static_cast<size_t>((width + 15) / 16) * 2;
  size_t bytes = rowBytes * static_cast<size_t>(height);
  uint8_t* andMask = static_cast<uint8_t*>(mem::Allocate(bytes));
  uint8_t* xorMask = static_cast<uint8_t*>(mem::Allocate(bytes));
  mem::FillBytes(andMask, 0xFF, bytes);
  mem::FillBytes(xorMask, 0x00, bytes);
  HICON icon = CreateIcon(GetModuleHandleW(nullptr), width, height, 1, 1, andMask, xorMask);
  mem::Release(andMask);
  mem::Release(xorMask);
  return icon;
}

}  // namespace

AnchorLayout::~AnchorLayout() {
  ReleaseItems();
  if (emptyIcon_) DestroyIcon(emptyIcon_);
}

void AnchorLayout::ReleaseItems() {
  mem::Release(items_);
  items_ = nullptr;
  count_ = 0;
  capacity_ = 0;
}

void AnchorLayout::AddItem(int32_t controlId, uint32_t flags, HWND control) {
  mem::GrowWhenFull(&items_, count_, &capacity_, kFirstCapacity);
  items_[count_++] = Item{controlId, flags, AnchorRectTo96(ClientRectOf(control, window_), dpi_)};
}

int AnchorLayout::Init(HWND window, const AnchorEntry* table, int32_t count, bool withSizeGrip, bool withMinSize) {
  if (!window || !IsWindow(window)) return 0;
  dpi_ = DpiOf(window);

  if (!IsChild(window)) {
    LONG_PTR extended = GetWindowLongPtrW(window, GWL_EXSTYLE);
    if (!(extended & WS_EX_DLGMODALFRAME)) {
      SetWindowLongPtrW(window, GWL_EXSTYLE, extended | WS_EX_DLGMODALFRAME);
      SetWindowPos(window, nullptr, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (!SendMessageW(window, WM_GETICON, ICON_SMALL, 0)) {
      if (!emptyIcon_) emptyIcon_ = CreateEmptyIcon();
      if (emptyIcon_) SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(emptyIcon_));
    }
  }

  // The previous grip lives in the window the layout was made for before,
  // which need not be this one.
  if (hasSizeGrip_) {
    HWND grip = window_ && IsWindow(window_) ? GetDlgItem(window_, kSizeGripId) : nullptr;
    if (grip) DestroyWindow(grip);
    hasSizeGrip_ = false;
  }
  ReleaseItems();
  window_ = window;

  RECT client{};
  GetClientRect(window, &client);
  clientWidth96_ = ScaleTo96(client.right, dpi_);
  clientHeight96_ = ScaleTo96(client.bottom, dpi_);

  if (withSizeGrip) {
    HWND grip = GetDlgItem(window, kSizeGripId);
    if (!grip) {
      // Bottom-right alignment puts the grip in the corner of the rectangle
      // it is created over.
      grip = CreateWindowExW(0, L"SCROLLBAR", nullptr,
                             WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SBS_SIZEGRIP | SBS_SIZEBOXBOTTOMRIGHTALIGN, 0,
                             0, client.right, client.bottom, window,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSizeGripId)),
                             reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)), nullptr);
    }
    if (grip) {
      hasSizeGrip_ = true;
      AddItem(kSizeGripId, kAnchorMoveX | kAnchorMoveY | kAnchorRepaint | kAnchorSizeGrip, grip);
    }
  }

  hasMinSize_ = withMinSize;
  if (withMinSize) {
    int32_t width = client.right;
    int32_t height = client.bottom;
    if (!IsChild(window)) {
      RECT frame{};
      GetWindowRect(window, &frame);
      width = frame.right - frame.left;
      height = frame.bottom - frame.top;
    }
    minWidth96_ = ScaleTo96(width, dpi_);
    minHeight96_ = ScaleTo96(height, dpi_);
  }

  for (int32_t i = 0; i < count && table; ++i) {
    HWND control = GetDlgItem(window, table[i].controlId);
    if (control) AddItem(table[i].controlId, table[i].flags, control);
  }
  return 1;
}

void AnchorLayout::Layout(int32_t width, int32_t height) {
  if (!window_) return;
  if (hasMinSize_ && IsChild(window_)) {
    int32_t minWidth = ScaleFrom96(minWidth96_, dpi_);
    int32_t minHeight = ScaleFrom96(minHeight96_, dpi_);
    if (width < minWidth) width = minWidth;
    if (height < minHeight) height = minHeight;
  }

  bool suspended = IsWindowVisible(window_) != FALSE;
  if (suspended) SendMessageW(window_, WM_SETREDRAW, FALSE, 0);
  for (int32_t i = 0; i < count_; ++i) {
    const Item& item = items_[i];
    HWND control = GetDlgItem(window_, item.controlId);
    if (!control) continue;
    AnchorRect placed = AnchorPlace(item.flags, ClientRectOf(control, window_), item.initial96, clientWidth96_,
                                    clientHeight96_, dpi_, width, height);
    if (item.flags & kAnchorRepaint) InvalidateRect(control, nullptr, TRUE);
    if (item.flags & kAnchorPlacing) {
      SetWindowPos(control, nullptr, placed.left, placed.top, placed.right - placed.left, placed.bottom - placed.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  if (suspended) SendMessageW(window_, WM_SETREDRAW, TRUE, 0);
  RedrawWindow(window_, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

bool AnchorLayout::Right96(int32_t controlId, int32_t& right96) const {
  for (int32_t i = 0; i < count_; ++i) {
    if (items_[i].controlId != controlId) continue;
    right96 = items_[i].initial96.right;
    return true;
  }
  return false;
}

bool AnchorLayout::SetRight96(int32_t controlId, int32_t right96) {
  for (int32_t i = 0; i < count_; ++i) {
    if (items_[i].controlId != controlId) continue;
    items_[i].initial96.right = right96;
    return true;
  }
  return false;
}

bool AnchorLayout::MinSize(SIZE& size) const {
  if (!hasMinSize_) return false;
  size.cx = ScaleFrom96(minWidth96_, dpi_);
  size.cy = ScaleFrom96(minHeight96_, dpi_);
  return true;
}

void AnchorLayout::ShowSizeGrip(bool show) {
  if (!hasSizeGrip_) return;
  HWND grip = GetDlgItem(window_, kSizeGripId);
  if (grip) ShowWindow(grip, show ? SW_SHOW : SW_HIDE);
}

void AnchorLayout::OnSize(WPARAM kind, LPARAM clientSize) {
  int32_t width = LOWORD(clientSize);
  int32_t height = HIWORD(clientSize);
  switch (kind) {
    case SIZE_MINIMIZED:
      return;
    case SIZE_MAXIMIZED:
      ShowSizeGrip(false);
      break;
    case SIZE_RESTORED:
      ShowSizeGrip(true);
      break;
    default:
      break;
  }
  Layout(width, height);
}

void AnchorLayout::OnGetMinMaxInfo(MINMAXINFO* info) const {
  SIZE size{};
  if (info && MinSize(size)) {
    info->ptMinTrackSize.x = size.cx;
    info->ptMinTrackSize.y = size.cy;
  }
}

// The layout owns the controls' scale (a window using it turns the dialog
// manager's own rescaling off): at a new DPI every control first takes its
// 96-DPI rectangle at that DPI, size included, and is then anchored to the
// current client size as at any layout.
void AnchorLayout::OnDpiChanged(WPARAM dpis) {
  uint32_t dpi = LOWORD(dpis);
  dpi = dpi ? dpi : kDesignDpi;
  const bool changed = dpi != dpi_;
  dpi_ = dpi;
  if (!window_) return;
  for (int32_t i = 0; changed && i < count_; ++i) {
    HWND control = GetDlgItem(window_, items_[i].controlId);
    if (!control) continue;
    const AnchorRect& initial = items_[i].initial96;
    const int32_t left = ScaleFrom96(initial.left, dpi_);
    const int32_t top = ScaleFrom96(initial.top, dpi_);
    SetWindowPos(control, nullptr, left, top, ScaleFrom96(initial.right, dpi_) - left,
                 ScaleFrom96(initial.bottom, dpi_) - top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RECT client{};
  GetClientRect(window_, &client);
  Layout(client.right, client.bottom);
}
