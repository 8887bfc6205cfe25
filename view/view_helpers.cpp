#include "view/view_helpers.h"

#include "common/app_context.h"
#include "view/view_resource_ids.h"

// --- resources ----------------------------------------------------------------

HINSTANCE PluginResourceModule() {
  AppContext* context = CurrentAppContext();
  if (context && context->resourceInstance) return static_cast<HINSTANCE>(context->resourceInstance);
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&PluginResourceModule), &self);
  return self;
}

// --- tips -----------------------------------------------------------------------

namespace {

uint32_t CountTips(HINSTANCE module) {
  uint32_t count = 0;
  wchar_t probe[2];
  while (count < kTipMaxCount && LoadStringW(module, IDS_TIP_FIRST + count, probe, 2) > 0) ++count;
  return count;
}

int LoadTipText(HINSTANCE module, int32_t index, Unit* buffer, uint32_t capacity) {
  if (index < 0) return 0;
  // LoadStringW takes an int; a capacity of 0 would ask for a pointer instead.
  int units = capacity > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(capacity);
  return LoadStringW(module, IDS_TIP_FIRST + static_cast<UINT>(index), reinterpret_cast<wchar_t*>(buffer), units) > 0
             ? 1
             : 0;
}

// The rotation's module, with the tips counted on the first request.
HINSTANCE CountedModule(TipRotation& rotation) {
  HINSTANCE module = PluginResourceModule();
  if (rotation.count == 0) rotation.count = CountTips(module);
  return module;
}

}  // namespace

int LoadTip(TipRotation& rotation, uint32_t seed, Unit* buffer, uint32_t capacity) {
  if (!buffer || capacity == 0) return 0;
  HINSTANCE module = CountedModule(rotation);
  return LoadTipText(module, SeedTip(rotation, seed), buffer, capacity);
}

int LoadNextTip(TipRotation& rotation, Unit* buffer, uint32_t capacity) {
  if (!buffer || capacity == 0) return 0;
  HINSTANCE module = CountedModule(rotation);
  return LoadTipText(module, AdvanceTip(rotation), buffer, capacity);
}

// --- connection indicator ---------------------------------------------------------

ConnectionIndicator::~ConnectionIndicator() { Stop(); }

void ConnectionIndicator::Show(HWND iconWindow, bool connected) {
  if (!connected) {
    Stop();
    return;
  }
  // A second report keeps the window already subclassed: never twice.
  if (!Subclassed() && !Bind(iconWindow)) return;
  icon_ = reinterpret_cast<HICON>(SendMessageW(Window(), STM_GETICON, 0, 0));
  frame_ = 0;
  timer_.Start(Window(), kIndicatorTickMs, this);
}

void ConnectionIndicator::Stop() {
  timer_.Stop();
  frame_ = 0;
  HWND window = Window();
  if (Subclassed() && window && IsWindow(window) && Unbind()) InvalidateRect(window, nullptr, TRUE);
}

void ConnectionIndicator::OnTimer(ui::BoundTimer&) {
  frame_ = NextIndicatorFrame(frame_);
  InvalidateRect(Window(), nullptr, FALSE);
}

void ConnectionIndicator::Dispatch(ui::Message& message) {
  static constexpr ui::MessageEntry<ConnectionIndicator> kMap[] = {
      ui::On(WM_PAINT, &ConnectionIndicator::OnPaint),
      ui::On(WM_PRINTCLIENT, &ConnectionIndicator::OnPrintClient),
      ui::On(WM_NCDESTROY, &ConnectionIndicator::OnNcDestroy),
  };
  ui::DispatchMessageMap(*this, kMap, message);
}

void ConnectionIndicator::OnPaint(ConnectionIndicator& indicator, ui::Message& message) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(message.window, &paint);
  if (dc) indicator.Paint(dc);
  EndPaint(message.window, &paint);
  message.handled = true;
}

// PrintWindow and WM_PRINT reach the client area through here: they see the
// frame the window shows.
void ConnectionIndicator::OnPrintClient(ConnectionIndicator& indicator, ui::Message& message) {
  indicator.Paint(reinterpret_cast<HDC>(message.wParam));
  message.handled = true;
}

// The window goes: its timers go with it, and the binding ends after this.
void ConnectionIndicator::OnNcDestroy(ConnectionIndicator& indicator, ui::Message&) {
  indicator.timer_.Stop();
  indicator.frame_ = 0;
}

// Drawn into a memory bitmap first, so that the background fill never shows
// alone between two frames.
void ConnectionIndicator::Paint(HDC target) {
  RECT client;
  GetClientRect(Window(), &client);
  int width = client.right - client.left;
  int height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return;
  HDC memory = CreateCompatibleDC(target);
  HBITMAP bitmap = memory ? CreateCompatibleBitmap(target, width, height) : nullptr;
  if (!bitmap) {
    if (memory) DeleteDC(memory);
    PaintFrame(target, client);
    return;
  }
  HGDIOBJ previous = SelectObject(memory, bitmap);
  PaintFrame(memory, client);
  BitBlt(target, 0, 0, width, height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

void ConnectionIndicator::PaintFrame(HDC dc, const RECT& client) {
  HWND window = Window();
  HBRUSH background = reinterpret_cast<HBRUSH>(
      SendMessageW(GetParent(window), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(window)));
  if (background) FillRect(dc, &client, background);
  if (!icon_) return;
  int width = client.right - client.left;
  int frameWidth = IndicatorFrameWidth(frame_, width);
  if (frameWidth == 0) return;
  bool mirrored = IndicatorFrameMirrored(frame_);
  if (mirrored) SetLayout(dc, LAYOUT_RTL);
  DrawIconEx(dc, IndicatorFrameLeft(width, frameWidth), 0, icon_, frameWidth, client.bottom - client.top, 0, nullptr,
             DI_NORMAL);
  if (mirrored) SetLayout(dc, 0);
}

// --- settings page colours ----------------------------------------------------------

void PageColours::Create() {
  Release();
  colour_ = GetSysColor(COLOR_WINDOW);
  brush_ = CreateSolidBrush(colour_);
}

void PageColours::Release() {
  if (brush_) DeleteObject(brush_);
  brush_ = nullptr;
}

bool PageColours::Answer(ui::Message& message) const {
  if (!brush_) return false;
  if (message.message != WM_CTLCOLORSTATIC && message.message != WM_CTLCOLORBTN &&
      message.message != WM_CTLCOLORDLG) {
    return false;
  }
  HDC dc = reinterpret_cast<HDC>(message.wParam);
  SetBkColor(dc, colour_);
  SetBkMode(dc, TRANSPARENT);
  message.result = reinterpret_cast<int64_t>(brush_);
  message.handled = true;
  return true;
}
