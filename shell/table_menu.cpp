#include "shell/table_menu.h"

#include <commctrl.h>
#include <windowsx.h>

namespace {

// More than any plug-in names; the limit only bounds the asking.
constexpr uint32_t kMaxItems = 64;
constexpr uint32_t kItemTextCapacity = 64;

int64_t Ask(CellEventSink& events, ViewEventKind kind, uint32_t index, Unit* buffer, uint64_t capacity) {
  ViewEvent event = {};
  event.kind = kind;
  event.arg = index;
  event.buffer = buffer;
  event.capacity = capacity;
  return events.DeliverCellEvent(event);
}

POINT MenuPoint(HWND table, LPARAM position) {
  POINT point = {GET_X_LPARAM(position), GET_Y_LPARAM(position)};
  if (point.x != -1 || point.y != -1) return point;
  point = {0, 0};
  const int32_t row = static_cast<int32_t>(SendMessageW(table, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
  RECT label = {};
  label.left = LVIR_LABEL;
  if (row >= 0 && SendMessageW(table, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&label))) {
    point = {label.left, label.bottom};
  }
  ClientToScreen(table, &point);
  return point;
}

}  // namespace

void TableMenuKeys::Dispatch(ui::Message& message) {
  const bool menuKey = message.message == WM_KEYUP && message.wParam == VK_APPS;
  const bool shiftF10 =
      message.message == WM_SYSKEYDOWN && message.wParam == VK_F10 && (GetKeyState(VK_SHIFT) & 0x8000) != 0;
  if (!menuKey && !shiftF10) return;
  SendMessageW(GetParent(message.window), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(message.window),
               MAKELPARAM(-1, -1));
  message.result = 0;
  message.handled = true;
}

bool IsTableMenuSource(HWND table, HWND source) {
  return table && source && (source == table || GetParent(source) == table);
}

bool ShowTableMenu(HWND owner, HWND table, LPARAM position, CellEventSink& events) {
  HMENU menu = CreatePopupMenu();
  if (!menu) return false;
  uint32_t shown = 0;
  for (uint32_t index = 0; index < kMaxItems; ++index) {
    Unit text[kItemTextCapacity] = {};
    const int64_t flags = Ask(events, ViewEventKind::GetMenuItem, index, text, kItemTextCapacity);
    if (flags == 0) break;
    text[kItemTextCapacity - 1] = 0;
    if (flags & kMenuItemSeparator) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else if (flags & kMenuItemPresent) {
      UINT state = MF_STRING | ((flags & kMenuItemChecked) ? MF_CHECKED : 0) | ((flags & kMenuItemDisabled) ? MF_GRAYED : 0);
      AppendMenuW(menu, state, index + 1, reinterpret_cast<const wchar_t*>(text));
    }
    ++shown;
  }
  if (shown == 0) {
    DestroyMenu(menu);
    return false;
  }
  const POINT at = MenuPoint(table, position);
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN |
                                                                   TPM_TOPALIGN, at.x, at.y, 0, owner, nullptr));
  DestroyMenu(menu);
  if (chosen > 0) Ask(events, ViewEventKind::MenuItemChosen, chosen - 1, nullptr, 0);
  return true;
}
