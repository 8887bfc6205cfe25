// The six client plug-in libraries through the real interface, as the
// shell meets them: loaded from build/win/dist/plugins, checked against
// their descriptors, configured through their own settings pages, attached
// to a stand-in for the shell's view with a recording host link, and run
// against independent servers (libmodbus, pymodbus) that client_e2e.py
// starts on loopback or on a pseudo-terminal.
//
//   client_plugin_e2e abi
//       every library's descriptor, creation rules, table, lines and tips
//   client_plugin_e2e net <library> <port> <closed port>
//   client_plugin_e2e serial <library> <COMn> [<closed COMm>]
//       a whole session against the server the driver started; the driver
//       answers "stop" and "start" requests on standard input (a server that
//       goes away and comes back)
//   client_plugin_e2e values <library> <port>
//       wide values that pymodbus's payload builder put into the server's
//       holding registers (VELMORA_VALUE_CASES: "address type order text;..."
//       with type and order numbered as the value menu has them), read with
//       function 3 and shown in the chosen type and order
//   client_plugin_e2e bench <library> <port> <seconds>
//       polls every millisecond with a message loop on the main thread as
//       the shell has, the worker's posts carried by the shell's own host
//       link (HostLinkHost, its frames kept for the pace), and prints
//       transactions per second, the process's CPU use and the round trip of
//       WM_NULL to that thread; then polls in one-second turns with the
//       driver's engine_host client
//
// Prints one line per check and ends with "N checks, M failed"; the exit
// code is the number of failed checks.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "shell/frame_text.h"
#include "shell/host_link.h"
#include "support/check_log.h"
#include "support/driver_request.h"
#include "support/plugin_abi_checks.h"
#include "support/plugin_library.h"
#include "support/view_host.h"

