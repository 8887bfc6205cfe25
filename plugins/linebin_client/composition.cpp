// Modbus RTU Master: the client framework with RTU framing on a serial port.
#include "client/client_windows.h"
#include "plugins/plugin_entry.h"

namespace {

const ClientComposition kComposition = {
    /* framerKind */ FramingKind::kRtu,
    /* protocolLine */ u"Modbus RTU (master)",
    /* openFailureRxText */ u"RX: Failed to open serial port",
    /* openFailureMessage */ kSerialOpenFailureText,
    /* reopenFailureRxText */ u"RX: Failed to reopen serial port",
    /* settings */ &kSerialRtuClientSettings,
    /* extras */ &kViewExtras,
};

}  // namespace

int32_t PluginCreateInstance(PluginOps* table) { return ClientPluginCreate(kComposition, table); }
