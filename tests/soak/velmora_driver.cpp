// Drives running velmora.exe programs for the long runs (tools/soak,
// tools/monkey, the Connect/Disconnect cycles and the hostile peers): a
// Windows program under the same Wine prefix that reads commands on its
// standard input, one a line, and answers each with one line starting with
// "ok" or "fail". soak.py writes the commands and runs the peers.
//
//   start                       velmora.exe with every plug-in of the
//                               distribution, in a scratch folder: "ok ID PID"
//   ports COMn...               names the COM ports the serial pages offer
//   setup ID NAME [k=v]...      the connection setup: the plug-in whose entry
//                               is NAME (spaces as '_'), its page given
//                               port=, field=, extra= (the address is always
//                               127.0.0.1); "ok PROTOCOL LINE|CONNECTION LINE"
//   connect ID / disconnect ID  the Connect button: "ok BUTTON TEXT [boxes=N]"
//   cycle ID N                  N times Connect and Disconnect
//   figures ID                  commit charge (KiB), handles, GDI and USER
//                               objects, windows, the UI thread's WM_NULL
//                               round trip (ms)
//   poll ID TAB FN UNIT ADDRESS QUANTITY PERIOD   a master's poll on tab TAB
//                               (added when missing), function entry FN
//   tab ID N, edit ID ROW TEXT, cell ID ROW COL, text ID CONTROL
//   monkey ID STEPS SEED PORT [COM]  seeded random input; "ok steps=..." or
//                               "fail ..." with the steps to replay
//   quit ID                     closes the window; the exit code
//
// A message box other than the connection error and the plug-in
// diagnostics fails the command that met it.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "shell/resources/resource_ids.h"
#include "settings/settings_resource_ids.h"
#include "support/plugin_library.h"
#include "support/setup_driver.h"
#include "support/ui_automation.h"

namespace {

using namespace uiauto;

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += (c >= 32 && c < 127) ? static_cast<char>(c) : (c == 0x2014 ? '-' : '?');
  return out;
}
std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A running velmora.exe in its own scratch folder.
struct Program {
  App app;
  HWND main = nullptr;
  std::wstring folder;
  int boxes = 0;  // message boxes of the expected kinds (connection error, diagnostics), dismissed
  HWND Item(int id) const { return GetDlgItem(main, id); }
  bool Settle() const { return uiauto::Settle(Item(IDC_DOCUMENT), 10000); }
};

std::vector<std::unique_ptr<Program>> programs;

Program* Find(int id) { return id >= 0 && id < static_cast<int>(programs.size()) ? programs[id].get() : nullptr; }

bool StartProgram(Program& p) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  p.folder = std::wstring(temp) + L"velmora_soak_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
             std::to_wstring(GetTickCount64()) + L"_" + std::to_wstring(programs.size()) + L"\\";
  CreateDirectoryW(p.folder.c_str(), nullptr);
  CreateDirectoryW((p.folder + L"plugins").c_str(), nullptr);
  const std::wstring dist = ExeFolder() + L"..\\dist\\";
  if (!CopyFileW((dist + L"velmora.exe").c_str(), (p.folder + L"velmora.exe").c_str(), FALSE)) return false;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((dist + L"plugins\\*.dll").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    CopyFileW((dist + L"plugins\\" + entry.cFileName).c_str(), (p.folder + L"plugins\\" + entry.cFileName).c_str(),
              FALSE);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  if (!p.app.Start(p.folder + L"velmora.exe", p.folder)) return false;
  p.main = p.app.MainWindow(L"Velmora Tools");
  return p.main != nullptr;
}

// --- figures -------------------------------------------------------------------

double NullRoundTripMs(HWND window) {
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&before);
  DWORD_PTR ignored = 0;
  if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, 2000, &ignored)) return -1;
  QueryPerformanceCounter(&after);
  return static_cast<double>(after.QuadPart - before.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

int WindowsOf(DWORD pid) {
  struct Count {
    DWORD pid;
    int n;
  } count{pid, 0};
  EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        Count& c = *reinterpret_cast<Count*>(parameter);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != c.pid) return TRUE;
        ++c.n;
        EnumChildWindows(
            window, [](HWND, LPARAM inner) -> BOOL { return ++*reinterpret_cast<int*>(inner), TRUE; },
            reinterpret_cast<LPARAM>(&c.n));
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count.n;
}

