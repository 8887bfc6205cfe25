#include "server/server_worker.h"

#include "common/deadline.h"
#include "common/exit_codes.h"
#include "common/memory.h"
#include "server/view_list.h"
#include "view/host_command_sender.h"

const Unit kTransmitFailureText[] = u"TX: Transport error";

namespace {

// Without traffic a pass lasts this long, which bounds how late the stop
// event is seen when no transport wait is cancelled.
constexpr uint32_t kReceiveTimeoutMs = 500;

// A serial slave whose port failed opens it again at most this often. A
// USB adapter plugged back in takes a second or two to come up as a port,
// so a faster pace would win nothing, and a slower one would leave a master
// unanswered longer than it takes the adapter to return.
constexpr uint32_t kReopenPaceMs = 1000;

const HostLink* CurrentLink(const ServerWorker* worker) { return *worker->hostLink; }

// Shown on the RX line and logged as a failure row (direction names the
// side the failure is on).
void PostError(ServerWorker* worker, const Unit* text, uint8_t direction = kTrafficRx) {
  PostRxText(CurrentLink(worker), text, true);
  LogServerFailure(worker, direction, text);
}

void LogFrame(ServerWorker* worker, uint8_t direction, const uint8_t* bytes, uint32_t length) {
  LogTrafficFrame(CurrentLink(worker), kTrafficSlave, worker->framer->Kind(), direction, bytes, length,
                  ServerTrafficPeer(worker));
}

void OnTransmit(void* context, const uint8_t* bytes, uint32_t length) {
  ServerWorker* worker = static_cast<ServerWorker*>(context);
  LogFrame(worker, kTrafficTx, bytes, length);
  PostFrame(CurrentLink(worker), HostCommandKind::ShowTxFrame, bytes, length);
}

void OnReceive(void* context, const uint8_t* bytes, uint32_t length) {
  ServerWorker* worker = static_cast<ServerWorker*>(context);
  if (worker->composition->family != ServerFamily::kMbap) ++worker->session.diagnostics.busMessageCount;
  LogFrame(worker, kTrafficRx, bytes, length);
  PostFrame(CurrentLink(worker), HostCommandKind::ShowRxFrame, bytes, length);
}

// A network client that went: the RX line stays as it was, the log says so.
void LogClientGone(ServerWorker* worker, bool inOrder) {
  if (worker->transport->IsMessageOriented()) return;
  if (inOrder) {
    LogServerFailure(worker, kTrafficRx, u"Connection closed by the client", nullptr, 0, kTrafficNoticeRow);
  } else {
    LogServerFailure(worker, kTrafficRx, u"Connection dropped");
  }
}

void RefreshIfVisible(ServerWorker* worker, const WrittenRange& written) {
  if (SelectedViewOverlaps(worker->views, written)) PostHostCommand(CurrentLink(worker), HostCommandKind::RefreshTable);
}

void DestroyObjects(ServerWorker* worker) {
  LinkDestroy(worker->session.link);
  worker->session.link = nullptr;
  mem::Delete(worker->framer);
  worker->framer = nullptr;
  mem::Delete(worker->transport);
  worker->transport = nullptr;
  if (worker->timerResolutionHeld) {
    plat::TimerResolutionEnd();
    worker->timerResolutionHeld = false;
  }
}

ServePass ServeMbap(ServerWorker* worker, int32_t status, const AduHeader& header, const ServerRequest& request) {
  // A dropped TCP client or an unreachable UDP peer is routine for a
  // network server: the transport waits for the next one.
  if (status == StatusTransportError) {
    const bool inOrder = worker->composition->closedByPeer && worker->composition->closedByPeer(worker->transport);
    LogClientGone(worker, inOrder);
    return ServePass::kNext;
  }
  if (status == StatusTimeout) return ServePass::kNext;
  if (status == StatusCancelled) return ServePass::kEnd;
  if (!IsAnswerable(status)) {
    PostError(worker, worker->composition->invalidFrameText);
    // A transport that is no longer open never comes back by itself.
    return status == StatusNotConnected ? ServePass::kPark : ServePass::kNext;
  }
  WrittenRange written;
  ServeRequestMbap(&worker->session, status, header, request, &written);
  RefreshIfVisible(worker, written);
  return ServePass::kNext;
}

// The serial line failed under us (an adapter unplugged, a write that
// timed out): the port is closed, and opened again once the pace allows.
ServePass AwaitReopen(ServerWorker* worker) {
  worker->transport->Close();
  worker->reopenAt = plat::Tick() + kReopenPaceMs;
  worker->waitMs = kReopenPaceMs;
  return ServePass::kWait;
}

ServePass Reopen(ServerWorker* worker) {
  const int32_t early = TickDiff(worker->reopenAt, plat::Tick());
  if (early > 0) {
    worker->waitMs = static_cast<uint32_t>(early);
    return ServePass::kWait;
  }
  ++worker->reopenAttempts;
  Transport* transport = worker->transport;
  if (transport->Open() == 1) {
    // A Disconnect that came while the port opened is not lost.
    if (plat::EventWait(worker->stopEvent, 0)) return ServePass::kEnd;
    if (transport->PrepareExchange() == 1) return ServePass::kNext;
  }
  // Shown once, when the line failed; a port that stays away is tried again
  // quietly.
  return AwaitReopen(worker);
}

ServePass ServeSerial(ServerWorker* worker, int32_t status, const AduHeader& header, const ServerRequest& request) {
  if (status == StatusTimeout) return ServePass::kNext;
  if (status == StatusCancelled) return ServePass::kEnd;
  const bool serialLine = worker->composition->family == ServerFamily::kSerial;
  Transport* transport = worker->transport;

  WrittenRange written;
  const int32_t sent = ServeRequestSerial(&worker->session, status, header, request, &written);
  if (!IsAnswerable(status)) {
    // The counters are updated by now; a broken frame on a serial line or a
    // TCP stream leaves the receiver out of step, a datagram does not.
    if (IsBusCommunicationError(status) && (serialLine || !transport->IsMessageOriented())) {
      transport->PrepareExchange();
    }
    if (status == StatusTransportError && !serialLine && worker->composition->closedByPeer &&
        worker->composition->closedByPeer(transport)) {
      LogClientGone(worker, true);
      return ServePass::kNext;
    }
    PostError(worker, ServerStatusText(status));
    if (status == StatusNotConnected) return ServePass::kPark;
    return status == StatusTransportError && serialLine ? AwaitReopen(worker) : ServePass::kNext;
  }
  // What the request changed is in the map whatever became of the answer.
  RefreshIfVisible(worker, written);
  if (sent < 0 && sent != StatusCancelled) {
    PostError(worker, kTransmitFailureText, kTrafficTx);
    if (serialLine) return AwaitReopen(worker);
  }
  return ServePass::kNext;
}

}  // namespace

