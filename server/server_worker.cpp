#include "server/server_worker.h"

#include "common/exit_codes.h"
#include "common/memory.h"
#include "client/host_commands.h"
#include "server/view_list.h"

const Unit kTransmitFailureText[] = u"TX: Transport error";

namespace {

// Without traffic a pass lasts this long, which bounds how late the stop
// event is seen when no transport wait is cancelled.
constexpr uint32_t kReceiveTimeoutMs = 500;

const HostLink* CurrentLink(const ServerWorker* worker) { return *worker->hostLink; }

void PostError(const ServerWorker* worker, const Unit* text) { PostRxText(CurrentLink(worker), text, true); }

void OnTransmit(void* context, const uint8_t* bytes, uint32_t length) {
  PostFrame(CurrentLink(static_cast<ServerWorker*>(context)), HostCommandKind::ShowTxFrame, bytes, length);
}

void OnReceive(void* context, const uint8_t* bytes, uint32_t length) {
  ServerWorker* worker = static_cast<ServerWorker*>(context);
  if (worker->composition->family != ServerFamily::kMbap) ++worker->session.diagnostics.busMessageCount;
  PostFrame(CurrentLink(worker), HostCommandKind::ShowRxFrame, bytes, length);
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
  if (status == StatusTimeout || status == StatusTransportError) return ServePass::kNext;
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
      return ServePass::kNext;
    }
    PostError(worker, ServerStatusText(status));
    if (status == StatusNotConnected) return ServePass::kPark;
    return status == StatusTransportError && serialLine ? ServePass::kPark : ServePass::kNext;
  }
  if (sent < 0 && sent != StatusCancelled) {
    PostError(worker, kTransmitFailureText);
    if (serialLine) return ServePass::kPark;
  }
  RefreshIfVisible(worker, written);
  return ServePass::kNext;
}

}  // namespace

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
  return kWorkerStarted;
}

int32_t StartWorker(ServerWorker* worker, const void* settings) {
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
    if (pass == ServePass::kPark) {
      // The failure text stays on the RX line until the user disconnects.
      plat::EventWait(worker->stopEvent, plat::kWaitForever);
      return 0;
    }
  }
}
