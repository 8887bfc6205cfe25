// A test plug-in that measures the main view from inside the shell's
// process, where the script plug-in's file-driven answers would dominate:
// a table of 65,536 rows whose cell requests it counts, and a hook on the
// user-interface thread that timestamps every text change of the frame
// lines. It writes one line per finding to "<dll>.log" beside the library.
//
// The user picks a scenario from the choice list (ChoiceSelected, arg):
//   1  three RX frames (1, 2 and 3 bytes) posted back to back from a worker thread
//   2  the page benchmark: the table paged from top to bottom
//   6  the short paging check: 20 pages from the top, then the last screen
//   3  ShowRxText "RX: Timeout" in the error colour
//   4  ShowRxFrame of 4 bytes
//   5  the RX line painted into a memory bitmap: its pixels of RGB(204, 0, 0)
//   7  with a value editor open (a double-click on a value opens one, mode 1,
//      "1234"): a table refresh, painted at once; the editor's pixels that
//      the table's own paint changed, read as soon as that paint returns
//      (the editor repaints itself later, which would hide it)
// Log lines: "attach", "settext ID MICROSECONDS TEXT" (TEXT cut to 40
// characters), "pages N rows R calls C max M per-screen S ms T",
// "red COUNT", "overpaint COUNT" (-1: no editor).
#include <windows.h>

#include <commctrl.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "common/plugin_interface.h"
#include "plugin_log.h"
#include "tests/support/painted_pixels.h"

namespace {

constexpr uint64_t kRows = 65536;
constexpr int kTxLine = 316;
constexpr int kRxLine = 317;
constexpr int kTable = 306;

constexpr PluginDescriptor kDescriptor = {40, 11, u"view-probe", u"View probe", u"Probe view", 5, 0};

int g_instance = 0;
const HostLink* g_link = nullptr;
std::wstring g_log;
HHOOK g_hook = nullptr;
uint64_t g_cellCalls = 0;
LARGE_INTEGER g_frequency;

void Log(const std::string& line) { pluginlog::Append(g_log, line); }

uint64_t Microseconds() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<uint64_t>(now.QuadPart * 1000000 / g_frequency.QuadPart);
}

void Send(HostCommandKind kind, uint64_t index, uint64_t value, const Unit* text) {
  HostCommand command = {};
  command.kind = kind;
  command.index = index;
  command.value = value;
  command.text = text;
  g_link->send(g_link->host, &command);
}

