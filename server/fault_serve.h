#pragma once
// Carrying faults out on the answer path of a slave: the ServeHook of the
// fault-injecting slaves. The plan decides which fault falls due; this
// sends the response accordingly and names the fault on the RX line.
//
//   no answer       nothing is sent (writes were carried out)
//   late answer     the response after the delay; Disconnect cuts the wait
//   exception       the exception response; the request is not carried out
//   damaged         the response with a wrong CRC or transaction id
//   another unit    the response with the next unit or slave id
//   split answer    the first half, the gap, then the rest (a serial RTU
//                   port adds its own t3.5 before the rest)
//   close           the TCP connection is dropped; nothing is sent
//
// The TX line shows the whole frame as it went out. Runs on the worker
// thread, except FaultsInjected, which any thread may read.

#include <stdint.h>

#include <atomic>

#include "server/fault_plan.h"
#include "server/serve.h"

struct FaultServe {
  FaultPlan plan;
  uint32_t splitGapMs = kTcpSplitGapMs;
  // Called with the RX line's text after a fault was injected.
  void (*report)(void* context, const Unit* text) = nullptr;
  void* reportContext = nullptr;
  ServeHook hook;  // hand &hook to ServeSession::hook
  FaultKind pending = FaultKind::kNone;
  std::atomic<uint32_t> injected{0};
};

// Sets the hook up over fault; settings and gap can change later through
// FaultServeRestart.
void FaultServeInit(FaultServe* fault, void (*report)(void*, const Unit*), void* reportContext);

// At every Connect, before the worker starts: takes the settings, whether
// the transport is a TCP connection and the split gap, and counts requests
// and faults from zero.
void FaultServeRestart(FaultServe* fault, const FaultSettings& settings, bool tcp, uint32_t splitGapMs);

inline uint32_t FaultsInjected(const FaultServe* fault) { return fault->injected.load(); }

// The RX line's text of a fault on the request in the link's receive
// buffer: u"RX: 01 03 00 00 00 02 C4 0B — answer dropped". capacity in
// units, at least 32.
void FormatFaultLine(const uint8_t* request, uint32_t length, FaultKind kind, Unit* buffer, uint32_t capacity);
