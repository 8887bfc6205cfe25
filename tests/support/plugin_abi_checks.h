#pragma once
// The checks every plug-in library meets through its exports, master or
// slave: the descriptor, the entry table CreatePlugin filled, and the
// versions and tables CreatePlugin must refuse. Windows only; logs through
// check_log.h.

#include <windows.h>

#include <string.h>

#include <string>

#include "support/check_log.h"
#include "support/plugin_library.h"

// A descriptor text, "<null>" when the library left it out.
inline std::u16string DescriptorText(const char16_t* text) {
  return text ? std::u16string(text) : std::u16string(u"<null>");
}

// False when there is no descriptor to check further (already logged).
inline bool CheckPluginAbi(const PluginLibrary& plugin, const std::string& name, const char16_t* id,
                           const char16_t* displayName, const char16_t* viewTitle, uint32_t order) {
  const PluginDescriptor* desc = plugin.descriptor;
  Check(desc && desc->size == 40 && desc->interfaceVersion == 11 && desc->reserved == 0,
        name + " descriptor size 40, version 11, reserved 0");
  if (!desc) return false;
  CheckText(DescriptorText(desc->id), id, name + " ID");
  CheckText(DescriptorText(desc->displayName), displayName, name + " display name");
  CheckText(DescriptorText(desc->viewTitle), viewTitle, name + " view title");
  Check(desc->order == order, name + " order " + std::to_string(desc->order));

  const PluginOps& ops = plugin.ops;
  Check(plugin.created == 1 && ops.size == 104 && ops.version == 11 && ops.instance, name + " table 104/11");
  Check(ops.attach && ops.detach && ops.createSettingsPage && ops.applySettings && ops.handleEvent && ops.destroy &&
            ops.getProtocolLine && ops.getConnectionLine && ops.showConnectionIndicator && ops.getTip &&
            ops.getNextTip,
        name + " every entry present");

  auto create = reinterpret_cast<CreatePluginProc>(
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(plugin.module), "CreatePlugin")));
  PluginOps untouched;
  memset(&untouched, 0x5A, sizeof untouched);
  const PluginOps before = untouched;
  Check(create(10, &untouched) == 0 && memcmp(&untouched, &before, sizeof before) == 0,
        name + " refuses version 10 without touching the table");
  Check(create(11, nullptr) == 0, name + " refuses a null table");
  return true;
}
