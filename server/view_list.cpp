#include "server/view_list.h"

#include "common/exit_codes.h"
#include "common/memory.h"
#include "server/device_map.h"

namespace {

constexpr uint32_t kInitialQuantity = 20;

void FormatViewName(uint32_t number, Unit* name) {
  TextBuffer text;
  text.Assign(u"View ");
  text.AppendUnsigned(number);
  int32_t length = text.Length();
  if (length > static_cast<int32_t>(kViewNameCapacity) - 1) length = kViewNameCapacity - 1;
  mem::CopyBytes(name, text.Text(), static_cast<size_t>(length) * sizeof(Unit));
  name[length] = 0;
}

}  // namespace

void ViewListInit(ViewList* list) {
  *list = ViewList{};
  list->lock = plat::MutexNew();
  if (!list->lock) plat::FatalExit(kExitOutOfMemory);
}

void ViewListRelease(ViewList* list) {
  ClearViews(list);
  mem::Release(list->views);
  plat::MutexFree(list->lock);
  *list = ViewList{};
}

MapView* AppendView(ViewList* list) {
  if (list->count == list->capacity) {
    const uint32_t capacity = list->capacity ? list->capacity * 2 : 1;
    void* grown = mem::Reallocate(list->views, capacity * sizeof(MapView*));
    if (!grown) plat::FatalExit(kExitOutOfMemory);
    list->views = static_cast<MapView**>(grown);
    list->capacity = capacity;
  }
  MapView* view = static_cast<MapView*>(mem::Allocate(sizeof(MapView)));
  mem::FillBytes(view, 0, sizeof *view);
  FormatViewName(list->nextNumber++, view->name);
  view->area = kAreaHoldingRegisters;
  view->start = 0;
  view->quantity = kInitialQuantity;
  view->format = 0;
  list->views[list->count++] = view;
  return view;
}

MapView* FindView(const ViewList* list, uintptr_t key) {
  for (uint32_t i = 0; i < list->count; ++i) {
    if (reinterpret_cast<uintptr_t>(list->views[i]) == key) return list->views[i];
  }
  return nullptr;
}

bool RemoveView(ViewList* list, MapView* view) {
  for (uint32_t i = 0; i < list->count; ++i) {
    if (list->views[i] != view) continue;
    for (uint32_t j = i + 1; j < list->count; ++j) list->views[j - 1] = list->views[j];
    --list->count;
    if (list->selected == view) list->selected = nullptr;
    mem::Release(view);
    return true;
  }
  return false;
}

void ClearViews(ViewList* list) {
  for (uint32_t i = 0; i < list->count; ++i) mem::Release(list->views[i]);
  list->count = 0;
  list->selected = nullptr;
  list->nextNumber = 1;
}

bool SelectedViewOverlaps(ViewList* list, const WrittenRange& written) {
  if (written.count == 0) return false;
  plat::MutexLock(list->lock);
  const MapView* view = list->selected;
  bool overlaps = false;
  if (view && view->area == written.area) {
    const uint32_t writtenEnd = static_cast<uint32_t>(written.start) + written.count;
    overlaps = view->start < writtenEnd && written.start < view->start + view->quantity;
  }
  plat::MutexUnlock(list->lock);
  return overlaps;
}
