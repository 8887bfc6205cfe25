#pragma once
// The client (master) plug-in: one ClientContext per instance, created by
// CreatePlugin, holding the host link, the poll list, the polling worker,
// the deliverable's connection settings and the TX-preview framer. A client
// deliverable is a ClientComposition, its few constants, handed to
// ClientPluginCreate from its PluginCreateInstance (plugins/plugin_entry.h):
//
//   int32_t PluginCreateInstance(PluginOps* table) {
//     return ClientPluginCreate(kStreamHdrClient, table);
//   }

#include <stdint.h>

#include "client/client_worker.h"
#include "client/poll_list.h"
#include "common/plugin_interface.h"
#include "modbus/framer.h"
#include "modbus/transport.h"
#include "view/connection_texts.h"
#include "view/plugin_instance.h"

// How a deliverable keeps and uses its connection settings. The record
// (with its settings page state) is opaque to the framework. Entries marked
// optional may be null.
struct ClientSettingsOps {
  void* (*create)();                    // the record with its defaults
  void (*release)(void* settings);      // the page (if any) and the record
  uint32_t (*responseTimeoutMs)(const void* settings);
  // A new transport on the toolkit heap, not yet opened; null on failure.
  Transport* (*createTransport)(const void* settings);
  PluginWindow (*createPage)(void* settings, PluginWindow parent);  // optional
  void (*applyPage)(void* settings);                                // optional
  void (*destroyPage)(void* settings);                              // optional
  int32_t (*connectionLine)(const void* settings, Unit* buffer, uint32_t capacity);  // optional
};

struct ClientComposition {
  FramingKind framerKind;
  const Unit* protocolLine;          // "Modbus RTU (master)"
  const Unit* openFailureRxText;     // "RX: Failed to open serial port"
  const Unit* openFailureMessage;    // the message box text (kSerialOpenFailureText on a COM port)
  const Unit* reopenFailureRxText;   // "RX: Failed to reopen serial port"
  const ClientSettingsOps* settings;
  const ViewExtrasOps* extras;       // tips and indicator on Windows; null natively
};

struct ClientContext : PluginInstance {
  explicit ClientContext(const ClientComposition& composition);
  ~ClientContext() override;

  // Attach fills the view and adds Poll 1; Detach stops the worker, drops
  // the settings page and every poll and forgets the host link.
  void Attach(const HostLink* link) override;
  void Detach() override;
  PluginWindow CreateSettingsPage(PluginWindow parent) override;
  void ApplySettings() override;
  int64_t HandleEvent(const ViewEvent& event) override;
  int32_t GetProtocolLine(Unit* buffer, uint32_t capacity) override;
  int32_t GetConnectionLine(Unit* buffer, uint32_t capacity) override;

  const ClientComposition& composition;
  const HostLink* host = nullptr;  // while attached
  PollList polls;
  ClientWorker worker;
  Framer* previewFramer;  // the deliverable's kind, used on the user-interface thread only
  void* settings;
};

// Creates one instance and fills table (size 104, version 11). Returns 1.
int32_t ClientPluginCreate(const ClientComposition& composition, PluginOps* table);

// The view side (poll_view.cpp).
void PollViewAttach(ClientContext* context);
int64_t PollViewHandleEvent(ClientContext* context, const ViewEvent& event);
