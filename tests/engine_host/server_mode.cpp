// engine_host server: the request processing loop on a transport of ours,
// with a device map that the options may preset. Prints "ready" once it
// listens, serves until standard input closes, then prints its counters.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <thread>

#include "engine_host.h"
#include "modbus/link.h"
#include "server/device_map.h"
#include "server/request.h"

namespace {

struct ServerRun {
  Link* link = nullptr;
  DeviceMap* map = nullptr;
  bool mbap = true;
  uint8_t ownAddress = 1;
  uint32_t acceptAny = 0;
  DiagnosticState diagnostics = {};
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
  ++run->diagnostics.busMessageCount;
}

void Serve(ServerRun* run) {
  Transport* transport = run->link->transport;
  while (!run->stop.load()) {
    AduHeader header;
    ServerRequest request;
    int32_t status = ReceiveRequest(run->link, &header, &request, 500);
    if (status == StatusTimeout) continue;
    if (status == StatusCancelled) break;
    bool answerable = status == StatusOk || status == StatusUnsupportedFunction ||
                      status == StatusInvalidAddress || status == StatusInvalidRequest;
    WrittenRange written = {};
    int32_t sent;
    if (run->mbap) {
      if (!answerable) {
        if (status != StatusTransportError) ++run->receiveFailures;
        continue;
      }
      sent = ServeRequestMbap(run->link, run->map, run->ownAddress, run->acceptAny, status, header,
                              request, &written);
    } else {
      sent = ServeRequestSerial(run->link, run->map, &run->diagnostics, run->ownAddress, status,
                                header, request, &written);
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

bool Preset(DeviceMap* map, const std::string& spec) {
  static const char* const kAreas[] = {"co", "di", "ir", "hr"};
  size_t colon = spec.find(':');
  size_t equals = spec.find('=');
  if (colon == std::string::npos || equals == std::string::npos || equals < colon) return false;
  std::string area = spec.substr(0, colon);
  int index = -1;
  for (int i = 0; i < 4; ++i)
    if (area == kAreas[i]) index = i;
  if (index < 0) return false;
  long address = strtol(spec.c_str() + colon + 1, nullptr, 0);
  std::vector<long> values;
  if (!ParseNumberList(spec.substr(equals + 1), &values)) return false;
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
  if (run.mbap) {
    run.acceptAny = options.Has("any") || !options.Has("unit") ? 1 : 0;
    run.ownAddress = static_cast<uint8_t>(options.Number("unit", 255));
  } else {
    run.ownAddress = static_cast<uint8_t>(options.Number("slave", 1));
  }
  DeviceMap* map = new DeviceMap();
  for (const std::string& spec : options.All("set")) {
    if (!Preset(map, spec)) {
      fprintf(stderr, "bad --set %s\n", spec.c_str());
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
  run.map = map;
  run.link = LinkCreate(transport, framer, kLinkRoleServer, &run, nullptr, CountReceived);
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
  for (const std::string& spec : options.All("dump")) PrintDump(map, spec);
  fflush(stdout);
  LinkDestroy(run.link);
  delete framer;
  delete transport;
  delete map;
  return 0;
}

void PrintDump(DeviceMap* map, const std::string& spec) {
  static const char* const kAreas[] = {"co", "di", "ir", "hr"};
  int index = -1;
  for (int i = 0; i < 4; ++i)
    if (spec.compare(0, 2, kAreas[i]) == 0) index = i;
  long address = 0, count = 0;
  if (index < 0 || sscanf(spec.c_str() + 2, ":%ld:%ld", &address, &count) != 2) return;
  printf("dump %s:%ld", kAreas[index], address);
  for (long i = 0; i < count && address + i < 65536; ++i)
    printf(" %u", map->ReadCellLocked(static_cast<uint8_t>(index), static_cast<uint16_t>(address + i)));
  printf("\n");
}
