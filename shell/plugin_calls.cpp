#include "shell/plugin_calls.h"

namespace {

// The plug-in promises a NUL-terminated text, but the shell never trusts a
// buffer it will later read to its end.
int Terminated(int written, Unit* buffer, uint32_t capacity) {
  buffer[capacity - 1] = 0;
  return written ? 1 : 0;
}

}  // namespace

int PluginGetProtocolLine(const PluginOps& ops, Unit* buffer, uint32_t capacity) {
  if (!PluginOpsCovers(ops.size, offsetof(PluginOps, getProtocolLine)) || !ops.getProtocolLine) return 0;
  if (!buffer || capacity == 0) return 0;
  buffer[0] = 0;
  return Terminated(ops.getProtocolLine(ops.instance, buffer, capacity), buffer, capacity);
}

int PluginGetConnectionLine(const PluginOps& ops, Unit* buffer, uint32_t capacity) {
  if (!PluginOpsCovers(ops.size, offsetof(PluginOps, getConnectionLine)) || !ops.getConnectionLine) return 0;
  if (!buffer || capacity == 0) return 0;
  buffer[0] = 0;
  return Terminated(ops.getConnectionLine(ops.instance, buffer, capacity), buffer, capacity);
}

int PluginShowConnectionIndicator(const PluginOps& ops, PluginWindow iconWindow, int32_t connected) {
  if (!PluginOpsCovers(ops.size, offsetof(PluginOps, showConnectionIndicator)) || !ops.showConnectionIndicator) {
    return 0;
  }
  ops.showConnectionIndicator(ops.instance, iconWindow, connected);
  return 1;
}

int PluginGetTip(const PluginOps& ops, uint32_t seed, Unit* buffer, uint32_t capacity) {
  if (!PluginOpsCovers(ops.size, offsetof(PluginOps, getTip)) || !ops.getTip) return 0;
  if (!buffer || capacity == 0) return 0;
  buffer[0] = 0;
  return Terminated(ops.getTip(ops.instance, seed, buffer, capacity), buffer, capacity);
}

int PluginGetNextTip(const PluginOps& ops, Unit* buffer, uint32_t capacity) {
  if (!PluginOpsCovers(ops.size, offsetof(PluginOps, getNextTip)) || !ops.getNextTip) return 0;
  if (!buffer || capacity == 0) return 0;
  buffer[0] = 0;
  return Terminated(ops.getNextTip(ops.instance, buffer, capacity), buffer, capacity);
}
