// Modbus RTU Bus Monitor: listens on a serial line it never writes to,
// frames the traffic of a master and its slaves (modbus/bus_monitor.h) and
// shows one table row per unit id heard, the last request on the TX line
// and the last answer on the RX line.
//
// Threads: the operations run on the user-interface thread; while
// connected one worker thread listens, feeds the monitor and posts what
// changed, at most once per kPublishMs (a busy bus must not post a window
// message per frame). The monitor's counts and the last frames are guarded
// by one mutex, taken by the worker around each feed and by the
// user-interface thread for each cell it shows.

#include "monitor/monitor_plugin.h"

#include <windows.h>

#include "common/memory.h"
#include "common/platform.h"
#include "common/text.h"
#include "modbus/bus_monitor.h"
#include "modbus/functions.h"
#include "modbus/status.h"
#include "modbus/traffic_tap.h"
#include "settings/serial_page.h"
#include "settings/settings_records.h"
#include "transport/serial/line_timing.h"
#include "transport/serial/listen_serial.h"
#include "view/connection_texts.h"
#include "view/host_command_sender.h"
#include "view/view_helpers.h"
#include "view/view_rules.h"

namespace {

constexpr Unit kProtocolTitle[] = u"Modbus RTU (bus monitor)";
constexpr Unit kLineErrorText[] = u"RX: Line error (framing, parity or overrun)";
constexpr Unit kPortLostText[] = u"RX: The port failed; opening it again";
constexpr Unit kTabTitle[] = u"Bus";
constexpr uintptr_t kTabKey = 1;

const Unit* const kColumnTitles[] = {
    u"Unit ID", u"Requests", u"Answers", u"Exceptions", u"CRC errors", u"Time-outs", u"Last function",
    u"Last response",
};
constexpr uint32_t kColumnCount = sizeof kColumnTitles / sizeof kColumnTitles[0];

constexpr uint32_t kListenSliceMs = 20;  // the longest the worker sleeps between looks at the clock
constexpr uint32_t kPublishMs = 50;      // the shortest time between two batches of posts
constexpr uint32_t kReopenMs = 1000;     // a failed port is opened again this often
// Driver failures in a row that mean the port is gone (a pulled USB adapter
// fails every call; Wine fails a wait on a pty now and then).
constexpr uint32_t kFailuresWhenGone = 3;
// "RX: ", a whole RTU frame as hex and a short reason.
constexpr uint32_t kLineCapacity = 4 + 3 * kMaxRtuAdu + 32;

// The last frame of one frame line.
struct LastFrame {
  uint8_t bytes[kMaxRtuAdu];
  uint32_t length = 0;
  BusFrameKind kind = BusFrameKind::kRequest;
  bool changed = false;
};

void AppendText(Unit* buffer, uint32_t capacity, uint32_t* at, const Unit* text) {
  for (; *text && *at + 1 < capacity; ++text) buffer[(*at)++] = *text;
  buffer[*at] = 0;
}

void AppendNumber(Unit* buffer, uint32_t capacity, uint32_t* at, uint32_t value) {
  Unit digits[12];
  uint32_t n = 0;
  do {
    digits[n++] = static_cast<Unit>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0 && *at + 1 < capacity) buffer[(*at)++] = digits[--n];
  buffer[*at] = 0;
}

// "RX: 01 03 ... — CRC error": a bad frame as the RX line shows it.
void FormatBadFrame(const LastFrame& frame, Unit* buffer, uint32_t capacity) {
  static const char kHex[] = "0123456789ABCDEF";
  uint32_t at = 0;
  buffer[0] = 0;
  AppendText(buffer, capacity, &at, u"RX:");
  for (uint32_t i = 0; i < frame.length && at + 4 < capacity; ++i) {
    buffer[at++] = u' ';
    buffer[at++] = static_cast<Unit>(kHex[frame.bytes[i] >> 4]);
    buffer[at++] = static_cast<Unit>(kHex[frame.bytes[i] & 0xF]);
  }
  buffer[at] = 0;
  AppendText(buffer, capacity, &at, frame.kind == BusFrameKind::kDamaged ? u" \u2014 CRC error" : u" \u2014 noise");
}

struct MonitorPlugin : PluginInstance {
  MonitorPlugin()
      : PluginInstance(&kViewExtras), serial(SerialFraming::Rtu), page(serial, SerialFraming::Rtu, SerialRole::Client) {
    lock = plat::MutexNew();
    stopEvent = plat::EventNew(true, false);
  }
  ~MonitorPlugin() override {
    StopWorker();
    page.Destroy();
    mem::Delete(monitor);
    plat::EventFree(stopEvent);
    plat::MutexFree(lock);
  }

