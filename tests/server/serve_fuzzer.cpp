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
// Comparing the whole 512 KB map after every request would take most of the
// time, so the map's pages are kept read-only between requests: the first
// write to a page faults, the handler here opens the page and marks it, and
// the check compares only the marked pages (and any partial pages at the
// ends of the table, which are never protected; the maps are placed so that
// their cells fill whole pages). A change anywhere is still seen.

#include <sanitizer/lsan_interface.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
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

// Write tracking of the maps' cells. Regions are registered once, from the
// stations' construction; the handler only reads the list and marks pages.
struct Region {
  uintptr_t begin = 0;     // first whole page inside the cells
  uintptr_t end = 0;       // end of the last whole page
  size_t* written = nullptr;  // pages opened since the last check
  size_t writtenCount = 0;
};
constexpr int kMaxRegions = 8;
Region regions[kMaxRegions];
int regionCount = 0;
size_t pageSize = 0;
struct sigaction previousSegv;

void OnSegv(int signal, siginfo_t* info, void* context) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (int i = 0; i < regionCount; ++i) {
    Region& region = regions[i];
    if (at < region.begin || at >= region.end) continue;
    const size_t page = (at - region.begin) / pageSize;
    region.written[region.writtenCount++] = page;  // each page faults once
    mprotect(reinterpret_cast<void*>(region.begin + page * pageSize), pageSize, PROT_READ | PROT_WRITE);
    return;  // the write runs again, now allowed
  }
  // Not ours: whoever handled it before (the sanitizer's report) takes it.
  if (previousSegv.sa_flags & SA_SIGINFO) {
    previousSegv.sa_sigaction(signal, info, context);
  } else if (previousSegv.sa_handler != SIG_DFL && previousSegv.sa_handler != SIG_IGN) {
    previousSegv.sa_handler(signal);
  } else {
    ::signal(SIGSEGV, SIG_DFL);  // the fault repeats and ends the process
  }
}

Region* TrackWrites(const uint16_t* cells, size_t count) {
  if (pageSize == 0) {
    pageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action = {};
    action.sa_sigaction = &OnSegv;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGSEGV, &action, &previousSegv) != 0) std::abort();
  }
  if (regionCount == kMaxRegions) std::abort();
  const uintptr_t first = reinterpret_cast<uintptr_t>(cells);
  const uintptr_t last = first + count * sizeof(uint16_t);
  Region& region = regions[regionCount];
  region.begin = (first + pageSize - 1) / pageSize * pageSize;
  region.end = last / pageSize * pageSize;
  if (region.end < region.begin) region.end = region.begin;
  region.written = new size_t[(region.end - region.begin) / pageSize + 1];
  if (region.end > region.begin &&
      mprotect(reinterpret_cast<void*>(region.begin), region.end - region.begin, PROT_READ) != 0) {
    std::abort();
  }
  ++regionCount;
  return &region;
}

// A device map whose cells start on a page boundary, so that no page of
// them is shared with other data: every cell can be write-protected. It
// lives as long as the process, and the leak checker looks inside it.
DeviceMap* PageAlignedMap() {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t size = sizeof(DeviceMap) + page;
  void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) std::abort();
  __lsan_register_root_region(block, size);  // the map's own allocations are not leaks
  uint8_t* base = static_cast<uint8_t*>(block);
  DeviceMap* probe = new (base) DeviceMap();
  const size_t offset = static_cast<size_t>(reinterpret_cast<const uint8_t*>(probe->Table(0)) - base);
  probe->~DeviceMap();
  return new (base + (page - offset % page) % page) DeviceMap();
}

// Whether count cells at a and b are equal: the harness's comparison of its
// own memory, without sanitizer checks or coverage callbacks (see
// tests/fuzz/coverage_ignore.txt), so that it runs as a plain vector loop.
__attribute__((no_sanitize("address", "undefined"))) bool SameCells(const uint16_t* a, const uint16_t* b,
                                                                     size_t count) {
  uint16_t differ = 0;
  for (size_t i = 0; i < count; ++i) differ |= static_cast<uint16_t>(a[i] ^ b[i]);
  return differ == 0;
}

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
      : rig_(framing, own, acceptAny, PageAlignedMap()), shadow_(kAreaCount * kCellsPerArea) {
    cells_ = rig_.map->Table(0);  // the four tables lie one after the other
    region_ = TrackWrites(cells_, shadow_.size());
  }

  void Run(const uint8_t* data, size_t size) {
    const Framing framing = rig_.framing();
    rig_.transport.DeliverNow(data, size);
    // Every receive takes at least one byte, so this ends.
    for (size_t pass = 0; pass <= size + 1 && rig_.transport.InputLeft(); ++pass) ServeOne();
    SERVE_CHECK(!rig_.transport.InputLeft());
    // Release what this input recorded, so that libFuzzer sees every
    // allocation of the input freed and skips its leak scan.
    rig_.transport.frames = {};
    rig_.transport.written = {};
    rig_.transport.ClearCounts();  // the station lives for the whole run
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

  // Every cell that differs from the shadow: only where this request may
  // write, and reported as written.
  void CheckCells(int32_t status, const ServerRequest& request, const WrittenRange& written) {
    DeviceMap& map = *rig_.map;
    map.LockMap();
    const uintptr_t base = reinterpret_cast<uintptr_t>(cells_);
    const size_t cellsPerPage = pageSize / sizeof(uint16_t);
    const size_t headEnd = (region_->begin - base) / sizeof(uint16_t);
    const size_t tailBegin = (region_->end - base) / sizeof(uint16_t);
    CheckRange(0, headEnd, status, request, written);
    for (size_t i = 0; i < region_->writtenCount; ++i) {
      const size_t page = region_->written[i];
      CheckRange(headEnd + page * cellsPerPage, headEnd + (page + 1) * cellsPerPage, status, request, written);
      mprotect(reinterpret_cast<void*>(region_->begin + page * pageSize), pageSize, PROT_READ);
    }
    region_->writtenCount = 0;
    CheckRange(tailBegin, shadow_.size(), status, request, written);
    map.UnlockMap();
  }

  // Cells [from, to) of the four tables taken as one.
  void CheckRange(size_t from, size_t to, int32_t status, const ServerRequest& request, const WrittenRange& written) {
    const Framing framing = rig_.framing();
    if (from >= to || SameCells(shadow_.data() + from, cells_ + from, to - from)) return;
    const uint8_t f = request.function;
    const uint32_t first = request.address;
    const uint32_t count = (f == 5 || f == 6) ? 1u : request.quantityOrValue;
    for (size_t index = from; index < to; ++index) {
      if (shadow_[index] == cells_[index]) continue;
      const uint8_t area = static_cast<uint8_t>(index / kCellsPerArea);
      const uint32_t address = static_cast<uint32_t>(index % kCellsPerArea);
      SERVE_CHECK(status == StatusOk);
      SERVE_CHECK(f == 5 || f == 6 || f == 15 || f == 16);
      SERVE_CHECK(area == ((f == 5 || f == 15) ? kAreaCoils : kAreaHoldingRegisters));
      SERVE_CHECK(written.count == count && written.start == first && written.area == area);
      SERVE_CHECK(address >= first && address < first + count);
      SERVE_CHECK(area != kAreaCoils || cells_[index] <= 1);
      shadow_[index] = cells_[index];
    }
  }

  ServeRig rig_;
  std::vector<uint16_t> shadow_;
  const uint16_t* cells_ = nullptr;
  Region* region_ = nullptr;
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
