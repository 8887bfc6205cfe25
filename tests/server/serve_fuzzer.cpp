// Any byte sequence as received by each kind of server: the RTU frame and
// RTU stream and ASCII servers of the serial family, the MBAP stream server
// with "Accept any" and the MBAP datagram server for unit 5. Each keeps its
// device map and diagnostic state from one input to the next, as a running
// server does. Checked after every request:
//   - at most one response, within the framing's length limit, well formed
//     for the framing, with the request's unit (and transaction) identifier
//     and function code (bit 7 set for an exception);
//   - cells change only for a write request, and only inside the cells it
//     names, which is also the written range reported.

#include <stddef.h>
#include <stdint.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "serve_rig.h"

namespace {

#define SERVE_CHECK(condition)                                                      \
  do {                                                                              \
    if (!(condition)) {                                                             \
      std::fprintf(stderr, "%s: check failed: %s\n", FramingName(framing), #condition); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

uint32_t AduLimit(Framing framing) {
  switch (framing) {
    case Framing::kAscii: return kMaxAsciiAdu;
    case Framing::kMbapStream:
    case Framing::kMbapDatagram: return kMaxMbapAdu;
    default: return kMaxRtuAdu;
  }
}

class Station {
 public:
  Station(Framing framing, uint8_t own, bool acceptAny)
      : rig_(framing, own, acceptAny), shadow_(kAreaCount * kCellsPerArea) {}

  void Run(const uint8_t* data, size_t size) {
    const Framing framing = rig_.framing();
    rig_.transport.DeliverNow(Bytes(data, data + size));
    // Every receive takes at least one byte, so this ends.
    for (size_t pass = 0; pass <= size + 1 && rig_.transport.InputLeft(); ++pass) ServeOne();
    SERVE_CHECK(!rig_.transport.InputLeft());
    // Release what this input recorded, so that libFuzzer sees every
    // allocation of the input freed and skips its leak scan.
    rig_.transport.frames = {};
    rig_.transport.written = {};
  }

 private:
  void ServeOne() {
    const Framing framing = rig_.framing();
    const size_t before = rig_.transport.frames.size();
    const uint8_t endBefore = rig_.framer().EndCharacter();
    AduHeader header;
    ServerRequest request;
    WrittenRange written{};
    const int32_t status = ReceiveRequest(&rig_.session, &header, &request, 500);
    int32_t sent;
    if (IsMbap(framing)) {
      sent = ServeRequestMbap(&rig_.session, status, header, request, &written);
    } else {
      sent = ServeRequestSerial(&rig_.session, status, header, request, &written);
    }
    const size_t responses = rig_.transport.frames.size() - before;
    SERVE_CHECK(responses <= 1);
    SERVE_CHECK(responses == 0 || sent > 0);
    if (responses == 1) CheckResponse(rig_.transport.frames.back(), header, request, endBefore);
    CheckCells(status, request, written);
  }

  void CheckResponse(const Bytes& adu, const AduHeader& header, const ServerRequest& request, uint8_t end) {
    const Framing framing = rig_.framing();
    SERVE_CHECK(adu.size() <= AduLimit(framing));
    std::unique_ptr<Framer> parser;
    if (framing == Framing::kAscii) {
      auto ascii = std::make_unique<AsciiFramer>();
      ascii->SetEndCharacter(end);  // the response goes out before a new end character applies
      parser = std::move(ascii);
    } else if (IsMbap(framing)) {
      parser = std::make_unique<MbapFramer>();
    } else {
      parser = std::make_unique<RtuFramer>();
    }
    AduHeader responseHeader;
    Pdu pdu;
    SERVE_CHECK(parser->ParseAdu(adu.data(), static_cast<uint32_t>(adu.size()), &responseHeader, &pdu) == StatusOk);
    SERVE_CHECK(responseHeader.unitId == header.unitId);
    SERVE_CHECK(responseHeader.transactionId == header.transactionId);
    SERVE_CHECK((pdu.function & 0x7F) == request.function);
    SERVE_CHECK(!IsMbap(framing) ? header.unitId != 0 : true);
  }

  void CheckCells(int32_t status, const ServerRequest& request, const WrittenRange& written) {
    const Framing framing = rig_.framing();
    DeviceMap& map = *rig_.map;
    map.LockMap();
    for (uint8_t area = 0; area < kAreaCount; ++area) {
      uint16_t* shadow = shadow_.data() + area * kCellsPerArea;
      const uint16_t* table = map.Table(area);
      if (std::memcmp(shadow, table, kCellsPerArea * sizeof(uint16_t)) == 0) continue;
      SERVE_CHECK(status == StatusOk);
      const uint8_t f = request.function;
      SERVE_CHECK(f == 5 || f == 6 || f == 15 || f == 16);
      SERVE_CHECK(area == ((f == 5 || f == 15) ? kAreaCoils : kAreaHoldingRegisters));
      const uint32_t first = request.address;
      const uint32_t count = (f == 5 || f == 6) ? 1u : request.quantityOrValue;
      SERVE_CHECK(written.count == count && written.start == first && written.area == area);
      for (uint32_t address = 0; address < kCellsPerArea; ++address) {
        if (shadow[address] == table[address]) continue;
        SERVE_CHECK(address >= first && address < first + count);
        SERVE_CHECK(area != kAreaCoils || table[address] <= 1);
        shadow[address] = table[address];
      }
    }
    map.UnlockMap();
  }

  ServeRig rig_;
  std::vector<uint16_t> shadow_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Station* stations[] = {
      new Station(Framing::kRtuFrame, 1, false),   new Station(Framing::kRtuStream, 1, false),
      new Station(Framing::kAscii, 1, false),      new Station(Framing::kMbapStream, 5, true),
      new Station(Framing::kMbapDatagram, 5, false),
  };
  for (Station* station : stations) station->Run(data, size);
  return 0;
}