// The handles a process holds. Wine answers GetProcessHandleCount with 0,
// for this process too; its system handle list names every handle's
// process.
DWORD HandlesOf(HANDLE process) {
  DWORD count = 0;
  if (GetProcessHandleCount(process, &count) && count) return count;
  using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  const Query query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return 0;
  struct Entry {
    ULONG pid;
    UCHAR type, flags;
    USHORT handle;
    void* object;
    ACCESS_MASK access;
  };
  constexpr ULONG kSystemHandleInformation = 16;
  std::vector<char> buffer(1 << 20);
  ULONG length = 0;
  while (query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &length) != 0) {
    if (buffer.size() >= (1u << 26)) return 0;
    buffer.resize(buffer.size() * 2);
  }
  const ULONG entries = *reinterpret_cast<const ULONG*>(buffer.data());
  const Entry* entry = reinterpret_cast<const Entry*>(buffer.data() + sizeof(void*));
  const DWORD pid = GetProcessId(process);
  for (ULONG i = 0; i < entries; ++i) count += entry[i].pid == pid;
  return count;
}

// Commit charge: PrivateUsage, which Wine leaves at 0, else PagefileUsage.
// Wine answers GetGuiResources with 0 as well: the count of the process's
// windows stands beside it for the USER objects there.
std::string Figures(Program& p) {
  HANDLE process = p.app.Process();
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
  SIZE_T commit = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
  const DWORD handles = HandlesOf(process);
  char line[256];
  snprintf(line, sizeof line, "commit=%llu handles=%lu gdi=%lu user=%lu windows=%d null_ms=%.2f",
           static_cast<unsigned long long>(commit / 1024), handles, GetGuiResources(process, GR_GDIOBJECTS),
           GetGuiResources(process, GR_USEROBJECTS), WindowsOf(p.app.ProcessId()), NullRoundTripMs(p.main));
  return line;
}

// --- message boxes -------------------------------------------------------------

// Dismisses the message boxes that may appear (a connection error, the
// plug-in diagnostics), counting them; an unknown one is dismissed too and
// named in *unknown. Other dialogs (the connection setup) are left alone.
void SweepBoxes(Program& p, std::string* unknown) {
  for (int round = 0; round < 20; ++round) {
    HWND box = p.app.FindTopLevel(L"", p.main);
    if (!box) return;
    wchar_t caption[256] = {};
    GetWindowTextW(box, caption, 256);
    const std::wstring shown(caption);
    if (shown == L"Connection Setup") return;
    HWND text = GetDlgItem(box, 0xFFFF);
    if (shown == L"Connection Error" || shown == L"Plugin diagnostics") {
      ++p.boxes;
    } else if (unknown) {
      *unknown += "[" + Narrow(shown) + ": " + Narrow(text ? Text(text) : L"") + "]";
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
  }
}

// --- the connection setup --------------------------------------------------------

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// Fills the page of the chosen plug-in: a network page gets 127.0.0.1 and
// the port, a serial page the COM port named by port.
bool FillPage(HWND marker, HWND dialog, int index, const std::string& port, const std::string& field, const std::string& extra) {
  HWND list = GetDlgItem(dialog, IDC_PLUGIN_LIST);
  HWND before = ChoiceSelected(list) == index ? nullptr : SettingsPage(dialog);
  PickChoice(list, index);
  HWND page = nullptr;
  if (!WaitFor(
          [&] {
            return (page = SettingsPage(dialog)) != nullptr && page != before && GetDlgItem(page, 1001) != nullptr;
          },
          5000)) {
    fprintf(stderr, "page %p before %p id1001 %p sel %d\n", static_cast<void*>(page), static_cast<void*>(before),
            static_cast<void*>(page ? GetDlgItem(page, 1001) : nullptr), ChoiceSelected(list));
    return false;
  }
  Settle(marker, 5000);
  HWND first = GetDlgItem(page, 1001);
  if (ClassOf(first) == L"SysIPAddress32") {
    SendMessageW(first, IPM_SETADDRESS, 0, MAKEIPADDRESS(127, 0, 0, 1));
    if (!port.empty()) TypeOver(GetDlgItem(page, IDC_NET_PORT), Wide(port));
    if (!field.empty()) TypeOver(GetDlgItem(page, IDC_NET_FIELD), Wide(field));
    if (!extra.empty()) TypeOver(GetDlgItem(page, IDC_NET_EXTRA), Wide(extra));
  } else {
    if (!port.empty()) {
      std::vector<std::wstring> names = ChoiceTexts(first);
      int entry = -1;
      for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == Wide(port)) entry = static_cast<int>(i);
      }
      if (entry < 0) return false;
      PickChoice(first, entry);
    }
    if (!field.empty()) TypeOver(GetDlgItem(page, IDC_SERIAL_FIELD), Wide(field));
  }
  return Settle(marker, 5000);
}

