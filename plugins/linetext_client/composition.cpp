// Modbus ASCII Master: the client framework with ASCII framing on a serial port.
#include "client/client_windows.h"
#include "plugins/plugin_entry.h"

namespace {

const ClientComposition kComposition = {
    /* framerKind */ FramingKind::kAscii,
    /* protocolLine */ u"Modbus ASCII (master)",
    /* openFailureRxText */ u"RX: Failed to open serial port",
    /* openFailureMessage */ kSerialOpenFailureText,
    /* reopenFailureRxText */ u"RX: Failed to reopen serial port",
    /* settings */ &kSerialAsciiClientSettings,
    /* extras */ &kViewExtras,
};

}  // namespace

int32_t PluginCreateInstance(PluginOps* table) { return ClientPluginCreate(kComposition, table); }
