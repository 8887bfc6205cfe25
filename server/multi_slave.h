#pragma once
// "Modbus TCP/IP Slave (several masters)": the Modbus TCP/IP slave
// (server_plugin.h, the same page, map view and device map) serving up to
// 16 masters at once through server/multi_server.h, with a "Masters" group
// under the network page for the idle time, the number of masters on the
// connection line and the client of the last request on the RX line.
// Windows side.

#include <stdint.h>

#include "common/plugin_interface.h"

// Returns 1.
int32_t MultiSlaveCreate(PluginOps* table);
