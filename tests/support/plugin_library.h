#pragma once
// Loads a plug-in library through the real interface, as the shell does:
// LoadLibraryW, the two exports, GetPluginDescriptor, then CreatePlugin(11)
// into a zeroed table. Windows only. The library stays loaded until the
// record is released (the shell never unloads; tests may).

#include <stdint.h>

#include <string>

#include "common/plugin_interface.h"

struct PluginLibrary {
  void* module = nullptr;
  const PluginDescriptor* descriptor = nullptr;
  PluginOps ops = {};
  int32_t created = 0;  // CreatePlugin's result
};

// build/win/dist/plugins/<name>.dll, found from the running test program
// in build/win/bin.
std::wstring DistPluginPath(const char* name);

// False when the library or an export is missing; otherwise the descriptor
// is read and CreatePlugin called (check created and ops yourself).
bool LoadPluginLibrary(const std::wstring& path, PluginLibrary* plugin);

// Lists the COM ports under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, where
// the serial settings pages find them (Wine fills it only at prefix start).
void ListSerialPorts(const char* const* ports, int count);

// destroy (when created) and FreeLibrary.
void ReleasePluginLibrary(PluginLibrary* plugin);
