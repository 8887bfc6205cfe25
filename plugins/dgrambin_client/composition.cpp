// Modbus RTU over UDP/IP Master: the client framework with one RTU ADU per UDP datagram.
#include "client/client_windows.h"
#include "plugins/plugin_entry.h"

namespace {

const ClientComposition kComposition = {
    /* framerKind */ FramingKind::kRtu,
    /* protocolLine */ u"Modbus RTU over UDP/IP (master)",
    /* openFailureRxText */ u"RX: UDP endpoint failed",
    /* openFailureMessage */ u"Failed to open the Modbus RTU over UDP/IP endpoint.",
    /* reopenFailureRxText */ u"RX: Failed to reopen UDP endpoint",
    /* settings */ &kUdpClientSettings,
    /* extras */ &kViewExtras,
};

}  // namespace

int32_t PluginCreateInstance(PluginOps* table) { return ClientPluginCreate(kComposition, table); }
