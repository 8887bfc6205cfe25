#pragma once
// The plug-in side of the traffic log: hands a frame or a failure to the
// shell through HostLink::logFrame, stamped with the tick of the moment it
// is called (the worker thread calls it as the bytes go out or are
// accepted). A null link, or a shell without the log (an older one hands a
// shorter link), takes nothing: one comparison per frame.

#include <stdint.h>

#include "common/plugin_interface.h"
#include "modbus/framing.h"

// The peer of a server's exchange; 0 and 0 where there is only one.
struct TrafficPeer {
  uint32_t address = 0;
  uint16_t port = 0;
};

uint8_t TrafficFramingOf(FramingKind kind);

void LogTrafficFrame(const HostLink* link, uint8_t role, FramingKind framing, uint8_t direction,
                     const uint8_t* bytes, uint32_t length, TrafficPeer peer = TrafficPeer());

// A failure row (kind kTrafficFailureRow, or kTrafficNoticeRow for what is
// no fault). text may start with the frame lines' "RX: " or "TX: ",
// which the row leaves out (its direction says it); bytes, when given, are
// the frame the failure concerns.
void LogTrafficFailure(const HostLink* link, uint8_t role, FramingKind framing, uint8_t direction,
                       const Unit* text, const uint8_t* bytes = nullptr, uint32_t length = 0,
                       TrafficPeer peer = TrafficPeer(), uint8_t kind = kTrafficFailureRow);
