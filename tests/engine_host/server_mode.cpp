// engine_host server: the request processing loop on a transport of ours,
// with a device map that the options may preset. Prints "ready" once it
// listens, serves until standard input closes, then prints its counters.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine_host.h"
#include "modbus/link.h"
#include "server/device_map.h"
#include "server/fault_serve.h"
#include "server/serve.h"

namespace {

struct ServerRun {
  ServeSession session;
  FaultServe fault;
  bool mbap = true;
  // A serial port the transport closed after a driver failure is opened
  // again, as the slave plug-ins' worker does: Wine fails a wait on a
  // pseudo-terminal now and then, and a closed port would fail every
  // receive at once.
  bool reopens = false;
  std::atomic<bool> stop{false};
  // Counters, printed at the end.
  uint64_t received = 0;
  uint64_t answered = 0;
  uint64_t receiveFailures = 0;
  uint64_t sendFailures = 0;
};

void CountReceived(void* context, const uint8_t*, uint32_t) {
  ServerRun* run = static_cast<ServerRun*>(context);
  ++run->received;
  ++run->session.diagnostics.busMessageCount;
}

void Serve(ServerRun* run) {
  Transport* transport = run->session.link->transport;
  while (!run->stop.load()) {
    if (run->reopens && !transport->IsReady()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (transport->Open()) transport->PrepareExchange();
      continue;
    }
    AduHeader header;
    ServerRequest request;
    int32_t status = ReceiveRequest(&run->session, &header, &request, 500);
    if (status == StatusTimeout) continue;
    if (status == StatusCancelled) break;
    const bool answerable = IsAnswerable(status);
    WrittenRange written = {};
    int32_t sent;
    if (run->mbap) {
      if (!answerable) {
        if (status != StatusTransportError) ++run->receiveFailures;
        continue;
      }
      sent = ServeRequestMbap(&run->session, status, header, request, &written);
    } else {
      sent = ServeRequestSerial(&run->session, status, header, request, &written);
      if (!answerable) {
        ++run->receiveFailures;
        // A broken frame on a byte stream leaves the stream out of step.
        if (IsBusCommunicationError(status) && !transport->IsMessageOriented()) transport->PrepareExchange();
        continue;
      }
    }
    if (sent > 0) ++run->answered;
    else if (sent < 0 && sent != StatusCancelled) ++run->sendFailures;
  }
}

// The fault names of --fault NAME:EVERY, in the order of FaultKind.
const char* const kFaultNames[] = {"drop", "late", "exception", "damage", "other", "split", "close"};

// Prints each injected fault's RX line as "fault <text>".
void PrintFault(void*, const Unit* text) {
  std::string line;
  for (const Unit* p = text; *p; ++p) line += *p < 0x80 ? static_cast<char>(*p) : '-';
  printf("fault %s\n", line.c_str());
  fflush(stdout);
}

// --fault NAME:EVERY (repeatable), --delay MS, --exception CODE, --split-gap MS.
bool SetUpFaults(ServerRun* run, const Options& options) {
  FaultSettings settings;
  for (const std::string& fault : options.All("fault")) {
    const size_t colon = fault.find(':');
    bool known = false;
    for (uint32_t i = 0; i < kFaultKindCount && colon != std::string::npos; ++i) {
      if (fault.compare(0, colon, kFaultNames[i]) != 0) continue;
      settings.every[i] = static_cast<uint16_t>(strtol(fault.c_str() + colon + 1, nullptr, 0));
      known = true;
    }
    if (!known) return false;
  }
  if (!AnyFaultOn(settings)) return true;
  settings.delayMs = static_cast<uint32_t>(options.Number("delay", 1000));
  settings.exceptionCode = static_cast<uint8_t>(options.Number("exception", 4));
  FaultServeInit(&run->fault, &PrintFault, run);
  FaultServeRestart(&run->fault, settings, options.Text("transport", "tcp") == "tcp",
                    static_cast<uint32_t>(options.Number("split-gap", kTcpSplitGapMs)));
  run->session.hook = &run->fault.hook;
  return true;
}

// Option names of the four areas, in the order of the area numbers.
const char* const kAreaNames[] = {"co", "di", "ir", "hr"};

// The area number of a two-letter name at the start of text, or -1.
int AreaIndex(const std::string& text) {
  for (int i = 0; i < 4; ++i)
    if (text.compare(0, 2, kAreaNames[i]) == 0) return i;
  return -1;
}

// Applies one AREA:ADDR=V,... assignment of --set to the map.
bool Preset(DeviceMap* map, const std::string& assignment) {
  size_t colon = assignment.find(':');
  size_t equals = assignment.find('=');
  if (colon != 2 || equals == std::string::npos || equals < colon) return false;
  int index = AreaIndex(assignment);
  if (index < 0) return false;
  long address = strtol(assignment.c_str() + colon + 1, nullptr, 0);
  std::vector<long> values;
  if (!ParseNumberList(assignment.substr(equals + 1), &values)) return false;
  for (long value : values) {
    if (address > 65535) return false;
    map->WriteCellFromUser(static_cast<uint8_t>(index), static_cast<uint16_t>(address++),
                           static_cast<int32_t>(value));
  }
  return true;
}

}  // namespace

