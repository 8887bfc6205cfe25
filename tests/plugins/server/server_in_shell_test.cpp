// The Modbus TCP slave in the real program: velmora.exe started in a scratch
// folder with the six slave libraries, "Modbus TCP/IP Slave" chosen in the
// connection setup with its page bound to 127.0.0.1 and the port that
// server_e2e.py gives (VELMORA_SERVER_PORT), then connected. The driver's
// clients are asked for by "DRIVER <scenario>" lines, answered "ok" or
// "fail <why>" on standard input.
//
// - ServerInShell.ClientWritesShowAndEditsServe: a pymodbus client's write
//   of a holding register changes the table's pixels with no input to the
//   program (reading the cells would itself ask the plug-in and so prove
//   nothing), and a discrete input edited by double-click is what the
//   client reads. Keeps build/win/artifacts/server_io_map.png.
// - ServerInShell.EditsStayInTheirTabAndTheKeyboardServes: an edit left
//   open when the user right-clicks another tab or clicks the value column's
//   title is stored where and as it was typed (the client reads it back);
//   then the keyboard alone: Alt+C, Enter, F2 and the menu key in the table,
//   Ctrl+Tab, F2 on the tab strip and Enter in an entry field.
// - ServerInShell.LoadFigures (only with VELMORA_SERVER_LOAD_SECONDS): a
//   libmodbus client hammers the slave for that long; prints the user
//   interface thread's WM_NULL round trips idle and meanwhile, and the
//   process's commit charge before and after; once the client stops, the
//   TX and RX lines must end on its last request and the answer to it (the
//   driver knows its transaction ID); then the slave and engine_host.exe's
//   server in turns. Never asserts a figure.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wctype.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/ui_figures.h"
#include "support/velmora_session.h"

namespace {

using namespace uiauto;

const std::vector<std::wstring> kSlaves = {L"linebin_server", L"linetext_server", L"streamhdr_server",
                                           L"streambin_server", L"dgramhdr_server", L"dgrambin_server"};

// Asks server_e2e.py to run a client scenario; true when it answers "ok".
bool AskDriver(const std::string& scenario, std::string* answer = nullptr) {
  printf("DRIVER %s\n", scenario.c_str());
  fflush(stdout);
  char line[512] = "";
  if (!fgets(line, sizeof line, stdin)) line[0] = '\0';
  line[strcspn(line, "\r\n")] = '\0';
  if (answer) *answer = line;
  return strcmp(line, "ok") == 0;
}

// velmora.exe with the six slaves, "Modbus TCP/IP Slave" set up on the
// driver's port.
void StartTcpSlave(const Scratch& scratch, Shell& shell) {
  const std::wstring port = EnvText(L"VELMORA_SERVER_PORT");
  ASSERT_FALSE(port.empty()) << "run through server_e2e.py --whole-program, which sets VELMORA_SERVER_PORT";
  ASSERT_TRUE(scratch.AddDistPlugins(kSlaves));
  ASSERT_NO_FATAL_FAILURE(shell.Start(scratch));
  HWND dialog = OpenSetup(shell.app, shell.main);
  ASSERT_NE(dialog, nullptr);
  ASSERT_EQ(ChoiceTexts(GetDlgItem(dialog, IDC_PLUGIN_LIST)),
            (std::vector<std::wstring>{L"Modbus RTU Slave", L"Modbus ASCII Slave", L"Modbus TCP/IP Slave",
                                       L"Modbus RTU over TCP/IP Slave", L"Modbus UDP/IP Slave",
                                       L"Modbus RTU over UDP/IP Slave"}));
  HWND page = PickSettingsPage(dialog, 2, 1002, L"502");
  ASSERT_NE(page, nullptr) << "the TCP slave's page did not appear";
  // Loopback only: the page starts on every interface.
  PostMessageW(GetDlgItem(page, 1001), IPM_SETADDRESS, 0, MAKEIPADDRESS(127, 0, 0, 1));
  TypeOver(GetDlgItem(page, 1002), port);
  Click(GetDlgItem(dialog, IDOK));
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
  shell.Settle();
  EXPECT_EQ(shell.Text(IDC_PROTOCOL_LINE), L"Modbus TCP/IP (slave)");
  EXPECT_EQ(shell.Text(IDC_CONNECTION_LINE), L"127.0.0.1:" + port + L", any Unit ID");
}

void Connect(Shell& shell) {
  shell.Click(IDC_CONNECT_BUTTON);
  ASSERT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"Dis&connect");
}

