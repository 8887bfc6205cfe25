#include "server/server_context.h"

#include "common/memory.h"
#include "server/map_view.h"
#include "view/connection_texts.h"
#include "view/host_command_sender.h"

namespace {

const Unit* const kAreaNames[kAreaCount] = {
    u"Coils (0x)",
    u"Discrete Inputs (1x)",
    u"Input Registers (3x)",
    u"Holding Registers (4x)",
};

void ShowError(const HostLink* link, const Unit* text) {
  HostCommandArgs args;
  args.text = text;
  args.caption = kConnectionErrorCaption;
  SendHostCommand(link, HostCommandKind::ShowError, args);
}

int64_t Connect(ServerContext* context) {
  const int32_t result = StartWorker(&context->worker, context->settings);
  switch (result) {
    case kWorkerStarted: SendRxText(context->hostLink, kIdleRxText, false); return 1;
    case kWorkerOpenFailed: ShowError(context->hostLink, context->composition->openFailureText); return 0;
    default: ShowError(context->hostLink, kThreadFailureText); return 0;
  }
}

void Disconnect(ServerContext* context) {
  StopWorker(&context->worker);
  SendRxText(context->hostLink, kIdleRxText, false);
}

}  // namespace

ServerContext* ServerContextCreate(const ServerComposition* composition, const void* settings) {
  ServerContext* context = mem::New<ServerContext>();
  context->composition = composition;
  context->settings = settings;
  ViewListInit(&context->views);
  WorkerInit(&context->worker, composition, &context->hostLink, &context->map, &context->views);
  return context;
}

void ServerContextDestroy(ServerContext* context) {
  if (!context) return;
  WorkerRelease(&context->worker);
  ViewListRelease(&context->views);
  mem::Delete(context);
}

void ServerAttach(ServerContext* context, const HostLink* link) {
  context->hostLink = link;
  SendHostCommand(link, HostCommandKind::ClearChoices);
  for (uint32_t area = 0; area < kAreaCount; ++area) {
    HostCommandArgs choice;
    choice.index = area;
    choice.text = kAreaNames[area];
    SendHostCommand(link, HostCommandKind::AddChoice, choice);
  }
  SendRxText(link, kIdleRxText, false);
  AddMapView(context);
}

void ServerDetach(ServerContext* context) {
  StopWorker(&context->worker);
  plat::MutexLock(context->views.lock);
  ClearViews(&context->views);
  context->currentView = nullptr;
  plat::MutexUnlock(context->views.lock);
  context->hostLink = nullptr;
}

int64_t ServerHandleEvent(ServerContext* context, const ViewEvent* event) {
  if (!event) return 0;
  switch (event->kind) {
    case ViewEventKind::Connect: return Connect(context);
    case ViewEventKind::Disconnect: Disconnect(context); return 0;
    default: return HandleMapViewEvent(context, event);
  }
}
