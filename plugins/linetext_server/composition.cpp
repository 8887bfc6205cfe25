#include "plugins/plugin_entry.h"
#include "server/server_plugin.h"

int32_t PluginCreateInstance(PluginOps* table) { return ServerPluginCreate(ServerDeliverable::kLineText, table); }
