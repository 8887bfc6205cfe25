#include "common/ui/combo_box.h"

namespace ui {

int32_t ComboBox::Count() const {
  const LRESULT count = SendMessageW(window_, CB_GETCOUNT, 0, 0);
  return count < 0 ? 0 : static_cast<int32_t>(count);
}

int32_t ComboBox::Add(const Unit* text) {
  const wchar_t* shown = reinterpret_cast<const wchar_t*>(text ? text : u"");
  const LRESULT index = SendMessageW(window_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown));
  return index < 0 ? -1 : static_cast<int32_t>(index);
}

int32_t ComboBox::Add(const Unit* text, uintptr_t data) {
  const int32_t index = Add(text);
  if (index < 0) return -1;
  if (SendMessageW(window_, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data)) == CB_ERR) {
    SendMessageW(window_, CB_DELETESTRING, static_cast<WPARAM>(index), 0);
    return -1;
  }
  return index;
}

uintptr_t ComboBox::Data(int32_t index) const {
  if (index < 0 || index >= Count()) return 0;
  return static_cast<uintptr_t>(SendMessageW(window_, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

int32_t ComboBox::FindData(uintptr_t data) const {
  const int32_t count = Count();
  for (int32_t i = 0; i < count; ++i) {
    if (static_cast<uintptr_t>(SendMessageW(window_, CB_GETITEMDATA, static_cast<WPARAM>(i), 0)) == data) return i;
  }
  return -1;
}

int32_t ComboBox::Selected() const {
  const LRESULT selected = SendMessageW(window_, CB_GETCURSEL, 0, 0);
  return selected < 0 ? -1 : static_cast<int32_t>(selected);
}

bool ComboBox::SelectedData(uintptr_t& data) const {
  const int32_t selected = Selected();
  if (selected < 0) return false;
  data = Data(selected);
  return true;
}

void ComboBox::Select(int32_t index) {
  if (index < -1 || index >= Count()) return;
  if (Selected() != index) SendMessageW(window_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

bool ComboBox::SelectData(uintptr_t data) {
  const int32_t index = FindData(data);
  if (index < 0) return false;
  Select(index);
  return true;
}

void ComboBox::Clear() {
  SendMessageW(window_, CB_RESETCONTENT, 0, 0);
  SetDroppedWidth(0);
}

int32_t ComboBox::DroppedWidth() const {
  const LRESULT width = SendMessageW(window_, CB_GETDROPPEDWIDTH, 0, 0);
  return width < 0 ? 0 : static_cast<int32_t>(width);
}

// The dropped width is a minimum: the list is never narrower than the box.
// A minimum of one pixel rather than 0 gives the box's own width back, since
// Wine's combo box ignores 0 and keeps a widened list.
void ComboBox::SetDroppedWidth(int32_t width) {
  SendMessageW(window_, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(width < 1 ? 1 : width), 0);
}

}  // namespace ui