TrafficPeer ServerTrafficPeer(ServerWorker* worker) {
  TrafficPeer peer;
  if (worker->transport && !worker->transport->Peer(&peer.address, &peer.port)) peer = TrafficPeer();
  return peer;
}

void LogServerFailure(ServerWorker* worker, uint8_t direction, const Unit* text, const uint8_t* bytes,
                      uint32_t length, uint8_t kind) {
  LogTrafficFailure(CurrentLink(worker), kTrafficSlave, worker->framer->Kind(), direction, text, bytes, length,
                    ServerTrafficPeer(worker), kind);
}

const Unit* ServerStatusText(int32_t status) {
  switch (status) {
    case StatusIncompleteFrame: return u"RX: Incomplete frame";
    case StatusTransportError: return u"RX: Transport error";
    case StatusCrcError: return u"RX: CRC error";
    case StatusLrcError: return u"RX: LRC error";
    case StatusInvalidLength: return u"RX: Invalid length";
    case StatusInvalidFrame: return u"RX: Invalid frame";
    case StatusSerialFramingError: return u"RX: Serial framing error";
    case StatusSerialOverrun: return u"RX: Serial character overrun";
    default: return u"RX: Protocol error";
  }
}

void WorkerInit(ServerWorker* worker, const ServerComposition* composition, const HostLink* const* hostLink,
                DeviceMap* map, ViewList* views) {
  *worker = ServerWorker{};
  worker->composition = composition;
  worker->hostLink = hostLink;
  worker->session.map = map;
  worker->views = views;
  worker->stopEvent = plat::EventNew(true, false);
  if (!worker->stopEvent) plat::FatalExit(kExitOutOfMemory);
}