namespace {

struct Deliverable {
  const char* library;
  const char16_t* id;
  const char16_t* name;
  uint32_t order;
  const char16_t* title;
  const char16_t* connectionLine;
  const char16_t* openFailureRx;
  const char16_t* openFailureMessage;
  const char16_t* reopenFailureRx;
  bool mbap;
  bool tcp;
};

const Deliverable kDeliverables[] = {
    {"linebin_client", u"linebin-client", u"Modbus RTU Master", 10, u"Modbus RTU (master)",
     u"COM1: 19200-8-E-1-None", u"RX: Failed to open serial port",
     u"Failed to open COM port. Please check if it's available.", u"RX: Failed to reopen serial port", false, false},
    {"linetext_client", u"linetext-client", u"Modbus ASCII Master", 30, u"Modbus ASCII (master)",
     u"COM1: 19200-7-E-1-None", u"RX: Failed to open serial port",
     u"Failed to open COM port. Please check if it's available.", u"RX: Failed to reopen serial port", false, false},
    {"streamhdr_client", u"streamhdr-client", u"Modbus TCP/IP Master", 50, u"Modbus TCP/IP (master)",
     u"127.0.0.1:502", u"RX: Connection failed", u"Failed to connect to the Modbus TCP/IP server.",
     u"RX: Reconnect failed", true, true},
    {"streambin_client", u"streambin-client", u"Modbus RTU over TCP/IP Master", 70,
     u"Modbus RTU over TCP/IP (master)", u"127.0.0.1:502", u"RX: Connection failed",
     u"Failed to connect to the Modbus RTU over TCP/IP server.", u"RX: Reconnect failed", false, true},
    {"dgramhdr_client", u"dgramhdr-client", u"Modbus UDP/IP Master", 90, u"Modbus UDP/IP (master)",
     u"127.0.0.1:502", u"RX: UDP endpoint failed", u"Failed to open the Modbus UDP/IP endpoint.",
     u"RX: Failed to reopen UDP endpoint", true, false},
    {"dgrambin_client", u"dgrambin-client", u"Modbus RTU over UDP/IP Master", 110,
     u"Modbus RTU over UDP/IP (master)", u"127.0.0.1:502", u"RX: UDP endpoint failed",
     u"Failed to open the Modbus RTU over UDP/IP endpoint.", u"RX: Failed to reopen UDP endpoint", false, false},
};

const Deliverable* Find(const char* library) {
  for (const Deliverable& d : kDeliverables)
    if (strcmp(d.library, library) == 0) return &d;
  return nullptr;
}

// --- abi ------------------------------------------------------------------------

bool ConfigurePage(const PluginOps& ops, bool serial, bool tcp, const char* where);

// Connect where nothing answers: the deliverable's message box and RX text.
// A UDP endpoint opens whatever listens, so the UDP masters are left out.
void CheckOpenFailure(const Deliverable& d, const PluginOps& ops) {
  std::string name = d.library;
  bool serial = strncmp(d.library, "line", 4) == 0;
  if (!serial && !d.tcp) return;
  ConfigurePage(ops, serial, d.tcp, serial ? "COM24" : "16299");
  ViewHost view(ops);
  view.Attach();
  int64_t connected = view.Connect();
  Check(connected == 0 && view.errors.size() == 1 && view.errors[0].first == d.openFailureMessage &&
            view.errors[0].second == u"Connection Error",
        name + " open failure: " + (view.errors.empty() ? std::string("no message") : Narrow(view.errors[0].first)));
  Check(view.rxLine == d.openFailureRx && view.rxError, name + " open-failure RX text: " + Narrow(view.rxLine));
  view.Detach();
}

void CheckLibrary(const Deliverable& d) {
  std::string name = d.library;
  PluginLibrary plugin;
  if (!LoadPluginLibrary(DistPluginPath(d.library), &plugin)) {
    Check(false, name + " loads with both exports");
    return;
  }
  if (!CheckPluginAbi(plugin, name, d.id, d.name, u"Poll definitions", d.order)) return;
  const PluginOps& ops = plugin.ops;
  auto create = reinterpret_cast<CreatePluginProc>(
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(plugin.module), "CreatePlugin")));
  PluginOps second{};
  Check(create(11, &second) != 0 && second.instance && second.instance != ops.instance,
        name + " a second instance is another instance");
  if (second.destroy) second.destroy(second.instance);

  int32_t result = 0;
  CheckText(Line(ops.getProtocolLine, ops.instance, 256, &result), d.title, name + " protocol line");
  Check(result == 1, name + " protocol line complete");
  std::u16string cut = Line(ops.getProtocolLine, ops.instance, 6, &result);
  Check(result == 0 && cut == std::u16string(d.title).substr(0, 5), name + " a short buffer is cut and reported");
  CheckText(Line(ops.getConnectionLine, ops.instance, 256, &result), d.connectionLine, name + " connection line");

  Unit tip[512];
  Check(ops.getTip(ops.instance, 17, tip, 512) == 1, name + " tip for seed 17");
  CheckText(tip, u"Tip: double-click writable values to edit them directly in the table.", name + " tip 1");
  ops.getNextTip(ops.instance, tip, 512);
  CheckText(tip, u"Tip: TX and RX show the exact frames exchanged with the device.", name + " tip 2");
  for (int i = 0; i < 6; ++i) ops.getNextTip(ops.instance, tip, 512);
  CheckText(tip, u"Tip: each tab can hold a different request.", name + " after tip 7 comes tip 0");

  // Attach and detach twice: every attachment starts again at Poll 1.
  for (int round = 0; round < 2; ++round) {
    ViewHost view(ops);
    view.Attach();
    Check(view.tabs.size() == 1 && view.tabs[0].title == u"Poll 1" && view.rows == 2 &&
              view.Cell(0, 0) == u"400001" && view.labels[0] == (d.mbap ? u"Unit ID:" : u"Slave ID:"),
          name + " attach shows Poll 1 (round " + std::to_string(round + 1) + ")");
    view.Add();
    view.Detach();
  }
  CheckOpenFailure(d, ops);
  ReleasePluginLibrary(&plugin);
}

int RunAbi() {
  const char* closed = "COM24";
  ListSerialPorts(&closed, 1);
  for (const Deliverable& d : kDeliverables) CheckLibrary(d);
  return 0;
}


// --- a session against a server -----------------------------------------------

// Asks the driver (client_e2e.py) to stop or start the server and waits for
// its "ok".
void SetControlText(HWND page, int id, const char* text) {
  std::wstring wide(text, text + strlen(text));
  SetDlgItemTextW(page, id, wide.c_str());
}