std::string Setup(Program& p, const std::string& name, const std::string& port, const std::string& field,
                  const std::string& extra) {
  int boxes = 0;
  HWND dialog = OpenSetup(p.app, p.main, nullptr, &boxes);
  p.boxes += boxes;
  if (!dialog) return "fail the connection setup did not open";
  HWND list = GetDlgItem(dialog, IDC_PLUGIN_LIST);
  std::vector<std::wstring> names = ChoiceTexts(list);
  int index = -1;
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == Wide(name)) index = static_cast<int>(i);
  }
  if (index < 0) {
    Click(GetDlgItem(dialog, IDCANCEL));
    return "fail no plug-in " + name;
  }
  if (!FillPage(p.Item(IDC_DOCUMENT), dialog, index, port, field, extra)) {
    Click(GetDlgItem(dialog, IDCANCEL));
    return "fail the page of " + name + " did not take " + port;
  }
  Click(GetDlgItem(dialog, IDOK));
  if (!WaitFor([&] { return !IsWindow(dialog); }, 10000)) return "fail the setup stayed open";
  p.Settle();
  return "ok " + Narrow(Text(p.Item(IDC_PROTOCOL_LINE))) + "|" + Narrow(Text(p.Item(IDC_CONNECTION_LINE)));
}

// Clicks Connect (or Disconnect) and waits until it has been handled; a
// connection error box is dismissed and counted.
std::string Press(Program& p) {
  Click(p.Item(IDC_CONNECT_BUTTON));
  if (!p.Settle()) {
    std::string unknown;
    SweepBoxes(p, &unknown);
    if (!unknown.empty()) return "fail box " + unknown;
    if (!p.Settle()) return "fail no answer after the click";
  }
  std::string unknown;
  SweepBoxes(p, &unknown);
  if (!unknown.empty()) return "fail box " + unknown;
  return "ok " + Narrow(Text(p.Item(IDC_CONNECT_BUTTON)));
}

bool Connected(Program& p) { return Text(p.Item(IDC_CONNECT_BUTTON)) == L"Dis&connect"; }

std::string Cycle(Program& p, int count) {
  const int boxesBefore = p.boxes;
  int connected = 0;
  for (int i = 0; i < count; ++i) {
    if (!Connected(p)) {
      std::string r = Press(p);
      if (r.rfind("ok", 0) != 0) return r + " at cycle " + std::to_string(i);
      connected += Connected(p);
    }
    if (Connected(p)) {
      std::string r = Press(p);
      if (r.rfind("ok", 0) != 0) return r + " at cycle " + std::to_string(i);
      if (Connected(p)) return "fail Disconnect left it connected at cycle " + std::to_string(i);
    }
  }
  return "ok cycles=" + std::to_string(count) + " connected=" + std::to_string(connected) +
         " boxes=" + std::to_string(p.boxes - boxesBefore);
}

