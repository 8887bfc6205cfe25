// The shared entry of every plug-in library (see plugin_entry.h): the two
// exports and the module record. The descriptor values come from the header
// velmora_plugin() generates for the deliverable being built.
#include "plugins/plugin_entry.h"

#include <windows.h>

#include "common/app_context.h"
#include "plugin_descriptor_values.h"

namespace {

const PluginDescriptor kDescriptor = {
    /* size */ kPluginDescriptorSize,
    /* interfaceVersion */ kPluginInterfaceVersion,
    /* id */ VELMORA_PLUGIN_ID,
    /* displayName */ VELMORA_PLUGIN_DISPLAY_NAME,
    /* viewTitle */ VELMORA_PLUGIN_VIEW_TITLE,
    /* order */ VELMORA_PLUGIN_ORDER,
    /* reserved */ 0,
};

// The module record: the instance handle resources are loaded from. It
// lives from the library's load to its unload.
AppContext* gModuleRecord = nullptr;

}  // namespace

const PluginDescriptor* PluginOwnDescriptor() { return &kDescriptor; }

VELMORA_PLUGIN_EXPORT const PluginDescriptor* GetPluginDescriptor() { return &kDescriptor; }

VELMORA_PLUGIN_EXPORT int32_t CreatePlugin(uint32_t version, PluginOps* table) {
  if (version != kPluginInterfaceVersion || table == nullptr) return 0;
  return PluginCreateInstance(table) != 0 ? 1 : 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    gModuleRecord = AppContextCreate(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    AppContextRelease(gModuleRecord);
    gModuleRecord = nullptr;
  }
  return TRUE;
}
