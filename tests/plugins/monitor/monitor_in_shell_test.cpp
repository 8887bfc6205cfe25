// The bus monitor in the real program: velmora.exe started in a scratch
// folder with the library, "Modbus RTU Bus Monitor" chosen in the
// connection setup, its COM port (VELMORA_MONITOR_COM, one end of the
// simulated bus bus_e2e.py runs) picked on the serial page as a user
// would, and connected; the driver's master then talks to the two slaves.
// The table read back from the list view holds one row per unit with what
// the master saw, the frame lines the last request and answer; the traffic
// log (the system menu's command) a row for each of them: the requests as
// TX, the answers as RX, each CRC error and each unit's time-outs. All by
// posted input. Keeps screenshots of the main window in
// build/win/artifacts/monitor_view_default.png (the default size) and
// monitor_view.png (wider, docs/monitor-view.png) and of the log in
// traffic_log_monitor.png.
#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>
#include <string>

#include "plugins/server/find_control.h"
#include "support/driver_request.h"
#include "support/velmora_session.h"

namespace {

using namespace uiauto;

// The serial page lists the ports of SERIALCOMM, which Wine fills only when
// the prefix starts.
void ListPort(const std::wstring& com) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return;
  const std::wstring value = L"VelmoraTest" + com;
  RegSetValueExW(key, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(com.c_str()),
                 static_cast<DWORD>((com.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// "1 6 6 1 1 0;2 ..." as the driver answers, as the table's first six
// columns read.
std::wstring TableText(HWND table) {
  std::wstring text;
  for (int row = 0; row < ListRowCount(table); ++row) {
    for (int column = 0; column < 6; ++column) text += (column ? L" " : L"") + CellText(table, row, column);
    text += L";";
  }
  return text;
}

TEST(MonitorInShell, CountsTheBusAsTheMasterSawIt) {
  const std::wstring com = EnvText(L"VELMORA_MONITOR_COM");
  ASSERT_FALSE(com.empty()) << "run through bus_e2e.py, which sets VELMORA_MONITOR_COM";
  ListPort(com);
  Scratch scratch({});
  Shell shell;
  HWND dialog = nullptr;
  ASSERT_NO_FATAL_FAILURE(shell.StartAndPick(scratch, L"linebin_monitor", L"Modbus RTU Bus Monitor", &dialog));
  HWND ports = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (ports = FindControl(dialog, 1001)) != nullptr && ChoiceCount(ports) > 0; }))
      << "the serial page did not appear";
  int index = -1;
  for (int i = 0; i < ChoiceCount(ports); ++i)
    if (ChoiceText(ports, i) == com) index = i;
  ASSERT_GE(index, 0) << "the page does not list " << Narrow(com);
  PickChoice(ports, index);
  ASSERT_NO_FATAL_FAILURE(shell.ConfirmSetup(dialog));
  EXPECT_EQ(shell.Text(IDC_PROTOCOL_LINE), L"Modbus RTU (bus monitor)");
  EXPECT_EQ(shell.Text(IDC_CONNECTION_LINE), com + L": 19200-8-E-1-None");

  shell.Click(IDC_CONNECT_BUTTON);
  ASSERT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"Dis&connect");
  std::string verdict;
  AskDriver("traffic", &verdict);
  ASSERT_EQ(verdict.rfind("ok ", 0), 0u) << verdict;
  const std::wstring expected(verdict.begin() + 3, verdict.end());
  std::wstring wanted;
  std::wstringstream units(expected);
  for (std::wstring unit; std::getline(units, unit, L';');) wanted += unit + L";";

