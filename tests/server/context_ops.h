#pragma once
// The portable entries of a server plug-in's operations table, over a
// server context, for tests that drive the context as the shell does
// (support/view_host.h). The plug-in libraries fill the whole table in
// server/server_plugin.cpp.

#include "server/server_context.h"

inline PluginOps ContextOps(ServerContext* context) {
  PluginOps ops = {};
  ops.size = kPluginOpsMinimumSize;
  ops.version = kPluginInterfaceVersion;
  ops.instance = context;
  ops.attach = [](void* instance, const HostLink* link) {
    ServerAttach(static_cast<ServerContext*>(instance), link);
    return 1;
  };
  ops.detach = [](void* instance) { ServerDetach(static_cast<ServerContext*>(instance)); };
  ops.handleEvent = [](void* instance, const ViewEvent* event) {
    return ServerHandleEvent(static_cast<ServerContext*>(instance), event);
  };
  return ops;
}
