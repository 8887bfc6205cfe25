// The six server plug-in libraries through the real interface, as the shell
// meets them: loaded from build/win/dist/plugins, checked against their
// descriptors, configured through their own settings pages, attached to a
// stand-in for the shell's view, connected, and served to independent
// clients (pymodbus, libmodbus, mbpoll) that server_e2e.py runs on loopback
// or on a pseudo-terminal.
//
//   server_plugin_e2e abi <held port>
//       every library's descriptor, creation rules, table, lines and tips,
//       and the Connect refusal of a taken port
//   server_plugin_e2e net <library> <port>
//   server_plugin_e2e serial <library> <COMn>
//       a whole session; the program asks the driver for each client
//       scenario ("DRIVER <scenario>", answered "ok" or "fail <why>") and
//       checks what the view shows meanwhile
//   server_plugin_e2e load <library> <port> <seconds>
//       serves a client the driver runs for that long and prints how the
//       posted copies were handled
//   server_plugin_e2e masters streamhdr_multi_server <port> <seconds>
//       the several-masters slave: one libmodbus client's figure beside the
//       one-master slave's, eight clients at once for that long, 16 held
//       connections on the connection line and the 17th refused, the idle
//       time set to 2 s on its page
//
// Prints one line per check and ends with "N checks, M failed"; the exit
// code is the number of failed checks.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "support/check_log.h"
#include "support/driver_request.h"
#include "support/plugin_abi_checks.h"
#include "support/plugin_library.h"
#include "support/view_host.h"
#include "find_control.h"