HWND EditControl(HWND table) { return reinterpret_cast<HWND>(static_cast<intptr_t>(SendInt(table, LVM_GETEDITCONTROL))); }

// A double-click on a row's value opens the shell's editor there.
HWND OpenValueEditor(Shell& shell, HWND table, int row) {
  RECT cell = CellRect(table, row, 1);
  PostMessageW(table, WM_LBUTTONDBLCLK, MK_LBUTTON, Centre(cell));
  PostMessageW(table, WM_LBUTTONUP, 0, Centre(cell));
  shell.Settle();
  HWND edit = nullptr;
  WaitFor([&] { return (edit = EditControl(table)) != nullptr; });
  return edit;
}

void ClickRow(Shell& shell, HWND table, int row) {
  RECT cell = CellRect(table, row, 0);
  PostMessageW(table, WM_LBUTTONDOWN, MK_LBUTTON, Centre(cell));
  PostMessageW(table, WM_LBUTTONUP, 0, Centre(cell));
  shell.Settle();
}

// A key pressed with Alt: the program's message loop translates it into
// the WM_SYSCHAR that the dialog manager matches against the mnemonics.
void AltKey(Shell& shell, HWND window, wchar_t letter) {
  const LPARAM alt = 1 | (1 << 29);
  PostMessageW(window, WM_SYSKEYDOWN, static_cast<WPARAM>(towupper(letter)), alt);
  PostMessageW(window, WM_SYSKEYUP, static_cast<WPARAM>(towupper(letter)), alt | 0xC0000000);
  shell.Settle();
}

// Holds Ctrl (and Shift) down in the program's input state while a key is
// posted: the test's thread shares the input state of the program's
// user-interface thread, as a user's held modifier keys set it.
void KeyWithModifiers(HWND window, UINT key, bool shift, bool control = true) {
  const DWORD target = GetWindowThreadProcessId(window, nullptr);
  const DWORD self = GetCurrentThreadId();
  if (!AttachThreadInput(self, target, TRUE)) {
    ADD_FAILURE() << "AttachThreadInput failed";
    return;
  }
  BYTE state[256] = {};
  GetKeyboardState(state);
  BYTE held[256];
  memcpy(held, state, sizeof held);
  if (control) held[VK_CONTROL] = held[VK_LCONTROL] = 0x80;
  if (shift) held[VK_SHIFT] = held[VK_LSHIFT] = 0x80;
  SetKeyboardState(held);
  Key(window, key);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kDefaultTimeoutMs, &ignored);
  Sleep(200);  // the posted key is handled after the sent WM_NULL
  SetKeyboardState(state);
  AttachThreadInput(self, target, FALSE);
}

bool SamePixels(const Picture& a, const Picture& b) {
  return a.width == b.width && a.height == b.height && a.pixels == b.pixels;
}

