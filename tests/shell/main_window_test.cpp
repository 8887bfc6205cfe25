// velmora.exe as a user meets it: the program is copied with chosen script
// plug-ins into a scratch folder, started, and driven by posted input; the
// test reads back what the window shows and what the plug-ins were told.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "shell/resources/resource_ids.h"
#include "support/plugin_library.h"
#include "support/text_fit.h"
#include "support/velmora_session.h"

namespace {

using uiauto::ExeFolder;
using uiauto::Scratch;
using uiauto::Shell;

// Which controls are enabled: the enable table and the add/remove rule.
struct Enables {
  bool setup, connect, choices, fields, add, remove;
};
void ExpectEnables(const Shell& shell, const Enables& expected, const char* where) {
  SCOPED_TRACE(where);
  EXPECT_EQ(uiauto::Enabled(shell.Item(IDC_SETUP_BUTTON)), expected.setup);
  EXPECT_EQ(uiauto::Enabled(shell.Item(IDC_CONNECT_BUTTON)), expected.connect);
  EXPECT_EQ(uiauto::Enabled(shell.Item(IDC_CHOICES)), expected.choices);
  for (int id = IDC_FIELD_0; id <= IDC_FIELD_3; ++id) EXPECT_EQ(uiauto::Enabled(shell.Item(id)), expected.fields) << id;
  EXPECT_EQ(uiauto::Enabled(shell.Item(IDC_ADD_BUTTON)), expected.add);
  EXPECT_EQ(uiauto::Enabled(shell.Item(IDC_REMOVE_BUTTON)), expected.remove);
}

std::vector<std::wstring> Tabs(const Shell& shell) { return uiauto::TabTitles(shell.Item(IDC_TABS)); }

// The window's size at start-up in the prefix's own DPI (96), kept by the
// first case for the 144-DPI case.
SIZE g_initialAt96 = {0, 0};

// The main window's static and button texts that do not fit, measured with
// the template's font (Segoe UI 9) at the window's DPI where the control
// uses the window's own font (the frame lines and the table have fonts of
// their own, and cut their texts on purpose).
std::string MainWindowClipped(HWND main) {
  const UINT dpi = GetDpiForWindow(main);
  HFONT replica = textfit::TemplateFont(L"Segoe UI", 9, dpi);
  const LRESULT windowFont = SendMessageW(main, WM_GETFONT, 0, 0);
  std::string found = textfit::Describe(textfit::Clipped(
      main, [&](HWND control) { return SendMessageW(control, WM_GETFONT, 0, 0) == windowFont ? replica : nullptr; },
      dpi));
  DeleteObject(replica);
  return found;
}

// Starts this program again with LogPixels set to dpi for that start only
// (the caller runs alone), running TextFitChild.SettingsPages; its output
// joins ours. True when it passed.
bool RunTextFitChild(DWORD dpi) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  DWORD previous = 0, size = sizeof(previous), type = 0;
  const bool hadValue = RegQueryValueExW(key, L"LogPixels", nullptr, &type, reinterpret_cast<BYTE*>(&previous),
                                         &size) == ERROR_SUCCESS;
  RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof(dpi));
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=TextFitChild.SettingsPages";
  SetEnvironmentVariableW(L"VELMORA_TEXT_FIT_DPI", std::to_wstring(dpi).c_str());
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  fflush(stdout);
  const bool started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                      &process) != 0;
  DWORD code = 1;
  if (started) {
    WaitForSingleObject(process.hProcess, 300000);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  SetEnvironmentVariableW(L"VELMORA_TEXT_FIT_DPI", nullptr);
  if (hadValue) {
    RegSetValueExW(key, L"LogPixels", 0, type, reinterpret_cast<const BYTE*>(&previous), sizeof(previous));
  } else {
    RegDeleteValueW(key, L"LogPixels");
  }
  RegCloseKey(key);
  return started && code == 0;
}

