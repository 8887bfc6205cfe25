#include "server/gateway.h"

#include "common/deadline.h"
#include "common/exit_codes.h"
#include "common/memory.h"
#include "modbus/framing.h"
#include "modbus/functions.h"

// One request on its way from a connection to the line and back.
struct GatewayJob {
  uint8_t unit = 0;
  Pdu request;
  Pdu answer;
  bool answered = false;  // false: nothing goes back (a broadcast, or stopping)
  uint32_t place = 0;     // the connection's place: whose event tells it is done
};

namespace {

Gateway* Self(void* context) { return static_cast<Gateway*>(context); }

void Failed(Gateway* gateway, uint8_t code) {
  if (gateway->hooks.failed) gateway->hooks.failed(gateway->hooks.context, code);
}

void Exception(GatewayJob* job, uint8_t code) {
  job->answer = Pdu{};
  job->answer.function = static_cast<uint8_t>(job->request.function | kExceptionFlag);
  job->answer.data[0] = code;
  job->answer.length = 1;
  job->answered = true;
}

void Count(Gateway* gateway, uint8_t unit, uint32_t GatewayUnitCounts::*field, uint8_t function) {
  plat::MutexLock(gateway->lock);
  GatewayUnitCounts& counts = gateway->counts[unit];
  ++(counts.*field);
  counts.lastFunction = function;
  plat::MutexUnlock(gateway->lock);
  if (gateway->hooks.countsChanged) gateway->hooks.countsChanged(gateway->hooks.context);
}

bool Stopping(const Gateway* gateway) { return plat::EventWait(gateway->stop, 0); }

// The line failed under a request: closed now, opened again for the next.
void LineLost(Gateway* gateway, GatewayJob* job) {
  gateway->line->Close();
  Exception(job, kGatewayPathUnavailable);
  Failed(gateway, kGatewayPathUnavailable);
}

bool LineUsable(Gateway* gateway) {
  Transport* line = gateway->line;
  if (!line->IsReady() && line->Open() != 1) return false;
  return line->PrepareExchange() == 1;
}

// One request on the line, and what goes back.
void Carry(Gateway* gateway, GatewayJob* job) {
  const uint8_t unit = job->unit;
  const uint8_t function = job->request.function;
  Count(gateway, unit, &GatewayUnitCounts::requests, function);
  if (unit > kHighestSlaveId || !LineUsable(gateway)) {
    Exception(job, kGatewayPathUnavailable);
    Count(gateway, unit, &GatewayUnitCounts::noPath, function);
    Failed(gateway, kGatewayPathUnavailable);
    return;
  }
  AduHeader header;
  header.unitId = unit;
  uint8_t adu[kAduBufferSize];
  const int32_t length = gateway->framer->BuildAdu(header, job->request, adu, sizeof adu);
  const int32_t sent = length > 0 ? SendAdu(gateway->lineLink, adu, static_cast<uint32_t>(length)) : StatusInvalidLength;
  if (sent == StatusCancelled) return;
  if (sent < 0) {
    LineLost(gateway, job);
    Count(gateway, unit, &GatewayUnitCounts::noPath, function);
    return;
  }
  if (unit == kBroadcastUnitId) {
    plat::EventWait(gateway->stop, kGatewayTurnaroundMs);
    return;
  }
  const uint32_t deadline = DeadlineAfter(gateway->responseTimeoutMs);
  while (!DeadlinePassed(deadline)) {
    AduHeader from;
    Pdu pdu;
    const int32_t received = ReceiveAdu(gateway->lineLink, &from, &pdu, RemainingMs(deadline));
    if (received == StatusTimeout) break;
    if (received == StatusCancelled) return;
    if (received == StatusTransportError || received == StatusNotConnected) {
      LineLost(gateway, job);
      Count(gateway, unit, &GatewayUnitCounts::noPath, function);
      return;
    }
    if (gateway->hooks.lineHeard) {
      gateway->hooks.lineHeard(gateway->hooks.context, received, gateway->lineLink->receiveBuffer,
                               received > 0 ? static_cast<uint32_t>(received) : 0);
    }
    // Noise, a damaged answer or another unit's traffic: the answer may
    // still come before the time-out.
    if (received < 0 || from.unitId != unit || (pdu.function & ~kExceptionFlag) != function) continue;
    if (gateway->hooks.lineReceived) {
      gateway->hooks.lineReceived(gateway->hooks.context, gateway->lineLink->receiveBuffer,
                                  static_cast<uint32_t>(received));
    }
    job->answer = pdu;
    job->answered = true;
    const bool exception = (pdu.function & kExceptionFlag) != 0;
    Count(gateway, unit, exception ? &GatewayUnitCounts::exceptions : &GatewayUnitCounts::answers, function);
    return;
  }
  Exception(job, kGatewayTargetFailedToRespond);
  Count(gateway, unit, &GatewayUnitCounts::noAnswer, function);
  Failed(gateway, kGatewayTargetFailedToRespond);
}

GatewayJob* Next(Gateway* gateway) {
  plat::MutexLock(gateway->lock);
  GatewayJob* job = nullptr;
  uint32_t place = 0;
  if (gateway->queueCount > 0) {
    place = gateway->queueHead;
    job = gateway->queue[place];
    gateway->queueHead = (gateway->queueHead + 1) % kMaxMasters;
    --gateway->queueCount;
  }
  plat::MutexUnlock(gateway->lock);
  return job;
}

uint32_t LineMain(void* argument) {
  Gateway* gateway = static_cast<Gateway*>(argument);
  plat::Event* const events[] = {gateway->stop, gateway->wake};
  for (;;) {
    if (plat::EventWaitAny(events, 2, plat::kWaitForever) == 0) return 0;
    while (GatewayJob* job = Next(gateway)) {
      if (!Stopping(gateway)) Carry(gateway, job);
      plat::EventSet(gateway->answered[job->place]);
    }
  }
}

// A connection thread: the request goes into the queue, and its answer,
// if any, back on this connection.
void Serve(void* context, MultiConnection* connection, int32_t status, const AduHeader& header, const ServerRequest&) {
  Gateway* gateway = Self(context);
  if (!IsAnswerable(status)) return;  // the framing has dropped a broken stream
  Link* link = connection->session.link;
  // The PDU follows the seven bytes of the MBAP header.
  if (link->receiveLength < 8) return;
  GatewayJob job;
  job.unit = header.unitId;
  job.request.function = link->receiveBuffer[7];
  job.request.length = link->receiveLength - 8;
  mem::CopyBytes(job.request.data, link->receiveBuffer + 8, job.request.length);
  job.place = static_cast<uint32_t>(connection - gateway->network.connections);
  plat::EventReset(gateway->answered[job.place]);
  // Queued only while the gateway is not stopping (checked under the lock
  // that GatewayStop's last drain takes too): every queued job is then
  // answered, by the line thread or by that drain, before this frame ends.
  plat::MutexLock(gateway->lock);
  const bool queued = !Stopping(gateway);
  if (queued) {
    gateway->queue[(gateway->queueHead + gateway->queueCount) % kMaxMasters] = &job;
    ++gateway->queueCount;
  }
  plat::MutexUnlock(gateway->lock);
  if (!queued) return;
  plat::EventSet(gateway->wake);
  plat::EventWait(gateway->answered[job.place], plat::kWaitForever);
  if (!job.answered || Stopping(gateway)) return;
  uint8_t adu[kAduBufferSize];
  const int32_t length = link->framer->BuildAdu(header, job.answer, adu, sizeof adu);
  if (length > 0) SendAdu(link, adu, static_cast<uint32_t>(length));
}

void LineSent(void* context, const uint8_t* bytes, uint32_t length) {
  Gateway* gateway = Self(context);
  if (gateway->hooks.lineSent) gateway->hooks.lineSent(gateway->hooks.context, bytes, length);
}

void MastersChanged(void* context) {
  Gateway* gateway = Self(context);
  if (gateway->hooks.mastersChanged) gateway->hooks.mastersChanged(gateway->hooks.context);
}

void NetworkReceived(void* context, MultiConnection* connection, const uint8_t* bytes, uint32_t length) {
  Gateway* gateway = Self(context);
  if (gateway->hooks.networkReceived) gateway->hooks.networkReceived(gateway->hooks.context, connection, bytes, length);
}

void NetworkSent(void* context, MultiConnection* connection, const uint8_t* bytes, uint32_t length) {
  Gateway* gateway = Self(context);
  if (gateway->hooks.networkSent) gateway->hooks.networkSent(gateway->hooks.context, connection, bytes, length);
}

void NetworkHappened(void* context, MultiServerEvent event, uint32_t peerAddress, uint16_t peerPort) {
  Gateway* gateway = Self(context);
  if (gateway->hooks.networkHappened) {
    gateway->hooks.networkHappened(gateway->hooks.context, event, peerAddress, peerPort);
  }
}

}  // namespace

