// The several-masters slave in the real program: velmora.exe started in a
// scratch folder with the library, "Modbus TCP/IP Slave (several masters)"
// chosen in the connection setup with its page set to listen on 127.0.0.1
// (port in VELMORA_SERVER_PORT) and an idle time of 30 s, then connected;
// server_e2e.py holds three masters' connections, and the connection line
// counts them while connected, then none once they close; the RX line names
// the client of the last request. All by posted input. Keeps screenshots of
// the setup page and the main window in build/win/artifacts.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "find_control.h"
#include "server/multi_page_ids.h"
#include "support/velmora_session.h"

namespace {

using namespace uiauto;

std::string AskDriver(const char* scenario) {
  printf("DRIVER %s\n", scenario);
  fflush(stdout);
  char line[512] = "";
  if (!fgets(line, sizeof line, stdin)) return "no driver";
  line[strcspn(line, "\r\n")] = '\0';
  return line;
}

TEST(MultiSlaveInShell, TheConnectionLineCountsTheMastersAndTheRxLineNamesTheClient) {
  const std::wstring port = EnvText(L"VELMORA_SERVER_PORT");
  ASSERT_FALSE(port.empty()) << "run through server_e2e.py, which sets VELMORA_SERVER_PORT";
  Scratch scratch({});
  ASSERT_TRUE(scratch.AddDistPlugins({L"streamhdr_multi_server"}));
  Shell shell;
  shell.Start(scratch);
  CreateDirectoryW((ExeFolder() + L"..\\artifacts").c_str(), nullptr);

  HWND dialog = OpenSetup(shell.app, shell.main);
  ASSERT_NE(dialog, nullptr);
  HWND list = GetDlgItem(dialog, IDC_PLUGIN_LIST);
  ASSERT_EQ(ChoiceCount(list), 1);
  EXPECT_EQ(ChoiceText(list, 0), L"Modbus TCP/IP Slave (several masters)");
  PickChoice(list, 0);
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
  Click(GetDlgItem(dialog, IDOK));
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
  shell.Settle();
  EXPECT_EQ(shell.Text(IDC_PROTOCOL_LINE), L"Modbus TCP/IP (slave, several masters)");
  const std::wstring line = L"127.0.0.1:" + port + L", any Unit ID, masters: ";
  EXPECT_EQ(shell.Text(IDC_CONNECTION_LINE), line + L"0");

  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"Dis&connect");
  std::string verdict = AskDriver("hold 3");
  EXPECT_EQ(verdict.rfind("ok", 0), 0u) << verdict;
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_CONNECTION_LINE) == line + L"3"; }))
      << "while connected: " << shell.Text(IDC_CONNECTION_LINE);
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_RX_LINE).rfind(L"RX: 127.0.0.1:", 0) == 0; }))
      << "RX line: " << shell.Text(IDC_RX_LINE);
  Sleep(300);  // let the frame lines' throttle paint the latest texts
  EXPECT_TRUE(SavePng(Capture(shell.main), ExeFolder() + L"..\\artifacts\\multi_slave_view.png"));
  verdict = AskDriver("release");
  EXPECT_EQ(verdict.rfind("ok", 0), 0u) << verdict;
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_CONNECTION_LINE) == line + L"0"; }))
      << "after they closed: " << shell.Text(IDC_CONNECTION_LINE);
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"&Connect");
}

}  // namespace