  // --- the operations -----------------------------------------------------------

  void Attach(const HostLink* link) override {
    hostLink = link;
    SendHostCommand(link, HostCommandKind::ClearChoices);
    for (uint64_t field = 0; field < 4; ++field) {
      HostCommandArgs hide;
      hide.index = field;
      SendHostCommand(link, HostCommandKind::ShowField, hide);
    }
    SendHostCommand(link, HostCommandKind::EnableAddRemove);
    HostCommandArgs tab;
    tab.text = kTabTitle;
    tab.value = kTabKey;
    SendHostCommand(link, HostCommandKind::AddTab, tab);
    SendHostCommand(link, HostCommandKind::ShowTxFrame);
    SendRxText(link, kIdleRxText, false);
  }

  void Detach() override {
    StopWorker();
    hostLink = nullptr;
    page.Destroy();
  }

  PluginWindow CreateSettingsPage(PluginWindow parent) override {
    return reinterpret_cast<PluginWindow>(page.Create(reinterpret_cast<HWND>(parent)));
  }

  void ApplySettings() override { page.Apply(); }

  int64_t HandleEvent(const ViewEvent& event) override {
    switch (event.kind) {
      case ViewEventKind::Connect: return Connect();
      case ViewEventKind::Disconnect:
        StopWorker();
        SendRxText(hostLink, kIdleRxText, false);
        return 0;
      case ViewEventKind::TabSelected:
        if (event.tabKey == kTabKey) LayOut();
        return 0;
      case ViewEventKind::GetCellText: CellText(event); return 0;
      default: return 0;
    }
  }

  int32_t GetProtocolLine(Unit* buffer, uint32_t capacity) override {
    return ProtocolLine(kProtocolTitle, buffer, capacity);
  }

  int32_t GetConnectionLine(Unit* buffer, uint32_t capacity) override {
    return SerialConnectionLine(serial, SerialRole::Client, buffer, capacity);
  }

  // --- the view -----------------------------------------------------------------

  void LayOut() {
    HostCommandArgs shape;
    shape.index = Rows();
    shape.value = kColumnCount;
    SendHostCommand(hostLink, HostCommandKind::SetTableShape, shape);
    for (uint32_t column = 0; column < kColumnCount; ++column) {
      HostCommandArgs title;
      title.index = column;
      title.text = kColumnTitles[column];
      SendHostCommand(hostLink, HostCommandKind::SetColumnTitle, title);
    }
    SendHostCommand(hostLink, HostCommandKind::FitColumns);
    SendHostCommand(hostLink, HostCommandKind::RefreshTable);
  }

  uint32_t Rows() {
    plat::MutexLock(lock);
    const uint32_t rows = monitor ? monitor->SeenCount() : 0;
    plat::MutexUnlock(lock);
    return rows;
  }

  void CellText(const ViewEvent& event) {
    if (!event.buffer || event.capacity == 0) return;
    Unit* buffer = event.buffer;
    const uint32_t capacity = event.capacity > 64 ? 64 : static_cast<uint32_t>(event.capacity);
    buffer[0] = 0;
    uint32_t at = 0;
    plat::MutexLock(lock);
    uint8_t unit = 0;
    if (monitor && monitor->UnitAtRow(CellRow(event.arg), &unit)) {
      const BusUnitCounts& c = monitor->Counts(unit);
      switch (CellColumn(event.arg)) {
        case 0: AppendNumber(buffer, capacity, &at, unit); break;
        case 1: AppendNumber(buffer, capacity, &at, c.requests); break;
        case 2: AppendNumber(buffer, capacity, &at, c.answers); break;
        case 3: AppendNumber(buffer, capacity, &at, c.exceptions); break;
        case 4: AppendNumber(buffer, capacity, &at, c.crcErrors); break;
        case 5: AppendNumber(buffer, capacity, &at, c.timeouts); break;
        case 6:
          if (c.lastFunction != 0) AppendNumber(buffer, capacity, &at, c.lastFunction);
          else AppendText(buffer, capacity, &at, u"-");
          break;
        case 7:
          if (c.hasResponseTime) {
            AppendNumber(buffer, capacity, &at, c.lastResponseMs);
            AppendText(buffer, capacity, &at, u" ms");
          } else {
            AppendText(buffer, capacity, &at, u"-");
          }
          break;
        default: break;
      }
    }
    plat::MutexUnlock(lock);
  }

