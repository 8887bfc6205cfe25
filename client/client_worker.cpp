#include "client/client_worker.h"

#include "common/deadline.h"
#include "common/exit_codes.h"
#include "common/memory.h"
#include "modbus/traffic_tap.h"
#include "view/host_command_sender.h"

namespace {

const Unit kBroadcastText[] = u"RX: Broadcast - no response expected";

// A port or connection that failed to reopen is tried again at the poll
// period, but no more often than this: a short period must not turn a
// missing USB adapter into a loop of failing opens.
constexpr uint32_t kReopenPaceMs = 1000;

bool IsSet(plat::Event* event) { return plat::EventWait(event, 0); }

}  // namespace

ClientWorker::ClientWorker(PollList* polls)
    : polls_(polls),
      mutex_(plat::MutexNew()),
      stop_(plat::EventNew(true, false)),
      wake_(plat::EventNew(false, false)) {
  if (!mutex_ || !stop_ || !wake_) plat::FatalExit(kExitOutOfMemory);
}

ClientWorker::~ClientWorker() {
  Stop();
  plat::EventFree(wake_);
  plat::EventFree(stop_);
  plat::MutexFree(mutex_);
}

bool ClientWorker::Running() {
  Lock();
  bool running = running_;
  Unlock();
  return running;
}

ClientStartResult ClientWorker::Prepare(Transport* transport, Framer* framer, uint32_t responseTimeoutMs,
                                        const Unit* reopenFailureText) {
  Stop();
  // Held until Release: the poll period, the response time-out and the
  // line silences are timed in milliseconds.
  plat::TimerResolutionBegin();
  timerResolutionHeld_ = true;
  responseTimeoutMs_ = responseTimeoutMs;
  reopenFailureText_ = reopenFailureText;
  transport_ = transport;
  framer_ = framer;
  link_ = LinkCreate(transport, framer, kLinkRoleClient, this, &ClientWorker::TransmitMonitor,
                     &ClientWorker::ReceiveMonitor);
  if (transport->Open() != 1 || transport->PrepareExchange() != 1) {
    Release();
    return kClientOpenFailed;
  }
  uint32_t now = plat::Tick();
  polls_->Lock();
  for (uint32_t i = 0; i < polls_->Count(); ++i) {
    PollDefinition* poll = polls_->At(i);
    poll->nextDue = now;
    ClearPollRx(poll);
  }
  polls_->Unlock();
  holding_ = false;
  plat::EventReset(stop_);
  plat::EventReset(wake_);
  Lock();
  running_ = true;
  Unlock();
  return kClientStarted;
}

ClientStartResult ClientWorker::StartWithoutThread(Transport* transport, Framer* framer, uint32_t responseTimeoutMs,
                                                   const Unit* reopenFailureText) {
  return Prepare(transport, framer, responseTimeoutMs, reopenFailureText);
}

ClientStartResult ClientWorker::Start(Transport* transport, Framer* framer, uint32_t responseTimeoutMs,
                                      const Unit* reopenFailureText) {
  ClientStartResult result = Prepare(transport, framer, responseTimeoutMs, reopenFailureText);
  if (result != kClientStarted) return result;
  thread_ = plat::ThreadStart(&ClientWorker::ThreadMain, this);
  if (!thread_) {
    Stop();
    return kClientThreadFailed;
  }
  return kClientStarted;
}

void ClientWorker::Stop() {
  plat::EventSet(stop_);
  plat::EventSet(wake_);
  if (transport_) transport_->Cancel();
  if (thread_) {
    plat::ThreadJoin(thread_);
    thread_ = nullptr;
  }
  Release();
}

void ClientWorker::Release() {
  LinkDestroy(link_);
  link_ = nullptr;
  mem::Delete(framer_);
  framer_ = nullptr;
  mem::Delete(transport_);
  transport_ = nullptr;
  if (timerResolutionHeld_) {
    plat::TimerResolutionEnd();
    timerResolutionHeld_ = false;
  }
  Lock();
  current_ = nullptr;
  running_ = false;
  Unlock();
}

void ClientWorker::SetCurrent(PollDefinition* poll) {
  Lock();
  current_ = poll;
  Unlock();
}

uint32_t ClientWorker::ThreadMain(void* argument) {
  ClientWorker* worker = static_cast<ClientWorker*>(argument);
  plat::Event* events[2] = {worker->stop_, worker->wake_};
  for (;;) {
    uint32_t waitMs = 0;
    ClientPassResult pass = worker->Pass(&waitMs);
    if (pass == kPassStop) return 0;
    if (pass == kPassWait) {
      int woke = plat::EventWaitAny(events, 2, waitMs);
      if (woke != 1 && woke != plat::kWaitTimedOut) return 0;  // stop, or a failed wait
    }
  }
}

