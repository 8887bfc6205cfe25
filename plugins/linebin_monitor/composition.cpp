#include "monitor/monitor_plugin.h"
#include "plugins/plugin_entry.h"

int32_t PluginCreateInstance(PluginOps* table) { return MonitorPluginCreate(table); }
