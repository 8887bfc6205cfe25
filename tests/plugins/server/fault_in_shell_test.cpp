// The TCP fault-injection slave in the real program: velmora.exe started in
// a scratch folder with the library, "Modbus TCP/IP Slave (fault
// injection)" chosen in the connection setup with its page set to listen on
// 127.0.0.1 (port in VELMORA_FAULT_PORT) and "No answer" every 2nd request,
// then connected; fault_e2e.py polls it four times with mbpoll, and every
// 2nd poll times out. All by posted input. The connection line counts the
// two dropped answers while still connected, and the RX line names the
// fault once the shell shows frame lines (shell/frame_lines.cpp), and the
// traffic log shows every request and answer with the client's address and
// each dropped answer as a fault. Keeps screenshots of the main window and
// the log in build/win/artifacts/fault_slave_view.png and
// traffic_log_fault_slave.png.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "find_control.h"
#include "server/fault_page_ids.h"
#include "support/driver_request.h"
#include "support/velmora_session.h"

namespace {

using namespace uiauto;

TEST(FaultSlaveInShell, EverySecondPollOfMbpollTimesOut) {
  const std::wstring port = EnvText(L"VELMORA_FAULT_PORT");
  ASSERT_FALSE(port.empty()) << "run through fault_e2e.py, which sets VELMORA_FAULT_PORT";
  Scratch scratch({});
  Shell shell;
  HWND dialog = nullptr;
  ASSERT_NO_FATAL_FAILURE(
      shell.StartAndPick(scratch, L"streamhdr_fault_server", L"Modbus TCP/IP Slave (fault injection)", &dialog));
  HWND drop = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (drop = FindControl(dialog, IDC_FAULT_DROP)) != nullptr; }))
      << "the Faults group did not appear";
  HWND page = GetParent(GetParent(drop));
  SendMessageW(FindControl(page, 1001), IPM_SETADDRESS, 0, MAKEIPADDRESS(127, 0, 0, 1));
  TypeOver(FindControl(page, 1002), port);
  TypeOver(drop, L"2");
  ASSERT_NO_FATAL_FAILURE(shell.ConfirmSetup(dialog));
  EXPECT_EQ(shell.Text(IDC_PROTOCOL_LINE), L"Modbus TCP/IP (slave, fault injection)");
  EXPECT_EQ(shell.Text(IDC_CONNECTION_LINE), L"127.0.0.1:" + port + L", any Unit ID, faults injected: 0");

  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"Dis&connect");
  std::string verdict;
  EXPECT_TRUE(AskDriver("mbpoll", &verdict)) << verdict;
  const std::wstring counted = L"127.0.0.1:" + port + L", any Unit ID, faults injected: 2";
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_CONNECTION_LINE) == counted; }))
      << "while connected: " << shell.Text(IDC_CONNECTION_LINE);
  const std::wstring dropped = L" \u2014 answer dropped";
  EXPECT_TRUE(WaitFor([&] {
    const std::wstring rx = shell.Text(IDC_RX_LINE);
    return rx.size() > dropped.size() && rx.compare(rx.size() - dropped.size(), dropped.size(), dropped) == 0;
  })) << "RX line: " << shell.Text(IDC_RX_LINE);
  Sleep(300);  // let the frame lines' throttle paint the latest texts
  CreateDirectoryW((ExeFolder() + L"..\\artifacts").c_str(), nullptr);
  EXPECT_TRUE(SavePng(Capture(shell.main), ExeFolder() + L"..\\artifacts\\fault_slave_view.png"));

  // The traffic log (the system menu's command): each of mbpoll's four
  // connections by its address, every request and answer, and each dropped
  // answer as the fault that it is.
  HWND log = nullptr, rows = nullptr;
  ASSERT_NO_FATAL_FAILURE(shell.OpenTrafficLog(&log, &rows));
  shell.Settle();
  std::vector<std::wstring> peers;
  int answers = 0, faults = 0;
  for (int row = 0; row < ListRowCount(rows); ++row) {
    const std::wstring direction = CellText(rows, row, 1), peer = CellText(rows, row, 2);
    const std::wstring meaning = CellText(rows, row, 5);
    EXPECT_EQ(peer.rfind(L"127.0.0.1:", 0), 0u) << "row " << row << " has no client address";
    if (meaning == L"Read Holding Registers, unit 1, address 0, 2 registers" && direction == L"RX") {
      peers.push_back(peer);
    } else if (meaning == L"answer: 2 registers" && direction == L"TX") {
      ++answers;
      EXPECT_TRUE(!peers.empty() && peer == peers.back()) << "an answer to another client, row " << row;
    } else if (meaning == L"Fault injected: answer dropped" && direction == L"TX") {
      ++faults;
      EXPECT_TRUE(!peers.empty() && peer == peers.back()) << "a fault on another client's request, row " << row;
    } else {
      EXPECT_EQ(meaning.rfind(L"Connection ", 0), 0u) << "row " << row;
    }
  }
  EXPECT_EQ(peers.size(), 4u);
  if (peers.size() == 4) {
    EXPECT_NE(peers[0], peers[1]) << "mbpoll connects anew for every poll";
  }
  EXPECT_EQ(answers, 2);
  EXPECT_EQ(faults, 2);
  EXPECT_TRUE(SavePng(Capture(log), ExeFolder() + L"..\\artifacts\\traffic_log_fault_slave.png"));
  PostMessageW(log, WM_CLOSE, 0, 0);
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"&Connect");

  // Read again when the setup closes, the count stays.
  dialog = OpenSetup(shell.app, shell.main);
  ASSERT_NE(dialog, nullptr);
  ASSERT_NO_FATAL_FAILURE(shell.ConfirmSetup(dialog));
  EXPECT_EQ(shell.Text(IDC_CONNECTION_LINE), L"127.0.0.1:" + port + L", any Unit ID, faults injected: 2");
}

}  // namespace