ClientPassResult ClientWorker::Pass(uint32_t* waitMs) {
  *waitMs = 0;
  if (IsSet(stop_)) return kPassStop;
  if (holding_) {
    const int32_t left = TickDiff(holdUntil_, plat::Tick());
    if (left > 0) {
      *waitMs = static_cast<uint32_t>(left);
      return kPassWait;
    }
    holding_ = false;
  }
  ClientRequest request;
  polls_->Lock();
  PollDefinition* poll = polls_->TakeDue(plat::Tick(), &request, waitMs);
  polls_->Unlock();
  if (!poll) return kPassWait;

  SetCurrent(poll);
  ClientResponse response;
  int32_t result;
  if (!transport_->IsReady() && transport_->Open() != 1) {
    if (IsSet(stop_)) return kPassStop;
    polls_->Lock();
    StorePollStatus(poll, reopenFailureText_, true);
    bool active = polls_->Active() == poll;
    bool refresh = MarkPollValuesOld(poll) && active;
    polls_->Unlock();
    if (refresh) PostHostCommand(host_, HostCommandKind::RefreshTable);
    if (active) PostRxText(host_, reopenFailureText_, true);
    LogTrafficFailure(host_, kTrafficMaster, framer_->Kind(), kTrafficRx, reopenFailureText_);
    HoldFor(kReopenPaceMs);
  } else {
    if (IsSet(stop_)) return kPassStop;
    result = Transact(link_, request, &response, responseTimeoutMs_);
    // A Disconnect during the exchange publishes nothing; the log still
    // closes the request it sent.
    if (IsSet(stop_)) {
      if (result < 0 && !IsExceptionStatus(result)) {
        Unit statusBuffer[kStatusTextCapacity];
        LogTrafficFailure(host_, kTrafficMaster, framer_->Kind(), kTrafficRx, StatusText(result, statusBuffer));
      }
      return kPassStop;
    }
    Publish(poll, request, result, response);
  }
  SetCurrent(nullptr);
  return kPassExecuted;
}

void ClientWorker::HoldFor(uint32_t ms) {
  holdUntil_ = plat::Tick() + ms;
  holding_ = true;
}

void ClientWorker::Publish(PollDefinition* poll, const ClientRequest& request, int32_t result,
                           const ClientResponse& response) {
  Unit statusBuffer[kStatusTextCapacity];
  const Unit* text = nullptr;
  bool isError = false;
  bool refresh = false;
  polls_->Lock();
  bool active = polls_->Active() == poll;
  if (result >= 0) {
    refresh = ApplyPollResponse(poll, request, response) && active;
    if (IsBroadcast(*poll)) {
      uint32_t floor = plat::Tick() + kBroadcastFloorMs;
      if (TickBefore(poll->nextDue, floor)) poll->nextDue = floor;
      // The slaves carry the broadcast out unseen: whatever goes next, this
      // poll again or another tab's just selected, waits out the turnaround.
      HoldFor(kBroadcastFloorMs);
      text = kBroadcastText;
      StorePollStatus(poll, text, false);
    }
  } else {
    text = StatusText(result, statusBuffer);
    isError = true;
    // An exception answer is a frame of the log; any other failure a row
    // of its own.
    if (IsExceptionStatus(result)) {
      LogTrafficFrame(host_, kTrafficMaster, framer_->Kind(), kTrafficRx, link_->receiveBuffer, link_->receiveLength);
    } else {
      LogTrafficFailure(host_, kTrafficMaster, framer_->Kind(), kTrafficRx, text);
    }
    StorePollStatus(poll, text, true);
    refresh = MarkPollValuesOld(poll) && active;
  }
  polls_->Unlock();
  if (refresh) PostHostCommand(host_, HostCommandKind::RefreshTable);
  if (text && active) PostRxText(host_, text, isError);
}

void ClientWorker::TransmitMonitor(void* context, const uint8_t* bytes, uint32_t length) {
  ClientWorker* worker = static_cast<ClientWorker*>(context);
  LogTrafficFrame(worker->host_, kTrafficMaster, worker->framer_->Kind(), kTrafficTx, bytes, length);
  worker->Lock();
  if (worker->current_) {
    worker->polls_->Lock();
    bool active = worker->polls_->Active() == worker->current_;
    worker->polls_->Unlock();
    if (active) PostFrame(worker->host_, HostCommandKind::ShowTxFrame, bytes, length);
  }
  worker->Unlock();
}

void ClientWorker::ReceiveMonitor(void* context, const uint8_t* bytes, uint32_t length) {
  ClientWorker* worker = static_cast<ClientWorker*>(context);
  LogTrafficFrame(worker->host_, kTrafficMaster, worker->framer_->Kind(), kTrafficRx, bytes, length);
  worker->Lock();
  if (worker->current_) {
    worker->polls_->Lock();
    StorePollRx(worker->current_, bytes, length);
    bool active = worker->polls_->Active() == worker->current_;
    worker->polls_->Unlock();
    if (active) PostFrame(worker->host_, HostCommandKind::ShowRxFrame, bytes, length);
  }
  worker->Unlock();
}
