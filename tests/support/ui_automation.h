#pragma once
// Drives the windows of another process the way a user's input does, for
// tests that start velmora.exe (or any dialog program) and read back what it
// shows. Everything works under Wine and on Windows:
//
// - clicks and keys are posted (PostMessage), never sent, so a modal loop the
//   input opens cannot block the test, and the target's own dialog keyboard
//   handling runs;
// - messages that carry pointers are not marshalled between processes: tab
//   titles and list-view cells are read through a buffer in the target's
//   memory (VirtualAllocEx, ReadProcessMemory);
// - WM_GETTEXT and the combo box's text messages are marshalled by the
//   system, so they are sent with a time-out.
//
// Usage: App app; app.Start(exe, folder, env); HWND main = app.MainWindow(...);
// then Click(GetDlgItem(main, id)), Text(...), CellText(...), and so on.
#include <windows.h>
#include <commctrl.h>

#include <stdint.h>

#include <string>
#include <vector>

namespace uiauto {

constexpr DWORD kDefaultTimeoutMs = 20000;

// A bounded wait for a condition that no event announces (another process's
// window state): polls every 20 ms until the condition holds or the time is up.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs = kDefaultTimeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
}

// The first top-level window of process pid other than except, with the
// dialog class, whose caption is caption (exact) or starts with it (not
// exact); with visibleOnly only shown windows count. Null when none.
inline HWND FindProcessDialog(DWORD pid, const std::wstring& caption, bool exact, bool visibleOnly, HWND except) {
  struct Search {
    DWORD pid;
    const std::wstring* caption;
    bool exact, visibleOnly;
    HWND except;
    HWND found;
  } search{pid, &caption, exact, visibleOnly, except, nullptr};
  EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        Search& s = *reinterpret_cast<Search*>(parameter);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != s.pid || window == s.except || (s.visibleOnly && !IsWindowVisible(window))) return TRUE;
        wchar_t text[256] = {};
        if (!GetClassNameW(window, text, 256) || std::wstring(text) != L"#32770") return TRUE;
        GetWindowTextW(window, text, 256);
        const std::wstring shown(text);
        if (s.exact ? shown != *s.caption : shown.compare(0, s.caption->size(), *s.caption) != 0) return TRUE;
        s.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The folder of the running program, with its trailing separator.
inline std::wstring ExeFolder() {
  wchar_t self[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// A started program.
class App {
 public:
  App() = default;
  ~App() { Kill(); }
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // Starts exe in folder; extraEnv holds "NAME=value" entries added to this
  // process's environment for the child.
  bool Start(const std::wstring& exe, const std::wstring& folder, const std::vector<std::wstring>& extraEnv = {}) {
    std::vector<std::pair<std::wstring, std::wstring>> saved;
    for (const std::wstring& entry : extraEnv) {
      size_t equals = entry.find(L'=');
      std::wstring name = entry.substr(0, equals);
      wchar_t old[1024];
      DWORD length = GetEnvironmentVariableW(name.c_str(), old, 1024);
      saved.push_back({name, length ? std::wstring(old, length) : std::wstring(1, L'\0')});
      SetEnvironmentVariableW(name.c_str(), entry.substr(equals + 1).c_str());
    }
    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startTick_ = GetTickCount64();
    bool ok = CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                             &process_) != 0;
    for (auto& [name, value] : saved) {
      SetEnvironmentVariableW(name.c_str(), value.size() == 1 && value[0] == L'\0' ? nullptr : value.c_str());
    }
    return ok;
  }

  DWORD ProcessId() const { return process_.dwProcessId; }
  HANDLE Process() const { return process_.hProcess; }
  ULONGLONG StartTick() const { return startTick_; }

  // The process's visible top-level dialog whose caption starts with
  // captionPrefix, waiting for it up to timeoutMs.
  HWND MainWindow(const std::wstring& captionPrefix, DWORD timeoutMs = kDefaultTimeoutMs) const {
    HWND found = nullptr;
    WaitFor([&] { return (found = FindTopLevel(captionPrefix, nullptr)) != nullptr; }, timeoutMs);
    return found;
  }

  // The first visible top-level window of the process other than except,
  // with the dialog class, whose caption starts with captionPrefix ("" for
  // any); null when none.
  HWND FindTopLevel(const std::wstring& captionPrefix, HWND except) const {
    return FindProcessDialog(process_.dwProcessId, captionPrefix, false, true, except);
  }

  // Waits for the process to end; its exit code, or STILL_ACTIVE.
  DWORD WaitExit(DWORD timeoutMs = kDefaultTimeoutMs) const {
    if (!process_.hProcess) return STILL_ACTIVE;
    WaitForSingleObject(process_.hProcess, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

  void Kill() {
    if (!process_.hProcess) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.hProcess, 0xDEAD);
      WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    process_ = {};
  }

 private:
  PROCESS_INFORMATION process_{};
  ULONGLONG startTick_ = 0;
};

// --- input -----------------------------------------------------------------

inline void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

inline void Key(HWND window, UINT virtualKey) {
  PostMessageW(window, WM_KEYDOWN, virtualKey, 1);
  PostMessageW(window, WM_KEYUP, virtualKey, 0xC0000001);
}

inline void Type(HWND window, const std::wstring& text) {
  for (wchar_t unit : text) PostMessageW(window, WM_CHAR, unit, 1);
}

// A click on a static with the notify style: the control tells its parent.
inline void ClickStatic(HWND control) {
  PostMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), STN_CLICKED),
               reinterpret_cast<LPARAM>(control));
}