int RunServer(const Options& options, const TransportFamily& family) {
  ServerRun run;
  run.mbap = options.Text("framing", "mbap") == "mbap";
  run.reopens = options.Text("transport", "") == "serial";
  if (run.mbap) {
    run.session.acceptAny = options.Has("any") || !options.Has("unit");
    run.session.unitId = static_cast<uint8_t>(options.Number("unit", 255));
  } else {
    run.session.unitId = static_cast<uint8_t>(options.Number("slave", 1));
  }
  if (!SetUpFaults(&run, options)) {
    fprintf(stderr, "bad --fault\n");
    return 2;
  }
  DeviceMap* map = new DeviceMap();
  for (const std::string& assignment : options.All("set")) {
    if (!Preset(map, assignment)) {
      fprintf(stderr, "bad --set %s\n", assignment.c_str());
      return 2;
    }
  }
  Transport* transport = family.makeServer(options);
  Framer* framer = family.makeFramer(options);
  int refused = !transport || !framer ? 2 : 0;
  if (!refused && (!transport->Open() || !transport->PrepareExchange())) {
    printf("cannot listen on port %ld\n", options.Number("port", 502));
    refused = 1;
  }
  if (refused) {
    delete framer;
    delete transport;
    delete map;
    return refused;
  }
  run.session.map = map;
  run.session.link = LinkCreate(transport, framer, kLinkRoleServer, &run, nullptr, CountReceived);
  printf("ready\n");
  fflush(stdout);

  std::thread worker(Serve, &run);
  char line[256];
  while (fgets(line, sizeof line, stdin)) {
  }
  run.stop.store(true);
  transport->Cancel();
  worker.join();

  printf("received %llu answered %llu receive-failures %llu send-failures %llu\n",
         static_cast<unsigned long long>(run.received), static_cast<unsigned long long>(run.answered),
         static_cast<unsigned long long>(run.receiveFailures),
         static_cast<unsigned long long>(run.sendFailures));
  for (const std::string& range : options.All("dump")) PrintDump(map, range);
  fflush(stdout);
  LinkDestroy(run.session.link);
  delete framer;
  delete transport;
  delete map;
  return 0;
}

void PrintDump(DeviceMap* map, const std::string& range) {
  int index = AreaIndex(range);
  long address = 0, count = 0;
  if (index < 0 || sscanf(range.c_str() + 2, ":%ld:%ld", &address, &count) != 2) return;
  printf("dump %s:%ld", kAreaNames[index], address);
  for (long i = 0; i < count && address + i < 65536; ++i)
    printf(" %u", map->ReadCellLocked(static_cast<uint8_t>(index), static_cast<uint16_t>(address + i)));
  printf("\n");
}
