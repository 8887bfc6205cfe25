#pragma once
// Checks of the programs that drive plug-in libraries end to end: one line
// per check ("PASS what" or "FAIL what") on standard output, counted, so
// that a driver script can show them and the exit code can be the number of
// failures ("N checks, M failed" at the end, see CheckSummary).

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "common/plugin_interface.h"

namespace checklog {

inline int checks = 0;
inline int failed = 0;

}  // namespace checklog

inline std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

inline void Check(bool ok, const std::string& what) {
  ++checklog::checks;
  if (!ok) ++checklog::failed;
  printf("%s %s\n", ok ? "PASS" : "FAIL", what.c_str());
  fflush(stdout);
}

inline void CheckText(const std::u16string& seen, const std::u16string& expected, const std::string& what) {
  Check(seen == expected,
        what + ": \"" + Narrow(seen) + "\"" + (seen == expected ? "" : " expected \"" + Narrow(expected) + "\""));
}

// Prints the summary line; returns the number of failed checks.
inline int CheckSummary() {
  printf("%d checks, %d failed\n", checklog::checks, checklog::failed);
  return checklog::failed;
}

// What an optional line entry (getProtocolLine, getConnectionLine) writes
// into a buffer of capacity units; *result is the entry's result.
inline std::u16string Line(int32_t (*entry)(void*, Unit*, uint32_t), void* instance, uint32_t capacity,
                           int32_t* result) {
  std::vector<Unit> buffer(capacity + 1, u'#');
  *result = entry(instance, buffer.data(), capacity);
  return std::u16string(buffer.data());
}
