// The TCP-to-RTU gateway in the real program: velmora.exe started in a
// scratch folder with the library, "Modbus TCP/IP to RTU Gateway" chosen in
// the connection setup, its serial page set to the pty's COM port
// (VELMORA_GATEWAY_COM) with a 500 ms response time-out and its network
// group to 127.0.0.1 and VELMORA_GATEWAY_PORT, then connected;
// gateway_e2e.py sends pymodbus's requests through it to pymodbus's RTU
// server, and the table counts them per unit. The traffic log (the system
// menu's command) follows each request through: from its master (by
// address and port) onto the line as it stood, the line's answer or
// "Timeout", and back, exception 0x0B (11) for the absent unit. All by posted
// input. Keeps screenshots of the setup page, the main window and the log
// in build/win/artifacts.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "find_control.h"
#include "server/gateway_page_ids.h"
#include "support/driver_request.h"
#include "support/plugin_library.h"
#include "support/velmora_session.h"

namespace {

using namespace uiauto;

// The table's columns end within its width and leave none of it unused
// beyond a vertical scroll bar's room and the rounding of the shares: at the
// window's default size none is beyond the right edge.
void ExpectColumnsFit(HWND table, const char* where) {
  RECT client = {};
  GetClientRect(table, &client);
  EXPECT_EQ(ListColumnCount(table), 7) << where;
  EXPECT_LE(ListColumnsWidth(table), client.right) << where << ": columns beyond the right edge";
  EXPECT_GE(ListColumnsWidth(table), client.right - GetSystemMetrics(SM_CXVSCROLL) - 7) << where << ": width unused";
}

// The table's row whose first cell is unit, or -1.
int RowOf(HWND table, const std::wstring& unit) {
  for (int row = 0; row < ListRowCount(table); ++row)
    if (CellText(table, row, 0) == unit) return row;
  return -1;
}

TEST(GatewayInShell, RequestsThroughTheGatewayAreCountedPerUnit) {
  const std::wstring port = EnvText(L"VELMORA_GATEWAY_PORT");
  const std::wstring com = EnvText(L"VELMORA_GATEWAY_COM");
  ASSERT_FALSE(port.empty() || com.empty()) << "run through gateway_e2e.py --whole-program";
  const std::string narrowCom(com.begin(), com.end());
  const char* listed = narrowCom.c_str();
  ListSerialPorts(&listed, 1);
  Scratch scratch({});
  Shell shell;
  HWND dialog = nullptr;
  ASSERT_NO_FATAL_FAILURE(
      shell.StartAndPick(scratch, L"streamhdr_linebin_gateway", L"Modbus TCP/IP to RTU Gateway", &dialog));
  CreateDirectoryW((ExeFolder() + L"..\\artifacts").c_str(), nullptr);
  HWND portField = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (portField = FindControl(dialog, IDC_GATEWAY_PORT)) != nullptr; }))
      << "the network group did not appear";
  HWND page = GetParent(GetParent(portField));
  HWND comList = FindControl(page, 1001);
  int comIndex = -1;
  for (int i = 0; i < ChoiceCount(comList); ++i)
    if (ChoiceText(comList, i) == com) comIndex = i;
  ASSERT_GE(comIndex, 0) << "the serial page does not list " << narrowCom;
  PickChoice(comList, comIndex);
  TypeOver(FindControl(page, 1011), L"500");
  SendMessageW(FindControl(page, IDC_GATEWAY_ADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(127, 0, 0, 1));
  TypeOver(portField, port);
  Sleep(200);  // the typed texts painted
  EXPECT_TRUE(SavePng(Capture(dialog), ExeFolder() + L"..\\artifacts\\gateway_page.png"));
  ASSERT_NO_FATAL_FAILURE(shell.ConfirmSetup(dialog));
  EXPECT_EQ(shell.Text(IDC_PROTOCOL_LINE), L"Modbus TCP/IP to RTU (gateway)");
  EXPECT_EQ(shell.Text(IDC_CONNECTION_LINE), L"127.0.0.1:" + port + L" to " + com + L" 19200-8-E-1, masters: 0");
  // Nothing to choose: no empty choice box beside the table.
  EXPECT_FALSE(Visible(shell.Item(IDC_CHOICES))) << "attached";
  // Nothing beside the table: it and the frame lines reach as far as the
  // (hidden) choice box and fields would.
  EXPECT_TRUE(WaitFor([&] { return RightEdge(shell.Item(IDC_TABLE)) == RightEdge(shell.Item(IDC_CHOICES)); }));
  EXPECT_EQ(RightEdge(shell.Item(IDC_TX_LINE)), RightEdge(shell.Item(IDC_CHOICES)));
  ExpectColumnsFit(shell.Item(IDC_TABLE), "attached");

  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"Dis&connect");
  EXPECT_FALSE(Visible(shell.Item(IDC_CHOICES))) << "connected";
  for (const char* scenario : {"gateway functions", "gateway absent"}) {
    std::string verdict;
    EXPECT_TRUE(AskDriver(scenario, &verdict)) << scenario << ": " << verdict;
  }
  HWND table = shell.Item(IDC_TABLE);
  EXPECT_TRUE(WaitFor([&] { return RowOf(table, L"7") >= 0 && CellText(table, RowOf(table, L"7"), 4) == L"1"; }))
      << "unit 7's row: " << RowOf(table, L"7");
  const int unit1 = RowOf(table, L"1");
  ASSERT_GE(unit1, 0);
  EXPECT_NE(CellText(table, unit1, 2), L"0") << "unit 1's answers";
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_RX_LINE) == L"RX: Timeout"; })) << shell.Text(IDC_RX_LINE);
  ExpectColumnsFit(table, "with rows");
  Sleep(300);  // let the frame lines' throttle paint the latest texts
  EXPECT_TRUE(SavePng(Capture(shell.main), ArtefactPath(L"gateway_view.png")));  // at the default size

  HWND log = nullptr, rows = nullptr;
  ASSERT_NO_FATAL_FAILURE(shell.OpenTrafficLog(&log, &rows));
  const std::wstring noAnswer = L"Exception 11 - Gateway target failed";  // 0x0B, in decimal as the RX line shows it
  std::vector<std::wstring> asked, carried;  // the masters' requests, the line's
  int lineAnswers = 0, timeouts = 0, answers = 0, exceptions0B = 0;
  const auto readLog = [&] {
    asked.clear();
    carried.clear();
    lineAnswers = timeouts = answers = exceptions0B = 0;
    for (int row = 0; row < ListRowCount(rows); ++row) {
      const bool rx = CellText(rows, row, 1) == L"RX";
      const bool network = CellText(rows, row, 2).rfind(L"127.0.0.1:", 0) == 0;
      const std::wstring meaning = CellText(rows, row, 5);
      if (network && rx) {
        if (meaning.rfind(L"Connection ", 0) != 0) asked.push_back(meaning);
      } else if (network) {
        ++(meaning == noAnswer ? exceptions0B : answers);
      } else if (!rx) {
        carried.push_back(meaning);
      } else {
        ++(meaning == L"Timeout" ? timeouts : lineAnswers);
      }
    }
    return exceptions0B == 1;
  };
  EXPECT_TRUE(WaitFor(readLog)) << "the absent unit's exception 0B in the log";
  EXPECT_GT(asked.size(), 10u);
  EXPECT_TRUE(asked == carried) << "every request went onto the line as it came, in order";
  EXPECT_EQ(timeouts, 1);
  EXPECT_EQ(answers, lineAnswers) << "every answer of the line went back";
  EXPECT_EQ(static_cast<size_t>(answers + exceptions0B), asked.size());
  EXPECT_FALSE(asked.empty() || asked.back() != L"Read Holding Registers, unit 7, address 0, 1 register")
      << "the last request: " << (asked.empty() ? "none" : std::string(asked.back().begin(), asked.back().end()));
  EXPECT_TRUE(SavePng(Capture(log), ExeFolder() + L"..\\artifacts\\traffic_log_gateway.png"));
  PostMessageW(log, WM_CLOSE, 0, 0);
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"&Connect");
}

}  // namespace
