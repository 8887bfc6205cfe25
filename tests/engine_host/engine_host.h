#pragma once
// engine_host runs our stack headless for interoperability tests and
// benchmarks: a server or a client on one of our transports.

#include <string>

#include "options.h"

class DeviceMap;

int RunServer(const Options& options, const TransportFamily& family);
int RunClient(const Options& options, const TransportFamily& family);

// "hr:10:4" prints "dump hr:10 v v v v".
void PrintDump(DeviceMap* map, const std::string& range);
