#include "modbus/traffic_tap.h"

#include "common/platform.h"

namespace {

void Log(const HostLink* link, uint8_t role, FramingKind framing, uint8_t direction, const uint8_t* bytes,
         uint32_t length, const Unit* text, TrafficPeer peer, uint8_t kind) {
  TrafficFrame frame = {};
  frame.size = kTrafficFrameSize;
  frame.tick = plat::Tick();
  frame.direction = direction;
  frame.framing = TrafficFramingOf(framing);
  frame.role = role;
  frame.failure = text ? kind : static_cast<uint8_t>(kTrafficFrameRow);
  frame.bytes = bytes && length ? bytes : nullptr;
  frame.length = frame.bytes ? length : 0;
  frame.text = text;
  frame.peerAddress = peer.address;
  frame.peerPort = peer.port;
  link->logFrame(link->host, &frame);
}

// "RX: Timeout" -> "Timeout".
const Unit* WithoutLinePrefix(const Unit* text) {
  if (text[0] && text[1] && text[2] == u':' && text[3] == u' ' &&
      ((text[0] == u'R' || text[0] == u'T') && text[1] == u'X')) {
    return text + 4;
  }
  return text;
}

}  // namespace

uint8_t TrafficFramingOf(FramingKind kind) {
  switch (kind) {
    case FramingKind::kAscii: return kTrafficAscii;
    case FramingKind::kMbap: return kTrafficMbap;
    default: return kTrafficRtu;
  }
}

void LogTrafficFrame(const HostLink* link, uint8_t role, FramingKind framing, uint8_t direction,
                     const uint8_t* bytes, uint32_t length, TrafficPeer peer) {
  if (!HostLinkLogsTraffic(link)) return;
  Log(link, role, framing, direction, bytes, length, nullptr, peer, kTrafficFrameRow);
}

void LogTrafficFailure(const HostLink* link, uint8_t role, FramingKind framing, uint8_t direction,
                       const Unit* text, const uint8_t* bytes, uint32_t length, TrafficPeer peer, uint8_t kind) {
  if (!HostLinkLogsTraffic(link)) return;
  Log(link, role, framing, direction, bytes, length, WithoutLinePrefix(text ? text : u"Failure"), peer,
      kind == kTrafficFrameRow ? static_cast<uint8_t>(kTrafficFailureRow) : kind);
}
