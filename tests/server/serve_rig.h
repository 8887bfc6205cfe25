#pragma once
// A server on the scripted transport: raw request bytes go in, the worker's
// steps run once (ReceiveRequest, then the family's serve sequence), and the
// exact bytes written come out. The frame builders here compute CRC, LRC and
// MBAP headers on their own, independently of the framers under test.

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "modbus/ascii_framer.h"
#include "modbus/mbap_framer.h"
#include "modbus/rtu_framer.h"
#include "server/serve.h"
#include "support/fake_clock.h"
#include "support/scripted_transport.h"

using Bytes = std::vector<uint8_t>;

enum class Framing { kRtuFrame, kRtuStream, kAscii, kMbapStream, kMbapDatagram };

inline const char* FramingName(Framing framing) {
  switch (framing) {
    case Framing::kRtuFrame: return "RTU frame";
    case Framing::kRtuStream: return "RTU stream";
    case Framing::kAscii: return "ASCII";
    case Framing::kMbapStream: return "MBAP stream";
    default: return "MBAP datagram";
  }
}

inline bool IsMbap(Framing framing) { return framing == Framing::kMbapStream || framing == Framing::kMbapDatagram; }

// "01 03 0A" -> {0x01, 0x03, 0x0A}
inline Bytes Hex(const std::string& text) {
  Bytes out;
  unsigned value = 0;
  int digits = 0;
  for (char c : text) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d < 0) continue;
    value = value * 16 + static_cast<unsigned>(d);
    if (++digits == 2) {
      out.push_back(static_cast<uint8_t>(value));
      value = 0;
      digits = 0;
    }
  }
  return out;
}

// Bit by bit, independently of the framer's table-driven CRC.
inline uint16_t ReferenceCrc(const Bytes& bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}

// head followed by tail. (Appended byte by byte: GCC 12 at -O3 warns
// wrongly about vector::insert after a short initializer list.)
inline Bytes Prefixed(Bytes head, const Bytes& tail) {
  head.reserve(head.size() + tail.size());
  for (uint8_t b : tail) head.push_back(b);
  return head;
}

// pdu is the function code followed by its data.
inline Bytes RtuAdu(uint8_t unit, const Bytes& pdu, bool corrupt = false) {
  Bytes out = Prefixed({unit}, pdu);
  uint16_t crc = ReferenceCrc(out);
  if (corrupt) crc ^= 0x0101;
  out.push_back(static_cast<uint8_t>(crc & 0xFF));
  out.push_back(static_cast<uint8_t>(crc >> 8));
  return out;
}

inline Bytes AsciiAdu(uint8_t unit, const Bytes& pdu, uint8_t end = '\n', bool corrupt = false) {
  Bytes raw = Prefixed({unit}, pdu);
  uint8_t sum = 0;
  for (uint8_t b : raw) sum = static_cast<uint8_t>(sum + b);
  raw.push_back(static_cast<uint8_t>(-sum + (corrupt ? 1 : 0)));
  const char* digits = "0123456789ABCDEF";
  Bytes out{':'};
  for (uint8_t b : raw) {
    out.push_back(static_cast<uint8_t>(digits[b >> 4]));
    out.push_back(static_cast<uint8_t>(digits[b & 15]));
  }
  out.push_back('\r');
  out.push_back(end);
  return out;
}

inline Bytes MbapAdu(uint16_t transaction, uint8_t unit, const Bytes& pdu) {
  const size_t length = pdu.size() + 1;
  return Prefixed({static_cast<uint8_t>(transaction >> 8), static_cast<uint8_t>(transaction & 0xFF), 0, 0,
                   static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF), unit},
                  pdu);
}

inline Bytes Adu(Framing framing, uint8_t unit, uint16_t transaction, const Bytes& pdu, uint8_t end = '\n') {
  switch (framing) {
    case Framing::kRtuFrame:
    case Framing::kRtuStream: return RtuAdu(unit, pdu);
    case Framing::kAscii: return AsciiAdu(unit, pdu, end);
    default: return MbapAdu(transaction, unit, pdu);
  }
}

struct ServeResult {
  int32_t receiveStatus = 0;
  int32_t sendResult = 0;
  std::vector<Bytes> frames;  // everything sent for this request
  WrittenRange written{};
};

class ServeRig {
 public:
  // ownAddress: the slave ID (serial and RTU-over-IP) or the unit ID (MBAP).
  // external: a map the caller owns and places (the serve fuzzer keeps its
  // cells on whole pages); otherwise the rig makes its own.
  explicit ServeRig(Framing framing, uint8_t ownAddress = 1, bool acceptAny = false, DeviceMap* external = nullptr)
      : framing_(framing) {
    if (!external) ownMap_ = std::make_unique<DeviceMap>();
    map = external ? external : ownMap_.get();
    session.map = map;
    session.unitId = ownAddress;
    session.acceptAny = acceptAny;
    switch (framing) {
      case Framing::kRtuFrame: framer_ = std::make_unique<RtuFramer>(false); break;
      case Framing::kRtuStream: framer_ = std::make_unique<RtuFramer>(true); break;
      case Framing::kAscii: framer_ = std::make_unique<AsciiFramer>(); break;
      default: framer_ = std::make_unique<MbapFramer>(); break;
    }
    transport.frameMode = framing == Framing::kRtuFrame || framing == Framing::kMbapDatagram;
    transport.messageOriented = framing == Framing::kMbapDatagram ? 1 : 0;
    link = LinkCreate(&transport, framer_.get(), kLinkRoleServer, this, nullptr, &ServeRig::OnReceive);
    session.link = link;
  }
  ~ServeRig() { LinkDestroy(link); }
  ServeRig(const ServeRig&) = delete;
  ServeRig& operator=(const ServeRig&) = delete;

  // One pass of the worker over whatever the transport holds.
  ServeResult ServeNext() {
    ServeResult result;
    const size_t before = transport.frames.size();
    AduHeader header;
    ServerRequest request;
    result.receiveStatus = ReceiveRequest(&session, &header, &request, 500);
    if (IsMbap(framing_)) {
      result.sendResult = ServeRequestMbap(&session, result.receiveStatus, header, request, &result.written);
    } else {
      result.sendResult = ServeRequestSerial(&session, result.receiveStatus, header, request, &result.written);
    }
    result.frames.assign(transport.frames.begin() + static_cast<long>(before), transport.frames.end());
    return result;
  }

  ServeResult Serve(const Bytes& adu) {
    transport.DeliverNow(adu);
    return ServeNext();
  }

  Framing framing() const { return framing_; }
  Framer& framer() { return *framer_; }

  FakeClock clock;
  ScriptedTransport transport;
  DeviceMap* map = nullptr;
  Link* link = nullptr;
  ServeSession session;
  DiagnosticState& diagnostics = session.diagnostics;

 private:
  // As the worker's receive monitor does: every whole ADU is a bus message.
  static void OnReceive(void* context, const uint8_t*, uint32_t) {
    ++static_cast<ServeRig*>(context)->diagnostics.busMessageCount;
  }

  Framing framing_;
  std::unique_ptr<DeviceMap> ownMap_;
  std::unique_ptr<Framer> framer_;
};
