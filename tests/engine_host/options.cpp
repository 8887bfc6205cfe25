#include "options.h"

#include <stdio.h>
#include <stdlib.h>

static const std::vector<std::string> kNone;

bool Options::Has(const std::string& name) const {
  if (values.count(name)) return true;
  for (const std::string& flag : flags)
    if (flag == name) return true;
  return false;
}

std::string Options::Text(const std::string& name, const std::string& fallback) const {
  auto found = values.find(name);
  return found == values.end() ? fallback : found->second.back();
}

long Options::Number(const std::string& name, long fallback) const {
  auto found = values.find(name);
  if (found == values.end()) return fallback;
  return strtol(found->second.back().c_str(), nullptr, 0);
}

const std::vector<std::string>& Options::All(const std::string& name) const {
  auto found = values.find(name);
  return found == values.end() ? kNone : found->second;
}

// Options that take no value.
static bool IsFlag(const std::string& name) { return name == "any" || name == "quiet"; }

bool ParseOptions(int argc, char** argv, Options* options) {
  if (argc < 2) {
    fprintf(stderr, "usage: engine_host client|server --transport T --framing F ...\n");
    return false;
  }
  options->mode = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.size() < 3 || arg[0] != '-' || arg[1] != '-') {
      fprintf(stderr, "unexpected argument %s\n", argv[i]);
      return false;
    }
    std::string name = arg.substr(2);
    if (IsFlag(name)) {
      options->flags.push_back(name);
    } else if (i + 1 < argc) {
      options->values[name].push_back(argv[++i]);
    } else {
      fprintf(stderr, "option %s needs a value\n", argv[i]);
      return false;
    }
  }
  return true;
}

bool ParseNumberList(const std::string& text, std::vector<long>* values) {
  const char* p = text.c_str();
  while (*p) {
    char* end = nullptr;
    long value = strtol(p, &end, 0);
    if (end == p) return false;
    values->push_back(value);
    if (*end == ',') ++end;
    p = end;
  }
  return true;
}
