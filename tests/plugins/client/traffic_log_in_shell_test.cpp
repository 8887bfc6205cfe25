// The traffic log in the real program, with the TCP master against the
// pymodbus server that client_e2e.py started (port in VELMORA_CLIENT_PORT).
// Opened with Ctrl+L and with the system menu's command, it gets every
// frame of a poll at a 1 ms period for two seconds (TX and RX in pairs with
// consecutive transaction ids, time never going backwards), an exception
// counted while paused and shown at Resume, and a time-out while the server
// is stopped (SIGSTOP: the connection stays, the answers do not come).
// Minimised or hidden, the window leaves its list as it stands and shows
// every new row once it is restored or shown.
// Copy (Ctrl+A, Ctrl+C) puts the rows on the clipboard, and Save... writes
// the same rows under the titles to the file typed into the save dialog.
// Keeps screenshots of the log in build/win/artifacts/traffic_log_poll.png
// and traffic_log.png.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/driver_request.h"
#include "support/ui_figures.h"
#include "support/velmora_session.h"

namespace {

using namespace uiauto;

// The log window's numbers (shell/traffic_log_window.h).
constexpr UINT kTrafficLogCommand = 0x0110;
constexpr int kPauseButton = 1001;
constexpr int kClearButton = 1002;
constexpr int kSaveButton = 1004;
constexpr int kStatusLine = 1005;
constexpr int kList = 1006;

HWND LogWindow() { return FindWindowW(L"VelmoraTrafficLog", L"Traffic Log"); }

// Holds Ctrl down in the program's input state while a key is posted: the
// test's thread shares the input state of the program's user-interface
// thread, as a user's held key sets it.
void KeyWithControl(HWND window, UINT key) {
  const DWORD target = GetWindowThreadProcessId(window, nullptr);
  const DWORD self = GetCurrentThreadId();
  ASSERT_TRUE(AttachThreadInput(self, target, TRUE));
  BYTE state[256] = {};
  GetKeyboardState(state);
  BYTE held[256];
  memcpy(held, state, sizeof held);
  held[VK_CONTROL] = held[VK_LCONTROL] = 0x80;
  SetKeyboardState(held);
  Key(window, key);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kDefaultTimeoutMs, &ignored);
  Sleep(200);  // the posted key is handled after the sent WM_NULL
  SetKeyboardState(state);
  AttachThreadInput(self, target, FALSE);
}

// The selected rows as Copy puts them on the clipboard: every row after
// Ctrl+A.
std::wstring CopyAll(HWND list) {
  ClearClipboard();
  KeyWithControl(list, 'A');
  KeyWithControl(list, 'C');
  std::wstring text;
  WaitFor([&] { return !(text = ClipboardText()).empty(); });
  return text;
}

struct Row {
  std::wstring time, direction, peer, length, frame, meaning;
};

std::vector<Row> Rows(const std::wstring& text) {
  std::vector<Row> rows;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(L"\r\n", at);
    if (end == std::wstring::npos) end = text.size();
    std::vector<std::wstring> cells;
    size_t cell = at;
    for (;;) {
      const size_t tab = text.find(L'\t', cell);
      if (tab == std::wstring::npos || tab > end) {
        cells.push_back(text.substr(cell, end - cell));
        break;
      }
      cells.push_back(text.substr(cell, tab - cell));
      cell = tab + 1;
    }
    cells.resize(6);
    rows.push_back({cells[0], cells[1], cells[2], cells[3], cells[4], cells[5]});
    at = end + 2;
  }
  return rows;
}

// hh:mm:ss.mmm as milliseconds of the day.
long Ms(const std::wstring& time) {
  int h = 0, m = 0, s = 0, ms = 0;
  if (swscanf(time.c_str(), L"%d:%d:%d.%d", &h, &m, &s, &ms) != 4) return -1;
  return ((h * 60L + m) * 60L + s) * 1000L + ms;
}

// The MBAP transaction id at the start of a frame's hex text.
long TransactionId(const std::wstring& frame) { return frame.size() >= 5 ? wcstol(frame.substr(0, 2).c_str(), nullptr, 16) * 256 + wcstol(frame.substr(3, 2).c_str(), nullptr, 16) : -1; }

std::wstring ReadUtf8File(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return L"";
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  std::wstring text(bytes.size(), L'\0');
  text.resize(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(read), &text[0],
                                  static_cast<int>(text.size())));
  return text;
}

