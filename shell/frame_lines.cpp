#include "shell/frame_lines.h"

#include "common/ui/window_text.h"

// --- painting ----------------------------------------------------------------

void FlickerFreeStatic::Dispatch(ui::Message& message) {
  static constexpr ui::MessageEntry<FlickerFreeStatic> kMap[] = {
      ui::On(WM_ERASEBKGND, &FlickerFreeStatic::OnEraseBackground),
      ui::On(WM_PAINT, &FlickerFreeStatic::OnPaint),
  };
  DispatchMessageMap(*this, kMap, message);
}

// The paint fills the whole line itself.
void FlickerFreeStatic::OnEraseBackground(FlickerFreeStatic&, ui::Message& message) {
  message.result = 1;
  message.handled = true;
}

// The static renders its client area into a memory bitmap, which reaches
// the screen in one copy. An empty client area is left to the static.
void FlickerFreeStatic::OnPaint(FlickerFreeStatic& line, ui::Message& message) {
  RECT client = {};
  GetClientRect(line.Window(), &client);
  if (message.wParam || client.right <= 0 || client.bottom <= 0) return;
  PAINTSTRUCT paint;
  HDC screen = BeginPaint(line.Window(), &paint);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = memory ? CreateCompatibleBitmap(screen, client.right, client.bottom) : nullptr;
  if (bitmap) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    SendMessageW(line.Window(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT | PRF_ERASEBKGND);
    BitBlt(screen, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
  } else {
    SendMessageW(line.Window(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(screen), PRF_CLIENT | PRF_ERASEBKGND);
  }
  if (memory) DeleteDC(memory);
  EndPaint(line.Window(), &paint);
  message.result = 0;
  message.handled = true;
}

// --- the two lines -----------------------------------------------------------

int FrameLines::Attach(HWND owner, HWND tx, HWND rx) {
  if (!owner || !tx || !rx) return 0;
  owner_ = owner;
  lines_[kTxLine] = tx;
  lines_[kRxLine] = rx;
  return painters_[kTxLine].Bind(tx) & painters_[kRxLine].Bind(rx);
}

void FrameLines::Command(const HostCommand& command) {
  TextBuffer text;
  switch (command.kind) {
    case HostCommandKind::ShowTxFrame:
    case HostCommandKind::ShowRxFrame: {
      int line = command.kind == HostCommandKind::ShowTxFrame ? kTxLine : kRxLine;
      const uint8_t* data = static_cast<const uint8_t*>(command.data);
      TextBuffer whole;
      if (BuildFrameLineText(line, data, command.length, text) &&
          BuildFrameLineText(line, data, command.length, whole, command.length)) {
        Update(line, text, whole, false);
      }
      break;
    }
    case HostCommandKind::ShowRxText:
      if (command.text ? text.Assign(command.text) : BuildFrameLineText(kRxLine, nullptr, 0, text)) {
        Update(kRxLine, text, text, command.index != 0);
      }
      break;
    default:
      break;
  }
}

void FrameLines::Update(int line, const TextBuffer& shown, const TextBuffer& whole, bool error) {
  if (!latestWhole_[line].Assign(whole.Text())) return;
  throttle_.Update(line, shown.Text(), error);
}

void FrameLines::Drop() { throttle_.Drop(); }

void FrameLines::Reset() {
  TextBuffer tx;
  TextBuffer rx;
  if (!BuildFrameLineText(kTxLine, nullptr, 0, tx) || !BuildFrameLineText(kRxLine, nullptr, 0, rx)) return;
  latestWhole_[kTxLine].Assign(tx.Text());
  latestWhole_[kRxLine].Assign(rx.Text());
  throttle_.Reset(tx.Text(), rx.Text());
}

int FrameLines::LineOf(HWND window) const {
  if (!window) return -1;
  if (window == lines_[kTxLine]) return kTxLine;
  if (window == lines_[kRxLine]) return kRxLine;
  return -1;
}

// A right click reports the line itself; the menu key reports the focused
// window and no position, so the line under the mouse pointer is meant.
int FrameLines::ContextMenu(HWND target, LPARAM screenPoint) {
  int line = LineOf(target);
  if (line < 0) {
    POINT point = {static_cast<short>(LOWORD(screenPoint)), static_cast<short>(HIWORD(screenPoint))};
    if (screenPoint == -1) GetCursorPos(&point);
    for (int candidate = kTxLine; candidate <= kRxLine && line < 0; ++candidate) {
      RECT rect = {};
      if (lines_[candidate] && IsWindowVisible(lines_[candidate]) && GetWindowRect(lines_[candidate], &rect) &&
          PtInRect(&rect, point)) {
        line = candidate;
      }
    }
  }
  if (line < 0) return 0;
  Copy(line);
  return 1;
}

int FrameLines::Copy(int line) {
  if (line != kTxLine && line != kRxLine) return 0;
  throttle_.ApplyPending();
  ui::WindowText shown(lines_[line]);
  const Unit* text = shownWhole_[line].Length() > 0 ? shownWhole_[line].Text() : shown.Units();
  if (!OpenClipboard(owner_)) return 0;
  int copied = 0;
  if (EmptyClipboard()) {
    size_t bytes = (static_cast<size_t>(TextLength(text)) + 1) * sizeof(Unit);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    void* target = memory ? GlobalLock(memory) : nullptr;
    if (target) {
      CopyMemory(target, text, bytes);
      GlobalUnlock(memory);
      copied = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    }
    if (memory && !copied) GlobalFree(memory);
  }
  CloseClipboard();
  return copied;
}

// The text changes with redrawing suspended; the flicker-free paint follows.
void FrameLines::ShowLineText(int line, const Unit* text) {
  shownWhole_[line].Assign(latestWhole_[line].Text());
  HWND window = lines_[line];
  ui::WindowText current(window);
  if (current.Equals(text, TextLength(text))) return;
  SendMessageW(window, WM_SETREDRAW, FALSE, 0);
  SetWindowTextW(window, reinterpret_cast<const wchar_t*>(text));
  SendMessageW(window, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(window, nullptr, FALSE);
}

void FrameLines::ShowRxError(bool) { InvalidateRect(lines_[kRxLine], nullptr, FALSE); }

int FrameLines::StartThrottle(uint32_t periodMs) { return timer_.Start(owner_, periodMs, this); }

void FrameLines::StopThrottle() { timer_.Stop(); }

void FrameLines::OnTimer(ui::BoundTimer&) { throttle_.Tick(); }