  // --- connecting ---------------------------------------------------------------

  void ShowError(const Unit* text) {
    HostCommandArgs args;
    args.text = text;
    args.caption = kConnectionErrorCaption;
    SendHostCommand(hostLink, HostCommandKind::ShowError, args);
  }

  int64_t Connect() {
    StopWorker();
    line = LineSettingsOf(serial);
    transport = mem::New<ListenSerialTransport>(line);
    if (!transport->Open()) {
      mem::Delete(transport);
      transport = nullptr;
      ShowError(kSerialOpenFailureText);
      return 0;
    }
    BusTiming timing;
    timing.silenceMs = RtuT35Ms(line.baudRate);
    timing.burstGapMs = kRtuBurstGapMs;
    timing.answerTimeoutMs = serial.responseTimeoutMs;
    plat::MutexLock(lock);
    mem::Delete(monitor);
    monitor = mem::New<BusMonitor>(timing, &ReportFrame, this);
    tx.length = rx.length = 0;
    tx.changed = rx.changed = false;
    plat::MutexUnlock(lock);
    LayOut();
    SendHostCommand(hostLink, HostCommandKind::ShowTxFrame);
    SendRxText(hostLink, kIdleRxText, false);
    plat::EventReset(stopEvent);
    worker = plat::ThreadStart(&WorkerMain, this);
    if (!worker) {
      transport->Close();
      mem::Delete(transport);
      transport = nullptr;
      ShowError(kThreadFailureText);
      return 0;
    }
    return 1;
  }

  void StopWorker() {
    if (worker) {
      plat::EventSet(stopEvent);
      transport->Cancel();
      plat::ThreadJoin(worker);
      worker = nullptr;
    }
    if (transport) {
      transport->Close();
      mem::Delete(transport);
      transport = nullptr;
    }
  }

  // --- the worker ---------------------------------------------------------------

  // The traffic log sees the bus as its master did: requests go out (TX),
  // answers come in (RX); damaged frames, noise and time-outs are failures.
  static void LogFrame(const HostLink* link, const BusFrame& frame) {
    switch (frame.kind) {
      case BusFrameKind::kRequest:
        LogTrafficFrame(link, kTrafficMaster, FramingKind::kRtu, kTrafficTx, frame.bytes, frame.length);
        return;
      case BusFrameKind::kAnswer:
      case BusFrameKind::kException:
        LogTrafficFrame(link, kTrafficMaster, FramingKind::kRtu, kTrafficRx, frame.bytes, frame.length);
        return;
      case BusFrameKind::kDamaged:
        LogTrafficFailure(link, kTrafficMaster, FramingKind::kRtu, kTrafficRx, u"CRC error", frame.bytes,
                          frame.length);
        return;
      case BusFrameKind::kNoise:
        LogTrafficFailure(link, kTrafficMaster, FramingKind::kRtu, kTrafficRx, u"Noise", frame.bytes, frame.length);
        return;
      case BusFrameKind::kTimeout: {
        // Several units share the bus: the row names whose request it was.
        Unit text[32];
        uint32_t at = 0;
        text[0] = 0;
        AppendText(text, 32, &at, u"Timeout, unit ");
        AppendNumber(text, 32, &at, frame.unit);
        LogTrafficFailure(link, kTrafficMaster, FramingKind::kRtu, kTrafficRx, text);
        return;
      }
    }
  }

