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

struct ServerContext;

// What a further deliverable adds to one of the six slaves (the
// fault-injecting slaves): its own protocol line, a group under the
// transport's settings page, work at Connect and more on the connection
// line. Static; its context lives as long as the library.
struct ServerPluginExtension {
  const Unit* protocolTitle;
  void* context;
  // Adds the group to the transport page (a child of it, which it may enlarge).
  void (*createPage)(void* context, PluginWindow transportPage);
  void (*applyPage)(void* context);
  void (*destroyPage)(void* context);
  // At Connect, before the worker starts, with the transport's settings record.
  void (*connecting)(void* context, ServerContext* server, const void* settings);
  // Appends to the connection line in buffer; nonzero when it still fits.
  int32_t (*extendConnectionLine)(void* context, Unit* buffer, uint32_t capacity);
};

// ServerPluginCreate with an extension.
int32_t ServerPluginCreateExtended(ServerDeliverable deliverable, const ServerPluginExtension* extension,
                                   PluginOps* table);
