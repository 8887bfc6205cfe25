// The several-masters slave's glue: the "Masters" group, the serving of
// several connections in place of the one-client worker, and its lines.

#include "server/multi_slave.h"

#include <windows.h>

#include <atomic>

#include "common/memory.h"
#include "common/ui/numeric_field.h"
#include "server/multi_page_ids.h"
#include "server/multi_server.h"
#include "server/server_plugin.h"
#include "server/server_context.h"
#include "settings/settings_page.h"
#include "settings/settings_records.h"
#include "transport/net_transport.h"
#include "view/host_command_sender.h"
#include "view/view_helpers.h"

namespace {

constexpr uint32_t kDefaultIdleSeconds = 60;
constexpr uint32_t kMostIdleSeconds = 86400;
constexpr Unit kInvalidFrameText[] = u"RX: Invalid Modbus TCP/IP frame";
// Room for "RX: ", a whole ADU as hex, the dash and the client.
constexpr uint32_t kRxLineCapacity = 4 + kAduBufferSize * 3 + 40;

class MastersPageState : public SettingsPageState {
 public:
  explicit MastersPageState(uint32_t* idleSeconds) : idleSeconds_(idleSeconds) {}
  void Apply() override { *idleSeconds_ = static_cast<uint32_t>(idle_.CurrentValue()); }

 protected:
  void Fill() override {
    idle_.SetMode(kNumericUnsigned);
    idle_.SetRange(0, kMostIdleSeconds);
    idle_.Attach(GetDlgItem(Window(), IDC_MASTERS_IDLE));
    idle_.ShowValue(*idleSeconds_);
  }