// The user picks entry index of a drop-down list.
inline void PickChoice(HWND combo, int index) {
  PostMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  PostMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
}

// The focus leaves an edit control: it reformats itself and notifies its
// parent as when the user tabs away.
inline void LeaveField(HWND edit) { PostMessageW(edit, WM_KILLFOCUS, 0, 0); }

// Replaces an edit's text as typing over a selection does, then leaves it.
inline void TypeOver(HWND edit, const std::wstring& text) {
  PostMessageW(edit, WM_SETFOCUS, 0, 0);
  PostMessageW(edit, EM_SETSEL, 0, -1);
  Type(edit, text);
  LeaveField(edit);
}

// The value of an environment variable the driver sets, empty when unset.
inline std::wstring EnvText(const wchar_t* name) {
  wchar_t value[16] = {};
  GetEnvironmentVariableW(name, value, 16);
  return value;
}

// The user selects tab index: the tab control sends its own selection
// notifications in the owner's process.
inline void SelectTab(HWND tabs, int index) { PostMessageW(tabs, TCM_SETCURFOCUS, static_cast<WPARAM>(index), 0); }

// Waits until every message posted so far to the target thread has been
// handled. A sent message would not do: a thread handles sent messages
// before posted ones. So a marker is posted behind them: the modify flag of
// an edit control of that thread whose flag means nothing to the program
// (such as a read-only box), read back until it is set, then cleared.
inline bool Settle(HWND markerEdit, DWORD timeoutMs = kDefaultTimeoutMs) {
  DWORD_PTR flag = 0;
  SendMessageTimeoutW(markerEdit, EM_SETMODIFY, FALSE, 0, SMTO_NORMAL, timeoutMs, &flag);
  if (!PostMessageW(markerEdit, EM_SETMODIFY, TRUE, 0)) return false;
  bool done = WaitFor(
      [&] {
        flag = 0;
        return SendMessageTimeoutW(markerEdit, EM_GETMODIFY, 0, 0, SMTO_NORMAL, timeoutMs, &flag) && flag != 0;
      },
      timeoutMs);
  SendMessageTimeoutW(markerEdit, EM_SETMODIFY, FALSE, 0, SMTO_NORMAL, timeoutMs, &flag);
  return done;
}

// --- reading back -----------------------------------------------------------

inline std::wstring Text(HWND window) {
  wchar_t buffer[1024] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL, 5000, &copied)) {
    return L"<no answer>";
  }
  return std::wstring(buffer, copied);
}

inline bool Enabled(HWND window) { return IsWindowEnabled(window) != 0; }
inline bool Visible(HWND window) { return IsWindowVisible(window) != 0; }

inline int SendInt(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, 5000, &result);
  return static_cast<int>(result);
}

inline int ChoiceCount(HWND combo) { return SendInt(combo, CB_GETCOUNT); }
inline int ChoiceSelected(HWND combo) { return SendInt(combo, CB_GETCURSEL); }
inline std::wstring ChoiceText(HWND combo, int index) {
  wchar_t buffer[512] = {};
  SendMessageTimeoutW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL,
                      5000, nullptr);
  return buffer;
}
inline std::vector<std::wstring> ChoiceTexts(HWND combo) {
  std::vector<std::wstring> texts;
  for (int i = 0, n = ChoiceCount(combo); i < n; ++i) texts.push_back(ChoiceText(combo, i));
  return texts;
}
inline int64_t ChoiceData(HWND combo, int index) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(combo, CB_GETITEMDATA, static_cast<WPARAM>(index), 0, SMTO_NORMAL, 5000, &result);
  return static_cast<int64_t>(result);
}

