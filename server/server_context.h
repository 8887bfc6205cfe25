#pragma once
// The instance of a server plug-in: one per loaded server library, living
// until the process ends. It holds the device map, the views onto it, the
// worker, and the link to the shell while attached. The plug-in's own glue
// keeps the settings record, the settings page and the connection indicator
// beside it and hands the settings to Connect through the composition.
//
// Everything here runs on the shell's user-interface thread and uses
// HostLink::send; only the worker (server/server_worker.h) posts.

#include <stdint.h>

#include "common/plugin_interface.h"
#include "server/device_map.h"
#include "server/server_worker.h"
#include "server/view_list.h"

struct ServerContext {
  const HostLink* hostLink = nullptr;  // null while detached
  DeviceMap map;
  ViewList views;
  ServerWorker worker;
  const ServerComposition* composition = nullptr;
  const void* settings = nullptr;  // the family's settings record, kept by the glue
  MapView* currentView = nullptr;  // the selected tab's view, for this thread
};

// A new context on the toolkit heap: empty map, no views, worker stopped.
ServerContext* ServerContextCreate(const ServerComposition* composition, const void* settings);
// Stops the worker and frees everything the context owns.
void ServerContextDestroy(ServerContext* context);

// Keeps the link and fills the main view: the four areas, "RX: -", and a
// first tab View 1.
void ServerAttach(ServerContext* context, const HostLink* link);
// Stops the worker, deletes every view and forgets the link.
void ServerDetach(ServerContext* context);
// Every view event of the I/O map view, Connect and Disconnect included.
int64_t ServerHandleEvent(ServerContext* context, const ViewEvent* event);
