#pragma once
// Building and giving host commands. send runs the command at once on the
// user-interface thread; post copies it for later and is the only way the
// worker thread reaches the shell. Both do nothing without a link.

#include <stdint.h>

#include "common/plugin_interface.h"

inline HostCommand Command(HostCommandKind kind, uint64_t index = 0, uint64_t value = 0,
                           const Unit* text = nullptr) {
  HostCommand command = {};
  command.kind = kind;
  command.index = index;
  command.value = value;
  command.text = text;
  return command;
}

inline void Send(const HostLink* link, const HostCommand& command) {
  if (link) link->send(link->host, &command);
}

inline void Post(const HostLink* link, const HostCommand& command) {
  if (link) link->post(link->host, &command);
}

// ShowRxText: text on the RX line, in the error colour when error is set.
inline HostCommand RxText(const Unit* text, bool error) {
  return Command(HostCommandKind::ShowRxText, error ? 1 : 0, 0, text);
}