  HWND table = shell.Item(IDC_TABLE);
  EXPECT_TRUE(WaitFor([&] { return TableText(table) == wanted; }, 10000))
      << "table: " << Narrow(TableText(table)) << " expected " << Narrow(wanted);
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_TX_LINE).rfind(L"TX: 01 04 00 00 00 03", 0) == 0; }))
      << "TX line: " << Narrow(shell.Text(IDC_TX_LINE));
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_RX_LINE).rfind(L"RX: 01 04 06", 0) == 0; }))
      << "RX line: " << Narrow(shell.Text(IDC_RX_LINE));
  EXPECT_EQ(CellText(table, 0, 6), L"4");
  // At the window's default size the eight columns end within the table's
  // width, using it beyond a vertical scroll bar's room and the rounding of
  // the shares; nothing to choose: no empty choice box beside the table.
  RECT client = {};
  GetClientRect(table, &client);
  EXPECT_EQ(ListColumnCount(table), 8);
  EXPECT_LE(ListColumnsWidth(table), client.right) << "columns beyond the right edge";
  EXPECT_GE(ListColumnsWidth(table), client.right - GetSystemMetrics(SM_CXVSCROLL) - 8) << "width unused";
  EXPECT_LT(ListColumnWidth(table, 0), ListColumnWidth(table, 7)) << "\"Unit ID\" needs less room than \"Last response\"";
  EXPECT_FALSE(Visible(shell.Item(IDC_CHOICES)));
  Sleep(300);  // let the frame lines' throttle paint the latest texts
  EXPECT_TRUE(SavePng(Capture(shell.main), ArtefactPath(L"monitor_view_default.png")));
  // Wide enough for every column title in the picture (the fitted columns
  // follow the window's width).
  SetWindowPos(shell.main, nullptr, 0, 0, 1130, 430, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  shell.Settle();
  Sleep(300);  // let the frame lines' throttle paint the latest texts
  CreateDirectoryW((ExeFolder() + L"..\\artifacts").c_str(), nullptr);
  EXPECT_TRUE(SavePng(Capture(shell.main), ExeFolder() + L"..\\artifacts\\monitor_view.png"));

  // The log against the table: as many requests, answers, exceptions and
  // CRC errors, and each unit's time-outs by its number.
  HWND log = nullptr, rows = nullptr;
  ASSERT_NO_FATAL_FAILURE(shell.OpenTrafficLog(&log, &rows));
  int want[4] = {};  // requests, answers, exceptions, CRC errors as the table counts them
  std::wstring wantTimeouts;
  for (int row = 0; row < ListRowCount(table); ++row) {
    for (int column = 1; column <= 4; ++column) want[column - 1] += std::stoi(CellText(table, row, column));
    wantTimeouts += CellText(table, row, 0) + L":" + CellText(table, row, 5) + L" ";
  }
  int got[4] = {};
  std::wstring gotTimeouts;
  const auto readLog = [&] {
    int counted[4] = {};
    int timeouts[256] = {};
    for (int row = 0; row < ListRowCount(rows); ++row) {
      const bool tx = CellText(rows, row, 1) == L"TX";
      const std::wstring meaning = CellText(rows, row, 5);
      if (tx) ++counted[0];
      if (!tx && (meaning.rfind(L"answer", 0) == 0 || meaning.rfind(L"Exception", 0) == 0)) ++counted[1];
      if (!tx && meaning.rfind(L"Exception", 0) == 0) ++counted[2];
      if (!tx && meaning == L"CRC error") ++counted[3];
      if (!tx && meaning.rfind(L"Timeout, unit ", 0) == 0) ++timeouts[std::stoi(meaning.substr(14)) & 0xFF];
    }
    gotTimeouts.clear();
    for (int row = 0; row < ListRowCount(table); ++row) {
      const std::wstring unit = CellText(table, row, 0);
      gotTimeouts += unit + L":" + std::to_wstring(timeouts[std::stoi(unit) & 0xFF]) + L" ";
    }
    for (int k = 0; k < 4; ++k) got[k] = counted[k];
    return got[0] == want[0] && got[1] == want[1] && gotTimeouts == wantTimeouts;
  };
  EXPECT_TRUE(WaitFor(readLog)) << "requests " << got[0] << " of " << want[0] << ", answers " << got[1] << " of "
                                << want[1] << ", time-outs " << Narrow(gotTimeouts) << " of " << Narrow(wantTimeouts);
  EXPECT_EQ(got[2], want[2]) << "exceptions";
  EXPECT_EQ(got[3], want[3]) << "CRC errors";
  EXPECT_GT(want[2], 0);
  EXPECT_GT(want[3], 0);
  EXPECT_TRUE(SavePng(Capture(log), ExeFolder() + L"..\\artifacts\\traffic_log_monitor.png"));
  PostMessageW(log, WM_CLOSE, 0, 0);
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"&Connect");
}

}  // namespace