namespace {

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

enum class Family { kSerial, kRtuOverIp, kMbap };

struct Deliverable {
  const char* library;
  const char16_t* id;
  const char16_t* name;
  uint32_t order;
  const char16_t* title;
  const char16_t* connectionLine;
  const char16_t* openFailure;
  Family family;
  bool tcp;
  // The RX line names the client: a received frame is posted as text.
  bool rxNamesClient = false;
};

const Deliverable kDeliverables[] = {
    {"linebin_server", u"linebin-server", u"Modbus RTU Slave", 20, u"Modbus RTU (slave)",
     u"COM1: 19200-8-E-1-None, ID: 1", u"Failed to open COM port. Please check if it's available.", Family::kSerial,
     false},
    {"linetext_server", u"linetext-server", u"Modbus ASCII Slave", 40, u"Modbus ASCII (slave)",
     u"COM1: 19200-7-E-1-None, ID: 1", u"Failed to open COM port. Please check if it's available.", Family::kSerial,
     false},
    {"streamhdr_server", u"streamhdr-server", u"Modbus TCP/IP Slave", 60, u"Modbus TCP/IP (slave)",
     u"0.0.0.0:502, any Unit ID", u"Failed to listen on the selected TCP address and port.", Family::kMbap, true},
    {"streambin_server", u"streambin-server", u"Modbus RTU over TCP/IP Slave", 80, u"Modbus RTU over TCP/IP (slave)",
     u"0.0.0.0:502, Slave ID: 1", u"Failed to listen on the selected TCP address and port.", Family::kRtuOverIp,
     true},
    {"dgramhdr_server", u"dgramhdr-server", u"Modbus UDP/IP Slave", 100, u"Modbus UDP/IP (slave)",
     u"0.0.0.0:502, any Unit ID", u"Failed to bind the selected UDP address and port.", Family::kMbap, false},
    {"dgrambin_server", u"dgrambin-server", u"Modbus RTU over UDP/IP Slave", 120, u"Modbus RTU over UDP/IP (slave)",
     u"0.0.0.0:502, Slave ID: 1", u"Failed to bind the selected UDP address and port.", Family::kRtuOverIp, false},
    {"streamhdr_multi_server", u"streamhdr-multi-server", u"Modbus TCP/IP Slave (several masters)", 170,
     u"Modbus TCP/IP (slave, several masters)", u"0.0.0.0:502, any Unit ID, masters: 0",
     u"Failed to listen on the selected TCP address and port.", Family::kMbap, true, true},
};

const Deliverable* Find(const char* library) {
  for (const Deliverable& d : kDeliverables)
    if (strcmp(d.library, library) == 0) return &d;
  return nullptr;
}

std::u16string Tip(const PluginOps& ops, bool next, uint32_t seed = 0) {
  Unit tip[512] = {};
  if (next) ops.getNextTip(ops.instance, tip, 512);
  else ops.getTip(ops.instance, seed, tip, 512);
  return tip;
}

// --- settings pages ------------------------------------------------------------

void SetControlText(HWND page, int id, const std::string& text) {
  std::wstring wide(text.begin(), text.end());
  SetDlgItemTextW(page, id, wide.c_str());
}

// Creates the plug-in's settings page in a parent window as the setup dialog
// does, fills it as a user would (loopback address, port or COM port) and
// confirms it.
bool ConfigurePage(const PluginOps& ops, Family family, const std::string& where, const wchar_t* idle = nullptr) {
  HWND parent = CreateWindowExW(0, L"STATIC", L"Connection setup", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  HWND page = reinterpret_cast<HWND>(ops.createSettingsPage(ops.instance, reinterpret_cast<PluginWindow>(parent)));
  if (!page) {
    DestroyWindow(parent);
    return false;
  }
  if (family == Family::kSerial) {
    std::wstring port(where.begin(), where.end());
    SendDlgItemMessageW(page, 1001, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(port.c_str()));
  } else {
    SendDlgItemMessageW(page, 1001, IPM_SETADDRESS, 0, MAKEIPADDRESS(127, 0, 0, 1));
    SetControlText(page, 1002, where);
  }
  if (idle) {
    HWND field = FindControl(page, 1005);  // in the "Masters" group under the page
    if (!field) {
      DestroyWindow(parent);
      return false;
    }
    SetWindowTextW(field, idle);
  }
  ops.applySettings(ops.instance);
  DestroyWindow(page);
  DestroyWindow(parent);
  return true;
}

// --- abi -------------------------------------------------------------------------

void CheckLibrary(const Deliverable& d, const std::string& heldPort) {
  const std::string name = d.library;
  PluginLibrary plugin;
  if (!LoadPluginLibrary(DistPluginPath(d.library), &plugin)) {
    Check(false, name + " loads with both exports");
    return;
  }
  if (!CheckPluginAbi(plugin, name, d.id, d.name, u"I/O map", d.order)) return;
  const PluginOps& ops = plugin.ops;

  int32_t result = 0;
  CheckText(Line(ops.getProtocolLine, ops.instance, 256, &result), d.title, name + " protocol line");
  Check(result == 1, name + " protocol line complete");
  CheckText(Line(ops.getConnectionLine, ops.instance, 256, &result), d.connectionLine, name + " connection line");
  CheckText(Tip(ops, false, 17), u"Tip: double-click values to edit simulated device data.", name + " tip for seed 17");
  CheckText(Tip(ops, true), u"Tip: TX and RX show the exact frames exchanged with the client.", name + " next tip");
  for (int i = 0; i < 5; ++i) Tip(ops, true);
  CheckText(Tip(ops, true), u"Tip: tabs are views onto one shared device map.", name + " after tip 7 comes tip 0");

  // Two attachments over one map: each starts again at View 1.
  for (int round = 0; round < 2; ++round) {
    ViewHost view(ops);
    view.Attach();
    Check(view.tabs.size() == 1 && view.tabs[0].title == u"View 1" && view.rows == 20 && view.selectedChoice == 3 &&
              view.Cell(0, 0) == u"400001" && view.fieldTexts[0] == u"0" && view.addRemove == 1,
          name + " attach shows View 1 (round " + std::to_string(round + 1) + ")");
    CheckText(view.Cell(1, 1), round == 0 ? u"0" : u"77", name + " holding register 1 (round " + std::to_string(round + 1) + ")");
    view.EditCell(1, 1, u"77");
    view.Add();
    view.Detach();
  }

  // A port that cannot be opened: the message box, and the shell stays
  // disconnected.
  if (d.family != Family::kSerial) {
    Check(ConfigurePage(ops, d.family, heldPort), name + " settings page applied");
    ViewHost view(ops);
    view.Attach();
    Check(view.Connect() == 0, name + " Connect on a taken port fails");
    Check(view.errors.size() == 1 && view.errors[0].first == d.openFailure &&
              view.errors[0].second == u"Connection Error",
          name + " \"" + Narrow(view.errors.empty() ? u"" : view.errors[0].first) + "\"");
  }
  ReleasePluginLibrary(&plugin);
}

int RunAbi(std::string heldPort) {
  // Holds the port on both protocols, as another program would; port 0
  // takes the one the system hands out for TCP, so that no two runs share it.
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<u_short>(atoi(heldPort.c_str())));
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  SOCKET tcp = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  SOCKET udp = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  const bool tcpHeld = bind(tcp, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 && listen(tcp, 1) == 0;
  int length = sizeof local;
  getsockname(tcp, reinterpret_cast<sockaddr*>(&local), &length);
  heldPort = std::to_string(ntohs(local.sin_port));
  Check(tcpHeld && bind(udp, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0, "port " + heldPort + " held");
  for (const Deliverable& d : kDeliverables) CheckLibrary(d, heldPort);
  closesocket(tcp);
  closesocket(udp);
  WSACleanup();
  return 0;
}

// --- a session with clients --------------------------------------------------------

// The driver's client scenario; a failure also tells what the RX line shows.
// A serial slave on the pty parked by a transport failure is connected
// again and the scenario repeated once, as a user would.
// How we know the cause is the pty: the serial transport shows "RX: Transport
// error" only for a driver call that failed (time-outs, cancels and line
// errors have texts of their own, proven on the simulated line), and on a
// pty the driver is Wine's serial emulation, whose overlapped waits fail now
// and then (transport/serial/README.md). Nothing else earns a retry: on a
// network transport, or a second time, a parked or lost slave fails. Each
// retry prints a RETRY line, which tools/test counts in its summary.
void Scenario(ViewHost& view, const std::string& name, const std::string& scenario) {
  std::string why;
  bool ok = AskDriver(scenario, &why);
  view.Pump();
  if (!ok && view.rxLine == u"RX: Transport error" && name.rfind("line", 0) == 0) {
    printf("RETRY %s parked by a transport failure on the Wine pty during %s; connected again\n", name.c_str(),
           scenario.c_str());
    fflush(stdout);
    view.Disconnect();
    view.Connect();
    if (scenario == "diagnostics") AskDriver("crc");  // the counters start again at 0
    ok = AskDriver(scenario, &why);
    view.Pump();
  }
  Check(ok, name + " " + scenario + ": " + why + (ok ? "" : " | " + Narrow(view.rxLine)));
}

// Shows area from start on the selected tab, as the user would.
void ShowArea(ViewHost& view, uint64_t area, uint32_t start) {
  view.ChooseFunction(area);
  view.EditField(0, Wide(std::to_string(start)).c_str());
}

void TypeValues(ViewHost& view, uint64_t area, const std::vector<const char16_t*>& values) {
  ShowArea(view, area, 0);
  for (size_t row = 0; row < values.size(); ++row) view.EditCell(static_cast<uint32_t>(row), 1, values[row]);
}

bool PostedRxText(const ViewHost& view, size_t from, const std::u16string& text) {
  for (size_t i = from; i < view.log.size(); ++i)
    if (view.log[i].posted && view.log[i].kind == HostCommandKind::ShowRxText && view.log[i].text == text &&
        view.log[i].index == 1)
      return true;
  return false;
}

// Posted RX texts; errors only when the RX line names each request's client.
size_t PostedRxTexts(const ViewHost& view, size_t from, bool errorsOnly = false) {
  size_t count = 0;
  for (size_t i = from; i < view.log.size(); ++i)
    count += view.log[i].posted && view.log[i].kind == HostCommandKind::ShowRxText &&
             (!errorsOnly || view.log[i].index == 1);
  return count;
}

int RunSession(const Deliverable& d, const std::string& where) {
  const std::string name = d.library;
  if (d.family == Family::kSerial) {
    const char* port = where.c_str();
    ListSerialPorts(&port, 1);
  }
  PluginLibrary plugin;
  if (!LoadPluginLibrary(DistPluginPath(d.library), &plugin) || !plugin.created) {
    Check(false, name + " loads");
    return 0;
  }
  const PluginOps& ops = plugin.ops;
  Check(ConfigurePage(ops, d.family, where), name + " settings page created and applied");
  int32_t result = 0;
  const std::string line = Narrow(Line(ops.getConnectionLine, ops.instance, 256, &result));
  Check(line.find(where) != std::string::npos, name + " connection line names " + where + ": " + line);

  ViewHost view(ops);
  view.Attach();
  // The simulated device, entered by hand: the driver's clients expect it.
  TypeValues(view, 0, {u"1", u"0", u"1", u"1", u"0", u"0", u"0", u"0", u"1", u"1"});
  TypeValues(view, 1, {u"0", u"1", u"1", u"0", u"1"});
  TypeValues(view, 2, {u"11", u"22", u"33"});
  TypeValues(view, 3, {u"1", u"65535", u"32768", u"4660"});
  view.EditCell(0, 0, u"Pump");

  Check(view.Connect() == 1, name + " Connect");
  CheckText(view.rxLine, u"RX: -", name + " RX line after Connect");
  HWND icon = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW | SS_ICON, 0, 0, 32, 32, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  ops.showConnectionIndicator(ops.instance, reinterpret_cast<PluginWindow>(icon), 1);

  Scenario(view, name, "functions");
  view.Pump();
  CheckText(view.Cell(0, 0), u"Pump", name + " alias kept while connected");
  const HostCommandKind rxKind = d.rxNamesClient ? HostCommandKind::ShowRxText : HostCommandKind::ShowRxFrame;
  Check(view.Count(rxKind, true) > 0 && view.Count(HostCommandKind::ShowTxFrame, true) > 0,
        name + " frames posted to both lines");

  // A client's write into the selected view redraws it; one outside does not.
  view.Pump();
  size_t refreshes = view.Count(HostCommandKind::RefreshTable, true);
  Scenario(view, name, "write hr 5 777");
  Check(view.PumpUntil([&] { return view.Count(HostCommandKind::RefreshTable, true) > refreshes; }, 10000) &&
            view.Cell(5, 1) == u"777",
        name + " the client's write shows without any user action: " + Narrow(view.Cell(5, 1)));
  refreshes = view.Count(HostCommandKind::RefreshTable, true);
  const size_t frames = view.Count(HostCommandKind::ShowTxFrame, true);
  Scenario(view, name, "write hr 30 5");
  view.PumpUntil([&] { return view.Count(HostCommandKind::ShowTxFrame, true) > frames; }, 10000);
  Check(view.Count(HostCommandKind::RefreshTable, true) == refreshes, name + " a write outside the view: no redraw");

  // A discrete input typed by the user is what the client reads.
  ShowArea(view, 1, 0);
  Check(view.EditCell(7, 1, u"1"), name + " discrete input 7 edited by double-click");
  Scenario(view, name, "read di 7 1");

  if (d.family != Family::kMbap) {
    size_t from = view.log.size();
    Scenario(view, name, "crc");
    view.Pump();
    Check(PostedRxText(view, from, u"RX: CRC error"), name + " a CRC error shows on the RX line");
    Scenario(view, name, "diagnostics");
  } else if (d.tcp) {
    view.Pump();
    size_t from = view.log.size();
    Scenario(view, name, "hangup");
    view.PumpUntil([] { return false; }, 300);
    Check(PostedRxTexts(view, from, d.rxNamesClient) == 0, name + " a client that disconnects shows nothing");
  } else {
    size_t from = view.log.size();
    Scenario(view, name, "garbage");
    view.PumpUntil([&] { return PostedRxText(view, from, u"RX: Invalid Modbus UDP/IP datagram"); }, 10000);
    Check(PostedRxText(view, from, u"RX: Invalid Modbus UDP/IP datagram"), name + " a broken datagram is shown");
  }

  if (d.family == Family::kSerial) {
    // The line goes away for a few seconds and comes back on the same name
    // (a USB adapter pulled out and plugged in again): the failure shows,
    // and the slave serves again by itself, its map as it was.
    view.Pump();
    const size_t from = view.log.size();
    Check(AskDriver("unplug"), name + " driver took the line away");
    Check(view.PumpUntil([&] { return PostedRxText(view, from, u"RX: Transport error"); }, 10000),
          name + " the lost line shows: " + Narrow(view.rxLine));
    view.PumpUntil([] { return false; }, 2500);  // away long enough for reopen attempts to fail
    Check(AskDriver("replug"), name + " driver brought the line back");
    view.PumpUntil([] { return false; }, 1500);  // the slave tries its port about once a second
    // Wine's pty emulation fails a wait now and then, which now costs the
    // slave a second's reopen: a request lost that way is asked again, as a
    // master's retry would, and the NOTE line says so.
    auto ask = [&](const std::string& request, std::string* why) {
      for (int i = 0; i < 5; ++i) {
        if (AskDriver(request, why)) return true;
        printf("NOTE %s: %s not answered after the line came back (%s); asked again\n", name.c_str(),
               request.c_str(), why->c_str());
      }
      return false;
    };
    std::string why;
    Check(ask("read hr 5 777", &why), name + " served again after the line came back: " + why);
    ShowArea(view, 3, 0);
    Check(ask("write hr 6 4242", &why), name + " a write after the line came back: " + why);
    view.PumpUntil([&] { return view.Cell(6, 1) == u"4242"; }, 10000);
    CheckText(view.Cell(6, 1), u"4242", name + " a write after the line came back shows");
  }

  ops.showConnectionIndicator(ops.instance, reinterpret_cast<PluginWindow>(icon), 0);
  view.Disconnect();
  CheckText(view.rxLine, u"RX: -", name + " RX line after Disconnect");
  // Values survive a new connection.
  Check(view.Connect() == 1, name + " Connect again");
  Scenario(view, name, "read hr 5 777");
  view.Detach();
  DestroyWindow(icon);
  ReleasePluginLibrary(&plugin);
  return 0;
}

// --- load ------------------------------------------------------------------------------

// The process's commit charge (Wine leaves PrivateUsage at 0).
size_t CommittedBytes() {
  PROCESS_MEMORY_COUNTERS counters = {};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PagefileUsage;
}

int RunLoad(const Deliverable& d, const std::string& port, int seconds) {
  PluginLibrary plugin;
  if (!LoadPluginLibrary(DistPluginPath(d.library), &plugin) || !plugin.created) {
    Check(false, std::string(d.library) + " loads");
    return 0;
  }
  const PluginOps& ops = plugin.ops;
  ConfigurePage(ops, d.family, port);
  ViewHost view(ops);
  view.Attach();
  Check(view.Connect() == 1, std::string(d.library) + " Connect");
  const size_t before = CommittedBytes();
  printf("DRIVER load %d\n", seconds);
  fflush(stdout);
  // Handles the posted copies at the pace of a user-interface thread while
  // the driver's client runs, then reads the driver's verdict.
  size_t handled = 0, peak = 0, pumps = 0;
  double longestMs = 0, totalMs = 0;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const DWORD until = GetTickCount() + static_cast<DWORD>(seconds) * 1000 + 500;
  while (static_cast<int32_t>(until - GetTickCount()) > 0) {
    const size_t queued = view.link().posts() - handled;
    if (queued > peak) peak = queued;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    handled += view.Pump();
    QueryPerformanceCounter(&end);
    const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    longestMs = ms > longestMs ? ms : longestMs;
    totalMs += ms;
    ++pumps;
    view.log.clear();
    Sleep(10);
  }
  handled += view.Pump();
  view.log.clear();
  const size_t after = CommittedBytes();
  char verdict[512] = "";
  fgets(verdict, sizeof verdict, stdin);
  printf("FIGURE posted copies handled %zu, most queued at once %zu, committed %zu KiB before, %zu KiB after\n",
         handled, peak, before / 1024, after / 1024);
  printf("FIGURE handling the copies every 10 ms took %.3f ms on average, %.3f ms at most\n",
         pumps ? totalMs / static_cast<double>(pumps) : 0.0, longestMs);
  Check(strncmp(verdict, "ok", 2) == 0, std::string(d.library) + " load client: " + verdict);
  view.Disconnect();
  view.Detach();
  ReleasePluginLibrary(&plugin);
  return 0;
}

// Wide values typed into the holding registers' view in every type and
// order; pymodbus reads them and decodes them with its payload decoder
// ("decode hr ADDRESS TYPE ORDER TEXT"). Type and order are numbered as the
// value menu has them; each value starts at a multiple of four.
struct WideCase {
  uint32_t type, order;
  const char16_t* text;
  const char* typeName;
  const char* orderName;
};
const WideCase kWideCases[] = {
    {3, 0, u"3.1415927", "float32", "ABCD"},
    {3, 1, u"-0.0015", "float32", "CDAB"},
    {3, 2, u"1e-45", "float32", "BADC"},
    {3, 3, u"3.4028235e38", "float32", "DCBA"},
    {1, 0, u"-2147483648", "int32", "ABCD"},
    {1, 1, u"-2", "int32", "CDAB"},
    {2, 2, u"4294967295", "uint32", "BADC"},
    {2, 3, u"305419896", "uint32", "DCBA"},
    {4, 0, u"-9223372036854775808", "int64", "ABCDEFGH"},
    {4, 1, u"72623859790382856", "int64", "GHEFCDAB"},
    {5, 2, u"18446744073709551615", "uint64", "BADCFEHG"},
    {5, 3, u"1", "uint64", "HGFEDCBA"},
    {6, 0, u"0.1", "float64", "ABCDEFGH"},
    {6, 1, u"-1.7976931348623157e308", "float64", "GHEFCDAB"},
    {6, 2, u"5e-324", "float64", "BADCFEHG"},
    {6, 3, u"-2.5e-3", "float64", "HGFEDCBA"},
};

int RunValues(const Deliverable& d, const std::string& port) {
  const std::string name = d.library;
  PluginLibrary plugin;
  if (!LoadPluginLibrary(DistPluginPath(d.library), &plugin) || !plugin.created) {
    Check(false, name + " loads");
    return 0;
  }
  const PluginOps& ops = plugin.ops;
  Check(ConfigurePage(ops, d.family, port), name + " settings page created and applied");
  ViewHost view(ops);
  view.Attach();
  view.EditField(1, u"64");
  Check(view.Connect() == 1, name + " Connect");
  constexpr uint32_t kFirstOrderItem = 8;  // seven types and a separator before the orders
  uint32_t row = 0;
  for (const WideCase& c : kWideCases) {
    view.Event(ViewEventKind::MenuItemChosen, c.type, view.SelectedKey());
    view.Event(ViewEventKind::MenuItemChosen, kFirstOrderItem + c.order, view.SelectedKey());
    view.EditCell(row, 1, c.text);
    const std::string text = Narrow(c.text);
    std::string why;
    const bool decoded = AskDriver("decode hr " + std::to_string(row) + " " + c.typeName + " " + c.orderName + " " +
                                   text, &why);
    Check(decoded, name + " " + text + " typed as " + Narrow(view.columnTitles[1]) + ", shown as " +
                       Narrow(view.Cell(row, 1)) + ": " + why);
    row += 4;
  }
  view.Disconnect();
  view.Detach();
  ReleasePluginLibrary(&plugin);
  return 0;
}

// --- several masters ----------------------------------------------------------------------

// Asks the driver and handles the posted copies at a user-interface
// thread's pace for the seconds the request runs, calling sample after each
// pass; then reads the driver's answer.
bool AskDriverPumping(ViewHost& view, const std::string& request, int seconds, std::string* why,
                      const std::function<void()>& sample = [] {}) {
  printf("DRIVER %s\n", request.c_str());
  fflush(stdout);
  const DWORD until = GetTickCount() + static_cast<DWORD>(seconds) * 1000 + 500;
  while (static_cast<int32_t>(until - GetTickCount()) > 0) {
    view.Pump();
    view.log.clear();
    sample();
    Sleep(10);
  }
  char line[512] = "";
  if (!fgets(line, sizeof line, stdin)) return false;
  line[strcspn(line, "\r\n")] = '\0';
  *why = line;
  view.Pump();
  return strncmp(line, "ok", 2) == 0;
}

// The one-master slave's figure first, for comparison, then the
// several-masters slave.
int RunMasters(const std::string& port, int seconds) {
  std::string why;
  {
    PluginLibrary one;
    if (!LoadPluginLibrary(DistPluginPath("streamhdr_server"), &one) || !one.created) {
      Check(false, "streamhdr_server loads");
      return 0;
    }
    ConfigurePage(one.ops, Family::kMbap, port);
    ViewHost view(one.ops);
    view.Attach();
    Check(view.Connect() == 1, "streamhdr_server Connect");
    const bool ok = AskDriverPumping(view, "bench 3 one client, the one-master slave", 3, &why);
    Check(ok, "one-master bench: " + why);
    view.Disconnect();
    view.Detach();
    ReleasePluginLibrary(&one);
  }
  const std::string name = "streamhdr_multi_server";
  PluginLibrary plugin;
  if (!LoadPluginLibrary(DistPluginPath(name.c_str()), &plugin) || !plugin.created) {
    Check(false, name + " loads");
    return 0;
  }
  const PluginOps& ops = plugin.ops;
  Check(ConfigurePage(ops, Family::kMbap, port, L"2"), name + " page with the idle time 2 s applied");
  int32_t result = 0;
  CheckText(Line(ops.getConnectionLine, ops.instance, 256, &result),
            Wide("127.0.0.1:" + port + ", any Unit ID, masters: 0"), name + " connection line before Connect");
  ViewHost view(ops);
  view.Attach();
  Check(view.Connect() == 1, name + " Connect");
  bool ok = AskDriverPumping(view, "bench 3 one client, the several-masters slave", 3, &why);
  Check(ok, "several-masters bench: " + why);

  bool shown = false;
  // Eight at once; the connection line read again as they come and go.
  size_t most = 0;
  auto sample = [&] {
    const std::u16string& line = view.connectionLine;
    const size_t at = line.rfind(u"masters: ");
    if (at != std::u16string::npos) {
      const size_t count = static_cast<size_t>(atoi(Narrow(line.substr(at + 9)).c_str()));
      most = count > most ? count : most;
    }
  };
  ok = AskDriverPumping(view, "masters 8 " + std::to_string(seconds), seconds, &why, sample);
  Check(ok, name + " eight libmodbus clients at once: " + why);
  Check(most == 8, name + " the connection line counted " + std::to_string(most) + " masters at most");
  Check(view.rxLine.rfind(u"RX: 127.0.0.1:", 0) == 0 && view.rxLine.find(u" \u2014 00 ") != std::u16string::npos,
        name + " the RX line names the client: " + Narrow(view.rxLine));
  shown = view.PumpUntil([&] { return view.connectionLine.find(u"masters: 0") != std::u16string::npos; }, 10000);
  Check(shown, name + " masters: 0 once they left: " + Narrow(view.connectionLine));

  ok = AskDriver("hold 16", &why);
  Check(ok, name + " sixteen connections served: " + why);
  shown = view.PumpUntil([&] { return view.connectionLine.find(u"masters: 16") != std::u16string::npos; }, 10000);
  Check(shown, name + " the connection line counts 16: " + Narrow(view.connectionLine));
  ok = AskDriver("seventeenth", &why);
  Check(ok, name + " the 17th refused at once, the 16 served on: " + why);
  Check(AskDriver("release", &why), name + " the sixteen closed");
  shown = view.PumpUntil([&] { return view.connectionLine.find(u"masters: 0") != std::u16string::npos; }, 10000);
  Check(shown, name + " masters: 0 after the sixteen closed: " + Narrow(view.connectionLine));
  ok = AskDriver("idle 2", &why);
  Check(ok, name + " idle time 2 s: " + why);
  view.Disconnect();
  CheckText(view.rxLine, u"RX: -", name + " RX line after Disconnect");
  view.Detach();
  ReleasePluginLibrary(&plugin);
  return 0;
}

// --- the TCP-to-RTU gateway ----------------------------------------------------------------

// The row of the table that shows unit (its first column), or -1.
int RowOfUnit(ViewHost& view, const std::u16string& unit) {
  for (uint32_t row = 0; row < view.rows; ++row)
    if (view.Cell(row, 0) == unit) return static_cast<int>(row);
  return -1;
}

uint32_t CountOf(ViewHost& view, const std::u16string& unit, uint32_t column) {
  const int row = RowOfUnit(view, unit);
  return row < 0 ? 0 : static_cast<uint32_t>(atoi(Narrow(view.Cell(static_cast<uint32_t>(row), column)).c_str()));
}

// The gateway through the real interface: its descriptor and table, its
// page (the serial page's ids, 1021 and 1022 for the network side), then
// gateway_e2e.py's masters through it to pymodbus's RTU server on the pty.
int RunGateway(const std::string& com, const std::string& port) {
  const std::string name = "streamhdr_linebin_gateway";
  const char* listed = com.c_str();
  ListSerialPorts(&listed, 1);
  PluginLibrary plugin;
  if (!LoadPluginLibrary(DistPluginPath(name.c_str()), &plugin)) {
    Check(false, name + " loads with both exports");
    return 0;
  }
  if (!CheckPluginAbi(plugin, name, u"streamhdr-linebin-gateway", u"Modbus TCP/IP to RTU Gateway", u"Units", 160))
    return 0;
  const PluginOps& ops = plugin.ops;
  int32_t result = 0;
  CheckText(Line(ops.getProtocolLine, ops.instance, 256, &result), u"Modbus TCP/IP to RTU (gateway)",
            name + " protocol line");

  HWND parent = CreateWindowExW(0, L"STATIC", L"Connection setup", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  HWND page = reinterpret_cast<HWND>(ops.createSettingsPage(ops.instance, reinterpret_cast<PluginWindow>(parent)));
  Check(page && FindControl(page, 1021) && FindControl(page, 1022) && GetDlgItem(page, 1011),
        name + " page: the serial page's ids, 1021 and 1022");
  const std::wstring wideCom(com.begin(), com.end());
  SendDlgItemMessageW(page, 1001, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(wideCom.c_str()));
  SetDlgItemTextW(page, 1011, L"500");
  SendMessageW(FindControl(page, 1021), IPM_SETADDRESS, 0, MAKEIPADDRESS(127, 0, 0, 1));
  SetWindowTextW(FindControl(page, 1022), std::wstring(port.begin(), port.end()).c_str());
  ops.applySettings(ops.instance);
  DestroyWindow(page);
  DestroyWindow(parent);
  CheckText(Line(ops.getConnectionLine, ops.instance, 256, &result),
            Wide("127.0.0.1:" + port + " to " + com + " 19200-8-E-1, masters: 0"), name + " connection line");

  ViewHost view(ops);
  view.Attach();
  Check(view.rows == 0 && view.columns == 7 && view.columnTitles.size() >= 7 && view.columnTitles[4] == u"No answer (0x0B)",
        name + " an empty table of seven columns");
  Check(view.Connect() == 1, name + " Connect");
  std::string why;
  for (const char* scenario : {"gateway functions", "gateway broadcast", "gateway absent", "gateway interleaved"}) {
    const bool ok = AskDriver(scenario, &why);
    Check(ok, name + " " + scenario + ": " + why);
    view.Pump();
  }
  view.PumpUntil([&] { return CountOf(view, u"7", 4) >= 1; }, 10000);
  Check(CountOf(view, u"1", 1) > 0 && CountOf(view, u"1", 2) > 0, name + " unit 1: requests and answers counted");
  Check(CountOf(view, u"2", 2) > 0, name + " unit 2: answers counted");
  Check(RowOfUnit(view, u"0 (broadcast)") >= 0 && CountOf(view, u"0 (broadcast)", 2) == 0,
        name + " the broadcast's row, no answer counted");
  Check(CountOf(view, u"7", 4) >= 1 && CountOf(view, u"7", 2) == 0, name + " unit 7: no answer counted");
  Check(view.Count(HostCommandKind::ShowTxFrame, true) > 0 && view.Count(HostCommandKind::ShowRxFrame, true) > 0,
        name + " line frames posted to both lines");
  Check(PostedRxText(view, 0, u"RX: Timeout"), name + " RX: Timeout shown for the absent unit");

  // The line goes away: 0x0A; back again: served.
  Check(AskDriver("unplug"), name + " driver took the line away");
  bool ok = AskDriver("gateway nopath", &why);
  Check(ok, name + " exception 0x0A while the line is away: " + why);
  view.PumpUntil([&] { return PostedRxText(view, 0, u"RX: Line unavailable"); }, 5000);
  Check(PostedRxText(view, 0, u"RX: Line unavailable"), name + " RX: Line unavailable shown");
  Check(AskDriver("replug"), name + " driver brought the line back");
  ok = AskDriver("gateway again", &why);
  Check(ok, name + " served again once the line is back: " + why);
  view.Disconnect();
  CheckText(view.rxLine, u"RX: -", name + " RX line after Disconnect");
  view.Detach();
  ReleasePluginLibrary(&plugin);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "abi" && argc == 3) {
    RunAbi(argv[2]);
  } else if ((mode == "net" || mode == "serial") && argc == 4 && Find(argv[2])) {
    RunSession(*Find(argv[2]), argv[3]);
  } else if (mode == "values" && argc == 4 && Find(argv[2])) {
    RunValues(*Find(argv[2]), argv[3]);
  } else if (mode == "gateway" && argc == 4) {
    RunGateway(argv[2], argv[3]);
  } else if (mode == "masters" && argc == 5) {
    RunMasters(argv[3], atoi(argv[4]));
  } else if (mode == "load" && argc == 5 && Find(argv[2])) {
    RunLoad(*Find(argv[2]), argv[3], atoi(argv[4]));
  } else {
    fprintf(stderr, "usage: server_plugin_e2e abi PORT | net LIBRARY PORT | serial LIBRARY COMn | load LIBRARY PORT SECONDS\n");
    return 2;
  }
  return CheckSummary();
}