// A buffer in another process's memory, released with the object.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  bool Valid() const { return address_ != nullptr; }
  uint8_t* Address() const { return static_cast<uint8_t*>(address_); }
  bool Write(size_t offset, const void* data, size_t size) {
    return WriteProcessMemory(process_, Address() + offset, data, size, nullptr) != 0;
  }
  bool Read(size_t offset, void* data, size_t size) const {
    return ReadProcessMemory(process_, Address() + offset, data, size, nullptr) != 0;
  }

 private:
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
  size_t size_;
};

inline int TabCount(HWND tabs) { return SendInt(tabs, TCM_GETITEMCOUNT); }
inline int TabSelected(HWND tabs) { return SendInt(tabs, TCM_GETCURSEL); }

// Sends a message whose record (item, with its pszText and cchTextMax) and
// text buffer must live in the target's memory; the text the target wrote,
// or "<no answer>" when the message returned 0 and requireResult is set.
// The buffer is first filled with '#', so a text the target left untouched
// shows.
template <typename Item>
std::wstring RemoteItemText(HWND window, UINT message, WPARAM wParam, Item item, bool requireResult) {
  constexpr int kUnits = 512;
  RemoteBuffer remote(window, sizeof(Item) + kUnits * sizeof(wchar_t));
  if (!remote.Valid()) return L"<no memory>";
  item.pszText = reinterpret_cast<wchar_t*>(remote.Address() + sizeof(Item));
  item.cchTextMax = kUnits;
  remote.Write(0, &item, sizeof(item));
  std::vector<wchar_t> text(kUnits + 1, L'#');
  remote.Write(sizeof(Item), text.data(), kUnits * sizeof(wchar_t));
  if (!SendInt(window, message, wParam, reinterpret_cast<LPARAM>(remote.Address())) && requireResult) {
    return L"<no answer>";
  }
  remote.Read(sizeof(Item), text.data(), kUnits * sizeof(wchar_t));
  text[kUnits] = L'\0';
  return std::wstring(text.data());
}

inline std::wstring TabTitle(HWND tabs, int index) {
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  return RemoteItemText(tabs, TCM_GETITEMW, static_cast<WPARAM>(index), item, true);
}

inline std::vector<std::wstring> TabTitles(HWND tabs) {
  std::vector<std::wstring> titles;
  for (int i = 0, n = TabCount(tabs); i < n; ++i) titles.push_back(TabTitle(tabs, i));
  return titles;
}

inline int ListRowCount(HWND list) { return SendInt(list, LVM_GETITEMCOUNT); }
inline int ListColumnCount(HWND list) {
  DWORD_PTR header = 0;
  SendMessageTimeoutW(list, LVM_GETHEADER, 0, 0, SMTO_NORMAL, 5000, &header);
  return header ? SendInt(reinterpret_cast<HWND>(header), HDM_GETITEMCOUNT) : 0;
}
inline int ListColumnWidth(HWND list, int column) { return SendInt(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column)); }
// Every column's width added up, to hold against the list's client width.
inline int ListColumnsWidth(HWND list) {
  int total = 0;
  for (int column = 0, count = ListColumnCount(list); column < count; ++column) total += ListColumnWidth(list, column);
  return total;
}

// A rectangle another process's control writes for message (wParam, with
// in as the record it reads first), through a buffer in its memory.
inline RECT RemoteRect(HWND window, UINT message, WPARAM wParam, const RECT& in) {
  RemoteBuffer remote(window, sizeof(RECT));
  RECT out = {};
  if (!remote.Valid() || !remote.Write(0, &in, sizeof(in))) return out;
  if (SendInt(window, message, wParam, reinterpret_cast<LPARAM>(remote.Address()))) remote.Read(0, &out, sizeof(out));
  return out;
}

// A list view cell's rectangle in the list view's client coordinates.
inline RECT CellRect(HWND list, int row, int column) {
  RECT in = {};
  in.top = column;
  in.left = column == 0 ? LVIR_LABEL : LVIR_BOUNDS;  // the bounds of column 0 are the whole row
  return RemoteRect(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), in);
}

inline LONG RightEdge(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect.right;
}

inline LPARAM Centre(const RECT& rect) { return MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2); }

// The text a list view shows in a cell (an owner-data list view asks its
// owner, so this proves what the owner answers).
inline std::wstring CellText(HWND list, int row, int column) {
  LVITEMW item{};
  item.iSubItem = column;
  return RemoteItemText(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), item, false);
}

// --- message boxes -----------------------------------------------------------

struct BoxText {
  std::wstring caption;
  std::wstring text;
};

// Waits for a message box of the process (a dialog other than mainWindow),
// reads its caption and text and closes it with its default button.
inline bool DismissMessageBox(const App& app, HWND mainWindow, BoxText* seen = nullptr,
                              DWORD timeoutMs = kDefaultTimeoutMs) {
  HWND box = nullptr;
  if (!WaitFor([&] { return (box = app.FindTopLevel(L"", mainWindow)) != nullptr; }, timeoutMs)) return false;
  if (seen) {
    wchar_t caption[256] = {};
    GetWindowTextW(box, caption, 256);
    seen->caption = caption;
    seen->text = Text(GetDlgItem(box, 0xFFFF));
  }
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  return WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, timeoutMs);
}