TEST(ServerInShell, ClientWritesShowAndEditsServe) {
  if (!EnvText(L"VELMORA_SERVER_LOAD_SECONDS").empty()) GTEST_SKIP() << "the load run";
  Scratch scratch({});
  Shell shell;
  ASSERT_NO_FATAL_FAILURE(StartTcpSlave(scratch, shell));

  // Set up while disconnected (the view's list and fields are disabled
  // while serving): ten holding registers, all 0, and a second view onto
  // the discrete inputs.
  HWND table = shell.Item(IDC_TABLE);
  HWND tabs = shell.Item(IDC_TABS);
  EXPECT_EQ(ChoiceSelected(shell.Item(IDC_CHOICES)), 3);
  EXPECT_TRUE(Visible(shell.Item(IDC_CHOICES))) << "a slave has its areas to choose";
  TypeOver(shell.Item(IDC_FIELD_1), L"10");
  shell.Settle();
  EXPECT_EQ(ListRowCount(table), 10);
  EXPECT_EQ(CellText(table, 0, 0), L"400001");
  shell.Click(IDC_ADD_BUTTON);
  EXPECT_EQ(TabTitles(tabs), (std::vector<std::wstring>{L"View 1", L"View 2"}));
  PickChoice(shell.Item(IDC_CHOICES), 1);
  shell.Settle();
  EXPECT_EQ(CellText(table, 7, 0), L"100008");
  SelectTab(tabs, 0);
  shell.Settle();
  EXPECT_EQ(CellText(table, 2, 0), L"400003");
  ASSERT_NO_FATAL_FAILURE(Connect(shell));
  EXPECT_FALSE(Enabled(shell.Item(IDC_CHOICES)));

  // What the program itself painted stays put while nothing happens...
  const Picture painted = Capture(table);
  ASSERT_GT(painted.DistinctColours(), 1);
  Sleep(300);
  EXPECT_TRUE(SamePixels(Capture(table, false), painted)) << "the table changed by itself";
  // ...and changes when a client writes into the view, with no input here.
  ASSERT_TRUE(AskDriver("write hr 2 4660"));
  Picture written;
  EXPECT_TRUE(WaitFor([&] { return !SamePixels(written = Capture(table, false), painted); }))
      << "the client's write did not show";
  // The new pixels are the table's own painting of the new value.
  EXPECT_TRUE(SamePixels(Capture(table), written));
  EXPECT_EQ(CellText(table, 2, 1), L"4660");
  ASSERT_TRUE(AskDriver("write hr 5 777"));
  EXPECT_TRUE(WaitFor([&] { return !SamePixels(Capture(table, false), written); }));
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_RX_LINE).find(L"RX: 00 ") == 0; }));
  Sleep(300);  // the frame lines show a change at most every 100 ms
  EXPECT_TRUE(SavePng(Capture(shell.main), ArtefactPath(L"server_io_map.png")));

  // A discrete input typed in by double-click on its value, in the second
  // view, is what the client reads.
  SelectTab(tabs, 1);
  shell.Settle();
  EXPECT_EQ(CellText(table, 7, 0), L"100008");
  RECT cell = CellRect(table, 7, 1);
  PostMessageW(table, WM_LBUTTONDBLCLK, MK_LBUTTON, Centre(cell));
  PostMessageW(table, WM_LBUTTONUP, 0, Centre(cell));
  shell.Settle();
  HWND edit = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    return (edit = reinterpret_cast<HWND>(static_cast<intptr_t>(SendInt(table, LVM_GETEDITCONTROL)))) != nullptr;
  })) << "no editor on the value";
  PostMessageW(edit, EM_SETSEL, 0, -1);
  Type(edit, L"1");
  Key(edit, VK_RETURN);
  EXPECT_TRUE(WaitFor([&] { return SendInt(table, LVM_GETEDITCONTROL) == 0; }));
  shell.Settle();
  std::string answer;
  EXPECT_TRUE(AskDriver("read di 7 1", &answer)) << answer;
  EXPECT_TRUE(AskDriver("read di 6 0", &answer)) << answer;

  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"&Connect");
}

