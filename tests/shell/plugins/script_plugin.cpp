// A scriptable plug-in for the tests of the main window and of everything
// built on it. Compiled once per variant (see CMakeLists.txt: tag, order and
// operations table size 104, 88 or 64).
//
// It records every call and event it receives, one line each, in the file
// "<dll>.log" beside the library (appended and flushed at once, so a test
// reads it while the shell runs). Before every call it reads "<dll>.script"
// beside the library, so a test can change the script between steps. Script
// lines (blank lines and lines starting with # are skipped):
//
//   connect N                 Connect answers N (default 1)
//   begin N                   BeginCellEdit answers N (default 1)
//   editor MODE TEXT          GetCellEditor answers MODE and writes TEXT
//   cells N                   GetCellText writes "R<row>C<col>" for rows below N
//                             and leaves the buffer untouched for the others
//   protocol TEXT             getProtocolLine writes TEXT (absent: returns 0)
//   connection TEXT           getConnectionLine writes TEXT
//   tip TEXT                  getTip writes TEXT
//   nexttip TEXT              getNextTip writes TEXT followed by a counter
//   page W H                  createSettingsPage makes a page of W x H dialog
//                             units (absent: it returns no page)
//   refuse                    read when the plug-in is created: while the
//                             line is there, the connection setup dialog
//                             cannot be created
//   on TRIGGER HOW KIND INDEX VALUE [TEXT]
//                             when TRIGGER happens, build a HostCommand of KIND
//                             (its name, such as AddTab) and give it to the
//                             shell: HOW is send, post, threadpost (posted
//                             from a new thread, which the call waits for) or
//                             heldpost (posted from a new thread that the
//                             shell's PostMessageW holds, after the stamp is
//                             taken, until another script plug-in is attached;
//                             the call waits only until the thread is held,
//                             and the log says "held post delivered" once the
//                             message is queued).
//                             TEXT "~" is a null text. For ShowTxFrame and
//                             ShowRxFrame INDEX is the frame's length (bytes
//                             0, 1, 2 ...); for ShowError TEXT is "text|caption";
//                             for SetFieldFormat VALUE is the record's length
//                             and TEXT is "mode hasRange min max digits [suffix]".
//
// Triggers: attach, detach, and the view event names (Connect, Disconnect,
// FieldEdited, ChoiceSelected, AddRequested, RemoveRequested, TabSelected,
// GetCellText, BeginCellEdit, EndCellEdit, GetCellEditor, ColumnClicked).
//
// Log lines: "attach", "detach", "applySettings", "createSettingsPage",
// "protocolLine", "connectionLine", "indicator C", "tip SEED", "nextTip",
// "event NAME arg=A key=K text=T" (text in UTF-8, "~" when null).
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/plugin_interface.h"
#include "plugin_log.h"

#define QUOTE_(x) #x
#define QUOTE(x) QUOTE_(x)
#define UTF16(x) u"" QUOTE(x)

#ifndef ORDER
#define ORDER 10
#endif
#ifndef OPS_SIZE
#define OPS_SIZE 104
#endif

namespace {

constexpr PluginDescriptor kDescriptor = {
    40, 11, UTF16(PLUGIN_TAG), u"Script " UTF16(PLUGIN_TAG), u"View " UTF16(PLUGIN_TAG), ORDER, 0,
};

int g_instance = 0;
const HostLink* g_link = nullptr;
std::wstring g_base;  // the library's path without ".dll"
unsigned g_nextTip = 0;

const char* const kCommandNames[] = {
    "SetLabel",    "SetFieldText", "ShowField",     "ClearChoices",  "AddChoice",    "SelectChoice",
    "AddTab",      "RemoveTab",    "EnableAddRemove", "SetTableShape", "SetColumnTitle", "RefreshTable",
    "FitColumns",  "ShowTxFrame",  "ShowRxFrame",   "ShowRxText",    "ShowError",    "SetFieldFormat",
};
const char* const kEventNames[] = {
    "Connect",     "Disconnect",  "FieldEdited",   "ChoiceSelected", "AddRequested", "RemoveRequested",
    "TabSelected", "GetCellText", "BeginCellEdit", "EndCellEdit",    "GetCellEditor", "ColumnClicked",
};

std::string Utf8(const Unit* text) {
  if (!text) return "~";
  int length = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text), -1, nullptr, 0, nullptr, nullptr);
  std::string out(length > 0 ? length - 1 : 0, '\0');
  if (length > 1) WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text), -1, &out[0], length, nullptr, nullptr);
  return out;
}

