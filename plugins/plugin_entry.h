#pragma once
// The entry of every plug-in library. plugin_entry.cpp, compiled once into
// each deliverable by velmora_plugin() (plugins/CMakeLists.txt), exports
// GetPluginDescriptor and CreatePlugin and keeps the module record; the only
// thing a deliverable writes itself is PluginCreateInstance, usually one
// line in plugins/<name>/composition.cpp that hands its constants (framer,
// transport, settings page variant, texts) to its framework:
//
//   // plugins/streamhdr_server/composition.cpp
//   #include "plugins/plugin_entry.h"
//   #include "server/server_plugin.h"
//   int32_t PluginCreateInstance(PluginOps* table) {
//     return ServerPluginCreate(kStreamHdrServer, table);
//   }
//
// and in plugins/streamhdr_server/CMakeLists.txt:
//
//   velmora_plugin(streamhdr_server
//     ID "streamhdr-server" NAME "Modbus TCP/IP Slave" VIEW_TITLE "I/O map" ORDER 60
//     SOURCES composition.cpp
//     RESOURCES resources.rc
//     LIBS velmora_server_plugin)
//
// The descriptor values never appear in C++ source: velmora_plugin writes
// them into a generated header that only plugin_entry.cpp reads.

#include <stdint.h>

#include "common/plugin_interface.h"

// Called by CreatePlugin after it checked the version (11) and the table
// pointer (non-null): creates one instance and fills table (size 104,
// version 11, instance and every entry). Returns nonzero on success; on
// failure the table may be left as CreatePlugin's caller gave it.
int32_t PluginCreateInstance(PluginOps* table);

// The deliverable's descriptor, as GetPluginDescriptor returns it.
const PluginDescriptor* PluginOwnDescriptor();
