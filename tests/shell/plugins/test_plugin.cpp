// A plug-in for the registry's tests, compiled once per rule with its own
// defines (see CMakeLists.txt). Every call the shell makes into it, and the
// unloading of the library, is appended as "<tag>.<call> " to the process
// environment variable VELMORA_TEST_PLUGIN_CALLS, which the test reads.
#include <windows.h>

#include <string>

#include "common/plugin_interface.h"

#define QUOTE_(x) #x
#define QUOTE(x) QUOTE_(x)
#define UTF16(x) u"" QUOTE(x)

#ifndef PLUGIN_ID
#define PLUGIN_ID PLUGIN_TAG
#endif
#ifndef DESC_SIZE
#define DESC_SIZE 40
#endif
#ifndef DESC_VERSION
#define DESC_VERSION 11
#endif
#ifndef ORDER
#define ORDER 10
#endif
#ifndef CREATE_RESULT
#define CREATE_RESULT 1
#endif
#ifndef OPS_SIZE
#define OPS_SIZE 104
#endif
#ifndef OPS_VERSION
#define OPS_VERSION 11
#endif
// Which descriptor text is null or empty: 1 ID, 2 display name, 3 view title.
#ifndef NULL_TEXT
#define NULL_TEXT 0
#endif
#ifndef EMPTY_TEXT
#define EMPTY_TEXT 0
#endif
// Which required entry is left null: 1 handleEvent, 2 destroy.
#ifndef NULL_ENTRY
#define NULL_ENTRY 0
#endif

namespace {

void Record(const char* call) {
  char current[4096] = {};
  DWORD length = GetEnvironmentVariableA("VELMORA_TEST_PLUGIN_CALLS", current, sizeof(current));
  std::string calls(current, length < sizeof(current) ? length : 0);
  calls += QUOTE(PLUGIN_TAG);
  calls += '.';
  calls += call;
  calls += ' ';
  SetEnvironmentVariableA("VELMORA_TEST_PLUGIN_CALLS", calls.c_str());
}

constexpr const Unit* Text(int which, const Unit* text) {
  if (NULL_TEXT == which) return nullptr;
  if (EMPTY_TEXT == which) return u"";
  return text;
}

constexpr PluginDescriptor kDescriptor = {
    DESC_SIZE, DESC_VERSION, Text(1, UTF16(PLUGIN_ID)), Text(2, u"Test " UTF16(PLUGIN_TAG)),
    Text(3, u"Test view"), ORDER, 0,
};

int g_instance = 0;

int32_t Attach(void*, const HostLink*) { Record("attach"); return 1; }
void Detach(void*) { Record("detach"); }
PluginWindow CreateSettingsPage(void*, PluginWindow) { Record("createSettingsPage"); return nullptr; }
int32_t ApplySettings(void*) { Record("applySettings"); return 1; }
int64_t HandleEvent(void*, const ViewEvent*) { Record("handleEvent"); return 0; }
void Destroy(void* instance) { Record(instance == &g_instance ? "destroy" : "destroy-wrong-instance"); }

// The optional entries write texts that fill the whole buffer without a NUL.
int32_t Fill(Unit* buffer, uint32_t capacity) {
  for (uint32_t i = 0; i < capacity; ++i) buffer[i] = u'x';
  return 1;
}
int32_t GetProtocolLine(void*, Unit* buffer, uint32_t capacity) { Record("getProtocolLine"); return Fill(buffer, capacity); }
int32_t GetConnectionLine(void*, Unit* buffer, uint32_t capacity) { Record("getConnectionLine"); return Fill(buffer, capacity); }
void ShowConnectionIndicator(void*, PluginWindow, int32_t) { Record("showConnectionIndicator"); }
int32_t GetTip(void*, uint32_t, Unit* buffer, uint32_t capacity) { Record("getTip"); return Fill(buffer, capacity); }
int32_t GetNextTip(void*, Unit* buffer, uint32_t capacity) { Record("getNextTip"); return Fill(buffer, capacity); }

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // Only an explicit FreeLibrary counts; the process's own end does not.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) Record("unload");
  return TRUE;
}

VELMORA_PLUGIN_EXPORT const PluginDescriptor* GetPluginDescriptor() {
  Record("describe");
#ifdef NULL_DESCRIPTOR
  return nullptr;
#else
  return &kDescriptor;
#endif
}

// Without the export the same function goes out under another name.
#ifdef NO_CREATE_EXPORT
#define CREATE_PLUGIN_NAME CreatePluginUnderAnotherName
#else
#define CREATE_PLUGIN_NAME CreatePlugin
#endif

VELMORA_PLUGIN_EXPORT int32_t CREATE_PLUGIN_NAME(uint32_t version, PluginOps* table) {
  Record("create");
  if (version != kPluginInterfaceVersion || !table) return 0;
  // Every entry is filled whatever the declared size, so the test sees
  // whether the shell honours the size.
  table->size = OPS_SIZE;
  table->version = OPS_VERSION;
#ifndef NULL_INSTANCE
  table->instance = &g_instance;
#endif
  table->attach = Attach;
  table->detach = Detach;
  table->createSettingsPage = CreateSettingsPage;
  table->applySettings = ApplySettings;
  table->handleEvent = NULL_ENTRY == 1 ? nullptr : HandleEvent;
  table->destroy = NULL_ENTRY == 2 ? nullptr : Destroy;
  table->getProtocolLine = GetProtocolLine;
  table->getConnectionLine = GetConnectionLine;
  table->showConnectionIndicator = ShowConnectionIndicator;
  table->getTip = GetTip;
  table->getNextTip = GetNextTip;
  return CREATE_RESULT;
}