std::u16string Utf16(const std::string& text) {
  int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::u16string out(length > 0 ? length - 1 : 0, u'\0');
  if (length > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, reinterpret_cast<wchar_t*>(&out[0]), length);
  return out;
}

void Log(const std::string& line) { pluginlog::Append(g_base + L".log", line); }

std::vector<std::string> ScriptLines() {
  std::vector<std::string> lines;
  HANDLE file = CreateFileW((g_base + L".script").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lines;
  std::string content;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) content.append(chunk, read);
  CloseHandle(file);
  size_t start = 0;
  while (start <= content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty() && line[0] != '#') lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// The first word and the rest of a line.
std::string Word(std::string& rest) {
  size_t space = rest.find(' ');
  std::string word = rest.substr(0, space);
  rest = space == std::string::npos ? std::string() : rest.substr(space + 1);
  return word;
}

// The value of "KEY TEXT" in the script, or false.
bool Setting(const char* key, std::string& value) {
  for (std::string line : ScriptLines()) {
    if (Word(line) == key) {
      value = line;
      return true;
    }
  }
  return false;
}

int64_t Number(const std::string& text) { return _strtoi64(text.c_str(), nullptr, 0); }

// Storage that outlives a posted command: the suffix of a posted
// SetFieldFormat must stay valid until the shell handles the copy.
std::vector<std::u16string*> g_keep;

struct Built {
  HostCommand command = {};
  std::u16string text, caption;
  std::vector<uint8_t> data;
  FieldFormat format = {};
  bool nullText = false;
};

bool Build(const std::string& kindName, std::string rest, Built& built) {
  int kind = -1;
  for (int i = 0; i < 18; ++i) {
    if (kindName == kCommandNames[i]) kind = i;
  }
  if (kind < 0) return false;
  HostCommand& command = built.command;
  command.kind = static_cast<HostCommandKind>(kind);
  command.index = static_cast<uint64_t>(Number(Word(rest)));
  command.value = static_cast<uint64_t>(Number(Word(rest)));
  if (rest == "~") {
    built.nullText = true;
  } else if (command.kind == HostCommandKind::ShowError) {
    size_t bar = rest.find('|');
    built.text = Utf16(rest.substr(0, bar));
    if (bar != std::string::npos) built.caption = Utf16(rest.substr(bar + 1));
  } else if (command.kind == HostCommandKind::SetFieldFormat) {
    built.format.mode = static_cast<uint8_t>(Number(Word(rest)));
    built.format.hasRange = static_cast<uint32_t>(Number(Word(rest)));
    built.format.min = Number(Word(rest));
    built.format.max = Number(Word(rest));
    built.format.digits = static_cast<int32_t>(Number(Word(rest)));
    if (!rest.empty()) {
      std::u16string* suffix = new std::u16string(Utf16(rest));
      g_keep.push_back(suffix);
      built.format.suffix = suffix->c_str();
    }
  } else {
    built.text = Utf16(rest);
  }
  command.text = built.nullText ? nullptr : built.text.c_str();
  if (!built.caption.empty()) command.caption = built.caption.c_str();
  if (command.kind == HostCommandKind::ShowTxFrame || command.kind == HostCommandKind::ShowRxFrame) {
    for (uint64_t i = 0; i < command.index; ++i) built.data.push_back(static_cast<uint8_t>(i));
    command.data = built.data.empty() ? nullptr : built.data.data();
    command.length = static_cast<uint32_t>(built.data.size());
    command.index = 0;
  }
  if (command.kind == HostCommandKind::SetFieldFormat) {
    command.data = &built.format;
    command.length = static_cast<uint32_t>(command.value);
    command.value = 0;
  }
  return true;
}

DWORD WINAPI PostFromThread(void* parameter) {
  const HostCommand* command = static_cast<const HostCommand*>(parameter);
  g_link->post(g_link->host, command);
  return 0;
}

// --- heldpost -------------------------------------------------------------
// A worker thread whose post is taken under one attachment and queued only
// after the next one: the program's import of PostMessageW is pointed at
// HeldPostMessage for as long as the thread needs it.

// Set by every script plug-in's attach; the name carries the process id so
// that programs running side by side do not share it.
HANDLE AttachedEvent() {
  wchar_t name[64];
  wsprintfW(name, L"Local\\velmora-script-attached-%lu", GetCurrentProcessId());
  return CreateEventW(nullptr, TRUE, FALSE, name);
}

using PostMessageFunction = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);

