// The poll view: the client plug-in's side of the shell's main view. It
// keeps no state of its own; everything it shows is read from the poll list
// under its mutex. Commands are sent only after the mutex is released:
// AddTab and RemoveTab call back into the view, and the shell may ask for
// cell texts while it handles a command.
#include "client/client_plugin.h"
#include "common/memory.h"
#include "common/text.h"
#include "view/connection_texts.h"
#include "view/host_command_sender.h"
#include "view/value_format.h"
#include "view/value_type.h"

namespace {

const Unit* const kFunctionChoices[] = {
    u"Fn 01 - Read Coils",
    u"Fn 02 - Read Discrete Inputs",
    u"Fn 03 - Read Holding Registers",
    u"Fn 04 - Read Input Registers",
    u"Fn 05 - Write Single Coil",
    u"Fn 06 - Write Single Register",
    u"Fn 15 - Write Multiple Coils",
    u"Fn 16 - Write Multiple Registers",
};
const uint8_t kFunctionCodes[] = {1, 2, 3, 4, 5, 6, 15, 16};

const Unit kNoSuffix[] = u"";
const Unit kMsSuffix[] = u" ms";

// What the view shows of one poll, copied under the poll-list mutex.
struct PollSnapshot {
  uint8_t function;
  uint8_t valueFormat;
  uint8_t valueType;
  uint8_t valueOrder;
  FramingKind framerKind;
  uint32_t numbers[4];  // field texts in field order
  uint32_t unitLow, unitHigh, quantityLimit;
  ClientRequest request;
};

PollSnapshot Snapshot(const PollDefinition& poll) {
  PollSnapshot s;
  s.function = poll.function;
  s.valueFormat = poll.valueFormat;
  s.valueType = ShownValueType(poll);
  s.valueOrder = poll.valueOrder;
  s.framerKind = poll.framerKind;
  bool single = IsSingleWrite(poll.function);
  s.numbers[0] = poll.unitId;
  s.numbers[1] = poll.startAddress;
  s.numbers[2] = single ? poll.pollPeriod : poll.quantity;
  s.numbers[3] = poll.pollPeriod;
  s.unitLow = UnitIdLowerBound(poll);
  s.unitHigh = UnitIdUpperBound(poll);
  s.quantityLimit = QuantityLimit(poll);
  BuildPollRequest(poll, &s.request);
  return s;
}

void SendFieldFormat(const HostLink* host, uint32_t index, int64_t low, int64_t high, const Unit* suffix) {
  FieldFormat format{};
  format.mode = kFieldUnsignedDecimal;
  format.hasRange = 1;
  format.min = low;
  format.max = high;
  format.digits = 0;
  format.suffix = suffix;
  HostCommandArgs args;
  args.index = index;
  args.data = &format;
  args.length = sizeof(format);
  SendHostCommand(host, HostCommandKind::SetFieldFormat, args);
}

void SendIndexText(const HostLink* host, HostCommandKind kind, uint64_t index, const Unit* text) {
  HostCommandArgs args;
  args.index = index;
  args.text = text;
  SendHostCommand(host, kind, args);
}

void SendIndexValue(const HostLink* host, HostCommandKind kind, uint64_t index, uint64_t value) {
  HostCommandArgs args;
  args.index = index;
  args.value = value;
  SendHostCommand(host, kind, args);
}

void SendTxPreview(ClientContext* context, const ClientRequest& request) {
  uint8_t adu[kAduBufferSize];
  int32_t length = BuildRequestAdu(*context->previewFramer, 0, request, adu, sizeof(adu));
  SendFrame(context->host, HostCommandKind::ShowTxFrame, adu, length > 0 ? static_cast<uint32_t>(length) : 0);
}

void SendPollFields(const HostLink* host, const PollSnapshot& s) {
  bool single = IsSingleWrite(s.function);
  uint32_t periodField = single ? 2 : 3;
  SendFieldFormat(host, 0, s.unitLow, s.unitHigh, kNoSuffix);
  SendFieldFormat(host, 1, 0, 65535, kNoSuffix);
  if (!single) SendFieldFormat(host, 2, 1, s.quantityLimit, kNoSuffix);
  SendFieldFormat(host, periodField, 1, kPollPeriodMax, kMsSuffix);
  SendIndexValue(host, HostCommandKind::SelectChoice, s.function, 0);

  const Unit* labels[4] = {
      TraitsOf(s.framerKind).hasBroadcast ? u"Slave ID:" : u"Unit ID:",
      single ? u"Address:" : u"Start address:",
      single ? u"Poll every:" : u"Quantity:",
      u"Poll every:",
  };
  for (uint32_t i = 0; i < 4; ++i) {
    TextBuffer number;
    number.AppendUnsigned(s.numbers[i]);
    SendIndexText(host, HostCommandKind::SetLabel, i, labels[i]);
    SendIndexText(host, HostCommandKind::SetFieldText, i, number.Text());
    SendIndexValue(host, HostCommandKind::ShowField, i, single && i == 3 ? 0 : 1);
  }
}

void SendValueTitle(const HostLink* host, const PollSnapshot& s) {
  Unit title[kPollStatusCapacity];
  ValueTypeTitle(s.valueType, s.valueOrder, s.valueFormat, title, kPollStatusCapacity);
  SendIndexText(host, HostCommandKind::SetColumnTitle, 1, title);
}

void SendTable(const HostLink* host, uint32_t rows, const PollSnapshot& s) {
  SendIndexValue(host, HostCommandKind::SetTableShape, rows, 2);
  SendHostCommand(host, HostCommandKind::FitColumns);
  SendIndexText(host, HostCommandKind::SetColumnTitle, 0, u"I/O no.");
  SendValueTitle(host, s);
  SendHostCommand(host, HostCommandKind::RefreshTable);
}

// The poll's last RX frame or status, only while the worker runs. The
// worker mutex comes first and the poll-list mutex inside it, as in the
// monitors; the caller must not hold the poll-list mutex.
void SendLastRx(ClientContext* context, PollDefinition* poll) {
  Unit text[kPollStatusCapacity];
  uint8_t bytes[kPollRxCapacity];
  uint32_t length = 0;
  bool running, hasText = false, isError = false;
  context->worker.Lock();
  running = context->worker.RunningWithLockHeld();
  if (running) {
    context->polls.Lock();
    hasText = poll->hasStatusText != 0;
    isError = poll->statusIsError != 0;
    CopyTextCut(poll->statusText, text, kPollStatusCapacity);
    length = poll->lastRxLength;
    mem::CopyBytes(bytes, poll->lastRx, length);
    context->polls.Unlock();
  }
  context->worker.Unlock();
  if (!running) return;
  if (hasText) {
    SendRxText(context->host, text, isError);
  } else if (length) {
    SendFrame(context->host, HostCommandKind::ShowRxFrame, bytes, length);
  } else {
    SendRxText(context->host, kIdleRxText, false);
  }
}

void ShowPoll(ClientContext* context, PollDefinition* poll) {
  context->polls.Lock();
  PollSnapshot s = Snapshot(*poll);
  uint32_t rows = poll->quantity;
  context->polls.Unlock();
  SendPollFields(context->host, s);
  SendTable(context->host, rows, s);
  SendTxPreview(context, s.request);
  SendLastRx(context, poll);
}

void ActivatePoll(ClientContext* context, PollDefinition* poll) {
  context->polls.Lock();
  context->polls.SetActive(poll);
  poll->nextDue = plat::Tick();
  context->polls.Unlock();
  context->worker.Wake();
  ShowPoll(context, poll);
}

void SendAddRemove(ClientContext* context) {
  context->polls.Lock();
  uint32_t count = context->polls.Count();
  context->polls.Unlock();
  SendIndexValue(context->host, HostCommandKind::EnableAddRemove, count >= 2 ? 0x10001u : 1u, 0);
}

void AddPoll(ClientContext* context) {
  Unit name[kPollNameCapacity];
  context->polls.Lock();
  PollDefinition* poll = context->polls.Add();
  CopyTextCut(poll->name, name, kPollNameCapacity);
  context->polls.Unlock();
  HostCommandArgs args;
  args.text = name;
  args.value = reinterpret_cast<uintptr_t>(poll);
  SendHostCommand(context->host, HostCommandKind::AddTab, args);
  SendAddRemove(context);
}

void RemovePoll(ClientContext* context, uintptr_t key) {
  if (context->worker.Running()) return;
  context->polls.Lock();
  bool allowed = context->polls.Find(key) != nullptr && context->polls.Count() > 1;
  context->polls.Unlock();
  if (!allowed) return;
  SendIndexValue(context->host, HostCommandKind::RemoveTab, 0, key);
  context->polls.Lock();
  PollDefinition* poll = context->polls.Find(key);
  if (poll) context->polls.Remove(poll);
  context->polls.Unlock();
  SendAddRemove(context);
}

// Field and function changes act on the active poll, then activate it again.
void EditActivePoll(ClientContext* context, bool isFunction, uint64_t number, const Unit* text) {
  context->polls.Lock();
  PollDefinition* poll = context->polls.Active();
  if (poll) {
    if (isFunction) {
      SetPollFunction(poll, number > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(number));
    } else {
      SetPollField(poll, static_cast<uint32_t>(number), text);
    }
  }
  context->polls.Unlock();
  if (poll) ActivatePoll(context, poll);
}

// --- cells ------------------------------------------------------------------

// A wide value on its first row, a mark on its other rows, 16-bit rows as
// the format says.
void ValueCellText(const PollDefinition& poll, uint32_t row, Unit* buffer, uint64_t capacity) {
  uint8_t type = ShownValueType(poll);
  RowPlace place = PlaceRow(type, poll.quantity, row);
  if (place.kind == kRowValueStart) {
    FormatTypedValue(type, JoinRegisters(type, poll.valueOrder, poll.values + row), ShowsHex(type, poll.valueFormat),
                     buffer, capacity);
  } else if (place.kind == kRowValuePart) {
    FormatValuePart(ReferenceDigitForFunction(poll.function), poll.startAddress + place.first + 1, buffer, capacity);
  } else {
    FormatValueText(poll.valueFormat, poll.values[row], buffer, capacity);
  }
}

RowKind ValueRowKind(const PollDefinition& poll, uint32_t row) {
  return PlaceRow(ShownValueType(poll), poll.quantity, row).kind;
}

int64_t CellText(ClientContext* context, const ViewEvent& event) {
  uint32_t row = CellRow(event.arg);
  uint32_t column = CellColumn(event.arg);
  if (!event.buffer || event.capacity == 0 || column > 1) return 0;
  int64_t result = 0;
  context->polls.Lock();
  PollDefinition* poll = context->polls.Find(event.tabKey);
  if (poll && row < poll->quantity) {
    if (column == 0) {
      const Unit* alias = PollAlias(*poll, row);
      if (alias) {
        CopyTextCut(alias, event.buffer, event.capacity);
      } else {
        FormatReferenceNumber(ReferenceDigitForFunction(poll->function), poll->startAddress + row + 1,
                              event.buffer, event.capacity);
      }
    } else {
      ValueCellText(*poll, row, event.buffer, event.capacity);
      if (!PollValuesCurrent(*poll)) result = kCellTextNotCurrent;
    }
  }
  context->polls.Unlock();
  return result;
}

int64_t BeginCellEdit(ClientContext* context, const ViewEvent& event) {
  uint32_t row = CellRow(event.arg);
  bool value = (event.arg & kCellEditFromDoubleClick) != 0;
  context->polls.Lock();
  PollDefinition* poll = context->polls.Find(event.tabKey);
  bool allowed = poll && row < poll->quantity &&
                 (!value || (IsWriteFunction(poll->function) && ValueRowKind(*poll, row) != kRowValuePart));
  context->polls.Unlock();
  return allowed ? 1 : 0;
}

int64_t CellEditor(ClientContext* context, const ViewEvent& event) {
  uint32_t row = CellRow(event.arg);
  if (!event.buffer || event.capacity < kValueEditorCapacity) return 0;
  int64_t mode = 0;
  context->polls.Lock();
  PollDefinition* poll = context->polls.Find(event.tabKey);
  if (poll && row < poll->quantity) {
    RowKind kind = ValueRowKind(*poll, row);
    if (kind == kRowSingle) {
      FormatValueText(poll->valueFormat, poll->values[row], event.buffer, event.capacity);
      mode = ValueEditorMode(poll->valueFormat);
    } else if (kind == kRowValueStart && event.capacity >= kWideValueCapacity) {
      ValueCellText(*poll, row, event.buffer, event.capacity);
      mode = kFieldUnrestricted;
    }
  }
  context->polls.Unlock();
  return mode;
}

int64_t EndCellEdit(ClientContext* context, const ViewEvent& event) {
  uint32_t row = CellRow(event.arg);
  bool value = (event.arg & kCellEditFromDoubleClick) != 0;
  ClientRequest request;
  bool refused = false;
  context->polls.Lock();
  PollDefinition* poll = context->polls.Find(event.tabKey);
  bool stored = poll && row < poll->quantity && (!value || IsWriteFunction(poll->function));
  if (stored) {
    RowKind kind = ValueRowKind(*poll, row);
    uint8_t type = ShownValueType(*poll);
    uint64_t bits = 0;
    if (value && kind == kRowValueStart) {
      stored = ParseTypedValue(type, event.text, &bits) != 0;
      if (stored) SplitRegisters(type, poll->valueOrder, bits, poll->values + row);
      refused = !stored;
    } else if (value && kind == kRowValuePart) {
      stored = false;
    } else if (value) {
      uint16_t number = ParseValueText(ValueEditorMode(poll->valueFormat), event.text);
      if (IsCoilFunction(poll->function) && number > 1) number = 1;
      poll->values[row] = number;
    } else {
      SetPollAlias(poll, row, event.text);
    }
    if (stored) BuildPollRequest(*poll, &request);
  }
  context->polls.Unlock();
  if (refused) RefuseInput();
  if (!stored) return 0;
  SendHostCommand(context->host, HostCommandKind::RefreshTable);
  SendTxPreview(context, request);
  return 0;
}

int64_t ColumnClicked(ClientContext* context, const ViewEvent& event) {
  if (event.arg != 1) return 0;
  context->polls.Lock();
  PollDefinition* poll = context->polls.Find(event.tabKey);
  PollSnapshot s;
  if (poll) {
    poll->valueFormat = NextTypedFormat(ShownValueType(*poll), poll->valueFormat);
    s = Snapshot(*poll);
  }
  context->polls.Unlock();
  if (!poll) return 0;
  SendValueTitle(context->host, s);
  SendHostCommand(context->host, HostCommandKind::RefreshTable);
  return 0;
}

// The value menu, for the register functions only (function 6 writes one
// register: no menu).
int64_t MenuItem(ClientContext* context, const ViewEvent& event) {
  context->polls.Lock();
  PollDefinition* poll = context->polls.Find(event.tabKey);
  int64_t flags = 0;
  if (poll && IsRegisterPoll(*poll) && event.arg < kValueMenuItemCount) {
    flags = ValueMenuItem(poll->valueType, poll->valueOrder, static_cast<uint32_t>(event.arg), event.buffer,
                          event.buffer ? event.capacity : 0);
  }
  context->polls.Unlock();
  return flags;
}

int64_t MenuItemChosen(ClientContext* context, const ViewEvent& event) {
  context->polls.Lock();
  PollDefinition* poll = context->polls.Find(event.tabKey);
  bool changed = poll && IsRegisterPoll(*poll) && event.arg < kValueMenuItemCount &&
                 ChooseValueMenuItem(static_cast<uint32_t>(event.arg), &poll->valueType, &poll->valueOrder);
  PollSnapshot s;
  if (changed) {
    // A wide value shows its number or its hex; the 16-bit formats between
    // them read as the number.
    if (poll->valueType != kType16 && poll->valueFormat != kValueHex) poll->valueFormat = kValueDecimal;
    s = Snapshot(*poll);
  }
  context->polls.Unlock();
  if (!changed) return 0;
  SendValueTitle(context->host, s);
  SendHostCommand(context->host, HostCommandKind::RefreshTable);
  return 0;
}

// --- connection ---------------------------------------------------------------

// The device could not be reached: nothing shown was read just now.
void MarkAllValuesOld(ClientContext* context) {
  context->polls.Lock();
  for (uint32_t i = 0; i < context->polls.Count(); ++i) MarkPollValuesOld(context->polls.At(i));
  context->polls.Unlock();
  SendHostCommand(context->host, HostCommandKind::RefreshTable);
}

int64_t Connect(ClientContext* context) {
  const ClientComposition& c = context->composition;
  if (context->worker.HasLink()) {
    if (context->worker.Running()) return 1;
    context->worker.Stop();
  }
  uint32_t timeout = c.settings->responseTimeoutMs(context->settings);
  Transport* transport = c.settings->createTransport(context->settings);
  ClientStartResult result = kClientOpenFailed;
  if (transport) result = context->worker.Start(transport, CreateFramer(c.framerKind), timeout,
                                                c.reopenFailureRxText);
  HostCommandArgs error;
  error.caption = kConnectionErrorCaption;
  switch (result) {
    case kClientStarted:
      SendRxText(context->host, kIdleRxText, false);
      return 1;
    case kClientOpenFailed:
      MarkAllValuesOld(context);
      SendRxText(context->host, c.openFailureRxText, true);
      error.text = c.openFailureMessage;
      break;
    case kClientThreadFailed:
      error.text = kThreadFailureText;
      break;
  }
  SendHostCommand(context->host, HostCommandKind::ShowError, error);
  return 0;
}

void Disconnect(ClientContext* context) {
  context->worker.Stop();
  SendRxText(context->host, kIdleRxText, false);
}

}  // namespace