// The save dialog's file name field: the first edit control in it.
HWND FileNameEdit(HWND dialog) {
  HWND found = nullptr;
  EnumChildWindows(
      dialog,
      [](HWND child, LPARAM parameter) -> BOOL {
        wchar_t name[32] = {};
        GetClassNameW(child, name, 32);
        if (_wcsicmp(name, L"Edit") != 0 || !IsWindowVisible(child)) return TRUE;
        *reinterpret_cast<HWND*>(parameter) = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Every frame the log has taken since it started: the rows its list holds
// and, once the store is full and rows leave, the count its first row gives
// of those gone ("1234 older rows dropped"). Unlike the row count, which
// stops at the cap, it grows as long as frames come.
long long FramesTaken(HWND list) {
  const int rows = ListRowCount(list);
  if (rows <= 0) return 0;
  const std::wstring first = CellText(list, 0, 5);
  if (first.find(L" dropped") == std::wstring::npos) return rows;
  return _wcstoi64(first.c_str(), nullptr, 10) + rows - 1;
}

// velmora.exe with the TCP master set up for the server on port: a
// 200 ms response time-out, four holding registers every periodMs.
void StartMaster(Scratch& scratch, Shell& shell, const std::wstring& port, const wchar_t* periodMs) {
  ASSERT_TRUE(scratch.AddDistPlugins({L"streamhdr_client"}));
  shell.Start(scratch);

  HWND dialog = OpenSetup(shell.app, shell.main);
  ASSERT_NE(dialog, nullptr);
  HWND page = PickSettingsPage(dialog, 0, 1003, L"1500");
  ASSERT_NE(page, nullptr) << "the TCP client page did not appear";
  TypeOver(GetDlgItem(page, 1002), port);
  TypeOver(GetDlgItem(page, 1004), L"200");  // the response time-out
  Click(GetDlgItem(dialog, IDOK));
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
  shell.Settle();
  TypeOver(shell.Item(IDC_FIELD_2), L"4");
  TypeOver(shell.Item(IDC_FIELD_3), periodMs);
  shell.Settle();

}

TEST(TrafficLogInShell, EveryFrameOfAMasterTimedDecodedAndExported) {
  const std::wstring port = EnvText(L"VELMORA_CLIENT_PORT");
  ASSERT_FALSE(port.empty()) << "run through client_e2e.py, which sets VELMORA_CLIENT_PORT";
  Scratch scratch({});
  Shell shell;
  ASSERT_NO_FATAL_FAILURE(StartMaster(scratch, shell, port, L"1"));
  // Ctrl+L in the main window opens the log; nothing has gone out yet.
  KeyWithControl(shell.Item(IDC_TABLE), 'L');
  HWND log = nullptr;
  HWND list = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (log = LogWindow()) != nullptr && (list = GetDlgItem(log, kList)) != nullptr; }));
  shell.Settle();
  EXPECT_EQ(ListColumnCount(list), 6);
  EXPECT_EQ(ListRowCount(list), 0);
  PostMessageW(log, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return LogWindow() == nullptr; }));

  // The log collects while its window is closed; the system menu's command
  // opens it again.
  shell.Click(IDC_CONNECT_BUTTON);
  ASSERT_EQ(shell.Text(IDC_CONNECT_BUTTON), L"Dis&connect");
  Sleep(2000);
  shell.Click(IDC_CONNECT_BUTTON);
  PostMessageW(shell.main, WM_SYSCOMMAND, kTrafficLogCommand, 0);
  ASSERT_TRUE(WaitFor([&] { return (log = LogWindow()) != nullptr && (list = GetDlgItem(log, kList)) != nullptr; }));
  shell.Settle();
  EXPECT_TRUE(SavePng(Capture(log), ArtefactPath(L"traffic_log_poll.png")));
  const std::vector<Row> polled = Rows(CopyAll(list));
  ASSERT_EQ(static_cast<int>(polled.size()), ListRowCount(list));
  ASSERT_GE(polled.size(), 200u) << "a 1 ms poll for 2 s";
  EXPECT_EQ(polled.size() % 2, 0u);
  long lastMs = -1, lastId = -1;
  int broken = 0;
  for (size_t i = 0; i + 1 < polled.size() && broken < 5; i += 2) {
    const Row& tx = polled[i];
    const Row& rx = polled[i + 1];
    const long id = TransactionId(tx.frame);
    // Disconnect may cut the last exchange short: its request is closed by
    // a row that says so.
    const bool cut = i + 2 == polled.size() && rx.meaning == L"Cancelled" && rx.frame.empty();
    const bool pair = tx.direction == L"TX" && rx.direction == L"RX" &&
                      tx.meaning == L"Read Holding Registers, unit 255, address 0, 4 registers" && tx.length == L"12" &&
                      (cut || (TransactionId(rx.frame) == id && rx.meaning == L"answer: 4 registers" &&
                               rx.length == L"17")) &&
                      (lastId < 0 || id == (lastId + 1) % 65536) && Ms(tx.time) >= lastMs &&
                      Ms(rx.time) >= Ms(tx.time);
    if (!pair) {
      ++broken;
      ADD_FAILURE() << "rows " << i << " and " << i + 1 << ": " << std::string(tx.time.begin(), tx.time.end())
                    << " " << std::string(tx.frame.begin(), tx.frame.end()) << " / "
                    << std::string(rx.meaning.begin(), rx.meaning.end());
    }
    lastId = id;
    lastMs = Ms(rx.time);
  }
  printf("traffic log: %zu rows of %zu transactions in 2 s\n", polled.size(), polled.size() / 2);

  // Minimised (as the caption's button does), and hidden (as when the main
  // window is minimised): the list stands still while frames come, and on
  // restoring or showing it has every row at once, as a refresh forced by
  // Pause and Resume has them, the newest in view.
  const struct {
    const char* name;
    void (*hide)(HWND);
    void (*show)(HWND);
  } hidings[] = {
      {"minimised", [](HWND w) { PostMessageW(w, WM_SYSCOMMAND, SC_MINIMIZE, 0); },
       [](HWND w) { PostMessageW(w, WM_SYSCOMMAND, SC_RESTORE, 0); }},
      {"hidden", [](HWND w) { ShowWindowAsync(w, SW_HIDE); }, [](HWND w) { ShowWindowAsync(w, SW_SHOWNA); }},
  };
  for (const auto& hiding : hidings) {
    hiding.hide(log);
    ASSERT_TRUE(WaitFor([&] { return IsIconic(log) || !IsWindowVisible(log); })) << hiding.name;
    shell.Settle();
    const int shown = ListRowCount(list);
    const std::wstring status = Text(GetDlgItem(log, kStatusLine));
    shell.Click(IDC_CONNECT_BUTTON);
    for (int i = 0; i < 10; ++i) {
      Sleep(100);
      EXPECT_EQ(ListRowCount(list), shown) << hiding.name << ": refreshed after " << (i + 1) * 100 << " ms";
    }
    shell.Click(IDC_CONNECT_BUTTON);
    EXPECT_EQ(Text(GetDlgItem(log, kStatusLine)), status) << hiding.name;
    hiding.show(log);
    ASSERT_TRUE(WaitFor([&] { return !IsIconic(log) && IsWindowVisible(log); })) << hiding.name;
    shell.Settle();
    const int restored = ListRowCount(list);
    EXPECT_GE(restored, shown + 20) << hiding.name << ": a 1 ms poll for 1 s";
    const int top = SendInt(list, LVM_GETTOPINDEX);
    EXPECT_GE(top + SendInt(list, LVM_GETCOUNTPERPAGE), restored) << hiding.name << ": the newest row out of view";
    Click(GetDlgItem(log, kPauseButton));
    Click(GetDlgItem(log, kPauseButton));
    shell.Settle();
    EXPECT_EQ(ListRowCount(list), restored) << hiding.name;
  }

  // Cleared, then paused: an exception poll is counted, not shown, until
  // Resume.
  Click(GetDlgItem(log, kClearButton));
  shell.Settle();
  EXPECT_EQ(ListRowCount(list), 0);
  Click(GetDlgItem(log, kPauseButton));
  shell.Settle();
  EXPECT_EQ(Text(GetDlgItem(log, kPauseButton)), L"&Resume");
  TypeOver(shell.Item(IDC_FIELD_1), L"200");  // beyond the server's registers
  TypeOver(shell.Item(IDC_FIELD_3), L"100");
  shell.Click(IDC_CONNECT_BUTTON);
  // "0 rows; paused, N new frames": three exchanges at least.
  auto waiting = [&] {
    const std::wstring status = Text(GetDlgItem(log, kStatusLine));
    const size_t at = status.find(L"paused, ");
    return at == std::wstring::npos ? -1L : wcstol(status.c_str() + at + 8, nullptr, 10);
  };
  EXPECT_TRUE(WaitFor([&] { return waiting() >= 6; })) << "new frames while paused: " << waiting();
  EXPECT_EQ(ListRowCount(list), 0);
  shell.Click(IDC_CONNECT_BUTTON);
  Click(GetDlgItem(log, kPauseButton));
  shell.Settle();
  EXPECT_GE(ListRowCount(list), 6);

  // The server stopped with its connection open: the answer never comes.
  TypeOver(shell.Item(IDC_FIELD_1), L"0");
  shell.Settle();
  ASSERT_TRUE(AskDriver("pause"));
  shell.Click(IDC_CONNECT_BUTTON);
  EXPECT_TRUE(WaitFor([&] { return shell.Text(IDC_RX_LINE) == L"RX: Timeout"; }));
  shell.Click(IDC_CONNECT_BUTTON);
  ASSERT_TRUE(AskDriver("resume"));
  shell.Settle();
  Sleep(200);
  EXPECT_TRUE(SavePng(Capture(log), ArtefactPath(L"traffic_log.png")));

  const std::wstring copied = CopyAll(list);
  const std::vector<Row> rows = Rows(copied);
  int exceptions = 0, timeouts = 0;
  for (const Row& row : rows) {
    if (row.direction == L"RX" && row.meaning == L"Exception 02 - Illegal data address" && row.length == L"9") ++exceptions;
    if (row.direction == L"RX" && row.meaning == L"Timeout" && row.frame.empty()) ++timeouts;
  }
  EXPECT_GE(exceptions, 3);
  EXPECT_GE(timeouts, 1);
  EXPECT_EQ(rows.front().meaning, L"Read Holding Registers, unit 255, address 200, 4 registers");

  // Save... writes the titles and every row, as Copy put them.
  const std::wstring path = scratch.Folder() + L"traffic.txt";
  Click(GetDlgItem(log, kSaveButton));
  HWND save = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (save = shell.app.FindTopLevel(L"Save", nullptr)) != nullptr; }));
  HWND name = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (name = FileNameEdit(save)) != nullptr; }));
  SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  PostMessageW(save, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(save); }));
  shell.Settle();
  EXPECT_EQ(ReadUtf8File(path), L"Time\tDir\tPeer\tLength\tFrame\tMeaning\r\n" + copied);
}

