#pragma once
// The six server deliverables share everything but a few constants: this is
// their instance behind the PluginOps table (Windows side). Each
// plugins/<name>/composition.cpp is one line:
//
//   int32_t PluginCreateInstance(PluginOps* table) {
//     return ServerPluginCreate(ServerDeliverable::kStreamHdr, table);
//   }
//
// and its resources.rc includes the server tips and its settings page.

#include <stdint.h>

#include "common/plugin_interface.h"

enum class ServerDeliverable : uint8_t {
  kLineBin,    // RTU on a COM port
  kLineText,   // ASCII on a COM port
  kStreamHdr,  // Modbus TCP
  kStreamBin,  // RTU over TCP
  kDgramHdr,   // Modbus UDP
  kDgramBin,   // RTU over UDP
};

// Creates one instance with the deliverable's defaults and fills the table
// (size 104, version 11, every entry). Returns 1.
int32_t ServerPluginCreate(ServerDeliverable deliverable, PluginOps* table);
