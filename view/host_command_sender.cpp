#include "view/host_command_sender.h"

namespace {

HostCommand Build(HostCommandKind kind, const HostCommandArgs& args) {
  HostCommand command{};
  command.kind = kind;
  command.index = args.index;
  command.value = args.value;
  command.text = args.text;
  command.caption = args.caption;
  command.data = args.data;
  command.length = args.length;
  return command;
}

HostCommandArgs RxTextArgs(const Unit* text, bool isError) {
  HostCommandArgs args;
  args.text = text;
  args.index = isError ? 1 : 0;
  return args;
}

HostCommandArgs FrameArgs(const uint8_t* bytes, uint32_t length) {
  HostCommandArgs args;
  args.data = length ? bytes : nullptr;
  args.length = bytes ? length : 0;
  return args;
}

}  // namespace

void SendHostCommand(const HostLink* link, HostCommandKind kind, const HostCommandArgs& args) {
  if (!link || !link->send) return;
  HostCommand command = Build(kind, args);
  link->send(link->host, &command);
}

void PostHostCommand(const HostLink* link, HostCommandKind kind, const HostCommandArgs& args) {
  if (!link || !link->post) return;
  HostCommand command = Build(kind, args);
  link->post(link->host, &command);
}

void SendRxText(const HostLink* link, const Unit* text, bool isError) {
  SendHostCommand(link, HostCommandKind::ShowRxText, RxTextArgs(text, isError));
}

void PostRxText(const HostLink* link, const Unit* text, bool isError) {
  PostHostCommand(link, HostCommandKind::ShowRxText, RxTextArgs(text, isError));
}

void SendFrame(const HostLink* link, HostCommandKind kind, const uint8_t* bytes, uint32_t length) {
  SendHostCommand(link, kind, FrameArgs(bytes, length));
}

void PostFrame(const HostLink* link, HostCommandKind kind, const uint8_t* bytes, uint32_t length) {
  PostHostCommand(link, kind, FrameArgs(bytes, length));
}