  // Every frame the monitor makes out of the line comes here, on the worker
  // thread with the lock held: the one place that reports frames.
  static void ReportFrame(void* context, const BusFrame& frame) {
    MonitorPlugin* self = static_cast<MonitorPlugin*>(context);
    LogFrame(self->hostLink, frame);
    // A time-out changes a count, neither frame line.
    if (frame.kind == BusFrameKind::kTimeout) {
      self->countsChanged = true;
      return;
    }
    LastFrame& last = frame.kind == BusFrameKind::kRequest ? self->tx : self->rx;
    const uint32_t length = frame.length < kMaxRtuAdu ? frame.length : kMaxRtuAdu;
    for (uint32_t i = 0; i < length; ++i) last.bytes[i] = frame.bytes[i];
    last.length = length;
    last.kind = frame.kind;
    last.changed = true;
    self->countsChanged = true;
  }

  // Posts what changed since the last batch: the frame lines, the row count
  // and a repaint of the table.
  void Publish() {
    LastFrame txCopy;
    LastFrame rxCopy;
    plat::MutexLock(lock);
    const bool refresh = countsChanged;
    countsChanged = false;
    const uint32_t rows = monitor->SeenCount();
    if (tx.changed) txCopy = tx;
    if (rx.changed) rxCopy = rx;
    tx.changed = rx.changed = false;
    plat::MutexUnlock(lock);
    const HostLink* link = hostLink;
    if (txCopy.changed) PostFrame(link, HostCommandKind::ShowTxFrame, txCopy.bytes, txCopy.length);
    if (rxCopy.changed) {
      if (rxCopy.kind == BusFrameKind::kDamaged || rxCopy.kind == BusFrameKind::kNoise) {
        Unit text[kLineCapacity];
        FormatBadFrame(rxCopy, text, kLineCapacity);
        PostRxText(link, text, true);
      } else {
        PostFrame(link, HostCommandKind::ShowRxFrame, rxCopy.bytes, rxCopy.length);
      }
    }
    if (rows != postedRows) {
      HostCommandArgs shape;
      shape.index = rows;
      shape.value = kColumnCount;
      PostHostCommand(link, HostCommandKind::SetTableShape, shape);
      postedRows = rows;
    }
    if (refresh) PostHostCommand(link, HostCommandKind::RefreshTable);
  }

  static uint32_t WorkerMain(void* argument) {
    static_cast<MonitorPlugin*>(argument)->Listen();
    return 0;
  }

  void Listen() {
    plat::TimerResolutionBegin();
    postedRows = 0xFFFFFFFFu;
    uint32_t lastPublish = plat::Tick() - kPublishMs;
    uint8_t bytes[kMaxRtuAdu];
    uint32_t failures = 0;
    while (!plat::EventWait(stopEvent, 0)) {
      int32_t n = transport->Listen(bytes, sizeof bytes, kListenSliceMs);
      const uint32_t tick = plat::Tick();
      if (plat::EventWait(stopEvent, 0)) break;
      plat::MutexLock(lock);
      if (n > 0) monitor->Feed(bytes, static_cast<uint32_t>(n), tick);
      else monitor->Idle(tick);
      plat::MutexUnlock(lock);
      if (n == TransportLineError || n == TransportOverrun) PostRxText(hostLink, kLineErrorText, true);
      failures = n == TransportIoError ? failures + 1 : 0;
      if (failures == kFailuresWhenGone || !transport->IsReady()) {
        // The port is gone: closed, and opened again once it is back.
        PostRxText(hostLink, kPortLostText, true);
        transport->Close();
        while (!transport->IsReady() && !plat::EventWait(stopEvent, kReopenMs)) transport->Open();
        failures = 0;
      }
      if (static_cast<uint32_t>(tick - lastPublish) >= kPublishMs) {
        Publish();
        lastPublish = tick;
      }
    }
    Publish();
    plat::TimerResolutionEnd();
  }

  SerialSettings serial;
  SerialSettingsPage page;
  SerialLineSettings line;
  const HostLink* hostLink = nullptr;
  plat::Mutex* lock = nullptr;
  plat::Event* stopEvent = nullptr;
  plat::Thread* worker = nullptr;
  ListenSerialTransport* transport = nullptr;
  BusMonitor* monitor = nullptr;  // made at the first Connect, kept to show the counts after it
  // Guarded by lock.
  LastFrame tx;
  LastFrame rx;
  bool countsChanged = false;
  // Worker only.
  uint32_t postedRows = 0;
};

}  // namespace

int32_t MonitorPluginCreate(PluginOps* table) { return FillPluginOps(mem::New<MonitorPlugin>(), table); }
