#pragma once
// A stand-in for the shell's side of the plug-in interface, for portable
// tests of a plug-in's view and worker: a HostLink whose send records the
// command and applies it to a small model of the main view at once, and
// whose post copies the command (text, caption, data bytes) into a queue
// that Pump applies later on the test thread, as the shell's message queue
// does. AddTab and RemoveTab call back into the plug-in with TabSelected,
// as the shell does, and an entry field clamps the text it is given to the
// range it has at that moment.

#include <stdint.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/plugin_interface.h"

struct RecordedCommand {
  HostCommandKind kind{};
  uint64_t index = 0;
  uint64_t value = 0;
  bool hasText = false;
  std::u16string text;
  std::u16string caption;
  std::vector<uint8_t> data;
};

class FakeShell {
 public:
  struct Field {
    std::u16string label;
    std::u16string text;
    bool visible = true;
    FieldFormat format{};
  };
  struct Tab {
    uintptr_t key;
    std::u16string title;
  };

  FakeShell() {
    link.size = kHostLinkSize;
    link.version = kPluginInterfaceVersion;
    link.host = this;
    link.send = &FakeShell::SendThunk;
    link.post = &FakeShell::PostThunk;
  }

  // The plug-in's handleEvent, for the shell's own events.
  std::function<int64_t(const ViewEvent&)> deliver;

  HostLink link{};
  std::vector<RecordedCommand> sent;     // every command given to send, in order
  std::vector<RecordedCommand> applied;  // every posted command applied by Pump

  // The model of the main view.
  Field fields[4];
  std::vector<std::u16string> choices;
  std::vector<uint64_t> choiceData;
  int selectedChoice = -1;
  std::vector<Tab> tabs;
  int selectedTab = -1;
  uint64_t rows = 0;
  uint64_t columns = 0;
  std::u16string columnTitles[8];
  uint64_t addRemove = 0;
  std::u16string rxLine;
  bool rxError = false;
  std::vector<uint8_t> txFrame, rxFrame;
  std::u16string errorText, errorCaption;
  int refreshes = 0;
  int errorBoxes = 0;

  uintptr_t SelectedKey() const { return selectedTab >= 0 ? tabs[static_cast<size_t>(selectedTab)].key : 0; }

  int64_t Event(ViewEventKind kind, uint64_t arg = 0, uintptr_t key = 0, const Unit* text = nullptr,
                Unit* buffer = nullptr, uint64_t capacity = 0) {
    ViewEvent event = {};
    event.kind = kind;
    event.arg = arg;
    event.tabKey = key;
    event.text = text;
    event.buffer = buffer;
    event.capacity = capacity;
    return deliver ? deliver(event) : 0;
  }

  // The text of a cell of the selected tab, as the table asks for it.
  std::u16string Cell(uint32_t row, uint32_t column) {
    Unit buffer[260] = {};
    Event(ViewEventKind::GetCellText, row | (static_cast<uint64_t>(column) << 16), SelectedKey(), nullptr, buffer,
          260);
    return buffer;
  }

