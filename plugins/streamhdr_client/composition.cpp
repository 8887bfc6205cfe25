// Modbus TCP/IP Master: the client framework with MBAP framing on a TCP connection.
#include "client/client_windows.h"
#include "plugins/plugin_entry.h"

namespace {

const ClientComposition kComposition = {
    /* framerKind */ FramingKind::kMbap,
    /* protocolLine */ u"Modbus TCP/IP (master)",
    /* openFailureRxText */ u"RX: Connection failed",
    /* openFailureMessage */ u"Failed to connect to the Modbus TCP/IP server.",
    /* reopenFailureRxText */ u"RX: Reconnect failed",
    /* settings */ &kTcpClientSettings,
    /* extras */ &kViewExtras,
};

}  // namespace

int32_t PluginCreateInstance(PluginOps* table) { return ClientPluginCreate(kComposition, table); }