TEST(ServerInShell, EditsStayInTheirTabAndTheKeyboardServes) {
  if (!EnvText(L"VELMORA_SERVER_LOAD_SECONDS").empty()) GTEST_SKIP() << "the load run";
  Scratch scratch({});
  Shell shell;
  ASSERT_NO_FATAL_FAILURE(StartTcpSlave(scratch, shell));
  HWND table = shell.Item(IDC_TABLE);
  HWND tabs = shell.Item(IDC_TABS);
  // View 1 shows holding registers 0 to 19, View 2 holding registers 10 to 29.
  shell.Click(IDC_ADD_BUTTON);
  TypeOver(shell.Item(IDC_FIELD_0), L"10");
  shell.Settle();
  ASSERT_EQ(CellText(table, 0, 0), L"400011");
  SelectTab(tabs, 0);
  shell.Settle();
  ASSERT_EQ(CellText(table, 0, 0), L"400001");
  ASSERT_NO_FATAL_FAILURE(Connect(shell));
  std::string answer;

  // A value typed in View 1, then a right click on View 2 (which opens its
  // rename editor): the value belongs to View 1's holding register 0, not to
  // View 2's register 10. The same for a label.
  RECT secondTab = RemoteRect(tabs, TCM_GETITEMRECT, 1, RECT{});
  auto rightClickSecondTab = [&] {
    PostMessageW(tabs, WM_RBUTTONDOWN, MK_RBUTTON, Centre(secondTab));
    PostMessageW(tabs, WM_RBUTTONUP, 0, Centre(secondTab));
    shell.Settle();
    HWND rename = nullptr;
    EXPECT_TRUE(WaitFor([&] { return (rename = FindWindowExW(tabs, nullptr, L"Edit", nullptr)) != nullptr; }));
    Key(rename, VK_ESCAPE);
    shell.Settle();
    SelectTab(tabs, 0);
    shell.Settle();
  };
  HWND edit = OpenValueEditor(shell, table, 0);
  ASSERT_NE(edit, nullptr);
  PostMessageW(edit, EM_SETSEL, 0, -1);
  Type(edit, L"1234");
  rightClickSecondTab();
  EXPECT_TRUE(AskDriver("read hr 0 1234", &answer)) << answer;
  EXPECT_TRUE(AskDriver("read hr 10 0", &answer)) << answer;
  PostMessageW(table, LVM_EDITLABELW, 2, 0);
  shell.Settle();
  ASSERT_TRUE(WaitFor([&] { return (edit = EditControl(table)) != nullptr; }));
  PostMessageW(edit, EM_SETSEL, 0, -1);
  Type(edit, L"Tank");
  rightClickSecondTab();
  EXPECT_EQ(CellText(table, 2, 0), L"Tank");
  SelectTab(tabs, 1);
  shell.Settle();
  EXPECT_EQ(CellText(table, 2, 0), L"400013");
  SelectTab(tabs, 0);
  shell.Settle();

  // 10 typed in signed decimal, then a click on the value column's title
  // (on to hexadecimal) while the editor is open: stored as 10, not 0x10.
  HWND header = reinterpret_cast<HWND>(static_cast<intptr_t>(SendInt(table, LVM_GETHEADER)));
  RECT title = RemoteRect(header, HDM_GETITEMRECT, 1, RECT{});
  auto clickTitle = [&] {
    PostMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, Centre(title));
    PostMessageW(header, WM_LBUTTONUP, 0, Centre(title));
    shell.Settle();
  };
  clickTitle();
  ASSERT_TRUE(WaitFor([&] { return CellText(table, 0, 1) == L"1234"; }));
  ASSERT_NE(edit = OpenValueEditor(shell, table, 1), nullptr);
  PostMessageW(edit, EM_SETSEL, 0, -1);
  Type(edit, L"10");
  clickTitle();
  EXPECT_TRUE(WaitFor([&] { return EditControl(table) == nullptr; }));
  EXPECT_TRUE(AskDriver("read hr 1 10", &answer)) << answer;
  for (int i = 0; i < 3; ++i) clickTitle();  // back to decimal

  // The keyboard alone. Enter and F2 open the value editor of the selected
  // row, Shift+F2 its label editor; what is typed reaches the client.
  struct KeyEdit {
    UINT key;
    int row;
    const wchar_t* typed;
    const char* read;  // the client's check, none for a label
  };
  const KeyEdit kKeyEdits[] = {
      {VK_RETURN, 3, L"4321", "read hr 3 4321"}, {VK_F2, 4, L"55", "read hr 4 55"}, {VK_F2, 5, L"Valve", nullptr}};
  for (const KeyEdit& step : kKeyEdits) {
    ClickRow(shell, table, step.row);
    if (step.read) {
      Key(table, step.key);
    } else {
      KeyWithModifiers(table, step.key, true, false);  // Shift+F2: the label
    }
    if (!WaitFor([&] { return (edit = EditControl(table)) != nullptr; })) {
      ADD_FAILURE() << "key " << step.key << " opened no editor";
      continue;
    }
    PostMessageW(edit, EM_SETSEL, 0, -1);
    Type(edit, step.typed);
    Key(edit, VK_RETURN);
    EXPECT_TRUE(WaitFor([&] { return EditControl(table) == nullptr; }));
    if (step.read) {
      EXPECT_TRUE(AskDriver(step.read, &answer)) << answer;
    } else {
      EXPECT_TRUE(WaitFor([&] { return CellText(table, step.row, 0) == step.typed; }));
    }
  }

  // Ctrl+Tab and Ctrl+Shift+Tab switch tabs; F2 on the strip renames.
  KeyWithModifiers(table, VK_TAB, false);
  EXPECT_TRUE(WaitFor([&] { return TabSelected(tabs) == 1; }));
  EXPECT_EQ(CellText(table, 0, 0), L"400011");
  KeyWithModifiers(table, VK_TAB, true);
  EXPECT_TRUE(WaitFor([&] { return TabSelected(tabs) == 0; }));
  Key(tabs, VK_F2);
  HWND rename = nullptr;
  if (WaitFor([&] { return (rename = FindWindowExW(tabs, nullptr, L"Edit", nullptr)) != nullptr; })) {
    Type(rename, L"Pumps");
    Key(rename, VK_RETURN);
    EXPECT_TRUE(WaitFor([&] { return TabTitle(tabs, 0) == L"Pumps"; }));
  } else {
    ADD_FAILURE() << "F2 on the tabs opened no rename editor";
  }

  // Alt+C disconnects ("Dis&connect"); Enter in an entry field applies it at once.
  AltKey(shell, table, L'c');
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_CONNECT_BUTTON) == L"&Connect"; })) << "Alt+C did not disconnect";
  HWND start = shell.Item(IDC_FIELD_0);
  PostMessageW(start, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  PostMessageW(start, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  PostMessageW(start, EM_SETSEL, 0, -1);
  Type(start, L"3");
  Key(start, VK_RETURN);
  shell.Settle();
  EXPECT_EQ(CellText(table, 0, 0), L"400004");
  EXPECT_EQ(CellText(table, 0, 1), L"4321");
  AltKey(shell, start, L'c');
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_CONNECT_BUTTON) == L"Dis&connect"; })) << "Alt+C did not connect";
  EXPECT_TRUE(AskDriver("read hr 4 55", &answer)) << answer;
  EXPECT_TRUE(SavePng(Capture(shell.main), ArtefactPath(L"server_keyboard.png")));
  AltKey(shell, table, L'c');
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_CONNECT_BUTTON) == L"&Connect"; }));
}

