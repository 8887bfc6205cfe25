// The gateway's instance: settings, page, the per-unit table and the lines.

#include "server/gateway_plugin.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>

#include "common/memory.h"
#include "common/text.h"
#include "common/ui/numeric_field.h"
#include "modbus/functions.h"
#include "server/gateway.h"
#include "server/gateway_page_ids.h"
#include "server/server_worker.h"
#include "settings/serial_page.h"
#include "settings/settings_page.h"
#include "settings/settings_records.h"
#include "transport/net_transport.h"
#include "transport/serial/rtu_serial.h"
#include "view/connection_texts.h"
#include "view/host_command_sender.h"
#include "view/plugin_instance.h"
#include "view/view_helpers.h"
#include "view/view_rules.h"

namespace {

constexpr Unit kTitle[] = u"Modbus TCP/IP to RTU (gateway)";
constexpr Unit kTcpOpenFailure[] = u"Failed to listen on the selected TCP address and port.";
constexpr uintptr_t kUnitsTab = 1;

const Unit* const kColumns[] = {u"Unit", u"Requests", u"Answers", u"Exceptions", u"No answer (0x0B)",
                                u"No path (0x0A)", u"Last function"};
constexpr uint32_t kColumnCount = sizeof kColumns / sizeof kColumns[0];

struct NetworkSide {
  uint32_t bindAddress = 0;
  uint16_t port = 502;
};

class NetworkGroupState : public SettingsPageState {
 public:
  explicit NetworkGroupState(NetworkSide* side) : side_(side) {}
  void Apply() override {
    DWORD address = 0;
    SendDlgItemMessageW(Window(), IDC_GATEWAY_ADDRESS, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    side_->bindAddress = address;
    side_->port = static_cast<uint16_t>(port_.CurrentValue());
  }

 protected:
  void Fill() override {
    SendDlgItemMessageW(Window(), IDC_GATEWAY_ADDRESS, IPM_SETADDRESS, 0, static_cast<LPARAM>(side_->bindAddress));
    port_.SetMode(kNumericUnsigned);
    port_.SetRange(1, 65535);
    port_.Attach(GetDlgItem(Window(), IDC_GATEWAY_PORT));
    port_.ShowValue(side_->port);
  }

 private:
  NetworkSide* side_;
  ui::NumericField port_;
};

struct GatewayPlugin : PluginInstance {
  GatewayPlugin() : PluginInstance(&kViewExtras), serialPage(serial, SerialFraming::Rtu, SerialRole::Client) {
    GatewayInit(&gateway);
  }
  ~GatewayPlugin() override {
    StopServing();
    GatewayRelease(&gateway);
    DestroyPage();
  }

  // Stops the gateway and gives the timer resolution back; safe at any time.
  void StopServing() {
    GatewayStop(&gateway);
    if (timerResolutionHeld) plat::TimerResolutionEnd();
    timerResolutionHeld = false;
  }

  void DestroyPage() {
    networkGroup.Destroy();
    serialPage.Destroy();
  }

  void Attach(const HostLink* link) override {
    hostLink.store(link);
    SendHostCommand(link, HostCommandKind::ClearChoices);
    for (uint32_t field = 0; field < 4; ++field) {
      HostCommandArgs hide;
      hide.index = field;
      hide.value = 0;
      SendHostCommand(link, HostCommandKind::ShowField, hide);
    }
    HostCommandArgs tab;
    tab.value = kUnitsTab;
    tab.text = u"Units";
    SendHostCommand(link, HostCommandKind::AddTab, tab);
    HostCommandArgs none;
    none.index = 0;
    SendHostCommand(link, HostCommandKind::EnableAddRemove, none);
    SendShape(link);
    for (uint32_t column = 0; column < kColumnCount; ++column) {
      HostCommandArgs title;
      title.index = column;
      title.text = kColumns[column];
      SendHostCommand(link, HostCommandKind::SetColumnTitle, title);
    }
    SendHostCommand(link, HostCommandKind::FitColumns);
    SendRxText(link, kIdleRxText, false);
  }

  void Detach() override {
    StopServing();
    hostLink.store(nullptr);
    DestroyPage();
  }

  // The rows: every unit that was asked for since Connect, by number.
  uint32_t Rows() {
    uint32_t rows = 0;
    for (uint32_t unit = 0; unit < 256; ++unit) rows += GatewayCounts(&gateway, static_cast<uint8_t>(unit)).requests != 0;
    return rows;
  }
  int32_t UnitOfRow(uint32_t row) {
    for (uint32_t unit = 0; unit < 256; ++unit) {
      if (GatewayCounts(&gateway, static_cast<uint8_t>(unit)).requests == 0) continue;
      if (row-- == 0) return static_cast<int32_t>(unit);
    }
    return -1;
  }
  void SendShape(const HostLink* link) {
    HostCommandArgs shape;
    shape.index = Rows();
    shape.value = kColumnCount;
    SendHostCommand(link, HostCommandKind::SetTableShape, shape);
  }