// State 0 at start-up, the screenshot, the start-up time, a setup dialog
// that cannot be created, a cancelled setup, maximize and restore, the
// minimum size, and a synthetic DPI change.
TEST(MainWindow, InformationStateAndWindowFrame) {
  Scratch scratch({});
  Shell shell;
  ASSERT_NO_FATAL_FAILURE(shell.Start(scratch));
  ASSERT_TRUE(uiauto::WaitFor([&] { return uiauto::Visible(shell.main); }));
  printf("start-up: %llu ms from process start to the main window visible\n",
         static_cast<unsigned long long>(GetTickCount64() - shell.app.StartTick()));

  wchar_t caption[64] = {};
  GetWindowTextW(shell.main, caption, 64);
  EXPECT_EQ(std::wstring(caption), L"Velmora Tools 0.7.1");
  ExpectEnables(shell, {true, false, false, false, false, false}, "state 0");
  for (int id : {IDC_TABLE, IDC_CHOICES, IDC_FIELD_LABEL_0, IDC_FIELD_3, IDC_TX_LINE, IDC_RX_LINE, IDC_TIP_LINE}) {
    EXPECT_FALSE(uiauto::Visible(shell.Item(id))) << id;
  }
  EXPECT_TRUE(uiauto::Visible(shell.Item(IDC_DOCUMENT)));
  EXPECT_EQ(shell.Text(IDC_VIEW_GROUP), L"About");
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"&Connect");
  EXPECT_EQ(Tabs(shell), (std::vector<std::wstring>{L"Readme", L"License"}));
  EXPECT_EQ(uiauto::TabSelected(shell.Item(IDC_TABS)), 0);
  EXPECT_EQ(shell.Text(IDC_PROTOCOL_LINE), L"Begin with the connection setup.");

  // Let the first paint finish, then keep what the screen shows.
  shell.Settle();
  Sleep(300);
  uiauto::Picture picture = uiauto::Capture(shell.main);
  EXPECT_TRUE(uiauto::SavePng(picture, uiauto::ArtefactPath(L"main_window.png")));
  EXPECT_GT(picture.DistinctColours(), 4) << "the window looks blank";
  EXPECT_EQ(MainWindowClipped(shell.main), "") << "at 96 DPI";

  // Without plug-ins the setup says so, and cancelling changes nothing.
  shell.Setup("cancel");
  EXPECT_EQ(shell.Text(IDC_VIEW_GROUP), L"About");
  ExpectEnables(shell, {true, false, false, false, false, false}, "after cancel");

  // A DPI change moves the window to the suggested rectangle and lays the
  // controls out at the new scale: the Connect button's right margin grows
  // by half.
  RECT initial{};
  GetWindowRect(shell.main, &initial);
  g_initialAt96 = {initial.right - initial.left, initial.bottom - initial.top};
  RECT client{}, button{};
  GetClientRect(shell.main, &client);
  GetWindowRect(shell.Item(IDC_CONNECT_BUTTON), &button);
  POINT corner{button.right, button.bottom};
  ScreenToClient(shell.main, &corner);
  const int margin96 = client.right - corner.x;
  RECT suggested{initial.left, initial.top, initial.left + (initial.right - initial.left) * 3 / 2,
                 initial.top + (initial.bottom - initial.top) * 3 / 2};
  uiauto::RemoteBuffer remote(shell.main, sizeof(RECT));
  ASSERT_TRUE(remote.Valid());
  remote.Write(0, &suggested, sizeof(suggested));
  PostMessageW(shell.main, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(remote.Address()));
  // The size arrives through the X server: wait for it.
  RECT moved{};
  EXPECT_TRUE(uiauto::WaitFor([&] {
    GetWindowRect(shell.main, &moved);
    return moved.right - moved.left == suggested.right - suggested.left &&
           moved.bottom - moved.top == suggested.bottom - suggested.top;
  }, 5000)) << moved.right - moved.left << " x " << moved.bottom - moved.top;
  shell.Settle();
  GetClientRect(shell.main, &client);
  GetWindowRect(shell.Item(IDC_CONNECT_BUTTON), &button);
  corner = {button.right, button.bottom};
  ScreenToClient(shell.main, &corner);
  EXPECT_NEAR(client.right - corner.x, margin96 * 3 / 2, 1);

  // At 144 DPI the window cannot be made smaller than 1.5 times its
  // initial size.
  SetWindowPos(shell.main, nullptr, 0, 0, 1, 1, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT shrunk{};
  GetWindowRect(shell.main, &shrunk);
  EXPECT_EQ(shrunk.right - shrunk.left, MulDiv(initial.right - initial.left, 144, 96));
  EXPECT_EQ(shrunk.bottom - shrunk.top, MulDiv(initial.bottom - initial.top, 144, 96));

  // Maximize hides the size grip, restore shows it.
  HWND grip = GetDlgItem(shell.main, 0xE81E);
  ASSERT_NE(grip, nullptr);
  EXPECT_TRUE(uiauto::Visible(grip));
  PostMessageW(shell.main, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  EXPECT_TRUE(uiauto::WaitFor([&] { return !uiauto::Visible(grip); }));
  PostMessageW(shell.main, WM_SYSCOMMAND, SC_RESTORE, 0);
  EXPECT_TRUE(uiauto::WaitFor([&] { return uiauto::Visible(grip); }));

  PostMessageW(shell.main, WM_CLOSE, 0, 0);
  EXPECT_EQ(shell.app.WaitExit(), 0u);
}

// A prefix whose display runs at 144 DPI: the program reads LogPixels when
// it starts, so the value is set for that start only and restored at once
// (CTest runs this program alone). Wine reads it at every start; Windows
// applies the same setting only after a new sign-in. The window starts 1.5 times its 96-DPI
// size and cannot be made smaller than that. This thread is made
// per-monitor aware so that it reads the window's real pixels.
TEST(MainWindow, MinimumSizeAt144Dpi) {
  Scratch scratch({});
  if (g_initialAt96.cx == 0) {
    // Run alone (or after a failed first case): measure the 96-DPI start here.
    Shell at96;
    ASSERT_NO_FATAL_FAILURE(at96.Start(scratch));
    RECT rect{};
    GetWindowRect(at96.main, &rect);
    g_initialAt96 = {rect.right - rect.left, rect.bottom - rect.top};
    PostMessageW(at96.main, WM_CLOSE, 0, 0);
    ASSERT_EQ(at96.app.WaitExit(), 0u);
  }
  ASSERT_GT(g_initialAt96.cx, 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  DWORD previous = 0, size = sizeof(previous), type = 0;
  const bool hadValue = RegQueryValueExW(key, L"LogPixels", nullptr, &type, reinterpret_cast<BYTE*>(&previous), &size) ==
                        ERROR_SUCCESS;
  const DWORD dpi = 144;
  RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof(dpi));
  Shell shell;
  shell.Start(scratch);
  if (hadValue) {
    RegSetValueExW(key, L"LogPixels", 0, type, reinterpret_cast<const BYTE*>(&previous), sizeof(previous));
  } else {
    RegDeleteValueW(key, L"LogPixels");
  }
  RegCloseKey(key);
  ASSERT_NE(shell.main, nullptr);
  DPI_AWARENESS_CONTEXT old = SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  RECT initial{};
  GetWindowRect(shell.main, &initial);
  printf("window at 96 DPI %ld x %ld, at 144 DPI %ld x %ld\n", g_initialAt96.cx, g_initialAt96.cy,
         initial.right - initial.left, initial.bottom - initial.top);
  // The template scales with its font, whose metrics do not scale exactly
  // (Wine substitutes Segoe UI): about 1.5 times, not to the pixel.
  EXPECT_GT((initial.right - initial.left) * 10, g_initialAt96.cx * 14);
  EXPECT_GT((initial.bottom - initial.top) * 10, g_initialAt96.cy * 14);
  EXPECT_EQ(MainWindowClipped(shell.main), "") << "at 144 DPI";
  SetWindowPos(shell.main, nullptr, 0, 0, 1, 1, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT shrunk{};
  GetWindowRect(shell.main, &shrunk);
  // The minimum is kept in 96-DPI units: one pixel of rounding.
  EXPECT_NEAR(shrunk.right - shrunk.left, initial.right - initial.left, 1);
  EXPECT_NEAR(shrunk.bottom - shrunk.top, initial.bottom - initial.top, 1);
  SetThreadDpiAwarenessContext(old);
  PostMessageW(shell.main, WM_CLOSE, 0, 0);
  EXPECT_EQ(shell.app.WaitExit(), 0u);
}

// Every settings page of the fourteen plug-ins, its static and button texts
// measured with their own fonts, at 96 and at 144 DPI (in a program started
// at that DPI).
TEST(MainWindow, SettingsPageTextsFitAt96And144Dpi) {
  for (DWORD dpi : {96u, 144u}) EXPECT_TRUE(RunTextFitChild(dpi)) << dpi << " DPI";
}

// Run by the case above in a program of its own; left out of the suite's
// own run (GTEST_FILTER in tests/shell/CMakeLists.txt).
TEST(TextFitChild, SettingsPages) {
  const std::wstring wanted = uiauto::EnvText(L"VELMORA_TEXT_FIT_DPI");
  ASSERT_FALSE(wanted.empty()) << "started by SettingsPageTextsFitAt96And144Dpi";
  SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  const char* const libraries[] = {
      "linebin_client",  "linetext_client", "streamhdr_client", "streambin_client", "dgramhdr_client",
      "dgrambin_client", "linebin_server",  "linetext_server",  "streamhdr_server", "streambin_server",
      "dgramhdr_server", "dgrambin_server", "streamhdr_fault_server", "linebin_fault_server",
      "linebin_monitor", "streamhdr_linebin_gateway", "streamhdr_multi_server"};
  for (const char* name : libraries) {
    SCOPED_TRACE(name);
    PluginLibrary plugin;
    ASSERT_TRUE(LoadPluginLibrary(DistPluginPath(name), &plugin) && plugin.created);
    HWND parent = CreateWindowExW(0, L"STATIC", L"Connection setup", WS_OVERLAPPEDWINDOW, 0, 0, 1200, 900, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    HWND page = reinterpret_cast<HWND>(
        plugin.ops.createSettingsPage(plugin.ops.instance, reinterpret_cast<PluginWindow>(parent)));
    ASSERT_NE(page, nullptr);
    const UINT dpi = GetDpiForWindow(page);
    EXPECT_EQ(std::to_wstring(dpi), wanted);
    // The page's own font (the template's), as every control of it uses.
    EXPECT_EQ(textfit::Describe(textfit::Clipped(
                  page, [](HWND control) { return reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)); },
                  dpi)),
              "")
        << dpi << " DPI";
    DestroyWindow(page);
    DestroyWindow(parent);
    ReleasePluginLibrary(&plugin);
  }
}

const char kScriptA[] =
    "protocol Proto A\n"
    "connection Conn A\n"
    "tip Tip A\n"
    "nexttip Next A\n"
    "cells 3\n"
    "on attach send SetLabel 0 0 Unit:\n"
    "on attach send SetLabel 7 0 Ignored\n"
    "on attach send AddChoice 7 0 Coils\n"
    "on attach send AddChoice 9 0 Registers\n"
    "on attach send SelectChoice 9 0\n"
    "on attach send SelectChoice 5 0\n"
    "on attach send AddTab 0 101 Poll 1\n"
    "on attach send AddTab 0 102 Poll 2\n"
    "on attach post AddTab 0 103 Poll 3\n"
    "on attach send SetTableShape 5 2\n"
    "on attach send SetColumnTitle 0 0 Address\n"
    "on attach send SetColumnTitle 1 0 Value\n"
    "on attach send FitColumns 0 0\n"
    "on attach send EnableAddRemove 65537 0\n"
    "on attach send SetFieldFormat 3 40 1 1 10 60000 0  ms\n"
    "on attach send SetFieldText 3 0 250\n"
    "on attach send SetFieldFormat 2 39 3 0 0 0 4\n"
    "on attach send SetFieldText 2 0 xyz\n"
    "on attach send SetFieldText 0 0 17\n"
    "on attach send ShowField 1 0\n";

// Activation of a plug-in filling the view, every view event, Connect
// refused and accepted, a hidden field across Connect and Disconnect, the
// tips, tab removal, confirming the same plug-in, cancelling, a stale posted
// command, activation of another plug-in, and closing while connected.
TEST(MainWindow, PluginDrivesTheView) {
  Scratch scratch({L"script_a", L"script_b"});
  scratch.Script(L"script_a", kScriptA);
  scratch.Script(L"script_b",
                 "on attach send SetLabel 0 0 B label\n"
                 "on attach send EnableAddRemove 1 0\n"
                 "on attach send AddChoice 4 0 Only\n"
                 "on attach send SetFieldFormat 3 40 7 0 0 0 0\n"
                 "on attach send SetFieldText 3 0 abc\n"
                 "on attach send SetTableShape 0 2\n"
                 "on attach send FitColumns 0 0\n"
                 "on AddRequested threadpost SetLabel 1 0 From thread\n"
                 "on ChoiceSelected send ShowError 0 0 Boom|Failure\n");
  Shell shell;
  ASSERT_NO_FATAL_FAILURE(shell.Start(scratch));

  shell.Setup("0");
  ASSERT_TRUE(scratch.WaitLog(L"script_a", "attach size=40 version=11"));
  shell.Settle();
  const std::string log = scratch.Log(L"script_a");
  EXPECT_EQ(log.find("createSettingsPage\napplySettings\nattach"), 0u) << log;
  ExpectEnables(shell, {true, true, true, true, true, true}, "attached");
  EXPECT_EQ(shell.Text(IDC_VIEW_GROUP), L"View script_a");
  EXPECT_EQ(shell.Text(IDC_PROTOCOL_LINE), L"Proto A");
  EXPECT_EQ(shell.Text(IDC_CONNECTION_LINE), L"Conn A");
  EXPECT_EQ(shell.Text(IDC_TIP_LINE), L"Tip A");
  EXPECT_EQ(shell.Text(IDC_FIELD_LABEL_0), L"Unit:");
  EXPECT_EQ(Tabs(shell), (std::vector<std::wstring>{L"Poll 1", L"Poll 2", L"Poll 3"}));
  EXPECT_EQ(uiauto::TabSelected(shell.Item(IDC_TABS)), 2);
  for (const char* key : {"101", "102", "103"}) {
    EXPECT_TRUE(scratch.LogHas(L"script_a", std::string("event TabSelected arg=0 key=") + key + " text=~")) << key;
  }
  HWND choices = shell.Item(IDC_CHOICES);
  EXPECT_EQ(uiauto::ChoiceCount(choices), 2);
  EXPECT_EQ(uiauto::ChoiceSelected(choices), 1);
  EXPECT_EQ(uiauto::ChoiceText(choices, 0), L"Coils");
  HWND table = shell.Item(IDC_TABLE);
  EXPECT_EQ(uiauto::ListRowCount(table), 5);
  EXPECT_EQ(uiauto::ListColumnCount(table), 2);
  EXPECT_EQ(uiauto::CellText(table, 0, 1), L"R0C1");
  EXPECT_EQ(uiauto::CellText(table, 2, 0), L"R2C0");
  EXPECT_EQ(uiauto::CellText(table, 4, 1), L"") << "a row the plug-in does not know shows nothing";
  EXPECT_GT(uiauto::ListColumnWidth(table, 0), 100);
  EXPECT_EQ(uiauto::ListColumnWidth(table, 0), uiauto::ListColumnWidth(table, 1));
  EXPECT_EQ(shell.Text(IDC_FIELD_3), L"250 ms");
  EXPECT_EQ(shell.Text(IDC_FIELD_2), L"xyz") << "a 39-byte format is ignored";
  EXPECT_EQ(shell.Text(IDC_FIELD_0), L"17");
  EXPECT_FALSE(uiauto::Visible(shell.Item(IDC_FIELD_LABEL_1)));
  EXPECT_FALSE(uiauto::Visible(shell.Item(IDC_FIELD_1)));
  EXPECT_TRUE(uiauto::Visible(shell.Item(IDC_FIELD_2)));
  EXPECT_TRUE(uiauto::Visible(shell.Item(IDC_TIP_LINE)));
  EXPECT_FALSE(uiauto::Visible(shell.Item(IDC_DOCUMENT)));

  // The view events.
  uiauto::ClickStatic(shell.Item(IDC_TIP_LINE));
  EXPECT_TRUE(uiauto::WaitFor([&] { return shell.Text(IDC_TIP_LINE) == L"Next A 1"; }));
  uiauto::PickChoice(choices, 0);
  EXPECT_TRUE(scratch.WaitLog(L"script_a", "event ChoiceSelected arg=7 key=0 text=~"));
  uiauto::LeaveField(shell.Item(IDC_FIELD_0));
  EXPECT_TRUE(scratch.WaitLog(L"script_a", "event FieldEdited arg=0 key=0 text=17"));
  shell.Click(IDC_ADD_BUTTON);
  EXPECT_TRUE(scratch.WaitLog(L"script_a", "event AddRequested arg=0 key=0 text=~"));
  shell.Click(IDC_REMOVE_BUTTON);
  EXPECT_TRUE(scratch.WaitLog(L"script_a", "event RemoveRequested arg=0 key=103 text=~"));
  uiauto::SelectTab(shell.Item(IDC_TABS), 0);
  EXPECT_TRUE(uiauto::WaitFor([&] { return uiauto::TabSelected(shell.Item(IDC_TABS)) == 0; }));
  EXPECT_TRUE(scratch.WaitLog(L"script_a", "event TabSelected arg=0 key=101 text=~"));

  // Connect refused, then accepted; the hidden field stays hidden.
  scratch.Script(L"script_a", std::string(kScriptA) + "connect 0\n");
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_TRUE(scratch.WaitLog(L"script_a", "event Connect arg=0 key=0 text=~"));
  ExpectEnables(shell, {true, true, true, true, true, true}, "refused");
  scratch.Script(L"script_a", kScriptA);
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_TRUE(scratch.WaitLog(L"script_a", "indicator 1"));
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"Dis&connect");
  ExpectEnables(shell, {false, true, false, false, false, false}, "connected");
  EXPECT_FALSE(uiauto::Visible(shell.Item(IDC_FIELD_1)));
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_TRUE(scratch.WaitLog(L"script_a", "indicator 0"));
  EXPECT_TRUE(scratch.LogHas(L"script_a", "event Disconnect arg=0 key=0 text=~"));
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"&Connect");
  ExpectEnables(shell, {true, true, true, true, true, true}, "disconnected");
  EXPECT_FALSE(uiauto::Visible(shell.Item(IDC_FIELD_1)));

  // RemoveTab of a tab that is not selected, then of the selected first tab
  // and of the last one.
  scratch.Script(L"script_a", std::string(kScriptA) +
                                  "on AddRequested send RemoveTab 0 102\n"
                                  "on RemoveRequested send RemoveTab 0 101\n"
                                  "on RemoveRequested send RemoveTab 0 103\n"
                                  "on RemoveRequested send RemoveTab 0 999\n");
  const size_t before = scratch.Log(L"script_a").size();
  shell.Click(IDC_ADD_BUTTON);
  EXPECT_EQ(Tabs(shell), (std::vector<std::wstring>{L"Poll 1", L"Poll 3"}));
  EXPECT_EQ(uiauto::TabSelected(shell.Item(IDC_TABS)), 0);
  shell.Click(IDC_REMOVE_BUTTON);
  EXPECT_EQ(uiauto::TabCount(shell.Item(IDC_TABS)), 0);
  EXPECT_EQ(scratch.Log(L"script_a").substr(before),
            "event AddRequested arg=0 key=0 text=~\n"
            "event TabSelected arg=0 key=101 text=~\n"
            "event RemoveRequested arg=0 key=101 text=~\n"
            "event TabSelected arg=0 key=103 text=~\n"
            "event TabSelected arg=0 key=0 text=~\n");

  // The same plug-in confirmed again: header lines re-read, nothing else.
  scratch.Script(L"script_a", "protocol Proto A2\n");
  shell.Setup("0");
  EXPECT_TRUE(uiauto::WaitFor([&] { return shell.Text(IDC_PROTOCOL_LINE) == L"Proto A2"; }));
  EXPECT_EQ(shell.Text(IDC_CONNECTION_LINE), L"Conn A") << "a line the plug-in does not give stays";
  EXPECT_FALSE(scratch.LogHas(L"script_a", "detach"));
  EXPECT_EQ(uiauto::ListRowCount(table), 5);
  // Cancelling changes nothing, not even the header lines.
  scratch.Script(L"script_a",
                 "protocol Proto A3\non ChoiceSelected heldpost SetLabel 0 0 Stale\n"
                 "on ChoiceSelected send ShowField 0 0\non ChoiceSelected send ShowField 2 0\n"
                 "on ChoiceSelected send ShowField 3 0\non ChoiceSelected send ClearChoices 0 0\n");
  shell.Setup("cancel");
  EXPECT_EQ(shell.Text(IDC_PROTOCOL_LINE), L"Proto A2");
  EXPECT_LT(uiauto::RightEdge(table), uiauto::RightEdge(choices)) << "the choice box and fields beside the table";

  // A command posted under the first plug-in's attachment reaches the
  // window's queue only once the second plug-in is attached (a worker of the
  // first plug-in held between the shell's stamp and its PostMessageW): it
  // has no effect. The view is reset for the new plug-in.
  uiauto::PickChoice(choices, 1);
  ASSERT_TRUE(scratch.WaitLog(L"script_a", "event ChoiceSelected arg=9 key=0 text=~"));
  // With every field hidden and no choice left, the box goes and the table
  // and the frame lines reach as far as the fields did.
  EXPECT_TRUE(uiauto::WaitFor([&] { return uiauto::RightEdge(table) == uiauto::RightEdge(choices); }));
  EXPECT_EQ(uiauto::RightEdge(shell.Item(IDC_RX_LINE)), uiauto::RightEdge(choices));
  EXPECT_FALSE(uiauto::Visible(choices));
  HWND dialog = uiauto::OpenSetup(shell.app, shell.main);
  ASSERT_NE(dialog, nullptr);
  uiauto::AnswerSetup(dialog, "1");
  ASSERT_TRUE(scratch.WaitLog(L"script_b", "attach size=40 version=11"));
  ASSERT_TRUE(scratch.WaitLog(L"script_a", "held post delivered"));
  shell.Settle();
  EXPECT_TRUE(scratch.LogHas(L"script_a", "detach\nheld post delivered")) << "queued after the detach";
  EXPECT_TRUE(scratch.LogHas(L"script_a", "detach"));
  EXPECT_EQ(shell.Text(IDC_FIELD_LABEL_0), L"B label");
  EXPECT_EQ(shell.Text(IDC_VIEW_GROUP), L"View script_b");
  EXPECT_EQ(uiauto::TabCount(shell.Item(IDC_TABS)), 0);
  EXPECT_EQ(uiauto::ChoiceCount(choices), 1);
  EXPECT_EQ(uiauto::ListRowCount(table), 0);
  // The reset's empty shape re-armed FitColumns: the new columns are fitted,
  // not left at 100 pixels.
  EXPECT_EQ(uiauto::ListColumnCount(table), 2);
  EXPECT_GT(uiauto::ListColumnWidth(table, 0), 100);
  // A mode outside 1 to 4 takes the earlier plug-in's format off the field.
  EXPECT_EQ(shell.Text(IDC_FIELD_3), L"abc");
  EXPECT_TRUE(uiauto::Visible(shell.Item(IDC_FIELD_1))) << "activation shows every field again";
  EXPECT_TRUE(uiauto::WaitFor([&] { return uiauto::RightEdge(table) < uiauto::RightEdge(choices); }))
      << "the table makes room for them again";
  EXPECT_EQ(shell.Text(IDC_TIP_LINE), L"");
  ExpectEnables(shell, {true, true, true, true, true, false}, "second plug-in");

  // A command posted from a worker thread; an error box from ShowError.
  shell.Click(IDC_ADD_BUTTON);
  EXPECT_TRUE(uiauto::WaitFor([&] { return shell.Text(IDC_FIELD_LABEL_1) == L"From thread"; }));
  uiauto::PickChoice(choices, 0);
  uiauto::BoxText box;
  ASSERT_TRUE(uiauto::DismissMessageBox(shell.app, shell.main, &box));
  EXPECT_EQ(box.caption, L"Failure");
  EXPECT_EQ(box.text, L"Boom");

  // Closing while connected detaches without a Disconnect and exits with 0.
  shell.Click(IDC_CONNECT_BUTTON);
  ASSERT_TRUE(scratch.WaitLog(L"script_b", "indicator 1"));
  PostMessageW(shell.main, WM_CLOSE, 0, 0);
  EXPECT_EQ(shell.app.WaitExit(), 0u);
  const std::string logB = scratch.Log(L"script_b");
  EXPECT_NE(logB.find("indicator 0\ndetach\n"), std::string::npos) << logB;
  EXPECT_EQ(logB.find("event Disconnect"), std::string::npos) << logB;
}