// --- pictures ---------------------------------------------------------------

// The pixels of a window as the screen shows them (32-bit BGRA rows, top
// down). Read from the screen, since another process's window cannot paint
// into this process's device context.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  int DistinctColours() const {
    std::vector<uint32_t> seen;
    for (uint32_t pixel : pixels) {
      bool known = false;
      for (uint32_t colour : seen) {
        if (colour == pixel) {
          known = true;
          break;
        }
      }
      if (!known) seen.push_back(pixel);
      if (seen.size() > 64) break;
    }
    return static_cast<int>(seen.size());
  }
};

// Copies the window as the screen shows it. Other tests' windows share the
// display, so the window is raised above them and repainted first, and
// put back in its place afterwards. With repaint false the window is only
// raised: the picture shows what the program itself last painted (Wine
// serves a raised window from the pixels it keeps, without a WM_PAINT).
inline Picture Capture(HWND window, bool repaint = true) {
  Picture picture;
  const UINT keep = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, keep);
  if (repaint) RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kDefaultTimeoutMs, &ignored);
  Sleep(100);  // the X server composes the raised window
  struct Restore {
    HWND window;
    UINT keep;
    ~Restore() { SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, keep); }
  } restore{window, keep};
  RECT rect{};
  GetWindowRect(window, &rect);
  picture.width = rect.right - rect.left;
  picture.height = rect.bottom - rect.top;
  if (picture.width <= 0 || picture.height <= 0) return picture;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = -picture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, picture.width, picture.height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  picture.pixels.assign(static_cast<const uint32_t*>(bits),
                        static_cast<const uint32_t*>(bits) + static_cast<size_t>(picture.width) * picture.height);
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return picture;
}

// Writes the picture as a PNG file (stored, uncompressed deflate blocks: no
// library needed, any viewer reads it).
inline bool SavePng(const Picture& picture, const std::wstring& path) {
  auto crc32 = [](const uint8_t* data, size_t size, uint32_t crc) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
      crc ^= data[i];
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
  };
  auto be32 = [](std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
  };
  std::vector<uint8_t> raw;
  for (int y = 0; y < picture.height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < picture.width; ++x) {
      uint32_t pixel = picture.pixels[static_cast<size_t>(y) * picture.width + x];
      raw.push_back(static_cast<uint8_t>(pixel >> 16));
      raw.push_back(static_cast<uint8_t>(pixel >> 8));
      raw.push_back(static_cast<uint8_t>(pixel));
    }
  }
  std::vector<uint8_t> zlib = {0x78, 0x01};
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  for (size_t offset = 0; offset < raw.size() || offset == 0; offset += 65535) {
    size_t count = raw.size() - offset < 65535 ? raw.size() - offset : 65535;
    zlib.push_back(offset + count >= raw.size() ? 1 : 0);
    zlib.push_back(static_cast<uint8_t>(count));
    zlib.push_back(static_cast<uint8_t>(count >> 8));
    zlib.push_back(static_cast<uint8_t>(~count));
    zlib.push_back(static_cast<uint8_t>(~count >> 8));
    zlib.insert(zlib.end(), raw.begin() + offset, raw.begin() + offset + count);
    if (raw.empty()) break;
  }
  be32(zlib, (b << 16) | a);
  std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&](const char* kind, const std::vector<uint8_t>& data) {
    be32(file, static_cast<uint32_t>(data.size()));
    size_t start = file.size();
    file.insert(file.end(), kind, kind + 4);
    file.insert(file.end(), data.begin(), data.end());
    be32(file, crc32(file.data() + start, file.size() - start, 0));
  };
  std::vector<uint8_t> header;
  be32(header, static_cast<uint32_t>(picture.width));
  be32(header, static_cast<uint32_t>(picture.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});
  chunk("IHDR", header);
  chunk("IDAT", zlib);
  chunk("IEND", {});
  HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(out, file.data(), static_cast<DWORD>(file.size()), &written, nullptr) && written == file.size();
  CloseHandle(out);
  return ok;
}

// The clipboard's text, empty when the clipboard holds none or is taken.
inline std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const wchar_t* chars = static_cast<const wchar_t*>(GlobalLock(data))) text = chars;
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

inline void ClearClipboard() {
  if (!OpenClipboard(nullptr)) return;
  EmptyClipboard();
  CloseClipboard();
}

}  // namespace uiauto