 private:
  uint32_t* idleSeconds_;
  ui::NumericField idle_;
};

// One per loaded library, as the plug-in instance is.
struct MultiSlave {
  uint32_t idleSeconds = kDefaultIdleSeconds;
  ServerContext* server = nullptr;
  MultiServer multi;
  WorkerRunner runner;
  PageSlot page;
  ServerPluginExtension extension = {};
  bool timerResolutionHeld = false;
  // A RefreshHeaderLines is queued and the shell has not read the count
  // since (as the fault slave's count).
  std::atomic<bool> linePending{false};
};

MultiSlave g_slave;

MultiSlave* Self(void* context) { return static_cast<MultiSlave*>(context); }
const HostLink* Link(const MultiSlave* self) { return *self->server->worker.hostLink; }

// --- the group under the network page ----------------------------------------------

void DestroyPage(void* context) { Self(context)->page.Destroy(); }

void CreatePage(void* context, PluginWindow transportPage) {
  MultiSlave* self = Self(context);
  HWND parent = reinterpret_cast<HWND>(transportPage);
  HWND group = self->page.Create(mem::New<MastersPageState>(&self->idleSeconds), parent, IDD_MASTERS_PAGE);
  if (!group) return;
  PlaceGroupUnder(parent, group);
}

void ApplyPage(void* context) { Self(context)->page.Apply(); }

// --- traffic, on the connection threads --------------------------------------------

void AppendAscii(Unit* buffer, uint32_t capacity, uint32_t* at, const char* text) {
  for (; *text && *at + 1 < capacity; ++text) buffer[(*at)++] = static_cast<Unit>(*text);
}

// "RX: 127.0.0.1:50312 — 00 01 00 00 00 06 01 03 00 00 00 0A": the client
// first, where a narrow window still shows it.
void Received(void* context, MultiConnection* connection, const uint8_t* bytes, uint32_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  Unit line[kRxLineCapacity];
  uint32_t at = 0;
  AppendAscii(line, kRxLineCapacity, &at, "RX: ");
  AppendAscii(line, kRxLineCapacity, &at, connection->peer);
  for (const Unit* p = u" \u2014"; *p && at + 1 < kRxLineCapacity; ++p) line[at++] = *p;
  for (uint32_t i = 0; i < length && at + 4 < kRxLineCapacity; ++i) {
    line[at++] = u' ';
    line[at++] = static_cast<Unit>(kHex[bytes[i] >> 4]);
    line[at++] = static_cast<Unit>(kHex[bytes[i] & 0xF]);
  }
  line[at] = 0;
  LogMultiServerFrame(Link(Self(context)), connection, kTrafficRx, bytes, length);
  PostRxText(Link(Self(context)), line, false);
}

void Sent(void* context, MultiConnection* connection, const uint8_t* bytes, uint32_t length) {
  LogMultiServerFrame(Link(Self(context)), connection, kTrafficTx, bytes, length);
  PostFrame(Link(Self(context)), HostCommandKind::ShowTxFrame, bytes, length);
}

// Invalid frames, masters leaving or dropped, idle and refused connections
// (the RX line keeps to the frames, as the one-master slave's does).
void Happened(void* context, MultiServerEvent event, uint32_t peerAddress, uint16_t peerPort) {
  LogMultiServerEvent(Link(Self(context)), event, peerAddress, peerPort);
}

void Serve(void* context, MultiConnection* connection, int32_t status, const AduHeader& header,
           const ServerRequest& request) {
  MultiSlave* self = Self(context);
  if (!IsAnswerable(status)) {
    PostRxText(Link(self), kInvalidFrameText, true);
    return;
  }
  WrittenRange written;
  ServeRequestMbap(&connection->session, status, header, request, &written);
  if (SelectedViewOverlaps(&self->server->views, written)) PostHostCommand(Link(self), HostCommandKind::RefreshTable);
}

void MastersChanged(void* context) {
  MultiSlave* self = Self(context);
  if (!self->linePending.exchange(true)) PostHostCommand(Link(self), HostCommandKind::RefreshHeaderLines);
}

// --- Connect and Disconnect ------------------------------------------------------------

void StopServing(void* context) {
  MultiSlave* self = Self(context);
  MultiServerStop(&self->multi);
  if (self->timerResolutionHeld) {
    plat::TimerResolutionEnd();
    self->timerResolutionHeld = false;
  }
}

int32_t StartServing(void* context, const void* settings) {
  MultiSlave* self = Self(context);
  StopServing(context);
  const MbapServerSettings& mbap = *static_cast<const MbapServerSettings*>(settings);
  char bind[16] = "";
  if (mbap.bindAddress != 0) FormatIpv4(mbap.bindAddress, bind);
  MultiServerSettings serving;
  serving.bindAddress = bind;
  serving.port = mbap.port;
  serving.unitId = mbap.unitId;
  serving.acceptAny = mbap.acceptAny != 0;
  serving.idleMs = self->idleSeconds * 1000;
  MultiServerHooks hooks;
  hooks.context = self;
  hooks.serve = &Serve;
  hooks.received = &Received;
  hooks.sent = &Sent;
  hooks.mastersChanged = &MastersChanged;
  hooks.happened = &Happened;
  self->linePending.store(false);
  // The receive slices and the idle time are timed in milliseconds.
  plat::TimerResolutionBegin();
  self->timerResolutionHeld = true;
  if (!MultiServerStart(&self->multi, &self->server->map, serving, hooks)) {
    StopServing(context);
    return kWorkerOpenFailed;
  }
  return kWorkerStarted;
}

void Connecting(void* context, ServerContext* server, const void*) {
  MultiSlave* self = Self(context);
  self->server = server;
  server->worker.runner = &self->runner;
}

// ", masters: 3" after the address; cleared before the count is read, so a
// change after the read posts again.
int32_t ExtendConnectionLine(void* context, Unit* buffer, uint32_t capacity) {
  MultiSlave* self = Self(context);
  self->linePending.store(false);
  TextBuffer text;
  const int built = text.Assign(buffer) && text.Append(u", masters: ") &&
                    text.AppendUnsigned(self->multi.masters.load());
  if (!built || static_cast<uint32_t>(text.Length()) + 1 > capacity) return 1;  // the transport's line stays
  for (int32_t i = 0; i <= text.Length(); ++i) buffer[i] = text.Text()[i];
  return 1;
}

}  // namespace

int32_t MultiSlaveCreate(PluginOps* table) {
  MultiSlave* self = &g_slave;
  self->runner.context = self;
  self->runner.start = &StartServing;
  self->runner.stop = &StopServing;
  ServerPluginExtension& extension = self->extension;
  extension.protocolTitle = u"Modbus TCP/IP (slave, several masters)";
  extension.context = self;
  extension.createPage = &CreatePage;
  extension.applyPage = &ApplyPage;
  extension.destroyPage = &DestroyPage;
  extension.connecting = &Connecting;
  extension.extendConnectionLine = &ExtendConnectionLine;
  return ServerPluginCreateExtended(ServerDeliverable::kStreamHdr, &extension, table);
}
