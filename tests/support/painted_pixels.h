#pragma once
// The pixels of one colour in a control as it paints itself (with the
// colours its parent gives it) into a memory bitmap: nothing else on a
// shared display can cover it there. In the control's own process only.
#include <windows.h>

namespace painted {

inline int CountColour(HWND control, COLORREF colour) {
  RECT client = {};
  if (!control || !GetClientRect(control, &client) || client.right <= 0 || client.bottom <= 0) return -1;
  HDC screen = GetDC(control);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT | PRF_ERASEBKGND);
  int count = 0;
  for (int y = 0; y < client.bottom; ++y) {
    for (int x = 0; x < client.right; ++x) count += GetPixel(memory, x, y) == colour;
  }
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(control, screen);
  return count;
}

}  // namespace painted
