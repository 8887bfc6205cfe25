#include "server/map_view.h"

#include "server/server_context.h"
#include "view/host_command_sender.h"
#include "view/value_format.h"
#include "view/value_type.h"

namespace {

constexpr uint32_t kFieldStart = 0;
constexpr uint32_t kFieldQuantity = 1;
constexpr uint32_t kFieldCount = 4;
constexpr uint32_t kMaxAddress = kCellsPerArea - 1;
constexpr uint64_t kEnableAddOnly = 0x1;
constexpr uint64_t kEnableAddRemove = 0x10001;

// A command with an index, a value and a text, sent at once.
void Send(const HostLink* link, HostCommandKind kind, uint64_t index = 0, uint64_t value = 0,
          const Unit* text = nullptr) {
  HostCommandArgs args;
  args.index = index;
  args.value = value;
  args.text = text;
  SendHostCommand(link, kind, args);
}

void Lock(ServerContext* context) { plat::MutexLock(context->views.lock); }
void Unlock(ServerContext* context) { plat::MutexUnlock(context->views.lock); }

void SendFieldFormat(const HostLink* link, uint32_t field, uint8_t mode, int64_t min, int64_t max) {
  FieldFormat format = {};
  format.mode = mode;
  format.hasRange = mode != kFieldUnrestricted ? 1 : 0;
  format.min = min;
  format.max = max;
  HostCommandArgs args;
  args.index = field;
  args.data = &format;
  args.length = sizeof format;
  SendHostCommand(link, HostCommandKind::SetFieldFormat, args);
}

void SendNumberField(const HostLink* link, uint32_t field, const Unit* label, uint32_t number) {
  TextBuffer text;
  text.AppendUnsigned(number);
  Send(link, HostCommandKind::SetLabel, field, 0, label);
  Send(link, HostCommandKind::SetFieldText, field, 0, text.Text());
  Send(link, HostCommandKind::ShowField, field, 1);
}

constexpr uint32_t kViewTitleCapacity = 48;

// The register areas show the view's value type; the bit areas 16-bit.
uint8_t ShownType(const MapView& view) { return IsBitArea(view.area) ? uint8_t{kType16} : view.valueType; }

RowPlace PlaceViewRow(const MapView& view, uint32_t row) { return PlaceRow(ShownType(view), view.quantity, row); }

// A wide value on its first row (its registers read together), a mark on
// its other rows, 16-bit cells in the view's format.
void ValueCellText(ServerContext* context, const MapView& view, uint32_t row, Unit* buffer, uint64_t capacity) {
  const uint8_t type = ShownType(view);
  const RowPlace place = PlaceRow(type, view.quantity, row);
  const uint16_t address = static_cast<uint16_t>(view.start + row);
  if (place.kind == kRowValueStart) {
    uint16_t registers[4];
    context->map.ReadCellsLocked(view.area, address, registers, ValueTypeWords(type));
    FormatTypedValue(type, JoinRegisters(type, view.valueOrder, registers), ShowsHex(type, view.format), buffer,
                     capacity);
  } else if (place.kind == kRowValuePart) {
    FormatValuePart(ReferenceDigitForArea(view.area), view.start + place.first + 1u, buffer, capacity);
  } else {
    FormatValueText(view.format, context->map.ReadCellLocked(view.area, address), buffer, capacity);
  }
}

// Shows the current view from a copy taken under the lock. The formats go
// before the texts: a field clamps a new text to the range it has, and the
// range may still be the one another plug-in left behind.
void LayOut(ServerContext* context) {
  Lock(context);
  if (!context->currentView) {
    Unlock(context);
    return;
  }
  const MapView view = *context->currentView;
  Unlock(context);

  const HostLink* link = context->hostLink;
  Send(link, HostCommandKind::SelectChoice, view.area);
  SendFieldFormat(link, kFieldStart, kFieldUnsignedDecimal, 0, kMaxAddress);
  SendFieldFormat(link, kFieldQuantity, kFieldUnsignedDecimal, 1, kCellsPerArea - view.start);
  for (uint32_t field = kFieldQuantity + 1; field < kFieldCount; ++field) {
    SendFieldFormat(link, field, kFieldUnrestricted, 0, 0);
  }
  SendNumberField(link, kFieldStart, u"Start address:", view.start);
  SendNumberField(link, kFieldQuantity, u"Quantity:", view.quantity);
  for (uint32_t field = kFieldQuantity + 1; field < kFieldCount; ++field) {
    Send(link, HostCommandKind::ShowField, field, 0);
  }
  Send(link, HostCommandKind::SetTableShape, view.quantity, 2);
  Send(link, HostCommandKind::SetColumnTitle, 0, 0, u"I/O no.");
  Unit title[kViewTitleCapacity];
  ValueTypeTitle(ShownType(view), view.valueOrder, view.format, title, kViewTitleCapacity);
  Send(link, HostCommandKind::SetColumnTitle, 1, 0, title);
  Send(link, HostCommandKind::FitColumns);
  Send(link, HostCommandKind::RefreshTable);
}

void SendAddRemoveState(ServerContext* context) {
  Lock(context);
  const uint32_t count = context->views.count;
  Unlock(context);
  Send(context->hostLink, HostCommandKind::EnableAddRemove, count < 2 ? kEnableAddOnly : kEnableAddRemove);
}

void RemoveMapView(ServerContext* context, uintptr_t key) {
  Lock(context);
  const uint32_t count = context->views.count;
  Unlock(context);
  if (count <= 1) return;
  // The shell selects a neighbour and reports it from inside this command.
  Send(context->hostLink, HostCommandKind::RemoveTab, 0, key);
  Lock(context);
  MapView* view = FindView(&context->views, key);
  if (view && RemoveView(&context->views, view) && context->currentView == view) context->currentView = nullptr;
  Unlock(context);
  SendAddRemoveState(context);
}

void SelectMapView(ServerContext* context, uintptr_t key) {
  Lock(context);
  MapView* view = key ? FindView(&context->views, key) : nullptr;
  context->currentView = view;
  context->views.selected = view;
  Unlock(context);
  if (view) LayOut(context);
}

void SetField(ServerContext* context, uint64_t field, const Unit* text) {
  Lock(context);
  MapView* view = context->currentView;
  if (view) {
    const uint32_t number = ReadLeadingDecimal(text, -1);
    if (field == kFieldStart) view->start = number > kMaxAddress ? kMaxAddress : number;
    if (field == kFieldQuantity) view->quantity = number;
    if (view->quantity == 0) view->quantity = 1;
    if (view->quantity > kCellsPerArea - view->start) view->quantity = kCellsPerArea - view->start;
  }
  Unlock(context);
  LayOut(context);
}

void SelectArea(ServerContext* context, uint64_t area) {
  Lock(context);
  if (context->currentView && area < kAreaCount) context->currentView->area = static_cast<uint8_t>(area);
  Unlock(context);
  LayOut(context);
}

// The view of an event's tab key and the row it names, when the row is
// inside the view. The caller holds the lock.
const MapView* RowView(ServerContext* context, const ViewEvent* event) {
  const MapView* view = FindView(&context->views, event->tabKey);
  if (!view || CellRow(event->arg) >= view->quantity) return nullptr;
  return view;
}

uint16_t CellAddress(const MapView* view, const ViewEvent* event) {
  return static_cast<uint16_t>(view->start + CellRow(event->arg));
}

void CellText(ServerContext* context, const ViewEvent* event) {
  if (!event->buffer || event->capacity == 0) return;
  const uint64_t column = event->arg >> 16;
  if (column > 1) return;
  Lock(context);
  const MapView* view = RowView(context, event);
  if (view) {
    const uint16_t address = CellAddress(view, event);
    const int32_t capacity = event->capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(event->capacity);
    if (column == 0) {
      context->map.GetAlias(view->area, address, event->buffer, capacity);
      if (event->buffer[0] == 0) {
        FormatReferenceNumber(ReferenceDigitForArea(view->area), address + 1u, event->buffer, event->capacity);
      }
    } else {
      ValueCellText(context, *view, CellRow(event->arg), event->buffer, event->capacity);
    }
  }
  Unlock(context);
}

int64_t CellEditor(ServerContext* context, const ViewEvent* event) {
  if (!event->buffer || event->capacity < kValueEditorCapacity) return 0;
  int64_t mode = 0;
  Lock(context);
  const MapView* view = RowView(context, event);
  if (view) {
    const RowKind kind = PlaceViewRow(*view, CellRow(event->arg)).kind;
    if (kind == kRowSingle) {
      FormatValueText(view->format, context->map.ReadCellLocked(view->area, CellAddress(view, event)),
                      event->buffer, event->capacity);
      mode = ValueEditorMode(view->format);
    } else if (kind == kRowValueStart && event->capacity >= kWideValueCapacity) {
      ValueCellText(context, *view, CellRow(event->arg), event->buffer, event->capacity);
      mode = kFieldUnrestricted;
    }
  }
  Unlock(context);
  return mode;
}

// Every cell of both columns may be edited, except the value of a row that
// belongs to the wide value above it.
int64_t BeginCellEdit(ServerContext* context, const ViewEvent* event) {
  if ((event->arg >> 16) > 1) return 0;
  if (!(event->arg & kCellEditFromDoubleClick)) return 1;
  Lock(context);
  const MapView* view = FindView(&context->views, event->tabKey);
  const bool part = view && CellRow(event->arg) < view->quantity &&
                    PlaceViewRow(*view, CellRow(event->arg)).kind == kRowValuePart;
  Unlock(context);
  return part ? 0 : 1;
}

void EndCellEdit(ServerContext* context, const ViewEvent* event) {
  bool refused = false;
  Lock(context);
  const MapView* view = RowView(context, event);
  const RowKind kind = view ? PlaceViewRow(*view, CellRow(event->arg)).kind : kRowSingle;
  if (view && (event->arg & kCellEditFromDoubleClick) && kind != kRowSingle) {
    // A wide value: all its registers change under one hold of the map lock.
    const uint8_t type = ShownType(*view);
    uint64_t bits = 0;
    if (kind == kRowValuePart || !ParseTypedValue(type, event->text, &bits)) {
      refused = kind == kRowValueStart;
      view = nullptr;
    } else {
      uint16_t registers[4];
      SplitRegisters(type, view->valueOrder, bits, registers);
      context->map.WriteCellsFromUser(view->area, CellAddress(view, event), registers, ValueTypeWords(type));
    }
  } else if (view) {
    const uint16_t address = CellAddress(view, event);
    if (event->arg & kCellEditFromDoubleClick) {
      context->map.WriteCellFromUser(view->area, address, ParseValueText(ValueEditorMode(view->format), event->text));
    } else {
      context->map.SetAlias(view->area, address, event->text);
    }
  }
  Unlock(context);
  if (refused) RefuseInput();
  // Sent after the lock is released: a shell that repaints at once asks for
  // cell texts, which take the lock again.
  if (view) Send(context->hostLink, HostCommandKind::RefreshTable);
}

void ColumnClicked(ServerContext* context, const ViewEvent* event) {
  if (event->arg > 1) return;
  if (event->arg == 1) {
    Lock(context);
    MapView* view = FindView(&context->views, event->tabKey);
    if (view) view->format = NextTypedFormat(ShownType(*view), view->format);
    Unlock(context);
  }
  LayOut(context);
}

// The value menu of a register view; the bit areas have none.
int64_t MenuItem(ServerContext* context, const ViewEvent* event) {
  int64_t flags = 0;
  Lock(context);
  const MapView* view = FindView(&context->views, event->tabKey);
  if (view && !IsBitArea(view->area) && event->arg < kValueMenuItemCount) {
    flags = ValueMenuItem(view->valueType, view->valueOrder, static_cast<uint32_t>(event->arg), event->buffer,
                          event->buffer ? event->capacity : 0);
  }
  Unlock(context);
  return flags;
}

void MenuItemChosen(ServerContext* context, const ViewEvent* event) {
  Lock(context);
  MapView* view = FindView(&context->views, event->tabKey);
  bool changed = view && !IsBitArea(view->area) && event->arg < kValueMenuItemCount &&
                 ChooseValueMenuItem(static_cast<uint32_t>(event->arg), &view->valueType, &view->valueOrder);
  // A wide value shows its number or its hex; the 16-bit formats between
  // them read as the number.
  if (changed && view->valueType != kType16 && view->format != kValueHex) view->format = kValueDecimal;
  Unlock(context);
  if (changed) LayOut(context);
}

}  // namespace

