// The TCP master in the real program: velmora.exe started in a scratch
// folder with the six master libraries, "Modbus TCP/IP Master" chosen in the
// connection setup with its page pointed at the pymodbus server that
// client_e2e.py started (port in VELMORA_CLIENT_PORT), then connected,
// polled, given a second poll, switched between tabs and disconnected, all
// by posted input. Keeps a screenshot of the polling view in
// build/win/artifacts/client_poll_view.png.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/velmora_session.h"

namespace {

using namespace uiauto;

const std::vector<std::wstring> kMasters = {L"linebin_client", L"linetext_client", L"streamhdr_client",
                                             L"streambin_client", L"dgramhdr_client", L"dgrambin_client"};

TEST(ClientInShell, TcpMasterPollsAServerThroughTheProgram) {
  std::wstring port = EnvText(L"VELMORA_CLIENT_PORT");
  ASSERT_FALSE(port.empty()) << "run through client_e2e.py, which sets VELMORA_CLIENT_PORT";
  Scratch scratch({});
  ASSERT_TRUE(scratch.AddDistPlugins(kMasters));
  Shell shell;
  shell.Start(scratch);

  HWND dialog = OpenSetup(shell.app, shell.main);
  ASSERT_NE(dialog, nullptr);
  ASSERT_EQ(ChoiceTexts(GetDlgItem(dialog, IDC_PLUGIN_LIST)),
            (std::vector<std::wstring>{L"Modbus RTU Master", L"Modbus ASCII Master", L"Modbus TCP/IP Master",
                                       L"Modbus RTU over TCP/IP Master", L"Modbus UDP/IP Master",
                                       L"Modbus RTU over UDP/IP Master"}));
  HWND page = PickSettingsPage(dialog, 2, 1003, L"1500");
  ASSERT_NE(page, nullptr) << "the TCP client page did not appear";
  TypeOver(GetDlgItem(page, 1002), port);
  Click(GetDlgItem(dialog, IDOK));
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
  shell.Settle();

  EXPECT_EQ(shell.Text(IDC_PROTOCOL_LINE), L"Modbus TCP/IP (master)");
  EXPECT_EQ(shell.Text(IDC_CONNECTION_LINE), L"127.0.0.1:" + port);
  HWND tabs = shell.Item(IDC_TABS);
  HWND table = shell.Item(IDC_TABLE);
  EXPECT_EQ(TabTitles(tabs), (std::vector<std::wstring>{L"Poll 1"}));
  EXPECT_EQ(shell.Text(IDC_FIELD_LABEL_0), L"Unit ID:");
  EXPECT_EQ(CellText(table, 0, 0), L"400001");
  EXPECT_EQ(CellText(table, 1, 0), L"400002");
  // The frame lines show a change at most every 100 ms: wait for the preview.
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_TX_LINE) == L"TX: 00 00 00 00 00 06 FF 03 00 00 00 02"; }));
  TypeOver(shell.Item(IDC_FIELD_2), L"4");
  TypeOver(shell.Item(IDC_FIELD_3), L"250");
  shell.Settle();
  EXPECT_EQ(ListRowCount(table), 4);
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_TX_LINE) == L"TX: 00 00 00 00 00 06 FF 03 00 00 00 04"; }));

  // A second poll of the input registers, set up while disconnected.
  shell.Click(IDC_ADD_BUTTON);
  EXPECT_EQ(TabTitles(tabs), (std::vector<std::wstring>{L"Poll 1", L"Poll 2"}));
  HWND choices = shell.Item(IDC_CHOICES);
  RECT box = {};
  GetWindowRect(choices, &box);
  EXPECT_GT(SendMessageW(choices, CB_GETDROPPEDWIDTH, 0, 0), box.right - box.left + 40)
      << "the function names, wider than the panel, show whole when the list drops down";
  PickChoice(choices, 3);  // "Fn 04 - Read Input Registers"
  TypeOver(shell.Item(IDC_FIELD_2), L"3");
  TypeOver(shell.Item(IDC_FIELD_3), L"250");
  shell.Settle();
  EXPECT_EQ(CellText(table, 0, 0), L"300001");

  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"Dis&connect");
  EXPECT_TRUE(WaitFor([&] { return CellText(table, 1, 1) == L"22" && CellText(table, 2, 1) == L"33"; }));
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_RX_LINE).find(L"RX: 00 ") == 0; }));

  SelectTab(tabs, 0);
  shell.Settle();
  EXPECT_TRUE(WaitFor([&] { return CellText(table, 1, 1) == L"65535" && CellText(table, 3, 1) == L"4660"; }));
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_TX_LINE).find(L" FF 03 00 00 00 04") != std::wstring::npos; }));
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_RX_LINE).find(L" FF 03 08 00 01 FF FF 80 00 12 34") != std::wstring::npos; }));

  Sleep(300);  // let the frame lines' 100 ms throttle paint the latest texts
  EXPECT_TRUE(SavePng(Capture(shell.main), ArtefactPath(L"client_poll_view.png")));

  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"&Connect");
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_RX_LINE) == L"RX: -"; }));
}

}  // namespace
