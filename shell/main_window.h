#pragma once
// The main window: a resizable dialog (template 201) holding the information
// view and every control of the main view. It keeps the shell's state (0
// information view, 1 attached, 2 connected), activates the plug-in chosen in
// the connection setup, delivers the view events and runs the host commands
// of the attached plug-in.
//
// Behaviour lives in one file each: main_window.cpp (initialisation, states,
// buttons, tips, colours, shutdown), host_link.cpp (send, post, stamp),
// host_commands.cpp (what each command does), main_view_hooks.h (frame lines,
// tab rename and table editing), connection_setup.h and information_view.h.

#include <windows.h>

#include <stdint.h>

#include "common/plugin_interface.h"
#include "common/text.h"
#include "common/ui/numeric_field.h"
#include "common/ui/window_binding.h"
#include "shell/anchor_layout.h"
#include "shell/host_link.h"
#include "shell/plugin_registry.h"

constexpr int32_t kFieldCount = 4;
constexpr uint32_t kTipPeriodMs = 180000;
// FieldEdited carries at most 63 units.
constexpr int32_t kFieldTextCapacity = 64;

enum ShellState : int32_t {
  kStateInformation = 0,
  kStateAttached = 1,
  kStateConnected = 2,
};

class MainWindow : public ui::Dialog, public ui::TimerTarget {
 public:
  explicit MainWindow(PluginRegistry& registry);
  ~MainWindow() override;

  // Runs the window modally; its result is the process's exit code.
  INT_PTR Run(HINSTANCE instance);

  HWND Control(int32_t id) const { return GetDlgItem(Window(), id); }
  ShellState State() const { return state_; }
  // The attached plug-in, or null.
  const PluginEntry* ActivePlugin() const;
  int32_t ActiveIndex() const { return activeIndex_; }

  // Delivers an event to the attached plug-in; 0 when none is attached.
  int64_t Deliver(ViewEvent& event);
  int64_t Deliver(ViewEventKind kind, uint64_t arg, uintptr_t tabKey);
  // The key of the selected tab, 0 when no tab is selected.
  uintptr_t SelectedTabKey() const;

  // Shows or hides the controls, applies the enable table and sets the texts
  // of a state.
  void EnterState(ShellState state);
  // Applies the enable table and the add/remove rule to the current state.
  void ApplyEnableTable();

  // What the host commands change (host_commands.cpp).
  bool addAllowed = false;
  bool removeAllowed = false;
  bool columnsFitted = false;
  // The first column's width as the shell last fitted it; another width
  // means the user has moved the divider.
  int fittedFirstWidth = -1;
  bool fieldVisible[kFieldCount] = {true, true, true, true};
  ui::NumericField fields[kFieldCount];

  // The tab body colour and its brush; the monospace font.
  COLORREF tabBodyColour = RGB(255, 255, 255);
  HBRUSH tabBodyBrush = nullptr;
  HFONT monospaceFont = nullptr;

  // The decoded Readme and License (information_view.cpp).
  TextBuffer readme;
  TextBuffer license;

  // Fitted columns follow the table's width: fitted again while the user
  // has left them as they were, else the last column takes the width beside
  // the others; no horizontal scroll bar for columns that fit
  // (host_commands.cpp).
  void FollowTableWidth();

  HostLinkHost& Host() { return host_; }
  AnchorLayout& Layout() { return layout_; }

 protected:
  void Dispatch(ui::Message& message) override;
  void OnTimer(ui::BoundTimer& timer) override;

 private:
  static void OnInit(MainWindow& window, ui::Message& message);
  static void OnClose(MainWindow& window, ui::Message& message);
  static void OnDestroy(MainWindow& window, ui::Message& message);
  static void OnSize(MainWindow& window, ui::Message& message);
  static void OnGetMinMaxInfo(MainWindow& window, ui::Message& message);
  static void OnDpiChanged(MainWindow& window, ui::Message& message);
  static void OnThemeChanged(MainWindow& window, ui::Message& message);
  static void OnStaticColour(MainWindow& window, ui::Message& message);
  static void OnContextMenu(MainWindow& window, ui::Message& message);
  static void OnPostedCommand(MainWindow& window, ui::Message& message);
  static void OnConnectClicked(MainWindow& window, ui::Message& message);
  static void OnSetupClicked(MainWindow& window, ui::Message& message);
  static void OnAddClicked(MainWindow& window, ui::Message& message);
  static void OnRemoveClicked(MainWindow& window, ui::Message& message);
  static void OnChoiceChanged(MainWindow& window, ui::Message& message);
  static void OnFieldFocusLost(MainWindow& window, ui::Message& message);
  static void OnTipClicked(MainWindow& window, ui::Message& message);
  static void OnTabChanged(MainWindow& window, ui::Message& message);
  static void OnTableGetText(MainWindow& window, ui::Message& message);
  static void OnTableCustomDraw(MainWindow& window, ui::Message& message);
  static void OnTableColumnClick(MainWindow& window, ui::Message& message);
  static void OnTableNotify(MainWindow& window, ui::Message& message);

  static void ExecuteCommand(void* context, const HostCommand& command);

  void MoveToDefaultPosition();
  void CreateMonospaceFont();
  void UpdateTabBodyColour();
  void LoadIcons();
  void Activate(int32_t index);
  void Detach();
  void ResetView();
  void RefreshHeaderLines();
  void StartTips();
  void ShowNextTip();
  void SetStateTabs();

  PluginRegistry& registry_;
  int32_t activeIndex_ = -1;
  ShellState state_ = kStateInformation;
  HostLinkHost host_;
  AnchorLayout layout_;
  ui::BoundTimer tipTimer_;
  // The cell whose text the table asked for last in this paint, and whether
  // the plug-in called it not current.
  struct AskedCell {
    int32_t row = -1;
    int32_t column = -1;
    bool notCurrent = false;
  } askedCell_;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
};
