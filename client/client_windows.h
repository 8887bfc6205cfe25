#pragma once
// The Windows side of the client plug-ins: tips and the connection
// indicator (ClientViewExtrasOps), and the four ways a client keeps its
// connection settings and makes its transport (ClientSettingsOps): the
// serial line with RTU or ASCII framing, the TCP client and the UDP client.
// A deliverable's composition picks one of each (plugins/*_client).

#include "client/client_plugin.h"

extern const ClientViewExtrasOps kClientViewExtras;

extern const ClientSettingsOps kSerialRtuClientSettings;
extern const ClientSettingsOps kSerialAsciiClientSettings;
extern const ClientSettingsOps kTcpClientSettings;     // MBAP on TCP
extern const ClientSettingsOps kTcpRtuClientSettings;  // RTU on TCP
extern const ClientSettingsOps kUdpClientSettings;