void GatewayInit(Gateway* gateway) {
  gateway->wake = plat::EventNew(false, false);
  gateway->stop = plat::EventNew(true, false);
  gateway->lock = plat::MutexNew();
  if (!gateway->wake || !gateway->stop || !gateway->lock) plat::FatalExit(kExitOutOfMemory);
  for (plat::Event*& event : gateway->answered) {
    event = plat::EventNew(false, false);
    if (!event) plat::FatalExit(kExitOutOfMemory);
  }
}

void GatewayRelease(Gateway* gateway) {
  GatewayStop(gateway);
  for (plat::Event*& event : gateway->answered) {
    plat::EventFree(event);
    event = nullptr;
  }
  plat::EventFree(gateway->wake);
  plat::EventFree(gateway->stop);
  plat::MutexFree(gateway->lock);
  gateway->wake = gateway->stop = nullptr;
  gateway->lock = nullptr;
}

int32_t GatewayStart(Gateway* gateway, Transport* line, uint32_t responseTimeoutMs,
                     const MultiServerSettings& network, const GatewayHooks& hooks) {
  GatewayStop(gateway);
  gateway->hooks = hooks;
  gateway->responseTimeoutMs = responseTimeoutMs;
  gateway->line = line;
  gateway->framer = CreateFramer(FramingKind::kRtu);
  gateway->lineLink = LinkCreate(line, gateway->framer, kLinkRoleClient, gateway, &LineSent, nullptr);
  plat::MutexLock(gateway->lock);
  for (GatewayUnitCounts& counts : gateway->counts) counts = GatewayUnitCounts{};
  gateway->queueHead = gateway->queueCount = 0;
  plat::MutexUnlock(gateway->lock);
  plat::EventReset(gateway->stop);
  if (line->Open() != 1 || line->PrepareExchange() != 1) {
    GatewayStop(gateway);
    return kGatewayLineFailed;
  }
  gateway->lineThread = plat::ThreadStart(&LineMain, gateway);
  MultiServerHooks serving;
  serving.context = gateway;
  serving.serve = &Serve;
  serving.mastersChanged = &MastersChanged;
  serving.received = &NetworkReceived;
  serving.sent = &NetworkSent;
  serving.happened = &NetworkHappened;
  if (!gateway->lineThread || MultiServerStart(&gateway->network, nullptr, network, serving) != 1) {
    GatewayStop(gateway);
    return kGatewayListenFailed;
  }
  return kGatewayStarted;
}

void GatewayStop(Gateway* gateway) {
  plat::EventSet(gateway->stop);
  if (gateway->line) gateway->line->Cancel();
  // The line thread first: it answers every queued job (with nothing) so
  // that the connection threads waiting for them can end.
  if (gateway->lineThread) plat::ThreadJoin(gateway->lineThread);
  gateway->lineThread = nullptr;
  while (GatewayJob* job = Next(gateway)) plat::EventSet(gateway->answered[job->place]);
  MultiServerStop(&gateway->network);
  LinkDestroy(gateway->lineLink);
  gateway->lineLink = nullptr;
  mem::Delete(gateway->framer);
  gateway->framer = nullptr;
  mem::Delete(gateway->line);
  gateway->line = nullptr;
}

GatewayUnitCounts GatewayCounts(Gateway* gateway, uint8_t unit) {
  plat::MutexLock(gateway->lock);
  const GatewayUnitCounts counts = gateway->counts[unit];
  plat::MutexUnlock(gateway->lock);
  return counts;
}
