// The connection settings of the client deliverables: the record of each
// kind, the transport built from it at Connect, its settings page and its
// summary line.
#include "client/client_windows.h"
#include "common/memory.h"
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
  explicit SerialClient(SerialFraming framing) : record(framing) {}
  SerialSettings record;
};

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

// --- network client ------------------------------------------------------------

struct NetworkClient {
  NetworkClientSettings record;
};

const NetworkClientSettings& Network(const void* settings) {
  return static_cast<const NetworkClient*>(settings)->record;
}

void* CreateNetwork() { return mem::New<NetworkClient>(); }
void ReleaseNetwork(void* settings) { mem::Delete(static_cast<NetworkClient*>(settings)); }
uint32_t NetworkTimeout(const void* settings) { return Network(settings).responseTimeoutMs; }

Transport* CreateTcp(const void* settings) {
  char host[16];
  DottedAddress(Network(settings).address, host);
  return mem::New<TcpClientTransport>(host, Network(settings).port, Network(settings).connectTimeoutMs);
}
Transport* CreateUdp(const void* settings) {
  char host[16];
  DottedAddress(Network(settings).address, host);
  return mem::New<UdpClientTransport>(host, Network(settings).port);
}
int32_t NetworkLine(const void* settings, Unit* buffer, uint32_t capacity) {
  return NetworkClientConnectionLine(Network(settings), buffer, capacity);
}

}  // namespace

const ClientSettingsOps kSerialRtuClientSettings = {
    /* create */ &CreateSerialRtu,
    /* release */ &ReleaseSerial,
    /* responseTimeoutMs */ &SerialTimeout,
    /* createTransport */ &CreateRtuSerial,
    /* createPage */ nullptr,
    /* applyPage */ nullptr,
    /* destroyPage */ nullptr,
    /* connectionLine */ &SerialLine,
};

const ClientSettingsOps kSerialAsciiClientSettings = {
    /* create */ &CreateSerialAscii,
    /* release */ &ReleaseSerial,
    /* responseTimeoutMs */ &SerialTimeout,
    /* createTransport */ &CreateAsciiSerial,
    /* createPage */ nullptr,
    /* applyPage */ nullptr,
    /* destroyPage */ nullptr,
    /* connectionLine */ &SerialLine,
};

const ClientSettingsOps kTcpClientSettings = {
    /* create */ &CreateNetwork,
    /* release */ &ReleaseNetwork,
    /* responseTimeoutMs */ &NetworkTimeout,
    /* createTransport */ &CreateTcp,
    /* createPage */ nullptr,
    /* applyPage */ nullptr,
    /* destroyPage */ nullptr,
    /* connectionLine */ &NetworkLine,
};

const ClientSettingsOps kUdpClientSettings = {
    /* create */ &CreateNetwork,
    /* release */ &ReleaseNetwork,
    /* responseTimeoutMs */ &NetworkTimeout,
    /* createTransport */ &CreateUdp,
    /* createPage */ nullptr,
    /* applyPage */ nullptr,
    /* destroyPage */ nullptr,
    /* connectionLine */ &NetworkLine,
};
