#pragma once
// The shell's side of the host commands: what each command a plug-in sends or
// posts does to the main view. Commands arrive from HostLinkHost once their
// stamp has been checked, on the user-interface thread. The dispatch owns
// what the commands change and the window reads back (the four numeric
// fields and whether each is shown, which of Add and Remove the plug-in
// allows, whether the columns were fitted); what belongs to the window it
// asks of a CommandTarget.

#include <windows.h>

#include <stdint.h>

#include "common/plugin_interface.h"
#include "common/ui/numeric_field.h"

constexpr int32_t kFieldCount = 4;
constexpr int32_t kMaxTableColumns = 256;

// What carrying out a command asks of the window that shows the view.
class CommandTarget {
 public:
  // Whether the attached plug-in's view is on screen.
  virtual bool ViewShown() const = 0;
  // The key of the selected tab, 0 when no tab is selected.
  virtual uintptr_t SelectedTabKey() const = 0;
  // Tells the plug-in that the tab of key is now the selected one.
  virtual void TabSelected(uintptr_t key) = 0;
  // Which of Add and Remove the plug-in allows has been set again.
  virtual void AddRemoveChanged() = 0;
  // ShowTxFrame, ShowRxFrame and ShowRxText.
  virtual void ShowFrame(const HostCommand& command) = 0;
  // Reads the protocol and connection lines again.
  virtual void RefreshHeaderLines() = 0;
  // The window's current DPI.
  virtual uint32_t Dpi() const = 0;
  // The choice box or a field was shown or hidden.
  virtual void BesideTableChanged() = 0;

 protected:
  ~CommandTarget() = default;
};

class CommandDispatch {
 public:
  explicit CommandDispatch(CommandTarget& target) : target_(target) {}
  CommandDispatch(const CommandDispatch&) = delete;
  CommandDispatch& operator=(const CommandDispatch&) = delete;

  // Initialisation: the main window's dialog, whose fields it takes over.
  void Attach(HWND dialog);
  // Another plug-in is activated: no choices, no rows or columns, every field
  // shown again.
  void Reset();

  // Carries out one accepted command.
  void Execute(const HostCommand& command);
  // HostLinkHost's handler; context is the dispatch.
  static void Run(void* context, const HostCommand& command);

  // Shows field index's value in its canonical form, as leaving the field
  // does; nothing for a field without a numeric mode.
  void ShowFieldValue(int32_t index);

  // Fitted columns follow the table's width (after a resize or a DPI
  // change): fitted again while the user has left every column but the last
  // as it was, else the last column takes the width beside the others; no
  // horizontal scroll bar for columns that fit.
  void FollowTableWidth();

  bool FieldVisible(int32_t index) const { return index >= 0 && index < kFieldCount && fieldVisible_[index]; }
  // Whether the choice box holds any choice: a plug-in without choices (the
  // gateway, the bus monitor) has its box hidden rather than shown empty.
  // The box is shown again by the first AddChoice while the view is shown.
  bool HasChoices() const;
  bool AddAllowed() const { return addAllowed_; }
  bool RemoveAllowed() const { return removeAllowed_; }

 private:
  HWND Control(int32_t id) const { return GetDlgItem(dialog_, id); }
  void SetLabel(const HostCommand& command);
  void SetFieldText(const HostCommand& command);
  void ShowField(const HostCommand& command);
  void AddChoice(const HostCommand& command);
  void ClearChoices();
  void SelectChoice(const HostCommand& command);
  void AddTab(const HostCommand& command);
  void RemoveTab(const HostCommand& command);
  void EnableAddRemove(const HostCommand& command);
  void SetTableShape(const HostCommand& command);
  void SetColumnTitle(const HostCommand& command);
  void FitColumns();
  // The table's width for its columns, with room for a vertical scroll bar
  // whether it shows or not.
  int ColumnRoom() const;
  // Two columns: the halves of the room; more: ShareColumns by their
  // headings' room.
  void FitShares();
  void MeasureHeadings(int32_t count, int32_t* least) const;
  void SetFieldFormat(const HostCommand& command);

  CommandTarget& target_;
  HWND dialog_ = nullptr;
  ui::NumericField fields_[kFieldCount];
  bool fieldVisible_[kFieldCount] = {true, true, true, true};
  bool addAllowed_ = false;
  bool removeAllowed_ = false;
  bool columnsFitted_ = false;
  // The widths the shell last fitted; another width means the user has
  // moved a divider.
  int32_t fittedWidths_[kMaxTableColumns] = {};
};
