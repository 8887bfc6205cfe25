// Modbus RTU over TCP/IP Master: the client framework with RTU framing on a TCP byte stream.
#include "client/client_windows.h"
#include "plugins/plugin_entry.h"

namespace {

const ClientComposition kComposition = {
    /* framerKind */ FramingKind::kRtuStream,
    /* protocolLine */ u"Modbus RTU over TCP/IP (master)",
    /* openFailureRxText */ u"RX: Connection failed",
    /* openFailureMessage */ u"Failed to connect to the Modbus RTU over TCP/IP server.",
    /* reopenFailureRxText */ u"RX: Reconnect failed",
    /* settings */ &kTcpRtuClientSettings,
    /* extras */ &kViewExtras,
};

}  // namespace

int32_t PluginCreateInstance(PluginOps* table) { return ClientPluginCreate(kComposition, table); }
