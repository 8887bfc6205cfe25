#pragma once
// Command line of engine_host. Every option is "--name value" or a bare
// "--flag"; the transport families read the options they know, so a new
// transport is one entry in the table of transports.cpp.

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "modbus/framer.h"
#include "modbus/transport.h"

struct Options {
  std::string mode;  // "client" or "server"
  std::map<std::string, std::vector<std::string>> values;  // every occurrence, in order
  std::vector<std::string> flags;

  bool Has(const std::string& name) const;
  std::string Text(const std::string& name, const std::string& fallback = "") const;
  long Number(const std::string& name, long fallback) const;
  const std::vector<std::string>& All(const std::string& name) const;
};

// Fills options from argv; false with a message on stderr when malformed.
bool ParseOptions(int argc, char** argv, Options* options);

// One transport family of engine_host: how to build its client and server
// transport and its framer from the options. Null when the options do not
// fit; the error goes to stderr.
struct TransportFamily {
  const char* name;
  Transport* (*makeClient)(const Options& options);
  Transport* (*makeServer)(const Options& options);
  Framer* (*makeFramer)(const Options& options);
};

const TransportFamily* FindTransportFamily(const std::string& name);

// Values as "1,2,0x10": decimal or 0x hexadecimal.
bool ParseNumberList(const std::string& text, std::vector<long>* values);