// The program's import slot of user32's PostMessageW, or null.
PostMessageFunction* PostMessageSlot() {
  uint8_t* base = reinterpret_cast<uint8_t*>(GetModuleHandleW(nullptr));
  const IMAGE_NT_HEADERS* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!directory.VirtualAddress) return nullptr;
  for (const IMAGE_IMPORT_DESCRIPTOR* module = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       module->Name; ++module) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + module->Name), "user32.dll") != 0) continue;
    const IMAGE_THUNK_DATA* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
    IMAGE_THUNK_DATA* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const IMAGE_IMPORT_BY_NAME* name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (strcmp(reinterpret_cast<const char*>(name->Name), "PostMessageW") == 0) {
        return reinterpret_cast<PostMessageFunction*>(&slots->u1.Function);
      }
    }
  }
  return nullptr;
}

void SetSlot(PostMessageFunction* slot, PostMessageFunction function) {
  DWORD protection = 0;
  VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
  InterlockedExchangePointer(reinterpret_cast<void**>(slot), reinterpret_cast<void*>(function));
  VirtualProtect(slot, sizeof(*slot), protection, &protection);
}

PostMessageFunction g_realPost = nullptr;
DWORD g_heldThread = 0;
HANDLE g_held = nullptr;      // set once the worker is inside the program's post
HANDLE g_attached = nullptr;  // set by the next attach

BOOL WINAPI HeldPostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (GetCurrentThreadId() == g_heldThread) {
    SetEvent(g_held);
    WaitForSingleObject(g_attached, 60000);
  }
  return g_realPost(window, message, wParam, lParam);
}

struct HeldPost {
  Built built;
  PostMessageFunction* slot;
};

DWORD WINAPI HeldPostThread(void* parameter) {
  HeldPost* held = static_cast<HeldPost*>(parameter);
  g_link->post(g_link->host, &held->built.command);
  SetSlot(held->slot, g_realPost);
  Log("held post delivered");
  delete held;
  return 0;
}

// Starts the worker and returns once the shell has taken the command's
// stamp and the worker waits in PostMessageW.
void StartHeldPost(const Built& built) {
  PostMessageFunction* slot = PostMessageSlot();
  if (!slot) {
    Log("heldpost: no PostMessageW import");
    return;
  }
  if (!g_held) g_held = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!g_attached) g_attached = AttachedEvent();
  ResetEvent(g_attached);
  g_realPost = *slot;
  HeldPost* held = new HeldPost{built, slot};
  // The copy's command points into the copy.
  Built& own = held->built;
  own.command.text = own.nullText ? nullptr : own.text.c_str();
  if (!own.caption.empty()) own.command.caption = own.caption.c_str();
  if (!own.data.empty()) own.command.data = own.data.data();
  if (own.command.kind == HostCommandKind::SetFieldFormat) own.command.data = &own.format;
  HANDLE thread = CreateThread(nullptr, 0, HeldPostThread, held, CREATE_SUSPENDED, &g_heldThread);
  if (!thread) {
    delete held;
    return;
  }
  SetSlot(slot, HeldPostMessage);
  ResumeThread(thread);
  WaitForSingleObject(g_held, 60000);
  CloseHandle(thread);
}

