// The several-masters slave in the real program: velmora.exe started in a
// scratch folder with the library, "Modbus TCP/IP Slave (several masters)"
// chosen in the connection setup with its page set to listen on 127.0.0.1
// (port in VELMORA_SERVER_PORT) and an idle time of 30 s, then connected;
// server_e2e.py holds three masters' connections, and the connection line
// counts them while connected, then none once they close; the RX line names
// the client of the last request. Then 13 more fill the 16 places, a 17th is
// refused, the 16 are read again and close: the traffic log (the system
// menu's command) holds every request and answer under its master's address
// and port, the refusal and each master closing. All by posted input. Keeps
// screenshots of the setup page, the main window and the log in
// build/win/artifacts.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <string>

#include "find_control.h"
#include "server/multi_page_ids.h"
#include "support/driver_request.h"
#include "support/velmora_session.h"

namespace {

using namespace uiauto;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(MultiSlaveInShell, TheConnectionLineCountsTheMastersAndTheRxLineNamesTheClient) {
  const std::wstring port = EnvText(L"VELMORA_SERVER_PORT");
  ASSERT_FALSE(port.empty()) << "run through server_e2e.py, which sets VELMORA_SERVER_PORT";
  Scratch scratch({});
  Shell shell;
  HWND dialog = nullptr;
  ASSERT_NO_FATAL_FAILURE(
      shell.StartAndPick(scratch, L"streamhdr_multi_server", L"Modbus TCP/IP Slave (several masters)", &dialog));
  CreateDirectoryW((ExeFolder() + L"..\\artifacts").c_str(), nullptr);
  HWND idle = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (idle = FindControl(dialog, IDC_MASTERS_IDLE)) != nullptr; }))
      << "the Masters group did not appear";
  EXPECT_EQ(Text(idle), L"60");
  HWND page = GetParent(GetParent(idle));
  SendMessageW(FindControl(page, 1001), IPM_SETADDRESS, 0, MAKEIPADDRESS(127, 0, 0, 1));
  TypeOver(FindControl(page, 1002), port);
  TypeOver(idle, L"30");
  Sleep(200);  // the typed texts painted
  EXPECT_TRUE(SavePng(Capture(dialog), ExeFolder() + L"..\\artifacts\\multi_slave_page.png"));
  ASSERT_NO_FATAL_FAILURE(shell.ConfirmSetup(dialog));
  EXPECT_EQ(shell.Text(IDC_PROTOCOL_LINE), L"Modbus TCP/IP (slave, several masters)");
  const std::wstring line = L"127.0.0.1:" + port + L", any Unit ID, masters: ";
  EXPECT_EQ(shell.Text(IDC_CONNECTION_LINE), line + L"0");

  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"Dis&connect");
  std::string verdict;
  EXPECT_TRUE(AskDriver("hold 3", &verdict)) << verdict;
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_CONNECTION_LINE) == line + L"3"; }))
      << "while connected: " << shell.Text(IDC_CONNECTION_LINE);
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_RX_LINE).rfind(L"RX: 127.0.0.1:", 0) == 0; }))
      << "RX line: " << shell.Text(IDC_RX_LINE);
  Sleep(300);  // let the frame lines' throttle paint the latest texts
  EXPECT_TRUE(SavePng(Capture(shell.main), ExeFolder() + L"..\\artifacts\\multi_slave_view.png"));
  for (const char* scenario : {"hold 13", "seventeenth", "release"}) {
    EXPECT_TRUE(AskDriver(scenario, &verdict)) << scenario << ": " << verdict;
  }
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_CONNECTION_LINE) == line + L"0"; }))
      << "after they closed: " << shell.Text(IDC_CONNECTION_LINE);

  // The log: per master (by address and port) two requests, each followed
  // by its answer, then its closing; the 17th master's refusal.
  HWND log = nullptr, rows = nullptr;
  ASSERT_NO_FATAL_FAILURE(shell.OpenTrafficLog(&log, &rows));
  struct Master {
    int requests = 0, answers = 0, closed = 0;
  };
  std::map<std::wstring, Master> seen;
  int refused = 0, other = 0;
  const auto readLog = [&] {
    seen.clear();
    refused = other = 0;
    for (int row = 0; row < ListRowCount(rows); ++row) {
      const std::wstring direction = CellText(rows, row, 1), peer = CellText(rows, row, 2);
      const std::wstring meaning = CellText(rows, row, 5);
      if (peer.rfind(L"127.0.0.1:", 0) != 0) {
        ++other;
      } else if (meaning == L"Read Holding Registers, unit 1, address 0, 1 register" && direction == L"RX") {
        ++seen[peer].requests;
      } else if (meaning == L"answer: 1 register" && direction == L"TX" &&
                 seen[peer].answers < seen[peer].requests) {
        ++seen[peer].answers;
      } else if (meaning == L"Connection closed by the client" && direction == L"RX") {
        ++seen[peer].closed;
      } else if (meaning == L"Connection refused: 16 masters connected" && seen.count(peer) == 0) {
        ++refused;
      } else {
        ++other;
      }
    }
    int closed = 0;
    for (const auto& master : seen) closed += master.second.closed;
    return closed == 16;
  };
  EXPECT_TRUE(WaitFor(readLog)) << "masters closing in the log: " << seen.size();
  EXPECT_EQ(seen.size(), 16u);
  for (const auto& master : seen) {
    EXPECT_EQ(master.second.requests, 2) << Narrow(master.first);
    EXPECT_EQ(master.second.answers, 2) << Narrow(master.first);
    EXPECT_EQ(master.second.closed, 1) << Narrow(master.first);
  }
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(other, 0) << "rows that are none of these";
  EXPECT_TRUE(SavePng(Capture(log), ExeFolder() + L"..\\artifacts\\traffic_log_multi_slave.png"));
  PostMessageW(log, WM_CLOSE, 0, 0);
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"&Connect");
}

}  // namespace
