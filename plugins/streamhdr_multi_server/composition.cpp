#include "plugins/plugin_entry.h"
#include "server/multi_slave.h"

int32_t PluginCreateInstance(PluginOps* table) { return MultiSlaveCreate(table); }