MapView* AddMapView(ServerContext* context) {
  Lock(context);
  MapView* view = AppendView(&context->views);
  Unit name[kViewNameCapacity];
  for (uint32_t i = 0; i < kViewNameCapacity; ++i) name[i] = view->name[i];
  Unlock(context);
  Send(context->hostLink, HostCommandKind::AddTab, 0, reinterpret_cast<uintptr_t>(view), name);
  SendAddRemoveState(context);
  return view;
}

int64_t HandleMapViewEvent(ServerContext* context, const ViewEvent* event) {
  switch (event->kind) {
    case ViewEventKind::FieldEdited: SetField(context, event->arg, event->text); return 0;
    case ViewEventKind::ChoiceSelected: SelectArea(context, event->arg); return 0;
    case ViewEventKind::AddRequested: return static_cast<int64_t>(reinterpret_cast<uintptr_t>(AddMapView(context)));
    case ViewEventKind::RemoveRequested: RemoveMapView(context, event->tabKey); return 0;
    case ViewEventKind::TabSelected: SelectMapView(context, event->tabKey); return 0;
    case ViewEventKind::GetCellText: CellText(context, event); return 0;
    case ViewEventKind::BeginCellEdit: return BeginCellEdit(context, event);
    case ViewEventKind::EndCellEdit: EndCellEdit(context, event); return 0;
    case ViewEventKind::GetCellEditor: return CellEditor(context, event);
    case ViewEventKind::ColumnClicked: ColumnClicked(context, event); return 0;
    case ViewEventKind::GetMenuItem: return MenuItem(context, event);
    case ViewEventKind::MenuItemChosen: MenuItemChosen(context, event); return 0;
    default: return 0;
  }
}
