#pragma once
// The server worker: while a server plug-in is connected, one thread waits
// for requests on the plug-in's transport, lets the request processing
// answer them, and reports frames, failures and changes of the device map to
// the shell through HostLink::post. Three families differ in what they
// report and in how they take a transport failure:
//
//   serial       RTU or ASCII on a COM port; a transport failure (an
//                adapter unplugged, a write that timed out) is shown once,
//                the port is closed and opened again once a second until
//                it opens, and serving goes on
//   RTU over IP  RTU on a TCP stream or in UDP datagrams; failures are shown
//                and serving goes on
//   MBAP         Modbus TCP or UDP; transport failures pass silently, broken
//                frames show one fixed text
//
// Threads: StartWorker and StopWorker run on the user-interface thread; the
// worker thread runs WorkerMain, the link's monitors and the request
// processing, and touches the shell only through post. The worker never
// holds the view-list lock and the map lock at once.

#include <stdint.h>

#include "common/platform.h"
#include "common/plugin_interface.h"
#include "modbus/link.h"
#include "modbus/traffic_tap.h"
#include "server/device_map.h"
#include "server/request.h"
#include "server/serve.h"

struct ViewList;

enum class ServerFamily : uint8_t { kSerial, kRtuOverIp, kMbap };

// What a server deliverable is built from: its family, the texts it shows,
// and how its transport and framer are made from its settings record.
struct ServerComposition {
  ServerFamily family;
  // Shown in the "Connection Error" box when the transport does not open.
  const Unit* openFailureText;
  // MBAP family: the RX text of a frame that cannot be used.
  const Unit* invalidFrameText;
  // Both made with mem::New; the worker deletes them with mem::Delete.
  Transport* (*createTransport)(const void* settings);
  Framer* (*createFramer)(const void* settings);
  // The slave ID (serial, RTU over IP) or the unit ID (MBAP).
  uint8_t (*ownAddress)(const void* settings);
  // MBAP: 1 answers every unit ID. Null for the other families.
  uint32_t (*acceptAny)(const void* settings);
  // Optional: true when the transport's last failure was the peer closing
  // its connection in order, which is no fault worth showing.
  bool (*closedByPeer)(Transport* transport);
};

// Results of StartWorker.
constexpr int32_t kWorkerStarted = 0;
constexpr int32_t kWorkerOpenFailed = 1;
constexpr int32_t kWorkerThreadFailed = 2;

// What one pass of the serving loop decided.
enum class ServePass : uint8_t {
  kNext,  // go on serving
  kEnd,   // cancelled: the thread ends
  kPark,  // stop serving and wait for the stop event
  kWait,  // a serial port to reopen later: wait waitMs on the stop event
};

// A deliverable that serves its transport its own way (several TCP
// connections at once) starts and stops here in place of the worker's
// transport and thread. start returns as StartWorker does.
struct WorkerRunner {
  void* context = nullptr;
  int32_t (*start)(void* context, const void* settings) = nullptr;
  void (*stop)(void* context) = nullptr;
};

struct ServerWorker {
  // The context's host link field, read at every post so the worker always
  // sees the current link (null while detached: nothing is posted).
  const HostLink* const* hostLink = nullptr;
  ViewList* views = nullptr;
  const ServerComposition* composition = nullptr;

  Transport* transport = nullptr;
  Framer* framer = nullptr;
  // The link (created at Connect, role server), the context's map, the own
  // address, accept-any and the diagnostic state of the serve sequences.
  ServeSession session;
  plat::Event* stopEvent = nullptr;  // manual reset, unset while serving
  plat::Thread* thread = nullptr;

  // Serial family: the tick of the next attempt to open a failed port, the
  // attempts since Connect, and after kWait how long to wait.
  uint32_t reopenAt = 0;
  uint32_t reopenAttempts = 0;
  uint32_t waitMs = 0;
  bool timerResolutionHeld = false;  // from the open to DestroyObjects
  const WorkerRunner* runner = nullptr;  // null for the ordinary slaves
};

// Sets up a stopped worker over the context's link field, map and views.
// Creating the stop event is an allocation: failure ends the process.
void WorkerInit(ServerWorker* worker, const ServerComposition* composition, const HostLink* const* hostLink,
                DeviceMap* map, ViewList* views);
// Stops the worker and releases the stop event.
void WorkerRelease(ServerWorker* worker);

// Stops a running worker, builds transport, framer and link from settings,
// opens the transport and starts the thread. kWorkerStarted,
// kWorkerOpenFailed (nothing left running) or kWorkerThreadFailed (the
// transport closed again).
int32_t StartWorker(ServerWorker* worker, const void* settings);

// StartWorker without the thread: stops a running worker, resets the
// diagnostics, takes the addresses from settings, builds transport, framer
// and link, opens the transport and resets the stop event. kWorkerStarted
// or kWorkerOpenFailed. Tests serve with ServeOnePass on their own thread
// after it.
int32_t OpenWorker(ServerWorker* worker, const void* settings);

// Sets the stop event, cancels the transport's waits, waits for the thread
// without a time limit and destroys link, framer and transport. Safe at any
// time, also when nothing runs.
void StopWorker(ServerWorker* worker);

// The thread's entry; returns 0.
uint32_t WorkerMain(void* worker);

// One pass of the serving loop: receive with a 500 ms timeout, serve, report.
// WorkerMain calls it until it returns kEnd or kPark, waiting worker->waitMs
// on the stop event after kWait; tests call it directly.
ServePass ServeOnePass(ServerWorker* worker);

// The traffic log's peer of the exchange in progress (a TCP or UDP
// client); none on a serial line.
TrafficPeer ServerTrafficPeer(ServerWorker* worker);
// Logs a failure row of the worker's framing.
void LogServerFailure(ServerWorker* worker, uint8_t direction, const Unit* text, const uint8_t* bytes = nullptr,
                      uint32_t length = 0, uint8_t kind = kTrafficFailureRow);

// The RX text of a receive failure of the serial and RTU-over-IP servers.
const Unit* ServerStatusText(int32_t status);

// Shown when a response could not be sent.
extern const Unit kTransmitFailureText[];
