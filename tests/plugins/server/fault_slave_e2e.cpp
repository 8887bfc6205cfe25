// The two fault-injecting slave libraries through the real interface under
// Wine: descriptors, lines, the "Faults" group of the settings page, and a
// session of the TCP one in which every fault in turn falls due on every
// 2nd request of independent clients (fault_e2e.py runs them). The serial
// session does the same with the RTU one on a pseudo-terminal pair, for the
// faults that need no timing (Wine cannot keep the line's timing there).
//
//   fault_slave_e2e session <port> <screenshot.png>
//   fault_slave_e2e serial <COMn> <COMm>
//       the RTU one on COMn against the driver's clients, then against our
//       own RTU master on COMm, the pair's other end
//
// Prints one line per check and ends with "N checks, M failed"; the exit
// code is the number of failed checks.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "find_control.h"
#include "server/fault_page_ids.h"
#include "support/check_log.h"
#include "support/driver_request.h"
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
  bool tcp;
};

const Deliverable kDeliverables[] = {
    {"streamhdr_fault_server", u"streamhdr-fault-server", u"Modbus TCP/IP Slave (fault injection)", 130,
     u"Modbus TCP/IP (slave, fault injection)", u"0.0.0.0:502, any Unit ID, faults injected: 0", true},
    {"linebin_fault_server", u"linebin-fault-server", u"Modbus RTU Slave (fault injection)", 140,
     u"Modbus RTU (slave, fault injection)", u"COM1: 19200-8-E-1-None, ID: 1, faults injected: 0", false},
};

void SetText(HWND control, const std::string& text) {
  std::wstring wide(text.begin(), text.end());
  SetWindowTextW(control, wide.c_str());
}

// One fault of the session: its rate control, the driver's scenario and
// the RX line's name of it.
struct FaultCase {
  int rateControl;  // 0: every fault off
  const char* scenario;
  const char16_t* name;
  const char* delay;
  int codeIndex;  // in the list 1, 2, 3, 4, 6
  // Holding register 10 after the clients' writes of 99 into it (they
  // write only when the case names a value).
  const char16_t* written;
};

const FaultCase kFaults[] = {
    {0, "off", nullptr, "1000", 3, nullptr},
    {IDC_FAULT_DROP, "drop", u"answer dropped", "1000", 3, u"99"},
    {IDC_FAULT_LATE, "late-within", u"answer delayed", "300", 3, nullptr},
    {IDC_FAULT_LATE, "late-beyond", u"answer delayed", "3000", 3, nullptr},
    {IDC_FAULT_EXCEPTION, "exception", u"exception instead of the answer", "1000", 4, u"0"},
    {IDC_FAULT_DAMAGE, "damage", u"answer damaged", "1000", 3, nullptr},
    {IDC_FAULT_OTHER, "other", u"answer from another unit", "1000", 3, nullptr},
    {IDC_FAULT_SPLIT, "split", u"answer split", "1000", 3, nullptr},
    {IDC_FAULT_CLOSE, "close", u"connection closed instead of answering", "1000", 3, nullptr},
    {IDC_FAULT_DROP, "mbpoll", u"answer dropped", "1000", 3, nullptr},
};

// On the serial line: the faults that need no timing. The damaged answer
// carries a wrong CRC there, and the write of its request is carried out.
const FaultCase kSerialFaults[] = {
    {0, "off", nullptr, "1000", 3, nullptr},
    {IDC_FAULT_DROP, "drop", u"answer dropped", "1000", 3, u"99"},
    {IDC_FAULT_EXCEPTION, "exception", u"exception instead of the answer", "1000", 4, u"0"},
    {IDC_FAULT_DAMAGE, "damage", u"answer damaged", "1000", 3, u"99"},
    {IDC_FAULT_OTHER, "other", u"answer from another unit", "1000", 3, nullptr},
};

// What our own RTU master shows for each of kSerialFaults between its good
// answers: it listens on past an answer from another slave until its
// time-out, and then names that answer an invalid frame.
const char16_t* const kMasterRx[] = {nullptr, u"RX: Timeout", u"RX: Exception 06 - Server device busy",
                                     u"RX: CRC error", u"RX: Invalid frame"};
static_assert(sizeof kMasterRx / sizeof kMasterRx[0] == sizeof kSerialFaults / sizeof kSerialFaults[0],
              "one master text per serial fault");