// Creates the plug-in's settings page in a parent window as the setup
// dialog does, fills it as a user would and confirms it.
bool ConfigurePage(const PluginOps& ops, bool serial, bool tcp, const char* where) {
  HWND parent = CreateWindowExW(0, L"STATIC", L"Connection setup", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  HWND page = reinterpret_cast<HWND>(ops.createSettingsPage(ops.instance, reinterpret_cast<PluginWindow>(parent)));
  if (!page) {
    DestroyWindow(parent);
    return false;
  }
  if (serial) {
    std::wstring port(where, where + strlen(where));
    SendDlgItemMessageW(page, 1001, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(port.c_str()));
    SendDlgItemMessageW(page, 1007, BM_CLICK, 0, 0);  // parity "None": two stop bits
    SetControlText(page, 1011, "700");
  } else {
    SetControlText(page, 1002, where);
    SetControlText(page, tcp ? 1004 : 1003, "700");
  }
  ops.applySettings(ops.instance);
  DestroyWindow(page);
  DestroyWindow(parent);
  return true;
}

struct TabSetup {
  const char16_t* name;
  uint32_t function, address, quantity;
  std::vector<const char16_t*> writes;  // values typed into the table
  std::vector<const char16_t*> expect;  // cells of column 1 once polled
};

// The driver presets the server with hr:0=1,65535,32768,4660 ir:0=11,22,33
// co:0=1,0,1,1,0,0,0,0,1,1 di:0=0,1,1,0,1; its map has 150 cells per area.
const TabSetup kTabs[] = {
    {u"holding", 3, 0, 4, {}, {u"1", u"65535", u"32768", u"4660"}},
    {u"input registers", 4, 0, 3, {}, {u"11", u"22", u"33"}},
    {u"coils", 1, 0, 10, {}, {u"1", u"0", u"1", u"1", u"0", u"0", u"0", u"0", u"1", u"1"}},
    {u"discrete inputs", 2, 0, 5, {}, {u"0", u"1", u"1", u"0", u"1"}},
    {u"write register", 6, 20, 1, {u"1234"}, {u"1234"}},
    {u"write registers", 16, 21, 2, {u"7", u"65535"}, {u"7", u"65535"}},
    {u"write coil", 5, 40, 1, {u"1"}, {u"1"}},
    {u"write coils", 15, 41, 3, {u"1", u"0", u"1"}, {u"1", u"0", u"1"}},
    {u"read back registers", 3, 20, 3, {}, {u"1234", u"7", u"65535"}},
    {u"read back coils", 1, 40, 4, {}, {u"1", u"1", u"0", u"1"}},
};
constexpr size_t kExceptionTab = sizeof(kTabs) / sizeof(kTabs[0]);

void SetUpTab(ViewHost& view, const TabSetup& tab, bool first) {
  if (!first) view.Add();
  view.ChooseFunction(tab.function);
  std::string a = std::to_string(tab.address), q = std::to_string(tab.quantity);
  std::u16string a16(a.begin(), a.end()), q16(q.begin(), q.end());
  view.EditField(1, a16.c_str());
  if (tab.function != 5 && tab.function != 6) view.EditField(2, q16.c_str());
  view.EditField(tab.function == 5 || tab.function == 6 ? 2 : 3, u"100");
  for (size_t row = 0; row < tab.writes.size(); ++row) view.EditCell(static_cast<uint32_t>(row), 1, tab.writes[row]);
  view.EditCell(0, 0, tab.name);
}

bool Polled(ViewHost& view, const TabSetup& tab) {
  if (view.rxError || view.rxLine.rfind(u"RX: ", 0) != 0 || view.rxLine == u"RX: -") return false;
  for (size_t row = 0; row < tab.expect.size(); ++row)
    if (view.Cell(static_cast<uint32_t>(row), 1) != tab.expect[row]) return false;
  return true;
}

bool WaitFresh(ViewHost& view, uint32_t timeoutMs) {
  size_t frames = view.Count(HostCommandKind::ShowRxFrame, true);
  return view.PumpUntil([&] { return view.Count(HostCommandKind::ShowRxFrame, true) > frames && !view.rxError; },
                        timeoutMs);
}


// --- benchmark ------------------------------------------------------------------

// Stands in front of the shell's link: counts the RX frames and texts the
// worker posts (one each per transaction) and hands every post on to the
// shell's link and every send to the view's recording link.
struct CountingLink {
  HostLink link;
  const HostLink* view;
  const HostLink* shell;
  std::atomic<size_t> rxFrames{0};
  std::atomic<size_t> rxTexts{0};

  CountingLink(const HostLink* viewLink, const HostLink* shellLink) : link(*shellLink), view(viewLink), shell(shellLink) {
    link.host = this;
    link.send = &Send;
    link.post = &Post;
    link.logFrame = &LogFrame;
  }
  static int64_t Send(void* host, const HostCommand* command) {
    const HostLink* view = static_cast<CountingLink*>(host)->view;
    return view->send(view->host, command);
  }
  static void Post(void* host, const HostCommand* command) {
    CountingLink* self = static_cast<CountingLink*>(host);
    if (command->kind == HostCommandKind::ShowRxFrame) self->rxFrames.fetch_add(1, std::memory_order_relaxed);
    if (command->kind == HostCommandKind::ShowRxText) self->rxTexts.fetch_add(1, std::memory_order_relaxed);
    self->shell->post(self->shell->host, command);
  }
  static void LogFrame(void* host, const TrafficFrame* frame) {
    const HostLink* shell = static_cast<CountingLink*>(host)->shell;
    shell->logFrame(shell->host, frame);
  }
};

// What the shell's frame lines do with every frame handed to them: its text
// for the line and the whole text for a copy.
void FormatFrames(void*, const HostCommand& command) {
  if (command.kind != HostCommandKind::ShowTxFrame && command.kind != HostCommandKind::ShowRxFrame) return;
  const int line = command.kind == HostCommandKind::ShowTxFrame ? kTxLine : kRxLine;
  TextBuffer shown, whole;
  BuildFrameLineText(line, static_cast<const uint8_t*>(command.data), command.length, shown);
  BuildFrameLineText(line, static_cast<const uint8_t*>(command.data), command.length, whole, command.length);
}

constexpr UINT_PTR kEndTimer = 1;

// The shell's message loop for ms: posted copies to the shell's link, the
// pace's ticks and the probes' WM_NULL.
void RunShellLoop(HWND window, HostLinkHost& shell, UINT ms) {
  SetTimer(window, kEndTimer, ms, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == window && message.wParam == kEndTimer) break;
    if (message.message == kPostedCommandMessage) {
      shell.HandlePosted(message.lParam);
      continue;
    }
    DispatchMessageW(&message);
  }
  KillTimer(window, kEndTimer);
}