// Runs the script's rules for a trigger.
void Fire(const char* trigger) {
  if (!g_link) return;
  for (std::string line : ScriptLines()) {
    if (Word(line) != "on" || Word(line) != trigger) continue;
    std::string how = Word(line);
    std::string kind = Word(line);
    Built built;
    if (!Build(kind, line, built)) continue;
    if (how == "send") {
      g_link->send(g_link->host, &built.command);
    } else if (how == "post") {
      g_link->post(g_link->host, &built.command);
    } else if (how == "heldpost") {
      StartHeldPost(built);
    } else if (how == "threadpost") {
      HANDLE thread = CreateThread(nullptr, 0, PostFromThread, &built.command, 0, nullptr);
      if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
      }
    }
  }
}

int32_t WriteSetting(const char* key, Unit* buffer, uint32_t capacity, const std::string& extra = "") {
  std::string value;
  if (!Setting(key, value)) return 0;
  std::u16string text = Utf16(value + extra);
  uint32_t count = 0;
  for (; count + 1 < capacity && count < text.size(); ++count) buffer[count] = text[count];
  buffer[count] = 0;
  return 1;
}

int32_t Attach(void*, const HostLink* link) {
  g_link = link;
  Log("attach size=" + std::to_string(link->size) + " version=" + std::to_string(link->version));
  HANDLE attached = AttachedEvent();
  SetEvent(attached);
  CloseHandle(attached);
  Fire("attach");
  return 1;
}

void Detach(void*) {
  Log("detach");
  Fire("detach");
  g_link = nullptr;
}

// A settings page as the plug-ins make them: a child dialog (DS_CONTROL)
// whose edit (1001) and check box (1002) take part in the parent's Tab ring.
INT_PTR CALLBACK PageProcedure(HWND, UINT message, WPARAM, LPARAM) {
  if (message == WM_CTLCOLORDLG || message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN) {
    return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
  }
  return FALSE;
}

HWND CreatePage(HWND parent, short width, short height) {
  alignas(4) WORD words[128] = {};
  size_t n = 0;
  auto put = [&](WORD word) { words[n++] = word; };
  auto putLong = [&](DWORD value) {
    put(LOWORD(value));
    put(HIWORD(value));
  };
  auto putItem = [&](DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom, const wchar_t* text) {
    if (n % 2) put(0);
    putLong(style | WS_CHILD | WS_VISIBLE | WS_TABSTOP);
    putLong(0);
    for (short value : {x, y, cx, cy}) put(static_cast<WORD>(value));
    put(id);
    put(0xFFFF);
    put(classAtom);
    for (; *text; ++text) put(*text);
    put(0);
    put(0);
  };
  putLong(WS_CHILD | WS_VISIBLE | DS_CONTROL);
  putLong(0);
  put(2);
  for (short value : {short(0), short(0), width, height}) put(static_cast<WORD>(value));
  put(0);
  put(0);
  put(0);
  putItem(ES_AUTOHSCROLL | WS_BORDER, 4, 4, 60, 12, 1001, 0x0081, L"page");
  putItem(BS_AUTOCHECKBOX, 4, 20, 60, 10, 1002, 0x0080, L"Check");
  return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<DLGTEMPLATE*>(words), parent,
                                    PageProcedure, 0);
}

PluginWindow CreateSettingsPage(void*, PluginWindow parent) {
  Log("createSettingsPage");
  std::string size;
  if (!Setting("page", size)) return nullptr;
  const short width = static_cast<short>(Number(Word(size)));
  return CreatePage(parent, width, static_cast<short>(Number(size)));
}

// "refuse": the connection setup dialog cannot be created while the line is
// in the script, as when the system refuses a window.
HHOOK g_refusal = nullptr;
LRESULT CALLBACK RefuseSetup(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    const CBT_CREATEWNDW* create = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
    const wchar_t* name = create->lpcs->lpszName;
    std::string unused;
    if (name && !IS_INTRESOURCE(name) && wcscmp(name, L"Connection Setup") == 0 && Setting("refuse", unused)) return 1;
  }
  return CallNextHookEx(g_refusal, code, wParam, lParam);
}