// Creates the page as the setup dialog does, fills it as a user would and
// confirms it: where is a TCP port, or a COM port on the serial page. With
// a screenshot path, the page is shown and saved first.
bool ConfigurePage(const PluginOps& ops, const std::string& where, const FaultCase& fault, const char* shot) {
  HWND parent = CreateWindowExW(0, L"#32770", L"Connection setup", WS_POPUP | WS_VISIBLE | WS_CAPTION, 0, 0, 420,
                                520, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  HWND page = reinterpret_cast<HWND>(ops.createSettingsPage(ops.instance, reinterpret_cast<PluginWindow>(parent)));
  if (!page) {
    DestroyWindow(parent);
    return false;
  }
  if (where.rfind("COM", 0) == 0) {
    const std::wstring port(where.begin(), where.end());
    SendMessageW(FindControl(page, 1001), CB_SELECTSTRING, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(port.c_str()));
  } else {
    SendMessageW(FindControl(page, 1001), IPM_SETADDRESS, 0, MAKEIPADDRESS(127, 0, 0, 1));
    SetText(FindControl(page, 1002), where);
  }
  for (int id = IDC_FAULT_DROP; id <= IDC_FAULT_CLOSE; ++id) SetText(FindControl(page, id), id == fault.rateControl ? "2" : "0");
  SetText(FindControl(page, IDC_FAULT_DELAY), fault.delay);
  SendMessageW(FindControl(page, IDC_FAULT_CODE), CB_SETCURSEL, static_cast<WPARAM>(fault.codeIndex), 0);
  if (shot) {
    // Painted before the driver photographs the screen.
    const DWORD until = GetTickCount() + 300;
    MSG msg;
    while (static_cast<int32_t>(until - GetTickCount()) > 0) {
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      Sleep(10);
    }
    std::string why;
    Check(AskDriver(std::string("shot ") + shot, &why), std::string("faults page screenshot: ") + why);
  }
  ops.applySettings(ops.instance);
  DestroyWindow(page);
  DestroyWindow(parent);
  return true;
}

void CheckLibrary(const Deliverable& d) {
  const std::string name = d.library;
  PluginLibrary plugin;
  if (!LoadPluginLibrary(DistPluginPath(d.library), &plugin) || !plugin.descriptor) {
    Check(false, name + " loads with both exports");
    return;
  }
  const PluginDescriptor* desc = plugin.descriptor;
  CheckText(desc->id, d.id, name + " ID");
  CheckText(desc->displayName, d.name, name + " display name");
  CheckText(desc->viewTitle, u"I/O map", name + " view title");
  Check(desc->order == d.order, name + " order " + std::to_string(desc->order));
  const PluginOps& ops = plugin.ops;
  Check(plugin.created == 1 && ops.size == 104 && ops.version == 11, name + " table 104/11");
  int32_t result = 0;
  CheckText(Line(ops.getProtocolLine, ops.instance, 256, &result), d.title, name + " protocol line");
  CheckText(Line(ops.getConnectionLine, ops.instance, 256, &result), d.connectionLine, name + " connection line");

  HWND parent = CreateWindowExW(0, L"STATIC", L"setup", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  HWND page = reinterpret_cast<HWND>(ops.createSettingsPage(ops.instance, reinterpret_cast<PluginWindow>(parent)));
  Check(page && FindControl(page, IDC_FAULT_DROP) && FindControl(page, IDC_FAULT_SPLIT) && FindControl(page, IDC_FAULT_CODE),
        name + " settings page holds the Faults group");
  Check((FindControl(page, IDC_FAULT_CLOSE) != nullptr) == d.tcp, name + " \"Close connection\" only on TCP");
  HWND group = FindControl(page, IDC_FAULT_DROP) ? GetParent(FindControl(page, IDC_FAULT_DROP)) : nullptr;
  RECT pageRect = {}, groupRect = {};
  GetWindowRect(page, &pageRect);
  if (group) GetWindowRect(group, &groupRect);
  Check(group && groupRect.top > pageRect.top && groupRect.bottom <= pageRect.bottom,
        name + " the Faults group lies under the transport's group, inside the page");
  Check(SendMessageW(FindControl(page, IDC_FAULT_CODE), CB_GETCOUNT, 0, 0) == 5, name + " five exception codes offered");
  DestroyWindow(page);
  DestroyWindow(parent);
  ReleasePluginLibrary(&plugin);
}

std::vector<std::u16string> PostedRxTexts(const ViewHost& view, size_t from) {
  std::vector<std::u16string> texts;
  for (size_t i = from; i < view.log.size(); ++i)
    if (view.log[i].posted && view.log[i].kind == HostCommandKind::ShowRxText) texts.push_back(view.log[i].text);
  return texts;
}

bool EndsWith(const std::u16string& text, const std::u16string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Connects with the fault's settings applied, lets the driver's clients run
// and checks that expected faults were named on the RX line and counted on
// the connection line while connected: the plug-in posts RefreshHeaderLines,
// at most one per fault, and the view reads the line again for it.
// A serial slave on the pty parked by a transport failure is connected again
// and the clients run once more.
// How we know the cause is the pty: the serial transport shows "RX: Transport
// error" only for a driver call that failed (time-outs, cancels and line
// errors have texts of their own, proven on the simulated line), and on a
// pty the driver is Wine's serial emulation, whose overlapped waits fail now
// and then (transport/serial/README.md). Nothing else earns a retry: on a
// network transport, or a second time, a parked or lost slave fails. Each
// retry prints a RETRY line, which tools/test counts in its summary.
void ConnectAndAsk(ViewHost& view, const std::string& what, const FaultCase& fault, size_t expected, bool pty) {
  view.Pump();
  view.connectionLine.clear();
  size_t from = view.log.size();
  Check(view.Connect() == 1, what + ": Connect");
  std::string why;
  bool seen = AskDriver(fault.scenario, &why);
  view.Pump();
  if (!seen && pty && view.rxLine == u"RX: Transport error") {
    printf("RETRY %s: the slave was parked by a transport failure on the Wine pty; connected again\n", what.c_str());
    fflush(stdout);
    view.Disconnect();
    view.EditCell(10, 1, u"0");
    view.Pump();
    from = view.log.size();
    view.Connect();
    seen = AskDriver(fault.scenario, &why);
  }
  Check(seen, what + ": clients see " + why);
  std::vector<std::u16string> named;
  view.PumpUntil(
      [&] {
        named.clear();
        for (const std::u16string& text : PostedRxTexts(view, from))
          if (fault.name && EndsWith(text, std::u16string(u" \u2014 ") + fault.name)) named.push_back(text);
        return named.size() >= expected;
      },
      10000);
  Check(named.size() == expected && PostedRxTexts(view, from).size() == expected,
        what + ": " + std::to_string(expected) + " faults named on the RX line" +
            (named.empty() ? "" : " (" + Narrow(named[0]) + ")"));
  const std::u16string count = u", faults injected: " + std::u16string(1, static_cast<char16_t>(u'0' + expected));
  view.PumpUntil([&] { return expected == 0 || EndsWith(view.connectionLine, count); }, 10000);
  size_t refreshes = 0;
  for (size_t i = from; i < view.log.size(); ++i)
    refreshes += view.log[i].posted && view.log[i].kind == HostCommandKind::RefreshHeaderLines;
  Check(expected == 0 ? refreshes == 0 && view.connectionLine.empty()
                      : refreshes >= 1 && refreshes <= expected && EndsWith(view.connectionLine, count),
        what + ": the connection line read again while connected, " + std::to_string(refreshes) + " times: \"" +
            Narrow(view.connectionLine) + "\"");
}

// Holding registers 0 and 1 as the driver's clients expect them.
void TypeDevice(ViewHost& view) {
  view.Attach();
  view.ChooseFunction(3);
  view.EditField(0, u"0");
  view.EditCell(0, 1, u"4660");
  view.EditCell(1, 1, u"22136");
}

template <size_t N>
void RunSession(const PluginOps& ops, const std::string& name, const FaultCase (&faults)[N], const std::string& where,
                const char* shot) {
  ViewHost view(ops);
  TypeDevice(view);
  for (const FaultCase& fault : faults) {
    const std::string what = name + " " + fault.scenario;
    Check(ConfigurePage(ops, where, fault, shot && strcmp(fault.scenario, "drop") == 0 ? shot : nullptr),
          what + ": settings applied");
    view.EditCell(10, 1, u"0");
    // The driver's clients make two requests each; every 2nd one is faulted.
    const size_t expected = fault.name ? 2 : 0;
    ConnectAndAsk(view, what, fault, expected, where.rfind("COM", 0) == 0);
    int32_t result = 0;
    const std::u16string line = Line(ops.getConnectionLine, ops.instance, 256, &result);
    Check(EndsWith(line, u", faults injected: " + std::u16string(1, static_cast<char16_t>(u'0' + expected))),
          what + ": connection line \"" + Narrow(line) + "\"");
    if (fault.written) {
      CheckText(view.Cell(10, 1), fault.written,
                what + (fault.rateControl == IDC_FAULT_EXCEPTION ? ": the refused write is not carried out"
                                                                 : ": the write of the faulted request shows in the table"));
    }
    view.Disconnect();
  }
  view.Detach();
}

bool PostedRxText(const ViewHost& view, size_t from, const std::u16string& text) {
  for (const std::u16string& posted : PostedRxTexts(view, from))
    if (posted == text) return true;
  return false;
}

// Polls holding registers 0 and 1 every 100 ms on COMn, with a response
// time-out of 500 ms.
void SetUpMaster(const PluginOps& ops, ViewHost& view, const std::string& com) {
  HWND parent = CreateWindowExW(0, L"STATIC", L"setup", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  HWND page = reinterpret_cast<HWND>(ops.createSettingsPage(ops.instance, reinterpret_cast<PluginWindow>(parent)));
  const std::wstring port(com.begin(), com.end());
  SendMessageW(FindControl(page, 1001), CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(port.c_str()));
  SetText(FindControl(page, 1011), "500");
  ops.applySettings(ops.instance);
  DestroyWindow(page);
  DestroyWindow(parent);
  view.Attach();
  view.ChooseFunction(3);
  view.EditField(1, u"0");
  view.EditField(2, u"2");
  view.EditField(3, u"100");
}

// Our own RTU master plug-in polls the RTU fault slave across the pty pair,
// both ends in this process: good answers and, for each fault, its RX text.
void RunMaster(const PluginOps& slave, const PluginOps& master, const std::string& slaveCom,
               const std::string& masterCom) {
  ViewHost slaveView(slave), masterView(master);
  TypeDevice(slaveView);
  SetUpMaster(master, masterView, masterCom);
  for (size_t i = 0; i < sizeof kSerialFaults / sizeof kSerialFaults[0]; ++i) {
    const FaultCase& fault = kSerialFaults[i];
    const std::string what = std::string("linebin_client against ") + fault.scenario;
    ConfigurePage(slave, slaveCom, fault, nullptr);
    size_t from = 0, frames = 0;
    auto shown = [&] {
      frames = 0;
      for (size_t k = from; k < masterView.log.size(); ++k)
        frames += masterView.log[k].posted && masterView.log[k].kind == HostCommandKind::ShowRxFrame;
      return frames >= 3 && (kMasterRx[i] ? PostedRxText(masterView, from, kMasterRx[i]) : PostedRxTexts(masterView, from).empty());
    };
    // Wine's pty fails a wait now and then, more often with both ends under
    // Wine: after a transport error on either end (see ConnectAndAsk for
    // how we know it is the pty) both ends connect again, up to twice.
    bool seen = false;
    std::string texts;
    for (int attempt = 0; attempt < 3 && !seen; ++attempt) {
      if (attempt) {
        printf("RETRY %s: a transport failure on the Wine pty; connected again\n", what.c_str());
        fflush(stdout);
      }
      slaveView.Pump();
      masterView.Pump();
      from = masterView.log.size();
      const size_t slaveFrom = slaveView.log.size();
      Check(slaveView.Connect() == 1 && masterView.Connect() == 1, what + ": both connect");
      seen = masterView.PumpUntil(shown, 15000);
      slaveView.Pump();
      texts.clear();
      for (const std::u16string& text : PostedRxTexts(masterView, from))
        if (texts.find(Narrow(text)) == std::string::npos) texts += " | " + Narrow(text);
      for (const std::u16string& text : PostedRxTexts(slaveView, slaveFrom))
        if (text.find(u"\u2014") == std::u16string::npos) texts += " | slave " + Narrow(text);
      masterView.Disconnect();
      slaveView.Disconnect();
      if (!PostedRxText(masterView, from, u"RX: Transport error") && !PostedRxText(slaveView, slaveFrom, u"RX: Transport error"))
        break;
    }
    Check(seen, what + ": " + std::to_string(frames) + " answers and " +
                    (kMasterRx[i] ? "\"" + Narrow(kMasterRx[i]) + "\" on the RX line" : "no RX error text") +
                    (seen ? "" : texts));
  }
  masterView.Detach();
  slaveView.Detach();
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  const bool serial = argc == 4 && strcmp(argv[1], "serial") == 0;
  if (!serial && (argc != 4 || strcmp(argv[1], "session") != 0)) {
    fprintf(stderr, "usage: fault_slave_e2e session PORT SCREENSHOT | serial SLAVE_COM MASTER_COM\n");
    return 2;
  }
  if (!serial)
    for (const Deliverable& d : kDeliverables) CheckLibrary(d);
  // Both loaded before any session: under Wine a library loaded after a
  // session on a pty dies inside ntdll (transport/serial/README.md).
  const Deliverable& d = kDeliverables[serial ? 1 : 0];
  PluginLibrary plugin, master;
  if (!LoadPluginLibrary(DistPluginPath(d.library), &plugin) || !plugin.created ||
      (serial && (!LoadPluginLibrary(DistPluginPath("linebin_client"), &master) || !master.created))) {
    Check(false, std::string(d.library) + " and the RTU master load");
    return CheckSummary();
  }
  if (serial) {
    const char* ports[] = {argv[2], argv[3]};
    ListSerialPorts(ports, 2);
    RunSession(plugin.ops, d.library, kSerialFaults, ports[0], nullptr);
    RunMaster(plugin.ops, master.ops, ports[0], ports[1]);
    ReleasePluginLibrary(&master);
  } else {
    RunSession(plugin.ops, d.library, kFaults, argv[2], argv[3]);
  }
  ReleasePluginLibrary(&plugin);
  return CheckSummary();
}
