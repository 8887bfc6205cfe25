#pragma once
// The shell's calls of the optional PluginOps entries. An entry is called
// only when the table's size covers it and the pointer is non-null;
// otherwise the call is skipped and reports 0.

#include <stdint.h>

#include "common/plugin_interface.h"

// Nonzero when buffer now holds the plug-in's line. The buffer is emptied
// first and always ends NUL-terminated within capacity.
int PluginGetProtocolLine(const PluginOps& ops, Unit* buffer, uint32_t capacity);
int PluginGetConnectionLine(const PluginOps& ops, Unit* buffer, uint32_t capacity);

// 1 when the entry was called.
int PluginShowConnectionIndicator(const PluginOps& ops, PluginWindow iconWindow, int32_t connected);

// Nonzero when a tip was written; the buffer is handled as above.
int PluginGetTip(const PluginOps& ops, uint32_t seed, Unit* buffer, uint32_t capacity);
int PluginGetNextTip(const PluginOps& ops, Unit* buffer, uint32_t capacity);