std::wstring ColumnTitle(HWND list, int column) {
  LVCOLUMNW item{};
  item.mask = LVCF_TEXT;
  return RemoteItemText(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column), item, true);
}

// The program's open popup menu (class #32768), or null.
HWND OpenMenu(DWORD pid) {
  struct Search {
    DWORD pid;
    HWND found;
  } search{pid, nullptr};
  EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        Search& s = *reinterpret_cast<Search*>(parameter);
        DWORD owner = 0;
        wchar_t name[16] = {};
        GetWindowThreadProcessId(window, &owner);
        GetClassNameW(window, name, 16);
        if (owner != s.pid || !IsWindowVisible(window) || wcscmp(name, L"#32768") != 0) return TRUE;
        s.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The value menu reached by the keyboard (the menu key on the focused
// table, then arrows and Enter) and by the mouse (a right-click on the
// column header, then Up and Enter: the last item); a float typed into the
// value's first row is what pymodbus's payload decoder reads. Keeps
// build/win/artifacts/value_type_float_view.png.
TEST(ServerInShell, ValueTypeMenuByKeyboardAndMouse) {
  Scratch scratch({});
  Shell shell;
  ASSERT_NO_FATAL_FAILURE(StartTcpSlave(scratch, shell));
  HWND table = shell.Item(IDC_TABLE);
  const DWORD pid = GetProcessId(shell.app.Process());
  TypeOver(shell.Item(IDC_FIELD_1), L"5");
  shell.Settle();
  EXPECT_EQ(ColumnTitle(table, 1), L"Value (dec)");

  // Keyboard: a click on the table gives it the focus; the menu key opens
  // the menu; the fourth item is "32-bit float".
  RECT first = CellRect(table, 0, 0);
  PostMessageW(table, WM_LBUTTONDOWN, MK_LBUTTON, Centre(first));
  PostMessageW(table, WM_LBUTTONUP, 0, Centre(first));
  shell.Settle();
  Key(table, VK_APPS);
  HWND menu = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (menu = OpenMenu(pid)) != nullptr; })) << "the menu key opened no menu";
  for (int i = 0; i < 4; ++i) Key(menu, VK_DOWN);
  Key(menu, VK_RETURN);
  ASSERT_TRUE(WaitFor([&] { return OpenMenu(pid) == nullptr; }));
  shell.Settle();
  EXPECT_EQ(ColumnTitle(table, 1), L"Value (float32 ABCD)");

  // Mouse: a right-click on the header; the last item is "DCBA (both swapped)".
  HWND header = reinterpret_cast<HWND>(static_cast<intptr_t>(SendInt(table, LVM_GETHEADER)));
  ASSERT_NE(header, nullptr);
  RECT headerRect = {};
  GetClientRect(header, &headerRect);
  POINT at = {headerRect.right / 3, headerRect.bottom / 2};
  POINT onScreen = at;
  ClientToScreen(header, &onScreen);
  SetCursorPos(onScreen.x, onScreen.y);
  PostMessageW(header, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, at.y));
  PostMessageW(header, WM_RBUTTONUP, 0, MAKELPARAM(at.x, at.y));
  ASSERT_TRUE(WaitFor([&] { return (menu = OpenMenu(pid)) != nullptr; })) << "a right-click on the header opened no menu";
  // Posted clicks do not reach Wine's menu loop, which takes a click's
  // position from the real pointer: the item is chosen by key (Up from no
  // selection wraps to the last item).
  Key(menu, VK_UP);
  Key(menu, VK_RETURN);
  ASSERT_TRUE(WaitFor([&] { return OpenMenu(pid) == nullptr; }));
  shell.Settle();
  EXPECT_EQ(ColumnTitle(table, 1), L"Value (float32 DCBA)");

  // The value typed by double-click on its first row.
  RECT cell = CellRect(table, 0, 1);
  PostMessageW(table, WM_LBUTTONDBLCLK, MK_LBUTTON, Centre(cell));
  PostMessageW(table, WM_LBUTTONUP, 0, Centre(cell));
  shell.Settle();
  HWND edit = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    return (edit = reinterpret_cast<HWND>(static_cast<intptr_t>(SendInt(table, LVM_GETEDITCONTROL)))) != nullptr;
  })) << "no editor on the value";
  PostMessageW(edit, EM_SETSEL, 0, -1);
  Type(edit, L"-1.5e-3");
  Key(edit, VK_RETURN);
  EXPECT_TRUE(WaitFor([&] { return SendInt(table, LVM_GETEDITCONTROL) == 0; }));
  shell.Settle();
  EXPECT_EQ(CellText(table, 0, 1), L"-0.0015");
  EXPECT_EQ(CellText(table, 1, 1), L"\u2191 400001");
  EXPECT_EQ(CellText(table, 1, 0), L"400002");
  EXPECT_EQ(CellText(table, 4, 1), L"0");
  EXPECT_TRUE(SavePng(Capture(shell.main), ArtefactPath(L"value_type_float_view.png")));

  ASSERT_NO_FATAL_FAILURE(Connect(shell));
  std::string answer;
  EXPECT_TRUE(AskDriver("decode hr 0 float32 DCBA -1.5e-3", &answer)) << answer;
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"&Connect");
  EXPECT_EQ(ColumnTitle(table, 1), L"Value (float32 DCBA)") << "the choice survives Connect and Disconnect";
}

