#pragma once
// A Modbus TCP to RTU gateway: the several-masters server on the network
// side (multi_server.h) and an RTU master on one line. Each request a TCP
// master sends goes, as its PDU stands, to the unit it names on the line;
// the answer goes back on the connection it came from with the request's
// transaction ID. The connections' requests queue for the one line in the
// order they arrived; a line thread of its own takes them one at a time.
//
//   unit 0            a broadcast: sent, never answered, and the line stays
//                     quiet for the slaves' turnaround before the next request
//   no answer         within the response time-out: exception 0x0B (gateway
//                     target device failed to respond)
//   line unusable     a port that does not open or fails: exception 0x0A
//                     (gateway path unavailable); it is opened again for the
//                     next request. A unit above 247 has no path either.
//
// Answers on the line are read by their length (the link's client role),
// so a USB adapter's pauses inside an answer do not cut it. Portable; the
// line is any transport with an RTU framer.

#include <stdint.h>

#include <atomic>

#include "common/platform.h"
#include "modbus/link.h"
#include "server/multi_server.h"

// The silence after a broadcast before the next request goes out: the
// slaves carry it out unseen (as long as the RTU master leaves).
constexpr uint32_t kGatewayTurnaroundMs = 200;

struct GatewayUnitCounts {
  uint32_t requests = 0;
  uint32_t answers = 0;     // normal answers passed back
  uint32_t exceptions = 0;  // exception answers of the unit passed back
  uint32_t noAnswer = 0;    // 0x0B given
  uint32_t noPath = 0;      // 0x0A given
  uint8_t lastFunction = 0;
};

// The owner's view of the traffic; any pointer may be null. Line hooks run
// on the line thread, the network hooks on the connection threads.
struct GatewayHooks {
  void* context = nullptr;
  void (*lineSent)(void* context, const uint8_t* bytes, uint32_t length) = nullptr;
  void (*lineReceived)(void* context, const uint8_t* bytes, uint32_t length) = nullptr;
  // A unit's counts changed (line thread).
  void (*countsChanged)(void* context) = nullptr;
  void (*mastersChanged)(void* context) = nullptr;
  // A request answered by the gateway itself: kGatewayTargetFailedToRespond
  // or kGatewayPathUnavailable (line thread).
  void (*failed)(void* context, uint8_t code) = nullptr;
  // Everything the line brought while an answer was awaited (line thread):
  // status is the ADU's length (the answer, or another unit's frame), or
  // the failure of a frame that did not check; bytes what was received.
  void (*lineHeard)(void* context, int32_t status, const uint8_t* bytes, uint32_t length) = nullptr;
  // The network side, as the several-masters server's hooks of those names.
  void (*networkReceived)(void* context, MultiConnection* connection, const uint8_t* bytes, uint32_t length) = nullptr;
  void (*networkSent)(void* context, MultiConnection* connection, const uint8_t* bytes, uint32_t length) = nullptr;
  void (*networkHappened)(void* context, MultiServerEvent event, uint32_t peerAddress, uint16_t peerPort) = nullptr;
};

struct GatewayJob;

struct Gateway {
  MultiServer network;
  GatewayHooks hooks;
  Transport* line = nullptr;  // owned: made with mem::New
  Framer* framer = nullptr;   // RTU, owned
  Link* lineLink = nullptr;
  uint32_t responseTimeoutMs = 1000;
  plat::Thread* lineThread = nullptr;
  plat::Event* wake = nullptr;  // auto reset: a request queued
  plat::Event* stop = nullptr;  // manual reset
  plat::Mutex* lock = nullptr;  // the queue and the counts
  plat::Event* answered[kMaxMasters] = {};  // auto reset, one per connection place
  GatewayJob* queue[kMaxMasters] = {};      // each connection waits for its own, so 16 suffice
  uint32_t queueHead = 0;
  uint32_t queueCount = 0;
  GatewayUnitCounts counts[256];
};

// Creates the events and the lock; failure ends the process.
void GatewayInit(Gateway* gateway);
void GatewayRelease(Gateway* gateway);

// Results of GatewayStart.
constexpr int32_t kGatewayStarted = 1;
constexpr int32_t kGatewayListenFailed = 0;
constexpr int32_t kGatewayLineFailed = -1;

// Takes the line transport (made with mem::New; the gateway deletes it),
// opens it, starts the line thread and the network side. kGatewayStarted,
// or kGatewayLineFailed / kGatewayListenFailed with nothing left running.
// The counts start again from 0. A line that fails later is opened again
// for each request; until it opens, requests are answered 0x0A.
int32_t GatewayStart(Gateway* gateway, Transport* line, uint32_t responseTimeoutMs,
                     const MultiServerSettings& network, const GatewayHooks& hooks);
// Stops the network side and the line; safe when nothing runs.
void GatewayStop(Gateway* gateway);

// A copy of the counts of unit, taken under the lock.
GatewayUnitCounts GatewayCounts(Gateway* gateway, uint8_t unit);
