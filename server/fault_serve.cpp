// The fault-injecting slaves' answer path.

#include "server/fault_serve.h"

#include "modbus/framer.h"
#include "modbus/functions.h"
#include "modbus/link.h"

namespace {

// Room for "RX: ", a whole ADU as hex and the longest fault name.
constexpr uint32_t kFaultLineCapacity = 4 + kAduBufferSize * 3 + 64;

FaultServe* Self(void* context) { return static_cast<FaultServe*>(context); }

void Report(FaultServe* fault, Link* link, FaultKind kind) {
  fault->injected.fetch_add(1);
  if (!fault->report) return;
  Unit line[kFaultLineCapacity];
  FormatFaultLine(link->receiveBuffer, link->receiveLength, kind, line, kFaultLineCapacity);
  fault->report(fault->reportContext, line);
}

bool BeforeAnswer(void* context, const AduHeader&, uint8_t* exceptionCode) {
  FaultServe* fault = Self(context);
  fault->pending = NextFault(&fault->plan);
  *exceptionCode = fault->plan.settings.exceptionCode;
  return fault->pending == FaultKind::kException;
}

// Waits out a delay unless Disconnect cancels the transport first.
bool Wait(Link* link, uint32_t milliseconds) { return !plat::EventWait(link->transport->StopEvent(), milliseconds); }

// The two parts of a split answer, shown once as the whole frame.
int32_t SendSplit(Link* link, const uint8_t* adu, uint32_t length, uint32_t gapMs) {
  if (link->transmitMonitor) link->transmitMonitor(link->monitorContext, adu, length);
  const AduMonitor monitor = link->transmitMonitor;
  link->transmitMonitor = nullptr;
  const uint32_t cut = SplitPoint(length);
  int32_t sent = SendAdu(link, adu, cut);
  if (sent >= 0 && !Wait(link, gapMs)) sent = StatusCancelled;
  if (sent >= 0) sent = SendAdu(link, adu + cut, length - cut);
  link->transmitMonitor = monitor;
  return sent < 0 ? sent : static_cast<int32_t>(length);
}

int32_t Send(void* context, Link* link, const AduHeader& header, const ServerResponse& response) {
  FaultServe* fault = Self(context);
  const FaultKind kind = fault->pending;
  fault->pending = FaultKind::kNone;
  const FramingTraits& framing = link->framer->Traits();
  if (kind == FaultKind::kNone || (framing.hasBroadcast && header.unitId == kBroadcastUnitId)) {
    return SendResponse(link, header, response);
  }
  Report(fault, link, kind);
  switch (kind) {
    case FaultKind::kDrop: return 0;
    case FaultKind::kClose: link->transport->ResetAfterError(); return 0;
    case FaultKind::kException: return SendResponse(link, header, response);
    case FaultKind::kLate:
      if (!Wait(link, fault->plan.settings.delayMs)) return StatusCancelled;
      return SendResponse(link, header, response);
    default: break;
  }
  uint8_t adu[kAduBufferSize];
  const int32_t length = BuildResponseAdu(link, header, response, adu, sizeof adu);
  if (length < 0) return length;
  if (kind == FaultKind::kSplit) return SendSplit(link, adu, static_cast<uint32_t>(length), fault->splitGapMs);
  RewriteForFault(kind, framing.mbapHeader, adu, static_cast<uint32_t>(length));
  return SendAdu(link, adu, static_cast<uint32_t>(length));
}

void Append(Unit* buffer, uint32_t capacity, uint32_t* at, Unit unit) {
  if (*at + 1 < capacity) buffer[(*at)++] = unit;
}

}  // namespace

void FaultServeInit(FaultServe* fault, void (*report)(void*, const Unit*), void* reportContext) {
  fault->report = report;
  fault->reportContext = reportContext;
  fault->hook.context = fault;
  fault->hook.beforeAnswer = &BeforeAnswer;
  fault->hook.send = &Send;
}

void FaultServeRestart(FaultServe* fault, const FaultSettings& settings, bool tcp, uint32_t splitGapMs) {
  fault->plan = FaultPlan{};
  fault->plan.settings = ClampFaultSettings(settings);
  fault->plan.tcp = tcp;
  fault->splitGapMs = splitGapMs;
  fault->pending = FaultKind::kNone;
  fault->injected.store(0);
}

void FormatFaultLine(const uint8_t* request, uint32_t length, FaultKind kind, Unit* buffer, uint32_t capacity) {
  static const char kHex[] = "0123456789ABCDEF";
  uint32_t at = 0;
  for (const char* p = "RX:"; *p; ++p) Append(buffer, capacity, &at, static_cast<Unit>(*p));
  for (uint32_t i = 0; i < length; ++i) {
    Append(buffer, capacity, &at, u' ');
    Append(buffer, capacity, &at, static_cast<Unit>(kHex[request[i] >> 4]));
    Append(buffer, capacity, &at, static_cast<Unit>(kHex[request[i] & 0xF]));
  }
  for (const Unit* p = u" \u2014 "; *p; ++p) Append(buffer, capacity, &at, *p);
  for (const Unit* p = FaultName(kind); *p; ++p) Append(buffer, capacity, &at, *p);
  buffer[at] = 0;
}