// The plug-in polling for a second and the driver's engine_host client for
// a second, in turns: on a machine whose load changes from second to second
// two turns side by side compare better than two long runs one after the
// other. Prints each side's median and the median of the turns' ratios.
void RunTurns(ViewHost& view, HWND window, HostLinkHost& shell, const CountingLink& counting, const char* library) {
  constexpr int kTurns = 7;
  std::vector<double> mine, theirs, ratios;
  for (int turn = 0; turn < kTurns; ++turn) {
    if (view.Connect() != 1) break;
    const size_t before = counting.rxFrames.load();
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    RunShellLoop(window, shell, 1000);
    QueryPerformanceCounter(&end);
    view.Disconnect();
    const double wall = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::string answer;
    if (!AskDriver("engine-host 1000", &answer) || answer.size() < 4) break;
    mine.push_back(static_cast<double>(counting.rxFrames.load() - before) / wall);
    theirs.push_back(atof(answer.c_str() + 3));
    ratios.push_back(theirs.back() > 0 ? mine.back() / theirs.back() : 0);
  }
  Check(mine.size() == kTurns, "every turn polled");
  if (mine.size() != kTurns) return;
  auto median = [](std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  auto list = [](const std::vector<double>& values) {
    std::string text;
    for (double value : values) text += (text.empty() ? "" : " ") + std::to_string(static_cast<int>(value + 0.5));
    return text;
  };
  std::vector<double> sortedRatios = ratios;
  std::sort(sortedRatios.begin(), sortedRatios.end());
  printf("FIGURE in %d turns of 1 s, 1 ms period: %s median %.0f/s [%s], engine_host.exe client median %.0f/s [%s], "
         "ratio of each turn to the next %.2f (median), %.2f to %.2f\n",
         kTurns, library, median(mine), list(mine).c_str(), median(theirs), list(theirs).c_str(), median(ratios),
         sortedRatios.front(), sortedRatios.back());
}

struct Prober {
  HWND window;
  volatile LONG stop = 0;
  std::vector<double> roundTripsUs;
};

DWORD WINAPI Probe(void* argument) {
  Prober* prober = static_cast<Prober*>(argument);
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  while (!prober->stop) {
    QueryPerformanceCounter(&before);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(prober->window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &result);
    QueryPerformanceCounter(&after);
    prober->roundTripsUs.push_back(1e6 * static_cast<double>(after.QuadPart - before.QuadPart) /
                                   static_cast<double>(frequency.QuadPart));
    Sleep(10);
  }
  return 0;
}

double Seconds(const FILETIME& time) {
  ULARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = time.dwHighDateTime;
  return static_cast<double>(value.QuadPart) / 1e7;
}

double CpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  return Seconds(kernel) + Seconds(user);
}

