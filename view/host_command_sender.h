#pragma once
// The plug-in side of the host commands: builds HostCommand records and
// hands them to the shell through the host link. Send* are for the user-interface
// thread (the shell handles the command before returning); Post* may be
// called from any thread (the shell copies the command, its text and bytes,
// and handles the copy later). A null link does nothing.

#include <stdint.h>

#include "common/plugin_interface.h"

struct HostCommandArgs {
  uint64_t index = 0;
  uint64_t value = 0;
  const Unit* text = nullptr;
  const Unit* caption = nullptr;
  const void* data = nullptr;
  uint32_t length = 0;
};

void SendHostCommand(const HostLink* link, HostCommandKind kind, const HostCommandArgs& args = HostCommandArgs());
void PostHostCommand(const HostLink* link, HostCommandKind kind, const HostCommandArgs& args = HostCommandArgs());

// The common shapes.
void SendRxText(const HostLink* link, const Unit* text, bool isError);
void PostRxText(const HostLink* link, const Unit* text, bool isError);
void SendFrame(const HostLink* link, HostCommandKind kind, const uint8_t* bytes, uint32_t length);
void PostFrame(const HostLink* link, HostCommandKind kind, const uint8_t* bytes, uint32_t length);