// The frame lines' texts as they change, stamped on the thread that changes them.
LRESULT CALLBACK WatchTexts(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call->message == WM_SETTEXT && call->lParam) {
    int id = GetDlgCtrlID(call->hwnd);
    if (id == kTxLine || id == kRxLine) {
      const wchar_t* text = reinterpret_cast<const wchar_t*>(call->lParam);
      std::string shown;
      for (int i = 0; text[i] && i < 40; ++i) shown += static_cast<char>(text[i] < 128 ? text[i] : '?');
      Log("settext " + std::to_string(id) + " " + std::to_string(Microseconds()) + " " + shown);
    }
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

DWORD WINAPI PostFrames(void*) {
  static const uint8_t kBytes[] = {0, 1, 2};
  for (uint32_t length = 1; length <= 3; ++length) {
    HostCommand command = {};
    command.kind = HostCommandKind::ShowRxFrame;
    command.data = kBytes;
    command.length = length;
    g_link->post(g_link->host, &command);
  }
  return 0;
}

// The main window: the dialog of this thread that holds the table.
HWND FindMain() {
  HWND found = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM parameter) -> BOOL {
        if (!GetDlgItem(window, kTable)) return TRUE;
        *reinterpret_cast<HWND*>(parameter) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Pages down as a click into the scroll bar does, each page painted at
// once, until the last row is shown: the cell requests of each screen are
// counted. The window first grows to show many rows. (Wine's list view
// spends about 80 ms on every Page Down key in its selection logic, which
// would hide the painting this measures.) With a page limit, after that
// many pages the table jumps to its last row and the last screen is
// painted and counted as one more page.
void PageBenchmark(uint64_t pageLimit) {
  HWND main = FindMain();
  HWND table = main ? GetDlgItem(main, kTable) : nullptr;
  if (!table) {
    Log("no table");
    return;
  }
  SetWindowPos(main, nullptr, 0, 0, 1200, 960, SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageW(table, LVM_ENSUREVISIBLE, 0, FALSE);
  UpdateWindow(table);
  uint64_t pages = 0;
  uint64_t maxCalls = 0;
  uint64_t before = g_cellCalls;
  uint64_t start = Microseconds();
  for (;;) {
    int top = static_cast<int>(SendMessageW(table, LVM_GETTOPINDEX, 0, 0));
    int perPage = static_cast<int>(SendMessageW(table, LVM_GETCOUNTPERPAGE, 0, 0));
    if (top + perPage >= static_cast<int>(kRows) || pages > kRows) break;
    uint64_t calls = g_cellCalls;
    if (pageLimit && pages >= pageLimit) {
      SendMessageW(table, LVM_ENSUREVISIBLE, static_cast<WPARAM>(kRows - 1), FALSE);
    } else {
      SendMessageW(table, WM_VSCROLL, SB_PAGEDOWN, 0);
    }
    UpdateWindow(table);
    ++pages;
    if (g_cellCalls - calls > maxCalls) maxCalls = g_cellCalls - calls;
  }
  uint64_t elapsed = Microseconds() - start;
  uint64_t calls = g_cellCalls - before;
  char line[200];
  snprintf(line, sizeof(line), "pages %llu rows %llu calls %llu max %llu per-screen %.1f ms %.1f perpage %d",
           static_cast<unsigned long long>(pages), static_cast<unsigned long long>(kRows),
           static_cast<unsigned long long>(calls), static_cast<unsigned long long>(maxCalls),
           pages ? static_cast<double>(calls) / static_cast<double>(pages) : 0.0, elapsed / 1000.0,
           static_cast<int>(SendMessageW(table, LVM_GETCOUNTPERPAGE, 0, 0)));
  Log(line);
}

// The pixels of a window's client area as its surface holds them now.
std::vector<COLORREF> Pixels(HWND window) {
  std::vector<COLORREF> pixels;
  RECT client = {};
  if (!GetClientRect(window, &client)) return pixels;
  HDC dc = GetDC(window);
  for (int y = 0; y < client.bottom; ++y) {
    for (int x = 0; x < client.right; ++x) pixels.push_back(GetPixel(dc, x, y));
  }
  ReleaseDC(window, dc);
  return pixels;
}

HWND g_paintedTable = nullptr;
HWND g_editor = nullptr;
std::vector<COLORREF> g_editorBefore;
int g_overpaint = -1;
HHOOK g_paintHook = nullptr;

LRESULT CALLBACK AfterTablePaint(int code, WPARAM wParam, LPARAM lParam) {
  const CWPRETSTRUCT* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
  if (code == HC_ACTION && call->hwnd == g_paintedTable && call->message == WM_PAINT && g_overpaint < 0) {
    std::vector<COLORREF> after = Pixels(g_editor);
    g_overpaint = 0;
    for (size_t i = 0; i < after.size() && i < g_editorBefore.size(); ++i) g_overpaint += after[i] != g_editorBefore[i];
  }
  return CallNextHookEx(g_paintHook, code, wParam, lParam);
}

void RefreshUnderEditor() {
  HWND main = FindMain();
  g_paintedTable = main ? GetDlgItem(main, kTable) : nullptr;
  g_editor = g_paintedTable ? reinterpret_cast<HWND>(SendMessageW(g_paintedTable, LVM_GETEDITCONTROL, 0, 0)) : nullptr;
  g_overpaint = -1;
  if (!g_editor) {
    Log("overpaint -1");
    return;
  }
  UpdateWindow(g_paintedTable);
  g_editorBefore = Pixels(g_editor);
  g_paintHook = SetWindowsHookExW(WH_CALLWNDPROCRET, AfterTablePaint, nullptr, GetCurrentThreadId());
  Send(HostCommandKind::RefreshTable, 0, 0, nullptr);
  UpdateWindow(g_paintedTable);
  UnhookWindowsHookEx(g_paintHook);
  g_paintHook = nullptr;
  Log("overpaint " + std::to_string(g_overpaint));
}

// The RX line's pixels of the error colour as it paints itself.
void CountErrorPixels() {
  HWND main = FindMain();
  int count = painted::CountColour(main ? GetDlgItem(main, kRxLine) : nullptr, RGB(204, 0, 0));
  Log(count < 0 ? "no line" : "red " + std::to_string(count));
}

int32_t Attach(void*, const HostLink* link) {
  g_link = link;
  QueryPerformanceFrequency(&g_frequency);
  g_hook = SetWindowsHookExW(WH_CALLWNDPROC, WatchTexts, nullptr, GetCurrentThreadId());
  Send(HostCommandKind::AddTab, 0, 1, u"Probe");
  Send(HostCommandKind::SetTableShape, kRows, 2, nullptr);
  Send(HostCommandKind::SetColumnTitle, 0, 0, u"Register");
  Send(HostCommandKind::SetColumnTitle, 1, 0, u"Value");
  Send(HostCommandKind::AddChoice, 0, 0, u"Idle");
  Send(HostCommandKind::AddChoice, 1, 0, u"Frame burst");
  Send(HostCommandKind::AddChoice, 2, 0, u"Page benchmark");
  Send(HostCommandKind::AddChoice, 3, 0, u"Error text");
  Send(HostCommandKind::AddChoice, 4, 0, u"Frame");
  Send(HostCommandKind::AddChoice, 5, 0, u"Error colour");
  Send(HostCommandKind::AddChoice, 6, 0, u"Paging check");
  Send(HostCommandKind::AddChoice, 7, 0, u"Refresh under the editor");
  Log("attach");
  return 1;
}

void Detach(void*) {
  if (g_hook) UnhookWindowsHookEx(g_hook);
  g_hook = nullptr;
  g_link = nullptr;
}

PluginWindow CreateSettingsPage(void*, PluginWindow) { return nullptr; }
int32_t ApplySettings(void*) { return 1; }
void Destroy(void*) {}

int64_t HandleEvent(void*, const ViewEvent* event) {
  if (event->kind == ViewEventKind::GetCellText) {
    ++g_cellCalls;
    char text[24];
    snprintf(text, sizeof(text), "%c%05u", CellColumn(event->arg) == 0 ? '4' : 'v', CellRow(event->arg));
    uint64_t i = 0;
    for (; i + 1 < event->capacity && text[i]; ++i) event->buffer[i] = static_cast<Unit>(text[i]);
    if (event->capacity) event->buffer[i] = 0;
  } else if (event->kind == ViewEventKind::ChoiceSelected && event->arg == 1) {
    HANDLE thread = CreateThread(nullptr, 0, PostFrames, nullptr, 0, nullptr);
    if (thread) {
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
  } else if (event->kind == ViewEventKind::ChoiceSelected && event->arg == 2) {
    PageBenchmark(0);
  } else if (event->kind == ViewEventKind::ChoiceSelected && event->arg == 6) {
    PageBenchmark(20);
  } else if (event->kind == ViewEventKind::ChoiceSelected && event->arg == 3) {
    Send(HostCommandKind::ShowRxText, 1, 0, u"RX: Timeout");
  } else if (event->kind == ViewEventKind::ChoiceSelected && event->arg == 4) {
    static const uint8_t kFrame[] = {0x11, 0x03, 0x00, 0x6B};
    HostCommand command = {};
    command.kind = HostCommandKind::ShowRxFrame;
    command.data = kFrame;
    command.length = sizeof(kFrame);
    g_link->send(g_link->host, &command);
  } else if (event->kind == ViewEventKind::ChoiceSelected && event->arg == 5) {
    CountErrorPixels();
  } else if (event->kind == ViewEventKind::ChoiceSelected && event->arg == 7) {
    RefreshUnderEditor();
  } else if (event->kind == ViewEventKind::BeginCellEdit) {
    return 1;
  } else if (event->kind == ViewEventKind::GetCellEditor) {
    static const Unit kValue[] = u"1234";
    for (uint64_t i = 0; i < 5 && i < event->capacity; ++i) event->buffer[i] = kValue[i];
    return 1;
  }
  return 0;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_log = pluginlog::ModuleBase(instance) + L".log";
  }
  return TRUE;
}

VELMORA_PLUGIN_EXPORT const PluginDescriptor* GetPluginDescriptor() { return &kDescriptor; }

VELMORA_PLUGIN_EXPORT int32_t CreatePlugin(uint32_t version, PluginOps* table) {
  if (version != kPluginInterfaceVersion || !table) return 0;
  table->size = 64;
  table->version = kPluginInterfaceVersion;
  table->instance = &g_instance;
  table->attach = Attach;
  table->detach = Detach;
  table->createSettingsPage = CreateSettingsPage;
  table->applySettings = ApplySettings;
  table->handleEvent = HandleEvent;
  table->destroy = Destroy;
  return 1;
}
