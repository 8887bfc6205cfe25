#pragma once
// The main window: a resizable dialog (template 201) holding the information
// view and every control of the main view. It keeps the shell's state (0
// information view, 1 attached, 2 connected), activates the plug-in chosen in
// the connection setup, delivers the view events and runs the host commands
// of the attached plug-in.
//
// The window is one object; its parts are members, each with its own file:
// host_link.* (send, post, stamp), command_dispatch.* (what each command
// does), main_view.* (frame lines, tab rename and table editing),
// information_view.* (the documents of state 0) and connection_setup.h. None
// of them knows the window: what the commands and the table need of it they
// reach through CommandTarget and CellEventSink.

#include <windows.h>

#include <stdint.h>

#include "common/plugin_interface.h"
#include "common/text.h"
#include "common/ui/window_binding.h"
#include "shell/anchor_layout.h"
#include "shell/command_dispatch.h"
#include "shell/host_link.h"
#include "shell/information_view.h"
#include "shell/main_view.h"
#include "shell/plugin_registry.h"
#include "shell/traffic_log_window.h"
#include "shell/traffic_store.h"

constexpr uint32_t kTipPeriodMs = 180000;
// FieldEdited carries at most 63 units.
constexpr int32_t kFieldTextCapacity = 64;

enum ShellState : int32_t {
  kStateInformation = 0,
  kStateAttached = 1,
  kStateConnected = 2,
};

class MainWindow : public ui::Dialog, private ui::TimerTarget, private CommandTarget, private CellEventSink {
 public:
  explicit MainWindow(PluginRegistry& registry);
  ~MainWindow() override;

  // Runs the window modally; its result is the process's exit code.
  INT_PTR Run(HINSTANCE instance);

 protected:
  void Dispatch(ui::Message& message) override;

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
  static void OnTrafficWake(MainWindow& window, ui::Message& message);
  static void OnPlaceTable(MainWindow& window, ui::Message& message);
  static void OnSysCommand(MainWindow& window, ui::Message& message);
  static void OnConnectClicked(MainWindow& window, ui::Message& message);
  static void OnSetupClicked(MainWindow& window, ui::Message& message);
  static void OnAddClicked(MainWindow& window, ui::Message& message);
  static void OnRemoveClicked(MainWindow& window, ui::Message& message);
  static void OnChoiceChanged(MainWindow& window, ui::Message& message);
  static void OnFieldFocusLost(MainWindow& window, ui::Message& message);
  static void OnTipClicked(MainWindow& window, ui::Message& message);
  static void OnTabChanging(MainWindow& window, ui::Message& message);
  static void OnTabChanged(MainWindow& window, ui::Message& message);
  static void OnTableFindItem(MainWindow& window, ui::Message& message);
  static void OnTableGetText(MainWindow& window, ui::Message& message);
  static void OnTableCustomDraw(MainWindow& window, ui::Message& message);
  static void OnTableColumnClick(MainWindow& window, ui::Message& message);
  static void OnTableNotify(MainWindow& window, ui::Message& message);

  // ui::TimerTarget: the tip timer.
  void OnTimer(ui::BoundTimer& timer) override;
  // CommandTarget: what the host commands ask of the window.
  bool ViewShown() const override { return state_ != kStateInformation; }
  uintptr_t SelectedTabKey() const override;
  void TabSelected(uintptr_t key) override;
  void AddRemoveChanged() override { ApplyEnableTable(); }
  void ShowFrame(const HostCommand& command) override { view_.FrameCommand(command); }
  void RefreshHeaderLines() override;
  uint32_t Dpi() const override { return layout_.Dpi(); }
  void BesideTableChanged() override;
  // CellEventSink: the table's events, for the tab they name (the one an edit
  // began in) or else the selected tab.
  int64_t DeliverCellEvent(ViewEvent& event) override;

  HWND Control(int32_t id) const { return GetDlgItem(Window(), id); }
  // The attached plug-in, or null.
  const PluginEntry* ActivePlugin() const;
  // Delivers an event to the attached plug-in; 0 when none is attached.
  int64_t Deliver(ViewEvent& event);
  int64_t Deliver(ViewEventKind kind, uint64_t arg, uintptr_t tabKey);

  // Shows or hides the controls, applies the enable table and sets the texts
  // of a state.
  void EnterState(ShellState state);
  // Applies the enable table and the add/remove rule to the current state.
  void ApplyEnableTable();
  // Enter in entry field index: the field is applied as leaving it does
  // (FieldEdited with its text); it keeps the focus.
  void ApplyField(int32_t index);
  // Keys the dialog manager would take for itself, seen first through its
  // message filter on the user-interface thread: Ctrl+Tab and
  // Ctrl+Shift+Tab, Enter in an entry field.
  static LRESULT CALLBACK KeysFilter(int code, WPARAM wParam, LPARAM lParam);

  void MoveToDefaultPosition();
  // The monospace font of the frame lines and the table, made from base
  // (the dialog font); the table's header keeps the dialog font.
  void CreateMonospaceFont(HFONT base);
  // At a new DPI: the dialog font made again from its 96-DPI height, set on
  // every control, the monospace font made from it, the icons loaded at the
  // new size.
  void ScaleFonts(uint32_t dpi);
  void UpdateTabBodyColour();
  void LoadIcons(uint32_t dpi);
  void Activate(int32_t index);
  void Detach();
  // Drops what the plug-in posted before now: nothing posted under an
  // earlier connection or attachment shows after what the plug-in just did.
  void DropPosted();
  void DeliverFieldEdited(int32_t index);
  void ResetView();
  void StartTips();
  void ShowNextTip();
  void SetStateTabs();
  void OpenTrafficLog();
  // The table and the frame lines reach as far as the choice box and the
  // fields do when nothing is beside them; the choice box shows only while it
  // holds choices.
  void PlaceTable();

  PluginRegistry& registry_;
  int32_t activeIndex_ = -1;
  ShellState state_ = kStateInformation;
  // The traffic log collects from the start, whether its window is open or
  // not; declared before host_, which hands frames to it.
  TrafficStore traffic_;
  TrafficClock trafficClock_;
  TrafficLogWindow trafficLog_{traffic_, trafficClock_};
  HostLinkHost host_;
  CommandDispatch commands_{*this};
  MainView view_;
  InformationView information_;
  AnchorLayout layout_;
  ui::BoundTimer tipTimer_;
  // The tab body colour and its brush; the monospace font.
  COLORREF tabBodyColour_ = RGB(255, 255, 255);
  HBRUSH tabBodyBrush_ = nullptr;
  HFONT monospaceFont_ = nullptr;
  // The cell whose text the table asked for last in this paint, and whether
  // the plug-in called it not current.
  struct AskedCell {
    int32_t row = -1;
    int32_t column = -1;
    bool notCurrent = false;
  } askedCell_;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  // The message filter of KeysFilter, removed when the window goes.
  HHOOK keysHook_ = nullptr;
  // The template's font with its height at 96 DPI; the font made from it at
  // a later DPI (the template's own belongs to the dialog manager).
  LOGFONTW dialogFont96_ = {};
  HFONT scaledDialogFont_ = nullptr;
  // The right edge of the table and the frame lines with the fields beside
  // them and without (96-DPI units); whether they are wide now; whether a
  // PlaceTable is on its way.
  int32_t narrowRight96_ = 0;
  int32_t wideRight96_ = 0;
  bool tableWide_ = false;
  bool placeTablePosted_ = false;
};
