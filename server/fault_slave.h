#pragma once
// The fault-injecting slaves: "Modbus TCP/IP Slave (fault injection)" and
// "Modbus RTU Slave (fault injection)". Each is its ordinary slave
// (server_plugin.h) with a "Faults" group under the transport page, the
// fault hook on the answer path (fault_serve.h) and the number of faults
// injected since Connect on the connection line. Windows side.

#include <stdint.h>

#include "common/plugin_interface.h"
#include "server/server_plugin.h"

// deliverable kStreamHdr or kLineBin. Returns 1.
int32_t FaultSlaveCreate(ServerDeliverable deliverable, PluginOps* table);