// Tables of size 88 and 64: the optional entries beyond the size are never
// called, and header lines a plug-in does not give stay as they were.
TEST(MainWindow, SmallOperationTables) {
  Scratch scratch({L"script_88", L"script_64"});
  const char script[] = "protocol Small\nconnection Line\ntip Tip\nnexttip Next\n";
  scratch.Script(L"script_88", script);
  scratch.Script(L"script_64", "protocol Never\n");
  Shell shell;
  ASSERT_NO_FATAL_FAILURE(shell.Start(scratch));
  shell.Setup("0");
  ASSERT_TRUE(scratch.WaitLog(L"script_88", "connectionLine"));
  uiauto::ClickStatic(shell.Item(IDC_TIP_LINE));
  shell.Click(IDC_CONNECT_BUTTON);
  ASSERT_TRUE(scratch.WaitLog(L"script_88", "indicator 1"));
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_PROTOCOL_LINE), L"Small");
  EXPECT_EQ(shell.Text(IDC_TIP_LINE), L"");
  EXPECT_EQ(scratch.Log(L"script_88"),
            "createSettingsPage\napplySettings\nattach size=40 version=11\nprotocolLine\nconnectionLine\n"
            "event Connect arg=0 key=0 text=~\nindicator 1\nevent Disconnect arg=0 key=0 text=~\nindicator 0\n");

  shell.Setup("1");
  ASSERT_TRUE(scratch.WaitLog(L"script_64", "attach size=40 version=11"));
  shell.Click(IDC_CONNECT_BUTTON);
  shell.Click(IDC_CONNECT_BUTTON);
  uiauto::ClickStatic(shell.Item(IDC_TIP_LINE));
  shell.Settle();
  EXPECT_EQ(shell.Text(IDC_PROTOCOL_LINE), L"Small");
  EXPECT_EQ(scratch.Log(L"script_64"),
            "createSettingsPage\napplySettings\nattach size=40 version=11\n"
            "event Connect arg=0 key=0 text=~\nevent Disconnect arg=0 key=0 text=~\n");
  PostMessageW(shell.main, WM_CLOSE, 0, 0);
  EXPECT_EQ(shell.app.WaitExit(), 0u);
}

}  // namespace