  // Applies every queued posted command; returns how many.
  size_t Pump() {
    std::deque<RecordedCommand> queue;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      queue.swap(posted_);
    }
    for (const RecordedCommand& command : queue) {
      Apply(command);
      applied.push_back(command);
    }
    return queue.size();
  }

  // Waits (on the real clock, at most timeoutMs) until the posted commands
  // applied so far satisfy done, pumping meanwhile.
  bool PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs = 10000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      Pump();
      if (done()) return true;
      std::unique_lock<std::mutex> hold(mutex_);
      if (posted_.empty() && cv_.wait_until(hold, until) == std::cv_status::timeout && posted_.empty()) {
        hold.unlock();
        Pump();
        return done();
      }
    }
  }

  // Applied posted commands of one kind.
  size_t CountApplied(HostCommandKind kind) const {
    size_t n = 0;
    for (const RecordedCommand& command : applied) n += command.kind == kind;
    return n;
  }
  std::vector<std::u16string> AppliedRxTexts() const {
    std::vector<std::u16string> texts;
    for (const RecordedCommand& command : applied)
      if (command.kind == HostCommandKind::ShowRxText) texts.push_back(command.text);
    return texts;
  }

 private:
  static RecordedCommand Copy(const HostCommand* command) {
    RecordedCommand copy;
    copy.kind = command->kind;
    copy.index = command->index;
    copy.value = command->value;
    copy.hasText = command->text != nullptr;
    if (command->text) copy.text = command->text;
    if (command->caption) copy.caption = command->caption;
    if (command->data && command->length) {
      const uint8_t* bytes = static_cast<const uint8_t*>(command->data);
      copy.data.assign(bytes, bytes + command->length);
    }
    return copy;
  }

  static int64_t SendThunk(void* host, const HostCommand* command) {
    FakeShell* shell = static_cast<FakeShell*>(host);
    RecordedCommand copy = Copy(command);
    shell->sent.push_back(copy);
    shell->Apply(copy);
    return 0;
  }

  static void PostThunk(void* host, const HostCommand* command) {
    FakeShell* shell = static_cast<FakeShell*>(host);
    {
      std::lock_guard<std::mutex> hold(shell->mutex_);
      shell->posted_.push_back(Copy(command));
    }
    shell->cv_.notify_all();
  }

  static std::u16string Clamp(const FieldFormat& format, const std::u16string& text) {
    if (format.mode < 1 || format.mode > 4 || format.mode == 2 || !format.hasRange) return text;
    int64_t value = 0;
    for (char16_t c : text)
      if (c >= u'0' && c <= u'9') value = value * 10 + (c - u'0');
    if (value < format.min) value = format.min;
    if (value > format.max) value = format.max;
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
  }

  void SelectTab(int index) {
    selectedTab = index;
    Event(ViewEventKind::TabSelected, 0, SelectedKey());
  }

  void Apply(const RecordedCommand& c) {
    const bool field = c.index < 4;
    switch (c.kind) {
      case HostCommandKind::SetLabel: if (field) fields[c.index].label = c.text; break;
      case HostCommandKind::SetFieldText:
        if (field) fields[c.index].text = Clamp(fields[c.index].format, c.text);
        break;
      case HostCommandKind::ShowField: if (field) fields[c.index].visible = c.value != 0; break;
      case HostCommandKind::ClearChoices: choices.clear(); choiceData.clear(); selectedChoice = -1; break;
      case HostCommandKind::AddChoice: choices.push_back(c.text); choiceData.push_back(c.index); break;
      case HostCommandKind::SelectChoice:
        for (size_t i = 0; i < choiceData.size(); ++i)
          if (choiceData[i] == c.index) { selectedChoice = static_cast<int>(i); break; }
        break;
      case HostCommandKind::AddTab:
        tabs.push_back({static_cast<uintptr_t>(c.value), c.text});
        SelectTab(static_cast<int>(tabs.size()) - 1);
        break;
      case HostCommandKind::RemoveTab:
        for (size_t i = 0; i < tabs.size(); ++i) {
          if (tabs[i].key != c.value) continue;
          const int removed = static_cast<int>(i);
          tabs.erase(tabs.begin() + static_cast<long>(i));
          if (removed == selectedTab) selectedTab = removed > 0 ? removed - 1 : (tabs.empty() ? -1 : 0);
          else if (removed < selectedTab) --selectedTab;
          SelectTab(selectedTab);
          break;
        }
        break;
      case HostCommandKind::EnableAddRemove: addRemove = c.index; break;
      case HostCommandKind::SetTableShape: rows = c.index; columns = c.value; break;
      case HostCommandKind::SetColumnTitle: if (c.index < 8) columnTitles[c.index] = c.text; break;
      case HostCommandKind::RefreshTable: ++refreshes; break;
      case HostCommandKind::FitColumns: break;
      case HostCommandKind::ShowTxFrame: txFrame = c.data; break;
      case HostCommandKind::ShowRxFrame: rxFrame = c.data; rxLine.clear(); rxError = false; break;
      case HostCommandKind::ShowRxText:
        rxLine = c.hasText ? c.text : u"RX: -";
        rxError = c.index != 0;
        break;
      case HostCommandKind::ShowError: ++errorBoxes; errorText = c.text; errorCaption = c.caption; break;
      case HostCommandKind::SetFieldFormat:
        if (field && c.data.size() == sizeof(FieldFormat)) {
          FieldFormat format;
          std::copy(c.data.begin(), c.data.end(), reinterpret_cast<uint8_t*>(&format));
          format.suffix = nullptr;  // the plug-in's pointer; not followed here
          fields[c.index].format = format;
        }
        break;
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<RecordedCommand> posted_;
};
