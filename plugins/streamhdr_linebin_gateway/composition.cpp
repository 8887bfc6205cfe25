#include "plugins/plugin_entry.h"
#include "server/gateway_plugin.h"

int32_t PluginCreateInstance(PluginOps* table) { return GatewayPluginCreate(table); }
