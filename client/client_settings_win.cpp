// The connection settings of the client deliverables: the record of each
// kind, the transport built from it at Connect, its settings page and its
// summary line.
#include "client/client_windows.h"
#include "common/memory.h"
#include "settings/network_page.h"
#include "settings/serial_page.h"
#include "settings/settings_records.h"
#include "transport/serial/ascii_serial.h"
#include "transport/serial/rtu_serial.h"
#include "transport/tcp_client_transport.h"
#include "transport/udp_client_transport.h"

namespace {

// "a.b.c.d" of an address held most significant byte first.
void DottedAddress(uint32_t address, char* text) {
  TextBuffer dotted;
  for (int shift = 24; shift >= 0; shift -= 8) {
    dotted.AppendUnsigned((address >> shift) & 0xFF);
    if (shift) dotted.AppendUnit(u'.');
  }
  int32_t i = 0;
  for (; i < dotted.Length(); ++i) text[i] = static_cast<char>(dotted.Text()[i]);
  text[i] = 0;
}

// --- serial line ---------------------------------------------------------------

struct SerialClient {
  explicit SerialClient(SerialFraming framing) : record(framing), page(record, framing, SerialRole::Client) {}
  SerialSettings record;
  SerialSettingsPage page;
};

SerialClient* SerialOf(void* settings) { return static_cast<SerialClient*>(settings); }

const SerialSettings& Serial(const void* settings) { return static_cast<const SerialClient*>(settings)->record; }

void* CreateSerialRtu() { return mem::New<SerialClient>(SerialFraming::Rtu); }
void* CreateSerialAscii() { return mem::New<SerialClient>(SerialFraming::Ascii); }
void ReleaseSerial(void* settings) { mem::Delete(static_cast<SerialClient*>(settings)); }
uint32_t SerialTimeout(const void* settings) { return Serial(settings).responseTimeoutMs; }

Transport* CreateRtuSerial(const void* settings) {
  return mem::New<RtuSerialTransport>(LineSettingsOf(Serial(settings)));
}
Transport* CreateAsciiSerial(const void* settings) {
  return mem::New<AsciiSerialTransport>(LineSettingsOf(Serial(settings)));
}
int32_t SerialLine(const void* settings, Unit* buffer, uint32_t capacity) {
  return SerialConnectionLine(Serial(settings), SerialRole::Client, buffer, capacity);
}
PluginWindow CreateSerialPage(void* settings, PluginWindow parent) {
  return reinterpret_cast<PluginWindow>(SerialOf(settings)->page.Create(reinterpret_cast<HWND>(parent)));
}
void ApplySerialPage(void* settings) { SerialOf(settings)->page.Apply(); }
void DestroySerialPage(void* settings) { SerialOf(settings)->page.Destroy(); }

// --- network client ------------------------------------------------------------

struct NetworkClient {
  explicit NetworkClient(NetworkPageVariant variant) : page(record, variant) {}
  NetworkClientSettings record;
  NetworkSettingsPage page;
};

NetworkClient* NetworkOf(void* settings) { return static_cast<NetworkClient*>(settings); }

const NetworkClientSettings& Network(const void* settings) {
  return static_cast<const NetworkClient*>(settings)->record;
}

void* CreateTcpSettings() { return mem::New<NetworkClient>(NetworkPageVariant::TcpClient); }
void* CreateUdpSettings() { return mem::New<NetworkClient>(NetworkPageVariant::UdpClient); }
void ReleaseNetwork(void* settings) { mem::Delete(static_cast<NetworkClient*>(settings)); }
uint32_t NetworkTimeout(const void* settings) { return Network(settings).responseTimeoutMs; }

Transport* CreateTcpWith(const void* settings, LateAnswers lateAnswers) {
  char host[16];
  DottedAddress(Network(settings).address, host);
  return mem::New<TcpClientTransport>(host, Network(settings).port, Network(settings).connectTimeoutMs,
                                      lateAnswers);
}
// MBAP answers carry the transaction id, so a late one is recognised and dropped.
Transport* CreateTcp(const void* settings) { return CreateTcpWith(settings, LateAnswers::Recognised); }
// RTU on a stream cannot tell a late answer from the next one: the connection
// is closed after a response time-out so that the late answer dies with it.
Transport* CreateTcpRtu(const void* settings) { return CreateTcpWith(settings, LateAnswers::Ambiguous); }
Transport* CreateUdp(const void* settings) {
  char host[16];
  DottedAddress(Network(settings).address, host);
  return mem::New<UdpClientTransport>(host, Network(settings).port);
}
int32_t NetworkLine(const void* settings, Unit* buffer, uint32_t capacity) {
  return NetworkClientConnectionLine(Network(settings), buffer, capacity);
}
PluginWindow CreateNetworkPage(void* settings, PluginWindow parent) {
  return reinterpret_cast<PluginWindow>(NetworkOf(settings)->page.Create(reinterpret_cast<HWND>(parent)));
}
void ApplyNetworkPage(void* settings) { NetworkOf(settings)->page.Apply(); }
void DestroyNetworkPage(void* settings) { NetworkOf(settings)->page.Destroy(); }

}  // namespace

const ClientSettingsOps kSerialRtuClientSettings = {
    /* create */ &CreateSerialRtu,
    /* release */ &ReleaseSerial,
    /* responseTimeoutMs */ &SerialTimeout,
    /* createTransport */ &CreateRtuSerial,
    /* createPage */ &CreateSerialPage,
    /* applyPage */ &ApplySerialPage,
    /* destroyPage */ &DestroySerialPage,
    /* connectionLine */ &SerialLine,
};

const ClientSettingsOps kSerialAsciiClientSettings = {
    /* create */ &CreateSerialAscii,
    /* release */ &ReleaseSerial,
    /* responseTimeoutMs */ &SerialTimeout,
    /* createTransport */ &CreateAsciiSerial,
    /* createPage */ &CreateSerialPage,
    /* applyPage */ &ApplySerialPage,
    /* destroyPage */ &DestroySerialPage,
    /* connectionLine */ &SerialLine,
};

const ClientSettingsOps kTcpClientSettings = {
    /* create */ &CreateTcpSettings,
    /* release */ &ReleaseNetwork,
    /* responseTimeoutMs */ &NetworkTimeout,
    /* createTransport */ &CreateTcp,
    /* createPage */ &CreateNetworkPage,
    /* applyPage */ &ApplyNetworkPage,
    /* destroyPage */ &DestroyNetworkPage,
    /* connectionLine */ &NetworkLine,
};

const ClientSettingsOps kTcpRtuClientSettings = {
    /* create */ &CreateTcpSettings,
    /* release */ &ReleaseNetwork,
    /* responseTimeoutMs */ &NetworkTimeout,
    /* createTransport */ &CreateTcpRtu,
    /* createPage */ &CreateNetworkPage,
    /* applyPage */ &ApplyNetworkPage,
    /* destroyPage */ &DestroyNetworkPage,
    /* connectionLine */ &NetworkLine,
};

const ClientSettingsOps kUdpClientSettings = {
    /* create */ &CreateUdpSettings,
    /* release */ &ReleaseNetwork,
    /* responseTimeoutMs */ &NetworkTimeout,
    /* createTransport */ &CreateUdp,
    /* createPage */ &CreateNetworkPage,
    /* applyPage */ &ApplyNetworkPage,
    /* destroyPage */ &DestroyNetworkPage,
    /* connectionLine */ &NetworkLine,
};