int RunBench(const Deliverable& d, const char* port, int seconds) {
  PluginLibrary plugin;
  if (!LoadPluginLibrary(DistPluginPath(d.library), &plugin) || !plugin.created) {
    Check(false, std::string(d.library) + " loads");
    return 0;
  }
  const PluginOps& ops = plugin.ops;
  Check(ConfigurePage(ops, false, d.tcp, port), "settings page applied");
  HWND window = CreateWindowExW(0, L"STATIC", L"main", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ViewHost view(ops);
  HostLinkHost shell;
  shell.Bind(window, &FormatFrames, nullptr);
  CountingLink counting(view.link().Link(), shell.Link());
  view.AttachThrough(&counting.link);
  view.EditField(2, u"10");
  view.EditField(3, u"1");
  Check(view.Connect() == 1, "Connect");

  Prober prober;
  prober.window = window;
  double cpuBefore = CpuSeconds();
  DWORD start = GetTickCount();
  HANDLE thread = CreateThread(nullptr, 0, &Probe, &prober, 0, nullptr);
  RunShellLoop(window, shell, static_cast<UINT>(seconds * 1000));
  MSG message;
  double wall = (GetTickCount() - start) / 1000.0;
  double cpu = CpuSeconds() - cpuBefore;
  size_t frames = counting.rxFrames.load();
  size_t errors = counting.rxTexts.load();
  InterlockedExchange(&prober.stop, 1);
  while (WaitForSingleObject(thread, 10) == WAIT_TIMEOUT) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == kPostedCommandMessage) shell.HandlePosted(message.lParam);
      else DispatchMessageW(&message);
    }
  }
  CloseHandle(thread);
  view.Disconnect();
  shell.RaiseStamp();
  shell.PurgeQueued();
  std::vector<double>& trips = prober.roundTripsUs;
  std::sort(trips.begin(), trips.end());
  double median = trips.empty() ? 0 : trips[trips.size() / 2];
  double p99 = trips.empty() ? 0 : trips[trips.size() * 99 / 100];
  double worst = trips.empty() ? 0 : trips.back();
  printf("FIGURE %s, 1 ms period, 10 registers: %zu transactions in %.2f s = %.0f/s, %zu failures\n", d.library,
         frames, wall, frames / wall, errors);
  printf("FIGURE process CPU %.0f%% of one core\n", 100.0 * cpu / wall);
  printf("FIGURE UI thread round trip of WM_NULL: median %.0f us, 99th percentile %.0f us, worst %.0f us (%zu probes)\n",
         median, p99, worst, trips.size());
  Check(frames > 0 && errors == 0, "transactions while polling, none failed");
  RunTurns(view, window, shell, counting, d.library);
  shell.RaiseStamp();
  shell.PurgeQueued();
  view.Detach();
  DestroyWindow(window);
  ReleasePluginLibrary(&plugin);
  return 0;
}

}  // namespace

