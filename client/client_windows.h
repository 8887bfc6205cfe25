#pragma once
// The Windows side of the client plug-ins: the four ways a client keeps its
// connection settings and makes its transport (ClientSettingsOps): the
// serial line with RTU or ASCII framing, the TCP client and the UDP client.
// A deliverable's composition picks one, and kViewExtras for its tips and
// connection indicator (plugins/*_client).

#include "client/client_plugin.h"
#include "view/view_helpers.h"

extern const ClientSettingsOps kSerialRtuClientSettings;
extern const ClientSettingsOps kSerialAsciiClientSettings;
extern const ClientSettingsOps kTcpClientSettings;     // MBAP on TCP
extern const ClientSettingsOps kTcpRtuClientSettings;  // RTU on TCP
extern const ClientSettingsOps kUdpClientSettings;
