#pragma once
// "Modbus TCP/IP to RTU Gateway": the instance behind its operations table
// (Windows side). Its page is the RTU master's serial page (the line, with
// the response time-out) and a "Network side" group (bind address and
// port); its table counts the requests of each unit seen; its TX and RX
// lines show the line's traffic. The gateway itself is server/gateway.h.

#include <stdint.h>

#include "common/plugin_interface.h"

// Returns 1.
int32_t GatewayPluginCreate(PluginOps* table);