void WorkerRelease(ServerWorker* worker) {
  StopWorker(worker);
  plat::EventFree(worker->stopEvent);
  worker->stopEvent = nullptr;
}

int32_t OpenWorker(ServerWorker* worker, const void* settings) {
  StopWorker(worker);
  // Held until DestroyObjects: the receive time-out and the line silences
  // are timed in milliseconds.
  plat::TimerResolutionBegin();
  worker->timerResolutionHeld = true;
  const ServerComposition* composition = worker->composition;
  worker->session.diagnostics = DiagnosticState{};
  worker->session.unitId = composition->ownAddress(settings);
  worker->session.acceptAny = composition->acceptAny && composition->acceptAny(settings) != 0;
  worker->reopenAt = plat::Tick();
  worker->reopenAttempts = 0;

  worker->transport = composition->createTransport(settings);
  worker->framer = composition->createFramer(settings);
  if (!worker->transport || !worker->framer) {
    DestroyObjects(worker);
    return kWorkerOpenFailed;
  }
  worker->session.link = LinkCreate(worker->transport, worker->framer, kLinkRoleServer, worker, &OnTransmit, &OnReceive);
  if (!worker->transport->Open() || !worker->transport->PrepareExchange()) {
    StopWorker(worker);
    return kWorkerOpenFailed;
  }
  plat::EventReset(worker->stopEvent);
  return kWorkerStarted;
}

int32_t StartWorker(ServerWorker* worker, const void* settings) {
  if (worker->runner) {
    StopWorker(worker);
    return worker->runner->start(worker->runner->context, settings);
  }
  const int32_t opened = OpenWorker(worker, settings);
  if (opened != kWorkerStarted) return opened;
  plat::EventReset(worker->stopEvent);
  worker->thread = plat::ThreadStart(&WorkerMain, worker);
  if (!worker->thread) {
    StopWorker(worker);
    return kWorkerThreadFailed;
  }
  return kWorkerStarted;
}

void StopWorker(ServerWorker* worker) {
  if (worker->runner) worker->runner->stop(worker->runner->context);
  plat::EventSet(worker->stopEvent);
  if (worker->transport) worker->transport->Cancel();
  if (worker->thread) {
    plat::ThreadJoin(worker->thread);
    worker->thread = nullptr;
  }
  DestroyObjects(worker);
}

ServePass ServeOnePass(ServerWorker* worker) {
  AduHeader header;
  ServerRequest request;
  if (worker->composition->family == ServerFamily::kSerial && !worker->transport->IsReady()) return Reopen(worker);
  const int32_t status = ReceiveRequest(&worker->session, &header, &request, kReceiveTimeoutMs);
  if (worker->composition->family == ServerFamily::kMbap) return ServeMbap(worker, status, header, request);
  return ServeSerial(worker, status, header, request);
}

uint32_t WorkerMain(void* argument) {
  ServerWorker* worker = static_cast<ServerWorker*>(argument);
  for (;;) {
    if (plat::EventWait(worker->stopEvent, 0)) return 0;
    const ServePass pass = ServeOnePass(worker);
    if (pass == ServePass::kEnd) return 0;
    if (pass == ServePass::kWait && plat::EventWait(worker->stopEvent, worker->waitMs)) return 0;
    if (pass == ServePass::kPark) {
      // The failure text stays on the RX line until the user disconnects.
      plat::EventWait(worker->stopEvent, plat::kWaitForever);
      return 0;
    }
  }
}