int RunSession(const char* mode, const Deliverable& d, const char* where, const char* closedPort) {
  std::string name = d.library;
  bool serial = strcmp(mode, "serial") == 0;
  if (serial) {
    const char* ports[2] = {where, closedPort};
    ListSerialPorts(ports, closedPort ? 2 : 1);
  }
  PluginLibrary plugin;
  if (!LoadPluginLibrary(DistPluginPath(d.library), &plugin) || !plugin.created) {
    Check(false, name + " loads");
    return 0;
  }
  const PluginOps& ops = plugin.ops;
  Check(ConfigurePage(ops, serial, d.tcp, where), name + " settings page created and applied");
  int32_t result = 0;
  std::u16string line = Line(ops.getConnectionLine, ops.instance, 256, &result);
  std::string w = where;
  Check(Narrow(line).find(w) != std::string::npos, name + " connection line names " + w + ": " + Narrow(line));

  ViewHost view(ops);
  view.Attach();
  for (size_t t = 0; t < kExceptionTab; ++t) SetUpTab(view, kTabs[t], t == 0);
  view.Add();  // the exception tab: beyond the server's 150 registers
  view.EditField(1, u"200");
  view.EditField(3, u"100");
  Check(view.tabs.size() == kExceptionTab + 1, name + " " + std::to_string(view.tabs.size()) + " tabs set up");

  Check(view.Connect() == 1, name + " Connect");
  CheckText(view.rxLine, u"RX: -", name + " RX line after Connect");
  HWND icon = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW | SS_ICON, 0, 0, 32, 32, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  ops.showConnectionIndicator(ops.instance, reinterpret_cast<PluginWindow>(icon), 1);
  ops.showConnectionIndicator(ops.instance, reinterpret_cast<PluginWindow>(icon), 1);

  for (size_t t = 0; t < kExceptionTab; ++t) {
    view.SelectTab(t);
    bool ok = view.PumpUntil([&] { return Polled(view, kTabs[t]); }, 15000);
    std::string cells;
    for (size_t row = 0; row < kTabs[t].expect.size(); ++row) cells += " " + Narrow(view.Cell(static_cast<uint32_t>(row), 1));
    Check(ok, name + " fn " + std::to_string(kTabs[t].function) + " " + Narrow(kTabs[t].name) + ":" + cells + " | " +
                  Narrow(view.txLine) + " | " + Narrow(view.rxLine));
    CheckText(view.Cell(0, 0), kTabs[t].name, name + " alias of row 0");
  }

  view.SelectTab(0);
  const char16_t* formats[] = {u"65535", u"-1", u"0xFFFF", u"1111 1111 1111 1111", u"65535"};
  for (int click = 0; click < 5; ++click) {
    CheckText(view.Cell(1, 1), formats[click], name + " 65535 in format " + std::to_string(click));
    view.ClickColumn(1);  // the fifth click leaves the signed format on
  }

  view.SelectTab(kExceptionTab);
  bool exception = view.PumpUntil(
      [&] { return view.rxLine == u"RX: Exception 02 - Illegal data address" && view.rxError; }, 15000);
  Check(exception, name + " exception on the RX line: " + Narrow(view.rxLine));

  // The server goes away and comes back; on a serial line the line itself
  // goes and comes back on the same name, and the master opens it again.
  view.SelectTab(0);
  Check(WaitFresh(view, 15000), name + " polling before the server goes");
  Check(AskDriver("stop"), name + " driver stopped the server");
  bool failed = view.PumpUntil(
      [&] { return view.rxError && ((!d.tcp && !serial) || view.rxLine == d.reopenFailureRx); }, 20000);
  Check(failed, name + " while the server is away: " + Narrow(view.rxLine));
  Check(AskDriver("start"), name + " driver started the server");
  DWORD began = GetTickCount();
  bool fresh = WaitFresh(view, 30000);
  Check(fresh && view.Cell(1, 1) == u"-1",
        name + " values again after the server came back: " + Narrow(view.rxLine) + " after " +
            std::to_string(GetTickCount() - began) + " ms");

  view.Disconnect();
  ops.showConnectionIndicator(ops.instance, reinterpret_cast<PluginWindow>(icon), 0);
  DestroyWindow(icon);
  CheckText(view.rxLine, u"RX: -", name + " RX line after Disconnect");
  view.Remove();
  Check(view.tabs.size() == kExceptionTab, name + " removal allowed once disconnected");

  if (closedPort) {
    ConfigurePage(ops, serial, d.tcp, closedPort);
    size_t errors = view.errors.size();
    Check(view.Connect() == 0, name + " Connect to " + closedPort + " fails");
    Check(view.errors.size() == errors + 1 && view.errors.back().first == d.openFailureMessage &&
              view.errors.back().second == u"Connection Error",
          name + " open-failure message box: " + (view.errors.size() > errors ? Narrow(view.errors.back().first) : ""));
    Check(view.rxLine == d.openFailureRx && view.rxError, name + " open-failure RX text: " + Narrow(view.rxLine));
  }
  view.Detach();
  ReleasePluginLibrary(&plugin);
  return 0;
}

