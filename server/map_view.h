#pragma once
// The I/O map view: the server plug-in's side of the shell's main view. Each
// tab is a MapView onto the one device map; the shell owns every control and
// the view fills them with host commands and answers the view events. Runs
// on the user-interface thread only.

#include <stdint.h>

#include "common/plugin_interface.h"

struct ServerContext;
struct MapView;

// Adds a view "View n" and its tab; the shell selects the tab and reports
// it, which lays the view out. Returns the new view.
MapView* AddMapView(ServerContext* context);

// The view events other than Connect and Disconnect.
int64_t HandleMapViewEvent(ServerContext* context, const ViewEvent* event);
