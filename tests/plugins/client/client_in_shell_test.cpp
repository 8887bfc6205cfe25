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

#include "support/driver_request.h"
#include "support/velmora_session.h"

namespace {

using namespace uiauto;

// Text pixels of the value column as the table draws it on screen: in the
// colour of disabled text (values that are not current) and in the window
// text colour.
struct ValueInk {
  int grey = 0;
  int plain = 0;
};

ValueInk ValueColumnInk(HWND table) {
  ValueInk ink;
  const int rows = ListRowCount(table);
  if (rows <= 0) return ink;
  const RECT first = CellRect(table, 0, 1);
  const RECT last = CellRect(table, rows - 1, 1);
  const Picture picture = Capture(table);
  RECT frame = {};
  GetWindowRect(table, &frame);
  POINT origin = {0, 0};
  ClientToScreen(table, &origin);
  auto screenColour = [](int index) {
    const COLORREF c = GetSysColor(index);
    return static_cast<uint32_t>(GetRValue(c)) << 16 | static_cast<uint32_t>(GetGValue(c)) << 8 | GetBValue(c);
  };
  const uint32_t grey = screenColour(COLOR_GRAYTEXT), plain = screenColour(COLOR_WINDOWTEXT);
  for (int y = first.top; y < last.bottom; ++y) {
    for (int x = first.left; x < first.right; ++x) {
      const int px = x + origin.x - frame.left, py = y + origin.y - frame.top;
      if (px < 0 || py < 0 || px >= picture.width || py >= picture.height) continue;
      const uint32_t pixel = picture.pixels[static_cast<size_t>(py) * picture.width + px] & 0xFFFFFF;
      ink.grey += pixel == grey;
      ink.plain += pixel == plain;
    }
  }
  return ink;
}

// Waits until the values are drawn as current (or, with current false, as
// not current): text in one colour only.
bool ValuesDrawn(HWND table, bool current, ValueInk* seen) {
  return WaitFor([&] {
    *seen = ValueColumnInk(table);
    return current ? seen->plain > 0 && seen->grey == 0 : seen->grey > 0 && seen->plain == 0;
  });
}

SIZE MonospaceExtent(const std::wstring& text) {
  HDC dc = GetDC(nullptr);
  HFONT font = CreateFontW(-MulDiv(9, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, 0, 0, 0, FIXED_PITCH | FF_MODERN, L"Consolas");
  HGDIOBJ previous = SelectObject(dc, font);
  SIZE extent = {};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, previous);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
  return extent;
}

RECT ClientRectIn(HWND control, HWND parent) {
  RECT rect = {};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void Resize(HWND window, int widthChange) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  SetWindowPos(window, nullptr, 0, 0, rect.right - rect.left + widthChange, rect.bottom - rect.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool HasHorizontalBar(HWND table) { return (GetWindowLongPtrW(table, GWL_STYLE) & WS_HSCROLL) != 0; }

const std::vector<std::wstring> kMasters = {L"linebin_client", L"linetext_client", L"streamhdr_client",
                                             L"streambin_client", L"dgramhdr_client", L"dgrambin_client"};

TEST(ClientInShell, TcpMasterPollsAServerThroughTheProgram) {
  std::wstring port = EnvText(L"VELMORA_CLIENT_PORT");
  ASSERT_FALSE(port.empty()) << "run through client_e2e.py, which sets VELMORA_CLIENT_PORT";
  Scratch scratch({});
  ASSERT_TRUE(scratch.AddDistPlugins(kMasters));
  Shell shell;
  shell.Start(scratch);
  Resize(shell.main, 400);  // the table's columns are fitted to a wide window

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
  // Back at its first size, the value column has followed the table: no
  // horizontal scroll bar for two columns that fit.
  const int wideValueWidth = ListColumnWidth(table, 1);
  Resize(shell.main, -400);
  shell.Settle();
  EXPECT_FALSE(HasHorizontalBar(table));
  EXPECT_NEAR(ListColumnWidth(table, 1), wideValueWidth - 200, 1);
  EXPECT_TRUE(SavePng(Capture(shell.main), ArtefactPath(L"table_after_shrink.png")));
  EXPECT_EQ(shell.Text(IDC_FIELD_LABEL_0), L"Unit ID:");
  EXPECT_EQ(CellText(table, 0, 0), L"400001");
  EXPECT_EQ(CellText(table, 1, 0), L"400002");
  // The frame lines show a change at most every 100 ms: wait for the preview.
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_TX_LINE) == L"TX: 00 00 00 00 00 06 FF 03 00 00 00 02"; }));
  TypeOver(shell.Item(IDC_FIELD_2), L"4");
  TypeOver(shell.Item(IDC_FIELD_3), L"250");
  shell.Settle();
  EXPECT_EQ(ListRowCount(table), 4);
  ValueInk ink;
  EXPECT_TRUE(ValuesDrawn(table, false, &ink)) << "never read: grey " << ink.grey << ", plain " << ink.plain;
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_TX_LINE) == L"TX: 00 00 00 00 00 06 FF 03 00 00 00 04"; }));

  // A second poll of the input registers, set up while disconnected.
  shell.Click(IDC_ADD_BUTTON);
  EXPECT_EQ(TabTitles(tabs), (std::vector<std::wstring>{L"Poll 1", L"Poll 2"}));
  HWND choices = shell.Item(IDC_CHOICES);
  RECT box = {};
  GetWindowRect(choices, &box);
  EXPECT_GE(SendMessageW(choices, CB_GETDROPPEDWIDTH, 0, 0), box.right - box.left)
      << "the function names show whole when the list drops down";
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

  EXPECT_TRUE(ValuesDrawn(table, true, &ink)) << "read: grey " << ink.grey << ", plain " << ink.plain;

  Sleep(300);  // let the frame lines' 100 ms throttle paint the latest texts
  EXPECT_TRUE(SavePng(Capture(shell.main), ArtefactPath(L"client_poll_view.png")));

  // The frame lines start where the table starts and grow with the window
  // as it does: a widened window shows the whole read answer.
  HWND rx = shell.Item(IDC_RX_LINE);
  const RECT tableAt = ClientRectIn(table, shell.main), rxAt = ClientRectIn(rx, shell.main);
  EXPECT_EQ(rxAt.left, tableAt.left);
  EXPECT_EQ(rxAt.right, tableAt.right);
  const std::wstring answer = shell.Text(IDC_RX_LINE);
  const int valueWidth = ListColumnWidth(table, 1);
  Resize(shell.main, 400);
  shell.Settle();
  const RECT rxWide = ClientRectIn(rx, shell.main);
  EXPECT_EQ(rxWide.left, rxAt.left);
  EXPECT_EQ(rxWide.right - rxWide.left, rxAt.right - rxAt.left + 400);
  EXPECT_LE(MonospaceExtent(answer).cx, rxWide.right - rxWide.left) << "cut: " << answer.size() << " characters";
  EXPECT_NEAR(ListColumnWidth(table, 1), valueWidth + 200, 1);
  Sleep(300);
  EXPECT_TRUE(SavePng(Capture(shell.main), ArtefactPath(L"frame_lines_widened.png")));
  Resize(shell.main, -400);
  shell.Settle();

  // A changed request, an exception, a lost server: old values are drawn
  // grey until a read of the current request succeeds.
  shell.Click(IDC_CONNECT_BUTTON);
  TypeOver(shell.Item(IDC_FIELD_1), L"200");  // beyond the server's 150 registers
  shell.Settle();
  EXPECT_EQ(CellText(table, 0, 0), L"400201");
  EXPECT_TRUE(ValuesDrawn(table, false, &ink)) << "other registers: grey " << ink.grey << ", plain " << ink.plain;
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_RX_LINE).find(L"RX: Exception 02") == 0; }));
  EXPECT_EQ(CellText(table, 1, 1), L"65535");
  EXPECT_TRUE(ValuesDrawn(table, false, &ink)) << "exception: grey " << ink.grey << ", plain " << ink.plain;
  Sleep(300);
  EXPECT_TRUE(SavePng(Capture(shell.main), ArtefactPath(L"old_values_after_exception.png")));
  shell.Click(IDC_CONNECT_BUTTON);
  TypeOver(shell.Item(IDC_FIELD_1), L"0");
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_TRUE(ValuesDrawn(table, true, &ink)) << "read again: grey " << ink.grey << ", plain " << ink.plain;
  ASSERT_TRUE(AskDriver("stop"));
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_RX_LINE).find(L"RX: 00 ") != 0; }));
  EXPECT_TRUE(ValuesDrawn(table, false, &ink)) << "server gone: grey " << ink.grey << ", plain " << ink.plain;
  ASSERT_TRUE(AskDriver("start"));
  EXPECT_TRUE(ValuesDrawn(table, true, &ink)) << "server back: grey " << ink.grey << ", plain " << ink.plain;

  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"&Connect");
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_RX_LINE) == L"RX: -"; }));
}

}  // namespace