// --- wide values ------------------------------------------------------------------

int RunValues(const Deliverable& d, const char* port) {
  std::string name = d.library;
  PluginLibrary plugin;
  if (!LoadPluginLibrary(DistPluginPath(d.library), &plugin) || !plugin.created) {
    Check(false, name + " loads");
    return 0;
  }
  const PluginOps& ops = plugin.ops;
  Check(ConfigurePage(ops, false, d.tcp, port), name + " settings page created and applied");
  const char* cases = getenv("VELMORA_VALUE_CASES");
  Check(cases && *cases, "VELMORA_VALUE_CASES names the cases");
  ViewHost view(ops);
  view.Attach();
  view.ChooseFunction(3);
  view.EditField(1, u"100");
  view.EditField(2, u"48");
  view.EditField(3, u"50");
  Check(view.Connect() == 1, name + " Connect");
  constexpr uint32_t kFirstOrderItem = 8;  // seven types and a separator before the orders
  for (const char* at = cases; at && *at;) {
    unsigned address = 0, type = 0, order = 0;
    char text[64] = "";
    if (sscanf(at, "%u %u %u %63[^;]", &address, &type, &order, text) != 4) break;
    view.Event(ViewEventKind::MenuItemChosen, type, view.SelectedKey());
    view.Event(ViewEventKind::MenuItemChosen, kFirstOrderItem + order, view.SelectedKey());
    std::u16string expected(text, text + strlen(text));
    const uint32_t row = address - 100;
    bool shown = view.PumpUntil([&] { return view.Cell(row, 1) == expected; }, 15000);
    Check(shown, name + " register " + std::to_string(address) + " type " + std::to_string(type) + " order " +
                     std::to_string(order) + ": " + Narrow(view.Cell(row, 1)) + " (pymodbus built " + text + ") as " +
                     Narrow(view.columnTitles[1]));
    at = strchr(at, ';');
    if (at) ++at;
  }
  view.Disconnect();
  view.Detach();
  ReleasePluginLibrary(&plugin);
  return 0;
}

int main(int argc, char** argv) {
  if (argc >= 2 && strcmp(argv[1], "abi") == 0) {
    RunAbi();
  } else if (argc >= 4 && strcmp(argv[1], "values") == 0 && Find(argv[2])) {
    RunValues(*Find(argv[2]), argv[3]);
  } else if (argc >= 5 && strcmp(argv[1], "bench") == 0 && Find(argv[2])) {
    RunBench(*Find(argv[2]), argv[3], atoi(argv[4]));
  } else if (argc >= 4 && (strcmp(argv[1], "net") == 0 || strcmp(argv[1], "serial") == 0) && Find(argv[2])) {
    RunSession(argv[1], *Find(argv[2]), argv[3], argc >= 5 ? argv[4] : nullptr);
  } else {
    fprintf(stderr, "usage: client_plugin_e2e abi | net LIBRARY PORT [CLOSED_PORT] | serial LIBRARY COMn [COMm] |"
                    " bench LIBRARY PORT SECONDS\n");
    return 100;
  }
  return CheckSummary();
}
