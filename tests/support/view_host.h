#pragma once
// A stand-in for the shell's main view, driving one plug-in instance through
// its PluginOps table exactly as the shell does: it attaches with a
// RecordingHostLink, applies every command (sent at once, posted ones when
// pumped) to a model of the tab strip, choice list, four fields, table and
// frame lines, calls back TabSelected from AddTab and RemoveTab, stamps and
// drops stale copies, and reads cells through GetCellText. The same host
// serves the portable tests (a table filled by the framework directly) and
// the Windows tests (a table from a loaded library).

#include <stdint.h>

#include <string>
#include <vector>

#include "common/plugin_interface.h"
#include "support/recording_host_link.h"

class ViewHost {
 public:
  explicit ViewHost(const PluginOps& ops);
  ~ViewHost();  // detaches when still attached
  ViewHost(const ViewHost&) = delete;
  ViewHost& operator=(const ViewHost&) = delete;

  void Attach();
  // Attaches with another link (a benchmark's, in front of the shell's own);
  // the view follows only what that link hands on to link().
  void AttachThrough(const HostLink* link);
  void Detach();
  bool attached() const { return attached_; }
  bool connected() const { return connected_; }

  // handleEvent with a ViewEvent built from the arguments.
  int64_t Event(ViewEventKind kind, uint64_t arg = 0, uintptr_t key = 0, const char16_t* text = nullptr,
                char16_t* buffer = nullptr, uint64_t capacity = 0);

  // The user's actions. Connect returns the event's result and enters the
  // connected state when it is nonzero.
  int64_t Connect();
  void Disconnect();
  void SelectTab(size_t index);  // user picks a tab: TabSelected with its key
  void EditField(uint32_t index, const char16_t* text) { Event(ViewEventKind::FieldEdited, index, 0, text); }
  void ChooseFunction(uint64_t code) { Event(ViewEventKind::ChoiceSelected, code); }
  void Add() { Event(ViewEventKind::AddRequested); }
  void Remove() { Event(ViewEventKind::RemoveRequested, 0, SelectedKey()); }
  void ClickColumn(uint32_t column) { Event(ViewEventKind::ColumnClicked, column, SelectedKey()); }
  // Alias edit (column 0) or value edit (column 1, the double-click path):
  // BeginCellEdit, for values GetCellEditor, then EndCellEdit when allowed.
  // Returns whether the edit started.
  bool EditCell(uint32_t row, uint32_t column, const char16_t* text);

  // GetCellText of the selected tab; "<untouched>" when the plug-in wrote nothing.
  std::u16string Cell(uint32_t row, uint32_t column);
  // Whether the plug-in draws the cell as current (GetCellText's result).
  bool CellCurrent(uint32_t row, uint32_t column);
  uintptr_t SelectedKey() const;

  size_t Pump() { return link_.Pump(); }
  bool PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs) { return link_.PumpUntil(done, timeoutMs); }
  RecordingHostLink& link() { return link_; }

  // --- the view as the shell would show it ----------------------------------
  struct Tab {
    std::u16string title;
    uintptr_t key;
  };
  std::vector<Tab> tabs;
  int selected = -1;
  std::u16string labels[4];
  std::u16string fieldTexts[4];
  bool fieldShown[4] = {true, true, true, true};
  FieldFormat formats[4] = {};
  std::vector<std::pair<std::u16string, uint64_t>> choices;
  uint64_t selectedChoice = 0;
  uint64_t rows = 0, columns = 0;
  std::vector<std::u16string> columnTitles;
  uint64_t addRemove = 0;
  std::u16string txLine = u"TX: -";
  std::u16string rxLine = u"RX: -";
  std::u16string connectionLine;  // as RefreshHeaderLines last read it
  bool rxError = false;
  std::vector<std::pair<std::u16string, std::u16string>> errors;  // text, caption
  std::vector<RecordedCommand> log;  // every command handled, in order
  size_t refreshes = 0;

  // Commands of one kind in the log, optionally only posted ones.
  size_t Count(HostCommandKind kind, bool postedOnly = false) const;

 private:
  void Handle(const RecordedCommand& command);

  PluginOps ops_;
  RecordingHostLink link_;
  bool attached_ = false;
  bool connected_ = false;
};

// A frame line as the shell writes it: the prefix, then up to 256 bytes as
// "01 03 00 00", an ellipsis after a longer frame, "-" for none.
std::u16string HexLine(const char16_t* prefix, const std::vector<uint8_t>& bytes);
