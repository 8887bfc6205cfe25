#pragma once
// The test programs' side of the Python drivers' protocol: the program
// prints "DRIVER <request>" and the driver answers one line, "ok" or why not.

#include <stdio.h>
#include <string.h>

#include <string>

// Asks the driver and waits for its answer; true when it begins with "ok".
// why, when given, receives the answer without its line end.
inline bool AskDriver(const std::string& request, std::string* why = nullptr) {
  printf("DRIVER %s\n", request.c_str());
  fflush(stdout);
  char line[512];
  if (!fgets(line, sizeof line, stdin)) return false;
  line[strcspn(line, "\r\n")] = '\0';
  if (why) *why = line;
  return strncmp(line, "ok", 2) == 0;
}
