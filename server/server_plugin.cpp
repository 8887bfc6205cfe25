// The instance of a server plug-in: the portable server context, the
// settings record and page of the deliverable's family; its tips and
// connection indicator are the view extras.

#include "server/server_plugin.h"

#include <windows.h>

#include "common/memory.h"
#include "modbus/framer.h"
#include "server/server_context.h"
#include "settings/network_page.h"
#include "settings/serial_page.h"
#include "settings/settings_records.h"
#include "transport/net_transport.h"
#include "transport/serial/ascii_serial.h"
#include "transport/serial/rtu_serial.h"
#include "transport/tcp_server_transport.h"
#include "transport/udp_server_transport.h"
#include "view/connection_texts.h"
#include "view/view_helpers.h"
#include "view/view_rules.h"

namespace {

constexpr Unit kTcpOpenFailure[] = u"Failed to listen on the selected TCP address and port.";
constexpr Unit kUdpOpenFailure[] = u"Failed to bind the selected UDP address and port.";

// --- transports and framers from the settings records -------------------------

const SerialSettings& Serial(const void* settings) { return *static_cast<const SerialSettings*>(settings); }
const RtuOverIpServerSettings& RtuIp(const void* settings) {
  return *static_cast<const RtuOverIpServerSettings*>(settings);
}
const MbapServerSettings& Mbap(const void* settings) { return *static_cast<const MbapServerSettings*>(settings); }

// The dotted bind address; empty for every interface.
struct BindText {
  explicit BindText(uint32_t address) {
    text[0] = '\0';
    if (address != 0) FormatIpv4(address, text);
  }
  char text[16];
};

Transport* RtuLine(const void* s) { return mem::New<RtuSerialTransport>(LineSettingsOf(Serial(s))); }
Transport* AsciiLine(const void* s) { return mem::New<AsciiSerialTransport>(LineSettingsOf(Serial(s))); }
Transport* RtuIpTcp(const void* s) {
  return mem::New<TcpServerTransport>(BindText(RtuIp(s).bindAddress).text, RtuIp(s).port);
}
Transport* RtuIpUdp(const void* s) {
  return mem::New<UdpServerTransport>(BindText(RtuIp(s).bindAddress).text, RtuIp(s).port);
}
Transport* MbapTcp(const void* s) { return mem::New<TcpServerTransport>(BindText(Mbap(s).bindAddress).text, Mbap(s).port); }
Transport* MbapUdp(const void* s) { return mem::New<UdpServerTransport>(BindText(Mbap(s).bindAddress).text, Mbap(s).port); }

Framer* RtuFrames(const void*) { return CreateFramer(FramingKind::kRtu); }
Framer* RtuStream(const void*) { return CreateFramer(FramingKind::kRtuStream); }
Framer* AsciiFrames(const void*) { return CreateFramer(FramingKind::kAscii); }
Framer* MbapFrames(const void*) { return CreateFramer(FramingKind::kMbap); }

uint8_t SerialSlaveId(const void* s) { return static_cast<uint8_t>(Serial(s).slaveId); }
uint8_t RtuIpSlaveId(const void* s) { return RtuIp(s).slaveId; }
uint8_t MbapUnitId(const void* s) { return Mbap(s).unitId; }
uint32_t MbapAcceptAny(const void* s) { return Mbap(s).acceptAny; }

// A TCP client that hangs up in order ends its session; that is no fault to
// show (the traffic log says it closed rather than dropped).
bool TcpClientClosedInOrder(Transport* transport) {
  return static_cast<TcpServerTransport*>(transport)->ClientClosedInOrder();
}

const ServerComposition kCompositions[] = {
    // kLineBin
    {ServerFamily::kSerial, kSerialOpenFailureText, nullptr, RtuLine, RtuFrames, SerialSlaveId, nullptr, nullptr},
    // kLineText
    {ServerFamily::kSerial, kSerialOpenFailureText, nullptr, AsciiLine, AsciiFrames, SerialSlaveId, nullptr, nullptr},
    // kStreamHdr
    {ServerFamily::kMbap, kTcpOpenFailure, u"RX: Invalid Modbus TCP/IP frame", MbapTcp, MbapFrames, MbapUnitId,
     MbapAcceptAny, TcpClientClosedInOrder},
    // kStreamBin
    {ServerFamily::kRtuOverIp, kTcpOpenFailure, nullptr, RtuIpTcp, RtuStream, RtuIpSlaveId, nullptr,
     TcpClientClosedInOrder},
    // kDgramHdr
    {ServerFamily::kMbap, kUdpOpenFailure, u"RX: Invalid Modbus UDP/IP datagram", MbapUdp, MbapFrames, MbapUnitId,
     MbapAcceptAny, nullptr},
    // kDgramBin
    {ServerFamily::kRtuOverIp, kUdpOpenFailure, nullptr, RtuIpUdp, RtuFrames, RtuIpSlaveId, nullptr, nullptr},
};

const Unit* const kTitles[] = {
    u"Modbus RTU (slave)",     u"Modbus ASCII (slave)",           u"Modbus TCP/IP (slave)",
    u"Modbus RTU over TCP/IP (slave)", u"Modbus UDP/IP (slave)", u"Modbus RTU over UDP/IP (slave)",
};

// --- the instance ---------------------------------------------------------------

struct ServerPlugin : PluginInstance {
  explicit ServerPlugin(ServerDeliverable which)
      : PluginInstance(&kViewExtras),
        deliverable(which),
        serial(which == ServerDeliverable::kLineText ? SerialFraming::Ascii : SerialFraming::Rtu),
        serialPage(serial, which == ServerDeliverable::kLineText ? SerialFraming::Ascii : SerialFraming::Rtu,
                   SerialRole::Server),
        rtuIpPage(rtuIp),
        mbapPage(mbap) {}
  ~ServerPlugin() override {
    ServerContextDestroy(context);
    DestroyPage();
  }