// --- a master's polls and the table ------------------------------------------------

std::string Poll(Program& p, int tab, int function, const std::string& unit, const std::string& address,
                 const std::string& quantity, const std::string& period) {
  HWND tabs = p.Item(IDC_TABS);
  while (TabCount(tabs) <= tab) {
    Click(p.Item(IDC_ADD_BUTTON));
    if (!p.Settle()) return "fail no answer";
  }
  SelectTab(tabs, tab);
  p.Settle();
  PickChoice(p.Item(IDC_CHOICES), function);
  p.Settle();
  const std::string fields[4] = {unit, address, quantity, period};
  for (int i = 0; i < 4; ++i) {
    if (fields[i] != "-") TypeOver(p.Item(IDC_FIELD_0 + i), Wide(fields[i]));
  }
  p.Settle();
  return "ok rows=" + std::to_string(ListRowCount(p.Item(IDC_TABLE)));
}

HWND EditControl(HWND table) {
  return reinterpret_cast<HWND>(static_cast<intptr_t>(SendInt(table, LVM_GETEDITCONTROL)));
}

// The value cell of row: selected by a click, opened with Enter, typed over
// and closed with Enter (Escape when the editor refuses the text).
std::string Edit(Program& p, int row, const std::wstring& text, DWORD waitMs = 3000) {
  HWND table = p.Item(IDC_TABLE);
  const RECT cell = CellRect(table, row, 0);
  PostMessageW(table, WM_LBUTTONDOWN, MK_LBUTTON, Centre(cell));
  PostMessageW(table, WM_LBUTTONUP, 0, Centre(cell));
  p.Settle();
  Key(table, VK_RETURN);
  HWND edit = nullptr;
  // No editor opens on a row that is not editable (a read poll's value
  // while connected, an alias-less row of a write poll): waitMs bounds it.
  if (!WaitFor([&] { return (edit = EditControl(table)) != nullptr; }, waitMs)) return "fail no editor";
  PostMessageW(edit, EM_SETSEL, 0, -1);
  Type(edit, text);
  Key(edit, VK_RETURN);
  if (!WaitFor([&] { return EditControl(table) == nullptr; }, 3000)) {
    Key(edit, VK_ESCAPE);
    WaitFor([&] { return EditControl(table) == nullptr; }, 3000);
    return "ok refused";
  }
  p.Settle();
  return "ok";
}

// --- random input -------------------------------------------------------------------

// A small generator of our own, so that a seed replays the same steps on
// every machine.
struct Random {
  uint64_t state;
  explicit Random(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<uint32_t>(state >> 11);
  }
  int Below(int n) { return n > 0 ? static_cast<int>(Next() % static_cast<uint32_t>(n)) : 0; }
};

std::wstring RandomText(Random& r) {
  static const wchar_t kUnits[] = L"0123456789-+.eExXabcdefABCDEF ,;_#\u00e9\u2191";
  const int length = r.Below(12);
  std::wstring text;
  for (int i = 0; i < length; ++i) text += kUnits[r.Below(static_cast<int>(wcslen(kUnits)))];
  if (r.Below(4) == 0) text = std::to_wstring(r.Below(70000) - 2000);
  return text;
}

struct MonkeyContext {
  Program* p;
  Random random;
  std::string port;  // the peer's loopback port
  std::string com;   // the COM port of the serial pages
  std::vector<std::wstring> plugins;
};

