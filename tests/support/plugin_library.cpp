#include "support/plugin_library.h"

#include <windows.h>

std::wstring DistPluginPath(const char* name) {
  wchar_t self[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  path = path.substr(0, path.find_last_of(L"\\/"));  // build/win/bin
  path = path.substr(0, path.find_last_of(L"\\/"));  // build/win
  path += L"\\dist\\plugins\\";
  for (const char* c = name; *c; ++c) path += static_cast<wchar_t>(*c);
  return path + L".dll";
}

bool LoadPluginLibrary(const std::wstring& path, PluginLibrary* plugin) {
  *plugin = PluginLibrary();
  HMODULE module = LoadLibraryW(path.c_str());
  if (!module) return false;
  plugin->module = module;
  auto describe = reinterpret_cast<GetPluginDescriptorProc>(
      reinterpret_cast<void*>(GetProcAddress(module, kGetPluginDescriptorExport)));
  auto create =
      reinterpret_cast<CreatePluginProc>(reinterpret_cast<void*>(GetProcAddress(module, kCreatePluginExport)));
  if (!describe || !create) return false;
  plugin->descriptor = describe();
  plugin->created = create(kPluginInterfaceVersion, &plugin->ops);
  return true;
}

void ReleasePluginLibrary(PluginLibrary* plugin) {
  if (plugin->created && plugin->ops.destroy && plugin->ops.instance) plugin->ops.destroy(plugin->ops.instance);
  if (plugin->module) FreeLibrary(static_cast<HMODULE>(plugin->module));
  *plugin = PluginLibrary();
}
