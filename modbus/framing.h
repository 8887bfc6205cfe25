#pragma once
// The framings of the stack and what differs between them, in one table
// (framing.cpp): how the link collects an ADU, what a unit id means, and how
// a framer of the kind is made. A new framing is a framer class, a
// FramingKind and its row of the table; the frameworks ask the row, never
// the kind.

#include <stdint.h>

class Framer;

enum class FramingKind : uint8_t {
  kRtu,        // RTU frames one per read: a serial line, RTU over UDP
  kAscii,      // ':' ... CR and the end character, on a serial line
  kMbap,       // MBAP header: a TCP stream or UDP datagrams
  kRtuStream,  // RTU on a TCP byte stream
};

// How the link collects one ADU from the transport.
enum class FrameReceipt : uint8_t {
  kWhole,       // one frame per ReadFrame
  kDelimited,   // from ':' to the end character, which a diagnostic may change
  kMbapLength,  // the MBAP header announces the length
  kRtuLength,   // the function code (and a byte count) tell the length
};

struct FramingTraits {
  FramingKind kind;
  FrameReceipt receipt;
  // The unit id is a slave address on a bus: 0 addresses every slave
  // (writes only, never answered), 1 to highestUnitId one slave, and a frame
  // for another slave passes by. Without it every unit id is alike.
  bool hasBroadcast;
  // The ADU starts with the MBAP header: an answer is matched by its
  // transaction id as well, the unit id follows the header, no check sum.
  bool mbapHeader;
  uint8_t highestUnitId;
  uint8_t defaultUnitId;  // what a new poll addresses
  // A framer of this kind on the toolkit heap; mem::Delete releases it.
  Framer* (*create)();
};

// The row of kind; the RTU row for a number outside the enumeration.
const FramingTraits& TraitsOf(FramingKind kind);

inline Framer* CreateFramer(FramingKind kind) { return TraitsOf(kind).create(); }
