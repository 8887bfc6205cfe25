// The bus monitor library through the real interface, as the shell meets
// it: loaded from build/win/dist/plugins, checked against its descriptor,
// configured through its own settings page, attached to a stand-in for the
// shell's view and connected to one end of the simulated RS-485 bus that
// bus_e2e.py runs (tests/peers/bus_hub.py), where a pymodbus master talks
// to our RTU slave (engine_host) and a pymodbus slave.
//
//   monitor_plugin_e2e abi <COMn>
//       descriptor, creation rules, table, lines, tips, the view it fills
//       at attach, and the Connect refusal of a port that does not open
//   monitor_plugin_e2e bus <COMn>
//       connects, asks the driver for the master's traffic ("DRIVER
//       traffic", answered "ok <unit> <requests> <answers> <exceptions>
//       <crc errors> <time-outs>;..." from what the master saw) and checks
//       the table against it, and the frame lines
//
// Prints one line per check and ends with "N checks, M failed"; the exit
// code is the number of failed checks.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/check_log.h"
#include "support/driver_request.h"
#include "support/plugin_abi_checks.h"
#include "support/plugin_library.h"
#include "support/view_host.h"

namespace {

const char kLibrary[] = "linebin_monitor";
const char16_t* const kColumns[] = {u"Unit ID",   u"Requests",      u"Answers",      u"Exceptions",
                                    u"CRC errors", u"Time-outs", u"Last function", u"Last response"};

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::u16string Tip(const PluginOps& ops, bool next, uint32_t seed = 0) {
  Unit tip[512] = {};
  if (next) ops.getNextTip(ops.instance, tip, 512);
  else ops.getTip(ops.instance, seed, tip, 512);
  return tip;
}

// Creates the settings page in a parent window as the setup dialog does,
// picks the COM port as a user would and confirms it.
bool ConfigurePage(const PluginOps& ops, const std::string& com) {
  HWND parent = CreateWindowExW(0, L"STATIC", L"Connection setup", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  HWND page = reinterpret_cast<HWND>(ops.createSettingsPage(ops.instance, reinterpret_cast<PluginWindow>(parent)));
  if (!page) {
    DestroyWindow(parent);
    return false;
  }
  std::wstring port(com.begin(), com.end());
  const LRESULT picked =
      SendDlgItemMessageW(page, 1001, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(port.c_str()));
  ops.applySettings(ops.instance);
  DestroyWindow(page);
  DestroyWindow(parent);
  return picked != CB_ERR;
}

int RunAbi(const std::string& absentCom) {
  PluginLibrary plugin;
  if (!LoadPluginLibrary(DistPluginPath(kLibrary), &plugin)) {
    Check(false, std::string(kLibrary) + " loads with both exports");
    return CheckSummary();
  }
  const std::string name = kLibrary;
  if (!CheckPluginAbi(plugin, name, u"linebin-monitor", u"Modbus RTU Bus Monitor", u"Units on the bus", 150)) {
    return CheckSummary();
  }
  const PluginOps& ops = plugin.ops;
  int32_t result = 0;
  CheckText(Line(ops.getProtocolLine, ops.instance, 256, &result), u"Modbus RTU (bus monitor)", name + " protocol line");
  CheckText(Line(ops.getConnectionLine, ops.instance, 256, &result), u"COM1: 19200-8-E-1-None",
            name + " connection line");
  CheckText(Tip(ops, false, 6), u"Tip: TX shows the last request on the bus, RX the last answer.",
            name + " tip for seed 6");
  CheckText(Tip(ops, true), u"Tip: a request with no answer before the next one counts as a time-out.",
            name + " next tip");

  {
    ViewHost view(ops);
    view.Attach();
    bool hidden = true;
    for (bool shown : view.fieldShown) hidden = hidden && !shown;
    Check(view.tabs.size() == 1 && view.tabs[0].title == u"Bus" && view.rows == 0 && view.columns == 8 &&
              view.choices.empty() && hidden && view.addRemove == 0,
          name + " attach shows an empty table of 8 columns, no fields, no choices");
    bool titles = view.columnTitles.size() >= 8;
    for (size_t i = 0; titles && i < 8; ++i) titles = view.columnTitles[i] == kColumns[i];
    Check(titles, name + " column titles");

    // A port that is in the list but does not open: the message box, and
    // the shell stays disconnected.
    const char* port = absentCom.c_str();
    ListSerialPorts(&port, 1);
    Check(ConfigurePage(ops, absentCom), name + " settings page lists " + absentCom);
    Check(view.Connect() == 0 && !view.connected(), name + " Connect on a port that does not open fails");
    Check(view.errors.size() == 1 &&
              view.errors[0].first == u"Failed to open COM port. Please check if it's available." &&
              view.errors[0].second == u"Connection Error",
          name + " \"" + Narrow(view.errors.empty() ? u"" : view.errors[0].first) + "\"");
    view.Detach();
  }
  ReleasePluginLibrary(&plugin);
  return CheckSummary();
}

struct UnitCounts {
  std::string unit, requests, answers, exceptions, crcErrors, timeouts;
};

// "1 6 6 1 1 0;2 ..." as the driver answers.
std::vector<UnitCounts> ParseExpected(const std::string& text) {
  std::vector<UnitCounts> units;
  std::stringstream all(text);
  std::string one;
  while (std::getline(all, one, ';')) {
    std::stringstream fields(one);
    UnitCounts u;
    if (fields >> u.unit >> u.requests >> u.answers >> u.exceptions >> u.crcErrors >> u.timeouts) units.push_back(u);
  }
  return units;
}

std::string TableText(ViewHost& view) {
  std::string text;
  for (uint32_t row = 0; row < view.rows; ++row) {
    for (uint32_t column = 0; column < 6; ++column) text += (column ? " " : "") + Narrow(view.Cell(row, column));
    text += ";";
  }
  return text;
}

std::string ExpectedText(const std::vector<UnitCounts>& units) {
  std::string text;
  for (const UnitCounts& u : units)
    text += u.unit + " " + u.requests + " " + u.answers + " " + u.exceptions + " " + u.crcErrors + " " + u.timeouts + ";";
  return text;
}

bool PostedDamagedFrame(const ViewHost& view) {
  for (const RecordedCommand& command : view.log)
    if (command.posted && command.kind == HostCommandKind::ShowRxText && command.index == 1 &&
        command.text.find(u"CRC error") != std::u16string::npos)
      return true;
  return false;
}

int RunBus(const std::string& com) {
  const std::string name = kLibrary;
  const char* port = com.c_str();
  ListSerialPorts(&port, 1);
  PluginLibrary plugin;
  if (!LoadPluginLibrary(DistPluginPath(kLibrary), &plugin) || !plugin.created) {
    Check(false, name + " loads");
    return CheckSummary();
  }
  const PluginOps& ops = plugin.ops;
  Check(ConfigurePage(ops, com), name + " settings page picks " + com);
  ViewHost view(ops);
  view.Attach();
  Check(view.Connect() == 1, name + " listens on " + com);

  std::string answer;
  const bool ran = AskDriver("traffic", &answer);
  Check(ran, name + " the master's traffic: " + answer);
  const std::vector<UnitCounts> units = ParseExpected(ran ? answer.substr(2) : "");
  const std::string expected = ExpectedText(units);
  // The worker posts at most every 50 ms; a loaded machine may take longer.
  view.PumpUntil([&] { return TableText(view) == expected; }, 10000);
  CheckText(Wide(TableText(view)), Wide(expected), name + " one row per unit: requests answers exceptions crc time-outs");
  // The master's last request and its answer: read input registers of unit 1.
  Check(view.txLine.rfind(u"TX: 01 04 00 00 00 03", 0) == 0, name + " TX line shows the last request: " + Narrow(view.txLine));
  Check(view.rxLine.rfind(u"RX: 01 04 06", 0) == 0 && !view.rxError,
        name + " RX line shows the last answer: " + Narrow(view.rxLine));
  Check(PostedDamagedFrame(view), name + " the damaged frame was shown on the RX line in the error colour");
  bool functions = view.rows > 0;
  for (uint32_t row = 0; row < view.rows; ++row) functions = functions && view.Cell(row, 6) != u"<untouched>";
  Check(functions && view.Cell(0, 6) == u"4" && view.Cell(0, 7).find(u" ms") != std::u16string::npos,
        name + " unit 1: last function " + Narrow(view.Cell(0, 6)) + ", last response " + Narrow(view.Cell(0, 7)));

  view.Disconnect();
  Check(!view.connected(), name + " disconnects");
  view.Detach();
  ReleasePluginLibrary(&plugin);
  return CheckSummary();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "abi" && argc == 3) return RunAbi(argv[2]);
  if (mode == "bus" && argc == 3) return RunBus(argv[2]);
  fprintf(stderr, "usage: monitor_plugin_e2e abi COMn | bus COMn\n");
  return 2;
}
