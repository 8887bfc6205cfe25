#include "support/view_host.h"

ViewHost::ViewHost(const PluginOps& ops)
    : ops_(ops), link_([this](const RecordedCommand& command) { Handle(command); }) {}

ViewHost::~ViewHost() {
  if (attached_) Detach();
}

void ViewHost::Attach() { AttachThrough(link_.Link()); }

void ViewHost::AttachThrough(const HostLink* link) {
  link_.NewAttachment();
  attached_ = true;
  ops_.attach(ops_.instance, link);
}

void ViewHost::Detach() {
  ops_.detach(ops_.instance);
  link_.NewAttachment();
  attached_ = false;
  connected_ = false;
  tabs.clear();
  selected = -1;
}

int64_t ViewHost::Event(ViewEventKind kind, uint64_t arg, uintptr_t key, const char16_t* text, char16_t* buffer,
                        uint64_t capacity) {
  ViewEvent event{};
  event.kind = kind;
  event.arg = arg;
  event.tabKey = key;
  event.text = text;
  event.buffer = buffer;
  event.capacity = capacity;
  return ops_.handleEvent(ops_.instance, &event);
}

int64_t ViewHost::Connect() {
  int64_t result = Event(ViewEventKind::Connect);
  connected_ = result != 0;
  return result;
}

void ViewHost::Disconnect() {
  Event(ViewEventKind::Disconnect);
  connected_ = false;
}

void ViewHost::SelectTab(size_t index) {
  selected = static_cast<int>(index);
  Event(ViewEventKind::TabSelected, 0, tabs[index].key);
}

uintptr_t ViewHost::SelectedKey() const {
  return selected >= 0 && static_cast<size_t>(selected) < tabs.size() ? tabs[selected].key : 0;
}

bool ViewHost::EditCell(uint32_t row, uint32_t column, const char16_t* text) {
  uint64_t arg = row | (column == 1 ? kCellEditFromDoubleClick : 0);
  uintptr_t key = SelectedKey();
  if (!Event(ViewEventKind::BeginCellEdit, arg, key)) return false;
  if (column == 1) {
    char16_t initial[64] = {};
    Event(ViewEventKind::GetCellEditor, arg, key, nullptr, initial, 64);
    if (!Event(ViewEventKind::BeginCellEdit, arg, key)) return false;
  }
  Event(ViewEventKind::EndCellEdit, arg, key, text);
  return true;
}

std::u16string ViewHost::Cell(uint32_t row, uint32_t column) {
  char16_t buffer[260] = u"<untouched>";
  Event(ViewEventKind::GetCellText, row | (static_cast<uint64_t>(column) << 16), SelectedKey(), nullptr, buffer,
        260);
  return buffer;
}

bool ViewHost::CellCurrent(uint32_t row, uint32_t column) {
  char16_t buffer[260] = {};
  return Event(ViewEventKind::GetCellText, row | (static_cast<uint64_t>(column) << 16), SelectedKey(), nullptr, buffer,
               260) != kCellTextNotCurrent;
}

size_t ViewHost::Count(HostCommandKind kind, bool postedOnly) const {
  size_t count = 0;
  for (const RecordedCommand& command : log)
    if (command.kind == kind && (!postedOnly || command.posted)) ++count;
  return count;
}

std::u16string HexLine(const char16_t* prefix, const std::vector<uint8_t>& bytes) {
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string text = prefix;
  if (bytes.empty()) return text + u"-";
  size_t shown = bytes.size() > 256 ? 256 : bytes.size();
  for (size_t i = 0; i < shown; ++i) {
    if (i) text += u' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  if (bytes.size() > 256) text += u" \u2026";
  return text;
}

void ViewHost::Handle(const RecordedCommand& command) {
  log.push_back(command);
  uint64_t i = command.index;
  switch (command.kind) {
    case HostCommandKind::SetLabel:
      if (i <= 3) labels[i] = command.text;
      break;
    case HostCommandKind::SetFieldText:
      if (i <= 3) fieldTexts[i] = command.text;
      break;
    case HostCommandKind::ShowField:
      if (i <= 3) fieldShown[i] = command.value != 0;
      break;
    case HostCommandKind::ClearChoices:
      choices.clear();
      break;
    case HostCommandKind::AddChoice:
      choices.emplace_back(command.text, i);
      break;
    case HostCommandKind::SelectChoice:
      for (const auto& choice : choices)
        if (choice.second == i) {
          selectedChoice = i;
          break;
        }
      break;
    case HostCommandKind::AddTab:
      tabs.push_back({command.text, static_cast<uintptr_t>(command.value)});
      selected = static_cast<int>(tabs.size()) - 1;
      if (attached_) Event(ViewEventKind::TabSelected, 0, tabs[selected].key);
      break;
    case HostCommandKind::RemoveTab:
      for (size_t t = 0; t < tabs.size(); ++t) {
        if (tabs[t].key != command.value) continue;
        bool wasSelected = static_cast<int>(t) == selected;
        tabs.erase(tabs.begin() + static_cast<long>(t));
        if (tabs.empty()) {
          selected = -1;
        } else if (wasSelected) {
          selected = t > 0 ? static_cast<int>(t) - 1 : 0;
        } else if (static_cast<int>(t) < selected) {
          --selected;
        }
        if (attached_) Event(ViewEventKind::TabSelected, 0, SelectedKey());
        break;
      }
      break;
    case HostCommandKind::EnableAddRemove:
      addRemove = i;
      break;
    case HostCommandKind::SetTableShape:
      rows = i;
      columns = command.value;
      columnTitles.resize(columns);
      break;
    case HostCommandKind::SetColumnTitle:
      if (i < columnTitles.size()) columnTitles[i] = command.text;
      break;
    case HostCommandKind::RefreshTable:
      ++refreshes;
      break;
    case HostCommandKind::FitColumns:
      break;
    case HostCommandKind::ShowTxFrame:
      txLine = HexLine(u"TX: ", command.data);
      break;
    case HostCommandKind::ShowRxFrame:
      rxLine = HexLine(u"RX: ", command.data);
      rxError = false;
      break;
    case HostCommandKind::ShowRxText:
      rxLine = command.hasText ? command.text : u"RX: -";
      rxError = i != 0;
      break;
    case HostCommandKind::ShowError:
      errors.emplace_back(command.text, command.caption);
      break;
    case HostCommandKind::SetFieldFormat:
      if (i <= 3) command.Format(&formats[i]);
      break;
    case HostCommandKind::RefreshHeaderLines: {
      char16_t line[256] = {};
      if (ops_.getConnectionLine && ops_.getConnectionLine(ops_.instance, line, 256)) connectionLine = line;
      break;
    }
  }
}