  bool IsSerial() const {
    return deliverable == ServerDeliverable::kLineBin || deliverable == ServerDeliverable::kLineText;
  }
  bool IsMbap() const {
    return deliverable == ServerDeliverable::kStreamHdr || deliverable == ServerDeliverable::kDgramHdr;
  }
  const void* Settings() const {
    if (IsSerial()) return &serial;
    return IsMbap() ? static_cast<const void*>(&mbap) : &rtuIp;
  }
  void DestroyPage() {
    if (extension) extension->destroyPage(extension->context);
    serialPage.Destroy();
    rtuIpPage.Destroy();
    mbapPage.Destroy();
  }
  int32_t TransportConnectionLine(Unit* buffer, uint32_t capacity) const {
    if (IsSerial()) return SerialConnectionLine(serial, SerialRole::Server, buffer, capacity);
    if (IsMbap()) return MbapServerConnectionLine(mbap, buffer, capacity);
    return RtuOverIpServerConnectionLine(rtuIp, buffer, capacity);
  }

  void Attach(const HostLink* link) override { ServerAttach(context, link); }

  void Detach() override {
    ServerDetach(context);
    DestroyPage();
  }

  PluginWindow CreateSettingsPage(PluginWindow parent) override {
    HWND window = reinterpret_cast<HWND>(parent);
    HWND page = IsSerial() ? serialPage.Create(window) : IsMbap() ? mbapPage.Create(window) : rtuIpPage.Create(window);
    if (page && extension) extension->createPage(extension->context, reinterpret_cast<PluginWindow>(page));
    return reinterpret_cast<PluginWindow>(page);
  }

  void ApplySettings() override {
    if (IsSerial()) serialPage.Apply();
    else if (IsMbap()) mbapPage.Apply();
    else rtuIpPage.Apply();
    if (extension) extension->applyPage(extension->context);
  }

  int64_t HandleEvent(const ViewEvent& event) override {
    if (event.kind == ViewEventKind::Connect && extension) extension->connecting(extension->context, context, Settings());
    return ServerHandleEvent(context, &event);
  }

  int32_t GetProtocolLine(Unit* buffer, uint32_t capacity) override {
    if (extension) return ProtocolLine(extension->protocolTitle, buffer, capacity);
    return ProtocolLine(kTitles[static_cast<int>(deliverable)], buffer, capacity);
  }

  int32_t GetConnectionLine(Unit* buffer, uint32_t capacity) override {
    const int32_t built = TransportConnectionLine(buffer, capacity);
    if (!built || !extension) return built;
    return extension->extendConnectionLine(extension->context, buffer, capacity);
  }

  ServerDeliverable deliverable;
  SerialSettings serial;
  RtuOverIpServerSettings rtuIp;
  MbapServerSettings mbap;
  SerialSettingsPage serialPage;
  NetworkSettingsPage rtuIpPage;
  NetworkSettingsPage mbapPage;
  ServerContext* context = nullptr;
  const ServerPluginExtension* extension = nullptr;
};

}  // namespace

int32_t ServerPluginCreate(ServerDeliverable deliverable, PluginOps* table) {
  return ServerPluginCreateExtended(deliverable, nullptr, table);
}

int32_t ServerPluginCreateExtended(ServerDeliverable deliverable, const ServerPluginExtension* extension,
                                   PluginOps* table) {
  ServerPlugin* self = mem::New<ServerPlugin>(deliverable);
  self->extension = extension;
  self->context = ServerContextCreate(&kCompositions[static_cast<int>(deliverable)], self->Settings());
  return FillPluginOps(self, table);
}