int32_t ApplySettings(void*) {
  Log("applySettings");
  return 1;
}

int64_t HandleEvent(void*, const ViewEvent* event) {
  const uint32_t kind = static_cast<uint32_t>(event->kind);
  const char* name = kind < 12 ? kEventNames[kind] : "unknown";
  if (event->kind != ViewEventKind::GetCellText) {
    Log(std::string("event ") + name + " arg=" + std::to_string(event->arg) + " key=" + std::to_string(event->tabKey) +
        " text=" + Utf8(event->text));
  }
  std::string value;
  int64_t result = 0;
  switch (event->kind) {
    case ViewEventKind::Connect:
      result = Setting("connect", value) ? Number(value) : 1;
      break;
    case ViewEventKind::BeginCellEdit:
      result = Setting("begin", value) ? Number(value) : 1;
      break;
    case ViewEventKind::GetCellEditor:
      if (Setting("editor", value)) {
        result = Number(Word(value));
        std::u16string text = Utf16(value);
        uint64_t i = 0;
        for (; i + 1 < event->capacity && i < text.size(); ++i) event->buffer[i] = text[i];
        if (event->capacity) event->buffer[i] = 0;
      }
      break;
    case ViewEventKind::GetCellText: {
      const uint32_t row = CellRow(event->arg);
      if (Setting("cells", value) && row < static_cast<uint64_t>(Number(value))) {
        std::string text = "R" + std::to_string(row) + "C" + std::to_string(CellColumn(event->arg));
        uint64_t i = 0;
        for (; i + 1 < event->capacity && i < text.size(); ++i) event->buffer[i] = static_cast<Unit>(text[i]);
        if (event->capacity) event->buffer[i] = 0;
      }
      break;
    }
    default:
      break;
  }
  Fire(name);
  return result;
}

void Destroy(void*) { Log("destroy"); }

int32_t GetProtocolLine(void*, Unit* buffer, uint32_t capacity) {
  Log("protocolLine");
  return WriteSetting("protocol", buffer, capacity);
}
int32_t GetConnectionLine(void*, Unit* buffer, uint32_t capacity) {
  Log("connectionLine");
  return WriteSetting("connection", buffer, capacity);
}
void ShowConnectionIndicator(void*, PluginWindow, int32_t connected) { Log("indicator " + std::to_string(connected)); }
int32_t GetTip(void*, uint32_t seed, Unit* buffer, uint32_t capacity) {
  Log("tip " + std::to_string(seed));
  return WriteSetting("tip", buffer, capacity);
}
int32_t GetNextTip(void*, Unit* buffer, uint32_t capacity) {
  Log("nextTip");
  return WriteSetting("nexttip", buffer, capacity, " " + std::to_string(++g_nextTip));
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_base = pluginlog::ModuleBase(instance);
  }
  return TRUE;
}

VELMORA_PLUGIN_EXPORT const PluginDescriptor* GetPluginDescriptor() { return &kDescriptor; }

VELMORA_PLUGIN_EXPORT int32_t CreatePlugin(uint32_t version, PluginOps* table) {
  if (version != kPluginInterfaceVersion || !table) return 0;
  table->size = OPS_SIZE;
  table->version = kPluginInterfaceVersion;
  table->instance = &g_instance;
  table->attach = Attach;
  table->detach = Detach;
  table->createSettingsPage = CreateSettingsPage;
  table->applySettings = ApplySettings;
  table->handleEvent = HandleEvent;
  table->destroy = Destroy;
  // Every entry is filled whatever the declared size, so a test sees
  // whether the shell honours the size.
  table->getProtocolLine = GetProtocolLine;
  table->getConnectionLine = GetConnectionLine;
  table->showConnectionIndicator = ShowConnectionIndicator;
  table->getTip = GetTip;
  table->getNextTip = GetNextTip;
  std::string unused;
  if (Setting("refuse", unused) && !g_refusal) g_refusal = SetWindowsHookExW(WH_CBT, RefuseSetup, nullptr, GetCurrentThreadId());
  return 1;
}
