#pragma once
// The views of a server plug-in: one MapView per tab, each a window of one
// area of the one device map. The view-list lock guards the list and every
// view's fields; the user-interface thread changes them, and the worker
// reads the selected view under the same lock to decide whether a client's
// write needs a redraw. The view-list lock is taken before the map lock,
// never after it.

#include <stdint.h>

#include "common/platform.h"
#include "common/text.h"
#include "server/request.h"

constexpr uint32_t kViewNameCapacity = 32;  // 31 units and a NUL

struct MapView {
  Unit name[kViewNameCapacity];  // the tab title at creation
  uint8_t area;                  // 0 to 3, as in the device map
  uint32_t start;                // 0 to 65535
  uint32_t quantity;             // 1 to 65536 - start
  uint8_t format;                // ValueFormat
  uint8_t valueType;             // ValueType, shown in the register areas
  uint8_t valueOrder;            // ValueOrder of the wider types
};

struct ViewList {
  MapView** views = nullptr;  // in tab order
  uint32_t count = 0;
  uint32_t capacity = 0;      // doubles when full, 1 at first
  MapView* selected = nullptr;  // the selected tab's view, for the worker
  uint32_t nextNumber = 1;
  plat::Mutex* lock = nullptr;
};

// Creating the lock is an allocation: failure ends the process.
void ViewListInit(ViewList* list);
// Deletes every view and releases the lock.
void ViewListRelease(ViewList* list);

// The caller holds the lock for the operations below.

// A new view "View n" (holding registers from 0, 20 rows, decimal) appended
// at the end; the next view number goes up by one.
MapView* AppendView(ViewList* list);
// Takes the view out of the list (the following ones move down) and frees
// it; clears the selected view when it was this one. False when the list
// does not hold it.
bool RemoveView(ViewList* list, MapView* view);
// The list's view at this address, or null: tab keys come from the shell.
MapView* FindView(const ViewList* list, uintptr_t key);
// Deletes every view; numbering starts again at 1.
void ClearViews(ViewList* list);

// Takes the lock itself: whether the selected view shows the written area
// and its rows overlap the written cells.
bool SelectedViewOverlaps(ViewList* list, const WrittenRange& written);
