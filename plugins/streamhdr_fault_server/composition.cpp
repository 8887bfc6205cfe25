#include "plugins/plugin_entry.h"
#include "server/fault_slave.h"

int32_t PluginCreateInstance(PluginOps* table) { return FaultSlaveCreate(ServerDeliverable::kStreamHdr, table); }
