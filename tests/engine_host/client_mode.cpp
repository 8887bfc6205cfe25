// engine_host client: runs Transact count times over one of our transports
// and prints each exchange as the poll view's frame lines show it.
#include <stdio.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "client/transaction.h"
#include "engine_host.h"
#include "modbus/functions.h"
#include "modbus/link.h"

namespace {

struct ClientRun {
  bool quiet = false;
  std::string rx;  // bytes of the accepted response, set by the receive monitor
};

std::string Hex(const uint8_t* bytes, uint32_t length) {
  std::string text;
  char two[4];
  for (uint32_t i = 0; i < length; ++i) {
    snprintf(two, sizeof two, i ? " %02X" : "%02X", bytes[i]);
    text += two;
  }
  return text;
}

void ShowTx(void* context, const uint8_t* bytes, uint32_t length) {
  ClientRun* run = static_cast<ClientRun*>(context);
  if (!run->quiet) printf("TX: %s\n", Hex(bytes, length).c_str());
}

// Formatting is left to the printing, so a quiet run measures the exchange.
void KeepRx(void* context, const uint8_t* bytes, uint32_t length) {
  static_cast<ClientRun*>(context)->rx.assign(reinterpret_cast<const char*>(bytes), length);
}

bool BuildRequest(const Options& options, ClientRequest* request) {
  *request = ClientRequest();
  request->unitId = static_cast<uint8_t>(options.Number("unit", 1));
  request->function = static_cast<uint8_t>(options.Number("function", 3));
  request->address = static_cast<uint16_t>(options.Number("address", 0));
  request->quantity = static_cast<uint16_t>(options.Number("quantity", 1));
  std::vector<long> values;
  if (!ParseNumberList(options.Text("values"), &values)) return false;
  switch (request->function) {
    case kWriteSingleCoil:
    case kWriteSingleRegister:
      if (!values.empty()) request->quantity = static_cast<uint16_t>(values[0]);
      break;
    case kWriteMultipleCoils:
      if (!options.Has("quantity")) request->quantity = static_cast<uint16_t>(values.size());
      request->byteCount = static_cast<uint8_t>(BitByteCount(static_cast<uint32_t>(values.size())));
      for (size_t i = 0; i < values.size() && i / 8 < sizeof request->data; ++i)
        if (values[i]) request->data[i / 8] = static_cast<uint8_t>(request->data[i / 8] | (1u << (i % 8)));
      break;
    case kWriteMultipleRegisters:
      if (!options.Has("quantity")) request->quantity = static_cast<uint16_t>(values.size());
      request->byteCount = static_cast<uint8_t>(values.size() * 2);
      for (size_t i = 0; i < values.size() && 2 * i + 1 < sizeof request->data; ++i) {
        request->data[2 * i] = static_cast<uint8_t>(values[i] >> 8);
        request->data[2 * i + 1] = static_cast<uint8_t>(values[i]);
      }
      break;
    default:
      break;
  }
  return true;
}

}  // namespace

int RunClient(const Options& options, const TransportFamily& family) {
  ClientRun run;
  run.quiet = options.Has("quiet");
  ClientRequest request;
  if (!BuildRequest(options, &request)) {
    fprintf(stderr, "bad --values\n");
    return 2;
  }
  long count = options.Number("count", 1);
  // With a duration the run ends at whichever limit comes first.
  long durationMs = options.Number("duration-ms", 0);
  if (durationMs > 0 && !options.Has("count")) count = 0x7FFFFFFF;
  long periodMs = options.Number("period-ms", 0);
  uint32_t timeoutMs = static_cast<uint32_t>(options.Number("timeout-ms", 1500));
  Transport* transport = family.makeClient(options);
  Framer* framer = family.makeFramer(options);
  if (!transport || !framer) {
    delete framer;
    delete transport;
    return 2;
  }
  Link* link = LinkCreate(transport, framer, kLinkRoleClient, &run, ShowTx, KeepRx);

  long failures = 0;
  auto start = std::chrono::steady_clock::now();
  auto next = start;
  auto end = start + std::chrono::milliseconds(durationMs);
  long done = 0;
  for (; done < count; ++done) {
    if (durationMs > 0 && (done & 15) == 0 && std::chrono::steady_clock::now() >= end) break;
    if (periodMs > 0) {
      std::this_thread::sleep_until(next);
      next += std::chrono::milliseconds(periodMs);
    }
    run.rx.clear();
    int32_t status;
    // As the polling worker does: reopen a dropped transport first.
    if (!transport->IsReady() && !transport->Open()) {
      status = StatusNotConnected;
      if (!run.quiet) printf("RX: Reconnect failed\n");
    } else {
      ClientResponse response;
      status = Transact(link, request, &response, timeoutMs);
      if (!run.quiet) {
        if (status > 0 && !run.rx.empty()) {
          printf("RX: %s\n", Hex(reinterpret_cast<const uint8_t*>(run.rx.data()),
                                  static_cast<uint32_t>(run.rx.size())).c_str());
        } else if (status == 0) {
          printf("RX: -\n");
        } else {
          char text[128];
          printf("%s\n", StatusTextAscii(status, text, sizeof text));
        }
      }
    }
    if (status < 0) ++failures;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  printf("transactions %ld failures %ld seconds %.3f rate %.0f\n", done, failures, seconds,
         seconds > 0 ? static_cast<double>(done) / seconds : 0.0);
  fflush(stdout);
  LinkDestroy(link);
  delete framer;
  delete transport;
  return failures == 0 ? 0 : 1;
}