// About 1,000 frames a second (a 1 ms poll period under Wine) for
// VELMORA_TRAFFIC_BENCH_SECONDS, first with the log's window closed (the
// store collects, nothing is shown), then with it open: the user-interface
// thread's WM_NULL round trips, the rate and the program's memory.
TEST(TrafficLogInShell, Figures) {
  const std::wstring port = EnvText(L"VELMORA_CLIENT_PORT");
  const int seconds = _wtoi(EnvText(L"VELMORA_TRAFFIC_BENCH_SECONDS").c_str());
  if (port.empty() || seconds <= 0) GTEST_SKIP() << "a benchmark: set VELMORA_TRAFFIC_BENCH_SECONDS";
  Scratch scratch({});
  Shell shell;
  ASSERT_NO_FATAL_FAILURE(StartMaster(scratch, shell, port, L"1"));
  const Memory before = MemoryOf(shell.app.Process());
  {
    RoundTrips idle(shell.main, 5);
    Sleep(1000);
    idle.Print("idle");
  }
  for (int open = 0; open < 2; ++open) {
    HWND list = nullptr;
    if (open) {
      PostMessageW(shell.main, WM_SYSCOMMAND, kTrafficLogCommand, 0);
      HWND log = nullptr;
      ASSERT_TRUE(WaitFor([&] { return (log = LogWindow()) != nullptr && (list = GetDlgItem(log, kList)) != nullptr; }));
      shell.Settle();
    }
    const long long framesBefore = open ? FramesTaken(list) : 0;
    RoundTrips loaded(shell.main, 5);
    shell.Click(IDC_CONNECT_BUTTON);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    shell.Click(IDC_CONNECT_BUTTON);
    loaded.Print(open ? "polling, log window open" : "polling, log window closed");
    EXPECT_EQ(loaded.Unanswered(), 0) << "the user-interface thread hung";
    shell.Settle();
    const Memory after = MemoryOf(shell.app.Process());
    if (open) {
      // The closed run may have filled the store: count the frames taken,
      // not the rows held.
      const long long frames = FramesTaken(list) - framesBefore;
      printf("FIGURE traffic log: %lld frames taken in %d s, %.0f frames/s, the window open (%d rows in the list)\n",
             frames, seconds, frames / static_cast<double>(seconds), ListRowCount(list));
      EXPECT_GT(frames, 0) << "the log took no frames";
    }
    printf("FIGURE velmora.exe commit charge (working set) in KiB: %zu (%zu) at the start, %zu (%zu) after %d s "
           "with the log window %s\n",
           before.committed, before.workingSet, after.committed, after.workingSet, seconds, open ? "open" : "closed");
    fflush(stdout);
  }
}

}  // namespace
