#include "support/plugin_library.h"

#include <windows.h>

#include <string.h>

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

void ListSerialPorts(const char* const* ports, int count) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return;
  for (int i = 0; i < count; ++i) {
    const std::wstring port(ports[i], ports[i] + strlen(ports[i]));
    const std::wstring value = L"VelmoraTest" + port;
    RegSetValueExW(key, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                   static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(key);
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