void PollViewAttach(ClientContext* context) {
  const HostLink* host = context->host;
  SendRxText(host, kIdleRxText, false);
  SendHostCommand(host, HostCommandKind::ClearChoices);
  for (uint32_t i = 0; i < sizeof(kFunctionCodes); ++i) {
    HostCommandArgs args;
    args.text = kFunctionChoices[i];
    args.index = kFunctionCodes[i];
    SendHostCommand(host, HostCommandKind::AddChoice, args);
  }
  SendIndexValue(host, HostCommandKind::SelectChoice, 3, 0);
  AddPoll(context);
}

int64_t PollViewHandleEvent(ClientContext* context, const ViewEvent& event) {
  switch (event.kind) {
    case ViewEventKind::Connect:
      return Connect(context);
    case ViewEventKind::Disconnect:
      Disconnect(context);
      return 0;
    case ViewEventKind::FieldEdited:
      if (event.arg <= 3) EditActivePoll(context, false, event.arg, event.text);
      return 0;
    case ViewEventKind::ChoiceSelected:
      EditActivePoll(context, true, event.arg, nullptr);
      return 0;
    case ViewEventKind::AddRequested:
      AddPoll(context);
      return 0;
    case ViewEventKind::RemoveRequested:
      RemovePoll(context, event.tabKey);
      return 0;
    case ViewEventKind::TabSelected: {
      context->polls.Lock();
      PollDefinition* poll = context->polls.Find(event.tabKey);
      context->polls.Unlock();
      if (poll) ActivatePoll(context, poll);
      return 0;
    }
    case ViewEventKind::GetCellText:
      return CellText(context, event);
    case ViewEventKind::BeginCellEdit:
      return BeginCellEdit(context, event);
    case ViewEventKind::EndCellEdit:
      return EndCellEdit(context, event);
    case ViewEventKind::GetCellEditor:
      return CellEditor(context, event);
    case ViewEventKind::ColumnClicked:
      return ColumnClicked(context, event);
    case ViewEventKind::GetMenuItem:
      return MenuItem(context, event);
    case ViewEventKind::MenuItemChosen:
      return MenuItemChosen(context, event);
  }
  return 0;
}
