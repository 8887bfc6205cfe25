#pragma once
// The polling worker of a client plug-in: one thread per connected instance
// that executes the active poll every poll period through Transact and
// posts TX frames, RX frames, table refreshes and RX status texts to the
// shell. Polls of tabs that are not selected are not executed.
//
// Threads and locks: Start and Stop run on the user-interface thread; the
// loop and the two monitors on the worker thread. The worker mutex guards
// the current poll and the running flag; the monitors take it first and the
// poll-list mutex inside it. The loop holds the poll-list mutex only to pick
// the due poll, build its request and store results, never during Transact.
// From the worker thread every report is posted, never sent.

#include <stdint.h>

#include <atomic>

#include "client/poll_list.h"
#include "common/platform.h"
#include "common/plugin_interface.h"
#include "modbus/framer.h"
#include "modbus/link.h"
#include "modbus/transport.h"

constexpr uint32_t kDefaultResponseTimeoutMs = 1500;

enum ClientStartResult : int32_t {
  kClientStarted = 0,
  kClientOpenFailed = 1,    // Open or PrepareExchange failed
  kClientThreadFailed = 2,  // the thread could not be created
};

// What one pass of the loop asks for next.
enum ClientPassResult : int32_t {
  kPassStop = 0,      // end the thread
  kPassExecuted = 1,  // a poll ran (or failed to reopen): pass again
  kPassWait = 2,      // wait on the stop and wake events for waitMs
};

class ClientWorker {
 public:
  explicit ClientWorker(PollList* polls);
  ~ClientWorker();  // stops a running worker first
  ClientWorker(const ClientWorker&) = delete;
  ClientWorker& operator=(const ClientWorker&) = delete;

  // The link to the shell; set while attached, null otherwise. Changed only
  // while the worker is stopped.
  void SetHost(const HostLink* host) { host_ = host; }

  // Takes ownership of transport and framer (also on failure, where both
  // are released). Opens the transport on the calling thread, prepares the
  // first exchange, resets every poll's RX state and due time and starts
  // the thread. reopenFailureText must outlive the connection.
  ClientStartResult Start(Transport* transport, Framer* framer, uint32_t responseTimeoutMs,
                          const Unit* reopenFailureText);
  // Without a thread, for tests that drive Pass themselves: as Start up to
  // the thread. Returns kClientStarted or kClientOpenFailed.
  ClientStartResult StartWithoutThread(Transport* transport, Framer* framer, uint32_t responseTimeoutMs,
                                       const Unit* reopenFailureText);
  // Sets the stop and wake events, cancels the transport, waits for the
  // thread without a time limit and releases link, framer and transport.
  // Safe when not started.
  void Stop();

  bool Running();
  bool HasLink() const { return link_ != nullptr; }

  // Wakes the loop so that it looks at the active poll again.
  void Wake() { plat::EventSet(wake_); }

  // One pass of the loop; on kPassWait, waitMs holds the time to wait
  // (plat::kWaitForever without an active poll).
  ClientPassResult Pass(uint32_t* waitMs);

  // Worker mutex, for the view's display of the last RX (taken before the
  // poll-list mutex).
  void Lock() { plat::MutexLock(mutex_); }
  void Unlock() { plat::MutexUnlock(mutex_); }
  // The running flag; the caller holds the worker mutex.
  bool RunningWithLockHeld() const { return running_; }

  Transport* transport() const { return transport_; }

 private:
  static uint32_t ThreadMain(void* argument);
  static void TransmitMonitor(void* context, const uint8_t* bytes, uint32_t length);
  static void ReceiveMonitor(void* context, const uint8_t* bytes, uint32_t length);

  ClientStartResult Prepare(Transport* transport, Framer* framer, uint32_t responseTimeoutMs,
                            const Unit* reopenFailureText);
  void Release();
  void Publish(PollDefinition* poll, const ClientRequest& request, int32_t result,
               const ClientResponse& response);
  void SetCurrent(PollDefinition* poll);
  // No request goes out for ms from now (worker thread).
  void HoldFor(uint32_t ms);

  PollList* polls_;
  const HostLink* host_ = nullptr;
  plat::Mutex* mutex_;
  plat::Event* stop_;  // manual reset
  // Set with stop_ and read where the worker only asks whether to stop: a
  // wait on the event, even with no time, is a trip through the system (a
  // round trip to the Wine server), three of them per poll.
  std::atomic<bool> stopping_{false};
  plat::Event* wake_;  // auto reset
  plat::Thread* thread_ = nullptr;
  Transport* transport_ = nullptr;
  Framer* framer_ = nullptr;
  Link* link_ = nullptr;
  PollDefinition* current_ = nullptr;  // the poll whose transaction is in progress
  uint32_t responseTimeoutMs_ = kDefaultResponseTimeoutMs;
  const Unit* reopenFailureText_ = u"";
  bool running_ = false;
  // Worker thread only: after a broadcast (the slaves' turnaround) or a
  // failed reopen (a calm pace), nothing is sent before holdUntil_.
  uint32_t holdUntil_ = 0;
  bool holding_ = false;
  bool timerResolutionHeld_ = false;  // from Prepare to Release (user-interface thread)
};