TEST(ServerInShell, LoadFigures) {
  const std::wstring seconds = EnvText(L"VELMORA_SERVER_LOAD_SECONDS");
  if (seconds.empty()) GTEST_SKIP() << "a benchmark: run with --mode load";
  Scratch scratch({});
  Shell shell;
  ASSERT_NO_FATAL_FAILURE(StartTcpSlave(scratch, shell));
  ASSERT_NO_FATAL_FAILURE(Connect(shell));
  const Memory before = MemoryOf(shell.app.Process());

  RoundTrips idle(shell.main, 20);
  Sleep(2000);
  idle.Print("idle");
  RoundTrips loaded(shell.main, 20);
  std::string answer;
  const bool ok = AskDriver("load-plugin " + std::string(seconds.begin(), seconds.end()), &answer);
  loaded.Print("under load");
  EXPECT_TRUE(ok) << answer;
  const Memory end = MemoryOf(shell.app.Process());
  shell.Settle();  // every frame copy posted meanwhile has been handled
  const Memory settled = MemoryOf(shell.app.Process());
  printf("FIGURE velmora.exe commit charge (working set) in KiB: %zu (%zu) connected, %zu (%zu) after the load, "
         "%zu (%zu) once its posted messages were handled\n",
         before.committed, before.workingSet, end.committed, end.workingSet, settled.committed, settled.workingSet);
  fflush(stdout);

  // Thousands of frames came faster than the lines change: once they stop,
  // the lines show the last request (RX) and its answer (TX), whose
  // transaction ID only the last request carries.
  std::wstring tx, rx;
  auto lastExchange = [&] {
    tx = shell.Text(IDC_TX_LINE);
    rx = shell.Text(IDC_RX_LINE);
    return rx.size() > 21 && tx.size() > 21 && rx.compare(0, 21, L"RX: " + tx.substr(4, 5) + L" 00 00 00 06") == 0 &&
           tx.compare(9, 12, L" 00 00 00 FD") == 0;
  };
  // A pair of an earlier exchange may show for a moment: the lines' latest
  // comes within a throttle period and a pace tick.
  WaitFor(lastExchange, 10000);
  Sleep(500);
  ASSERT_TRUE(lastExchange()) << "TX " << std::string(tx.begin(), tx.begin() + std::min<size_t>(tx.size(), 40))
                              << " RX " << std::string(rx.begin(), rx.end());
  const std::string id(rx.begin() + 4, rx.begin() + 9);
  EXPECT_TRUE(AskDriver("last-request " + id, &answer)) << answer;

  // The slave and engine_host.exe's server in turns, for comparison.
  EXPECT_TRUE(AskDriver("load-turns " + std::string(seconds.begin(), seconds.end()), &answer)) << answer;
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"&Connect");
}

}  // namespace
