#pragma once
// The bus monitor's instance behind the PluginOps table (Windows side): the
// serial page of the RTU masters, a receive-only port, one worker that feeds
// the monitor of modbus/bus_monitor.h, and the view (one row per unit heard,
// the last request and answer on the frame lines). The deliverable
// plugins/linebin_monitor is one line:
//
//   int32_t PluginCreateInstance(PluginOps* table) { return MonitorPluginCreate(table); }
//
// and its resources.rc includes "monitor/monitor_tips.rc" and the serial
// page.

#include <stdint.h>

#include "common/plugin_interface.h"

// Creates one instance and fills the table (size 104, version 11, every
// entry). Returns 1.
int32_t MonitorPluginCreate(PluginOps* table);