  PluginWindow CreateSettingsPage(PluginWindow parent) override {
    HWND page = serialPage.Create(reinterpret_cast<HWND>(parent));
    if (!page) return nullptr;
    HWND group = networkGroup.Create(mem::New<NetworkGroupState>(&network), page, IDD_GATEWAY_NETWORK);
    if (group) PlaceGroupUnder(page, group);
    return reinterpret_cast<PluginWindow>(page);
  }

  void ApplySettings() override {
    serialPage.Apply();
    networkGroup.Apply();
  }

  void ShowError(const Unit* text) {
    HostCommandArgs args;
    args.text = text;
    args.caption = kConnectionErrorCaption;
    SendHostCommand(hostLink.load(), HostCommandKind::ShowError, args);
  }

  int64_t Connect() {
    StopServing();
    char bind[16] = "";
    if (network.bindAddress != 0) FormatIpv4(network.bindAddress, bind);
    MultiServerSettings side;
    side.bindAddress = bind;
    side.port = network.port;
    side.acceptAny = true;
    side.idleMs = 0;  // masters are the gateway's to serve, however rarely they ask
    GatewayHooks hooks;
    hooks.context = this;
    hooks.lineSent = &LineSent;
    hooks.lineReceived = &LineReceived;
    hooks.countsChanged = &CountsChanged;
    hooks.mastersChanged = &MastersChanged;
    hooks.failed = &Failed;
    hooks.lineHeard = &LineHeard;
    hooks.networkReceived = &NetworkReceived;
    hooks.networkSent = &NetworkSent;
    hooks.networkHappened = &NetworkHappened;
    tablePending.store(false);
    linePending.store(false);
    postedRows.store(0);
    plat::TimerResolutionBegin();  // the line's silences and time-out are timed in milliseconds
    const int32_t started = GatewayStart(&gateway, mem::New<RtuSerialTransport>(LineSettingsOf(serial)),
                                         serial.responseTimeoutMs, side, hooks);
    if (started != kGatewayStarted) {
      plat::TimerResolutionEnd();
      ShowError(started == kGatewayLineFailed ? kSerialOpenFailureText : kTcpOpenFailure);
      return 0;
    }
    timerResolutionHeld = true;
    SendShape(hostLink.load());
    SendHostCommand(hostLink.load(), HostCommandKind::RefreshTable);
    SendRxText(hostLink.load(), kIdleRxText, false);
    return 1;
  }

  void Disconnect() {
    StopServing();
    SendRxText(hostLink.load(), kIdleRxText, false);
  }

  void CellText(const ViewEvent& event) {
    tablePending.store(false);
    if (!event.buffer || event.capacity == 0) return;
    event.buffer[0] = 0;
    const int32_t unit = UnitOfRow(CellRow(event.arg));
    const uint32_t column = CellColumn(event.arg);
    if (unit < 0 || column >= kColumnCount) return;
    const GatewayUnitCounts c = GatewayCounts(&gateway, static_cast<uint8_t>(unit));
    const uint32_t values[] = {static_cast<uint32_t>(unit), c.requests, c.answers, c.exceptions, c.noAnswer,
                               c.noPath, c.lastFunction};
    TextBuffer text;
    if (unit == kBroadcastUnitId && column == 0) text.Append(u"0 (broadcast)");
    else text.AppendUnsigned(values[column]);
    const int32_t length = text.Length();
    for (int32_t i = 0; i <= length && static_cast<uint64_t>(i) < event.capacity; ++i) event.buffer[i] = text.Text()[i];
    event.buffer[event.capacity - 1] = 0;
  }

  int64_t HandleEvent(const ViewEvent& event) override {
    switch (event.kind) {
      case ViewEventKind::Connect: return Connect();
      case ViewEventKind::Disconnect: Disconnect(); return 0;
      case ViewEventKind::GetCellText: CellText(event); return 0;
      case ViewEventKind::TabSelected: SendShape(hostLink.load()); return 0;
      default: return 0;
    }
  }

  int32_t GetProtocolLine(Unit* buffer, uint32_t capacity) override { return ProtocolLine(kTitle, buffer, capacity); }

