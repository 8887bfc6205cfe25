// The TCP fault-injection slave in the real program: velmora.exe started in
// a scratch folder with the library, "Modbus TCP/IP Slave (fault
// injection)" chosen in the connection setup with its page set to listen on
// 127.0.0.1 (port in VELMORA_FAULT_PORT) and "No answer" every 2nd request,
// then connected; fault_e2e.py polls it four times with mbpoll, and every
// 2nd poll times out. All by posted input. The connection line counts the
// two dropped answers while still connected, and the RX line names the
// fault once the shell shows frame lines (shell/frame_lines.cpp). Keeps a
// screenshot of the main
// window in build/win/artifacts/fault_slave_view.png.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "find_control.h"
#include "server/fault_page_ids.h"
#include "support/velmora_session.h"

namespace {

using namespace uiauto;

// The driver's verdict on a client scenario.
std::string AskDriver(const char* scenario) {
  printf("DRIVER %s\n", scenario);
  fflush(stdout);
  char line[512] = "";
  if (!fgets(line, sizeof line, stdin)) return "no driver";
  line[strcspn(line, "\r\n")] = '\0';
  return line;
}


TEST(FaultSlaveInShell, EverySecondPollOfMbpollTimesOut) {
  const std::wstring port = EnvText(L"VELMORA_FAULT_PORT");
  ASSERT_FALSE(port.empty()) << "run through fault_e2e.py, which sets VELMORA_FAULT_PORT";
  Scratch scratch({});
  ASSERT_TRUE(scratch.AddDistPlugins({L"streamhdr_fault_server"}));
  Shell shell;
  shell.Start(scratch);

  HWND dialog = OpenSetup(shell.app, shell.main);
  ASSERT_NE(dialog, nullptr);
  HWND list = GetDlgItem(dialog, IDC_PLUGIN_LIST);
  ASSERT_EQ(ChoiceCount(list), 1);
  EXPECT_EQ(ChoiceText(list, 0), L"Modbus TCP/IP Slave (fault injection)");
  PickChoice(list, 0);
  HWND drop = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (drop = FindControl(dialog, IDC_FAULT_DROP)) != nullptr; }))
      << "the Faults group did not appear";
  HWND page = GetParent(GetParent(drop));
  SendMessageW(FindControl(page, 1001), IPM_SETADDRESS, 0, MAKEIPADDRESS(127, 0, 0, 1));
  TypeOver(FindControl(page, 1002), port);
  TypeOver(drop, L"2");
  Click(GetDlgItem(dialog, IDOK));
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
  shell.Settle();
  EXPECT_EQ(shell.Text(IDC_PROTOCOL_LINE), L"Modbus TCP/IP (slave, fault injection)");
  EXPECT_EQ(shell.Text(IDC_CONNECTION_LINE), L"127.0.0.1:" + port + L", any Unit ID, faults injected: 0");

  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"Dis&connect");
  const std::string verdict = AskDriver("mbpoll");
  EXPECT_EQ(verdict.rfind("ok", 0), 0u) << verdict;
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
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"&Connect");

  // Read again when the setup closes, the count stays.
  dialog = OpenSetup(shell.app, shell.main);
  ASSERT_NE(dialog, nullptr);
  Click(GetDlgItem(dialog, IDOK));
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
  shell.Settle();
  EXPECT_EQ(shell.Text(IDC_CONNECTION_LINE), L"127.0.0.1:" + port + L", any Unit ID, faults injected: 2");
}

}  // namespace