// One step; its text goes to the replay list.
std::string MonkeyStep(MonkeyContext& m) {
  Program& p = *m.p;
  Random& r = m.random;
  HWND table = p.Item(IDC_TABLE);
  HWND tabs = p.Item(IDC_TABS);
  switch (r.Below(14)) {
    case 0: {
      Click(p.Item(IDC_CONNECT_BUTTON));
      return "connect button";
    }
    case 1: {
      int n = TabCount(tabs), index = r.Below(n);
      SelectTab(tabs, index);
      return "tab " + std::to_string(index);
    }
    case 2: {
      if (Enabled(p.Item(IDC_ADD_BUTTON)) && TabCount(tabs) < 6) Click(p.Item(IDC_ADD_BUTTON));
      return "add";
    }
    case 3: {
      Click(p.Item(IDC_REMOVE_BUTTON));
      return "remove";
    }
    case 4: {
      Key(tabs, VK_F2);
      HWND rename = nullptr;
      std::wstring text = RandomText(r);
      const bool accept = r.Below(3) != 0;
      if (WaitFor([&] { return (rename = FindWindowExW(tabs, nullptr, L"Edit", nullptr)) != nullptr; }, 400)) {
        PostMessageW(rename, EM_SETSEL, 0, -1);
        Type(rename, text);
        Key(rename, accept ? VK_RETURN : VK_ESCAPE);
      }
      return "rename " + Narrow(text) + (accept ? " enter" : " escape");
    }
    case 5:
    case 6: {
      const int rows = ListRowCount(table);
      if (rows <= 0) return "edit none";
      const int row = r.Below(rows < 20 ? rows : 20);
      std::wstring text = RandomText(r);
      if (r.Below(2)) text = std::to_wstring(r.Below(65536));
      std::string result = Edit(p, row, text, 400);
      return "edit row " + std::to_string(row) + " " + Narrow(text) + " " + result;
    }
    case 7: {
      HWND choices = p.Item(IDC_CHOICES);
      int n = ChoiceCount(choices), index = r.Below(n);
      if (n > 0) PickChoice(choices, index);
      return "choice " + std::to_string(index);
    }
    case 8: {
      const int field = r.Below(4);
      std::wstring text = r.Below(3) ? std::to_wstring(r.Below(300)) : RandomText(r);
      // A master's period field: never below 5 ms, so a poll at 1 ms does
      // not starve the machine the other tests share.
      if (field == 3 && (text.empty() || _wtoi(text.c_str()) < 5)) text = L"50";
      HWND edit = p.Item(IDC_FIELD_0 + field);
      if (IsWindowVisible(edit)) TypeOver(edit, text);
      return "field " + std::to_string(field) + " " + Narrow(text);
    }
    case 9: {
      const bool apply = r.Below(3) == 0;
      const int index = r.Below(static_cast<int>(m.plugins.size()));
      int boxes = 0;
      HWND dialog = OpenSetup(p.app, p.main, nullptr, &boxes);
      p.boxes += boxes;
      if (!dialog) return "setup did not open";
      if (apply) {
        FillPage(p.Item(IDC_DOCUMENT), dialog, index, IsWindow(dialog) ? (Narrow(m.plugins[index]).find("RTU Ma") != std::string::npos ||
                                                     Narrow(m.plugins[index]).find("RTU Sl") != std::string::npos ||
                                                     Narrow(m.plugins[index]).find("ASCII") != std::string::npos
                                                 ? m.com
                                                 : m.port)
                                            : "",
                 "", "");
        Click(GetDlgItem(dialog, IDOK));
      } else {
        Click(GetDlgItem(dialog, IDCANCEL));
      }
      WaitFor([&] { return !IsWindow(dialog); }, 10000);
      return apply ? "setup apply " + Narrow(m.plugins[index]) : "setup cancel";
    }
    case 10: {
      RECT rect = {};
      GetWindowRect(p.main, &rect);
      const int width = 300 + r.Below(900), height = 250 + r.Below(700);
      SetWindowPos(p.main, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      return "resize " + std::to_string(width) + "x" + std::to_string(height);
    }
    case 11: {
      static const UINT kKeys[] = {VK_UP, VK_DOWN, VK_PRIOR, VK_NEXT, VK_HOME, VK_END, VK_TAB, VK_SPACE,
                                   VK_DELETE, VK_ESCAPE, VK_F2, VK_RETURN, VK_LEFT, VK_RIGHT};
      static const int kTargets[] = {IDC_TABLE, IDC_TABS, IDC_CHOICES, IDC_FIELD_0, IDC_FIELD_1};
      const UINT key = kKeys[r.Below(sizeof kKeys / sizeof kKeys[0])];
      const int target = kTargets[r.Below(sizeof kTargets / sizeof kTargets[0])];
      Key(p.Item(target), key);
      // An editor the key opened is closed again.
      HWND edit = EditControl(table);
      if (edit) Key(edit, VK_ESCAPE);
      return "key " + std::to_string(key) + " on " + std::to_string(target);
    }
    case 12: {
      // A click somewhere on the table, a double click now and then.
      RECT client = {};
      GetClientRect(table, &client);
      const LPARAM at = MAKELPARAM(r.Below(client.right + 1), r.Below(client.bottom + 1));
      const bool twice = r.Below(3) == 0;
      PostMessageW(table, twice ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN, MK_LBUTTON, at);
      PostMessageW(table, WM_LBUTTONUP, 0, at);
      p.Settle();
      HWND edit = EditControl(table);
      if (edit) {
        std::wstring text = RandomText(r);
        PostMessageW(edit, EM_SETSEL, 0, -1);
        Type(edit, text);
        Key(edit, VK_RETURN);
        if (!WaitFor([&] { return EditControl(table) == nullptr; }, 2000)) Key(edit, VK_ESCAPE);
      }
      return std::string(twice ? "double click " : "click ") + std::to_string(LOWORD(at)) + "," +
             std::to_string(HIWORD(at));
    }
    default: {
      // The other controls a user can click: the static lines and the setup
      // button's neighbours take the click without a dialog.
      static const int kStatics[] = {IDC_PROTOCOL_LINE, IDC_CONNECTION_LINE, IDC_TX_LINE, IDC_RX_LINE, IDC_TIP_LINE};
      const int id = kStatics[r.Below(sizeof kStatics / sizeof kStatics[0])];
      ClickStatic(p.Item(id));
      return "click static " + std::to_string(id);
    }
  }
}

std::string Monkey(Program& p, int steps, uint64_t seed, const std::string& port, const std::string& com) {
  MonkeyContext m{&p, Random(seed), port, com, {}};
  {
    int boxes = 0;
    HWND dialog = OpenSetup(p.app, p.main, nullptr, &boxes);
    p.boxes += boxes;
    if (!dialog) return "fail the setup did not open";
    m.plugins = ChoiceTexts(GetDlgItem(dialog, IDC_PLUGIN_LIST));
    Click(GetDlgItem(dialog, IDCANCEL));
    WaitFor([&] { return !IsWindow(dialog); }, 10000);
  }
  std::vector<std::string> done;
  const int boxesBefore = p.boxes;
  for (int i = 0; i < steps; ++i) {
    done.push_back(MonkeyStep(m));
    std::string failure;
    // A box the step opened is shown once the input is handled; a setup
    // dialog a step left open is cancelled.
    if (!p.Settle()) {
      SweepBoxes(p, &failure);
      if (!p.Settle()) failure += "[no answer to the posted input]";
    }
    SweepBoxes(p, &failure);
    HWND left = p.app.FindTopLevel(L"Connection Setup", p.main);
    if (left) Click(GetDlgItem(left, IDCANCEL));
    if (WaitForSingleObject(p.app.Process(), 0) == WAIT_OBJECT_0) failure += "[the program ended]";
    if (failure.empty() && NullRoundTripMs(p.main) < 0) failure = "[WM_NULL not answered within 2 s]";
    if (!failure.empty()) {
      std::string list;
      for (size_t k = 0; k < done.size(); ++k) list += "\n  step " + std::to_string(k) + ": " + done[k];
      return "fail seed " + std::to_string(seed) + " step " + std::to_string(i) + " " + failure + "; steps:" + list +
             "\n  end of steps";
    }
  }
  // The window at the end agrees with itself: the button names a state,
  // the tabs and the table answer.
  const std::wstring button = Text(p.Item(IDC_CONNECT_BUTTON));
  if (button != L"&Connect" && button != L"Dis&connect") return "fail the button reads " + Narrow(button);
  if (TabCount(p.Item(IDC_TABS)) < 1) return "fail no tab left";
  if (static_cast<int>(TabTitles(p.Item(IDC_TABS)).size()) != TabCount(p.Item(IDC_TABS))) return "fail tab titles";
  return "ok steps=" + std::to_string(steps) + " seed=" + std::to_string(seed) +
         " boxes=" + std::to_string(p.boxes - boxesBefore) + " " + Narrow(Text(p.Item(IDC_PROTOCOL_LINE)));
}

std::string Run(const std::string& line) {
  std::istringstream in(line);
  std::string command;
  in >> command;
  if (command == "start") {
    programs.push_back(std::make_unique<Program>());
    Program& p = *programs.back();
    if (!StartProgram(p)) return "fail velmora.exe did not start";
    return "ok " + std::to_string(programs.size() - 1) + " " + std::to_string(p.app.ProcessId());
  }
  if (command == "ports") {
    std::vector<std::string> names;
    std::string name;
    while (in >> name) names.push_back(name);
    std::vector<const char*> pointers;
    for (const std::string& n : names) pointers.push_back(n.c_str());
    ListSerialPorts(pointers.data(), static_cast<int>(pointers.size()));
    return "ok";
  }
  int id = -1;
  in >> id;
  Program* p = Find(id);
  if (!p) return "fail no program " + std::to_string(id);
  if (command == "setup") {
    std::string name, item, port, field, extra;
    in >> name;
    for (char& c : name) c = c == '_' ? ' ' : c;
    while (in >> item) {
      if (item.rfind("port=", 0) == 0) port = item.substr(5);
      if (item.rfind("field=", 0) == 0) field = item.substr(6);
      if (item.rfind("extra=", 0) == 0) extra = item.substr(6);
    }
    return Setup(*p, name, port, field, extra);
  }
  if (command == "connect") return Connected(*p) ? "ok Dis&connect" : Press(*p);
  if (command == "disconnect") return Connected(*p) ? Press(*p) : "ok &Connect";
  if (command == "cycle") {
    int count = 0;
    in >> count;
    return Cycle(*p, count);
  }
  if (command == "figures") return "ok " + Figures(*p);
  if (command == "poll") {
    int tab = 0, function = 0;
    std::string unit, address, quantity, period;
    in >> tab >> function >> unit >> address >> quantity >> period;
    return Poll(*p, tab, function, unit, address, quantity, period);
  }
  if (command == "tab") {
    int index = 0;
    in >> index;
    SelectTab(p->Item(IDC_TABS), index);
    return p->Settle() ? "ok" : "fail no answer";
  }
  if (command == "edit") {
    int row = 0;
    std::string text;
    in >> row >> text;
    return Edit(*p, row, Wide(text));
  }
  if (command == "cell") {
    int row = 0, column = 0;
    in >> row >> column;
    return "ok " + Narrow(CellText(p->Item(IDC_TABLE), row, column));
  }
  if (command == "text") {
    int control = 0;
    in >> control;
    return "ok " + Narrow(Text(p->Item(control)));
  }
  if (command == "monkey") {
    int steps = 0;
    uint64_t seed = 0;
    std::string port, com;
    in >> steps >> seed >> port >> com;
    return Monkey(*p, steps, seed, port, com);
  }
  if (command == "quit") {
    PostMessageW(p->main, WM_CLOSE, 0, 0);
    DWORD code = p->app.WaitExit(20000);
    std::string unknown;
    if (code == STILL_ACTIVE) SweepBoxes(*p, &unknown);
    return code == STILL_ACTIVE ? "fail still running " + unknown : "ok exit=" + std::to_string(code);
  }
  return "fail unknown command " + command;
}

}  // namespace

int main() {
  char line[4096];
  while (fgets(line, sizeof line, stdin)) {
    line[strcspn(line, "\r\n")] = '\0';
    if (!line[0]) continue;
    std::string answer = Run(line);
    printf("%s\n", answer.c_str());
    fflush(stdout);
  }
  for (auto& p : programs) p->app.Kill();
  return 0;
}