  // "0.0.0.0:502 to COM1 19200-8-E-1, masters: 0": short enough for the
  // header line with both ends in it.
  int32_t GetConnectionLine(Unit* buffer, uint32_t capacity) override {
    linePending.store(false);
    const Unit parity = serial.parity == kParityEven ? u'E' : serial.parity == kParityOdd ? u'O' : u'N';
    TextBuffer text;
    bool built = true;
    for (int shift = 24; shift >= 0 && built; shift -= 8) {
      built = text.AppendUnsigned((network.bindAddress >> shift) & 0xFFu) && text.AppendUnit(shift > 0 ? u'.' : u':');
    }
    built = built && text.AppendUnsigned(network.port) && text.Append(u" to ") && text.Append(serial.portName) &&
            text.AppendUnit(u' ') && text.AppendUnsigned(serial.baudRate) && text.AppendUnit(u'-') &&
            text.AppendUnsigned(serial.dataBits) && text.AppendUnit(u'-') && text.AppendUnit(parity) &&
            text.AppendUnit(u'-') && text.AppendUnsigned(serial.stopBits == kStopBitsTwo ? 2 : 1) &&
            text.Append(u", masters: ") && text.AppendUnsigned(gateway.network.masters.load());
    if (!built || !buffer || static_cast<uint32_t>(text.Length()) + 1 > capacity) return 0;
    for (int32_t i = 0; i <= text.Length(); ++i) buffer[i] = text.Text()[i];
    return 1;
  }

  static GatewayPlugin* Self(void* context) { return static_cast<GatewayPlugin*>(context); }
  // The traffic log shows both sides, so that a request can be followed
  // through: the network side as a slave's rows with each master's address,
  // the line as a master's.
  static void LineSent(void* context, const uint8_t* bytes, uint32_t length) {
    const HostLink* link = Self(context)->hostLink.load();
    LogTrafficFrame(link, kTrafficMaster, FramingKind::kRtu, kTrafficTx, bytes, length);
    PostFrame(link, HostCommandKind::ShowTxFrame, bytes, length);
  }
  static void LineReceived(void* context, const uint8_t* bytes, uint32_t length) {
    PostFrame(Self(context)->hostLink.load(), HostCommandKind::ShowRxFrame, bytes, length);
  }
  static void LineHeard(void* context, int32_t status, const uint8_t* bytes, uint32_t length) {
    const HostLink* link = Self(context)->hostLink.load();
    if (status >= 0) LogTrafficFrame(link, kTrafficMaster, FramingKind::kRtu, kTrafficRx, bytes, length);
    else LogTrafficFailure(link, kTrafficMaster, FramingKind::kRtu, kTrafficRx, ServerStatusText(status));
  }
  static void Failed(void* context, uint8_t code) {
    const HostLink* link = Self(context)->hostLink.load();
    const Unit* text = code == kGatewayTargetFailedToRespond ? u"RX: Timeout" : u"RX: Line unavailable";
    LogTrafficFailure(link, kTrafficMaster, FramingKind::kRtu, kTrafficRx, text);
    PostRxText(link, text, true);
  }
  static void NetworkReceived(void* context, MultiConnection* connection, const uint8_t* bytes, uint32_t length) {
    LogMultiServerFrame(Self(context)->hostLink.load(), connection, kTrafficRx, bytes, length);
  }
  static void NetworkSent(void* context, MultiConnection* connection, const uint8_t* bytes, uint32_t length) {
    LogMultiServerFrame(Self(context)->hostLink.load(), connection, kTrafficTx, bytes, length);
  }
  static void NetworkHappened(void* context, MultiServerEvent event, uint32_t peerAddress, uint16_t peerPort) {
    LogMultiServerEvent(Self(context)->hostLink.load(), event, peerAddress, peerPort);
  }
  // A new shape only when a unit is seen for the first time; one refresh
  // queued at a time, the shell's reading of the cells clearing the flag,
  // so that the last change is always shown.
  static void CountsChanged(void* context) {
    GatewayPlugin* self = Self(context);
    const HostLink* link = self->hostLink.load();
    const uint32_t rows = self->Rows();
    if (self->postedRows.exchange(rows) != rows) {
      HostCommandArgs shape;
      shape.index = rows;
      shape.value = kColumnCount;
      PostHostCommand(link, HostCommandKind::SetTableShape, shape);
      PostHostCommand(link, HostCommandKind::FitColumns);
    }
    if (!self->tablePending.exchange(true)) PostHostCommand(link, HostCommandKind::RefreshTable);
  }
  static void MastersChanged(void* context) {
    GatewayPlugin* self = Self(context);
    if (!self->linePending.exchange(true)) PostHostCommand(self->hostLink.load(), HostCommandKind::RefreshHeaderLines);
  }

  SerialSettings serial;
  NetworkSide network;
  SerialSettingsPage serialPage;
  PageSlot networkGroup;
  Gateway gateway;
  std::atomic<const HostLink*> hostLink{nullptr};
  std::atomic<bool> tablePending{false};
  std::atomic<uint32_t> postedRows{0};
  std::atomic<bool> linePending{false};
  bool timerResolutionHeld = false;
};

}  // namespace

int32_t GatewayPluginCreate(PluginOps* table) { return FillPluginOps(mem::New<GatewayPlugin>(), table); }
