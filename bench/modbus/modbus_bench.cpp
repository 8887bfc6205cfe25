// Figures for the stack's hot paths: building and parsing ADUs of each
// framing, and whole client transactions over an instant in-memory device.

#include <benchmark/benchmark.h>

#include <vector>

#include "bench/modbus/loopback_transport.h"
#include "client/transaction.h"
#include "modbus/ascii_framer.h"
#include "modbus/bus_monitor.h"
#include "modbus/link.h"
#include "modbus/mbap_framer.h"
#include "modbus/rtu_framer.h"

namespace {

// 0 RTU, 1 ASCII, 2 MBAP.
const Framer& FramerFor(int64_t which) {
  static RtuFramer rtu;
  static AsciiFramer ascii;
  static MbapFramer mbap;
  return which == 0 ? static_cast<const Framer&>(rtu) : which == 1 ? static_cast<const Framer&>(ascii) : mbap;
}

const char* const kFramerNames[] = {"RTU", "ASCII", "MBAP"};

// The response to a read of 125 registers: 251 data bytes, the largest
// response the client sees.
void BM_BuildParseRead125Response(benchmark::State& state) {
  const Framer& framer = FramerFor(state.range(0));
  state.SetLabel(kFramerNames[state.range(0)]);
  Pdu pdu;
  pdu.function = 3;
  pdu.length = 251;
  pdu.data[0] = 250;
  for (uint32_t i = 1; i < pdu.length; ++i) pdu.data[i] = static_cast<uint8_t>(i);
  AduHeader header;
  header.unitId = 1;
  header.transactionId = 7;
  uint8_t buffer[kAduBufferSize];
  AduHeader parsedHeader;
  Pdu parsed;
  for (auto _ : state) {
    int32_t n = framer.BuildAdu(header, pdu, buffer, sizeof buffer);
    int32_t status = framer.ParseAdu(buffer, static_cast<uint32_t>(n), &parsedHeader, &parsed);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(parsed.data[250]);
  }
}
BENCHMARK(BM_BuildParseRead125Response)->DenseRange(0, 2);

// A whole Transact: request built, written, answered, received, parsed and
// checked. Carriers: 0 serial RTU (whole frames), 1 RTU over TCP, 2 ASCII,
// 3 MBAP over TCP, 4 MBAP over UDP.
void Transactions(benchmark::State& state, const ClientRequest& request) {
  const int64_t carrier = state.range(0);
  static const char* const kNames[] = {"RTU frames", "RTU stream", "ASCII", "MBAP stream", "MBAP datagrams"};
  state.SetLabel(kNames[carrier]);
  RtuFramer rtu(carrier == 1);
  AsciiFramer ascii;
  MbapFramer mbap;
  const Framer* framer = carrier <= 1 ? static_cast<const Framer*>(&rtu)
                         : carrier == 2 ? static_cast<const Framer*>(&ascii)
                                        : &mbap;
  LoopbackTransport transport(framer, carrier == 0 || carrier == 4);
  Link* link = LinkCreate(&transport, const_cast<Framer*>(framer), kLinkRoleClient, nullptr, nullptr, nullptr);
  ClientResponse response;
  for (auto _ : state) {
    int32_t status = Transact(link, request, &response, 1000);
    if (status <= 0) state.SkipWithError("transaction failed");
    benchmark::DoNotOptimize(response.data[0]);
  }
  LinkDestroy(link);
}

void BM_TransactRead125(benchmark::State& state) {
  ClientRequest request;
  request.unitId = 1;
  request.function = 3;
  request.quantity = 125;
  Transactions(state, request);
}
BENCHMARK(BM_TransactRead125)->DenseRange(0, 4);

void BM_TransactWrite123(benchmark::State& state) {
  ClientRequest request;
  request.unitId = 1;
  request.function = 16;
  request.quantity = 123;
  request.byteCount = 246;
  for (uint32_t i = 0; i < 246; ++i) request.data[i] = static_cast<uint8_t>(i);
  Transactions(state, request);
}
BENCHMARK(BM_TransactWrite123)->DenseRange(0, 4);

}  // namespace

// The bus monitor framing a busy line: a master polling 125 registers and
// writing 123 from two slaves back to back with no silence between frames
// (every piece of 64 bytes a millisecond apart, below t3.5 at 9600 baud),
// 0 clean, 1 with three bytes of noise before every request (each costs a
// slide through the rules).
void BM_BusMonitorFraming(benchmark::State& state) {
  RtuFramer framer;
  std::vector<uint8_t> line;
  auto append = [&](uint8_t unit, uint8_t function, const std::vector<uint8_t>& data) {
    Pdu pdu;
    pdu.function = function;
    pdu.length = static_cast<uint32_t>(data.size());
    for (size_t i = 0; i < data.size(); ++i) pdu.data[i] = data[i];
    AduHeader header;
    header.unitId = unit;
    uint8_t adu[kAduBufferSize];
    const int32_t n = framer.BuildAdu(header, pdu, adu, sizeof adu);
    line.insert(line.end(), adu, adu + n);
  };
  std::vector<uint8_t> read125{250}, write123{0, 0, 0, 123, 246};
  for (int i = 0; i < 250; ++i) read125.push_back(static_cast<uint8_t>(i));
  for (int i = 0; i < 246; ++i) write123.push_back(static_cast<uint8_t>(i));
  for (uint8_t unit = 1; unit <= 2; ++unit) {
    if (state.range(0)) line.insert(line.end(), {0xFF, 0x13, 0xA5});
    append(unit, 3, {0, 0, 0, 125});
    append(unit, 3, read125);
    if (state.range(0)) line.insert(line.end(), {0xFF, 0x13, 0xA5});
    append(unit, 16, write123);
    append(unit, 16, {0, 0, 0, 123});
  }
  state.SetLabel(state.range(0) ? "with noise" : "clean");
  BusTiming timing;
  timing.silenceMs = 5;
  BusMonitor monitor(timing, nullptr, nullptr);
  uint32_t tick = 0;
  for (auto _ : state) {
    for (size_t at = 0; at < line.size(); at += 64) {
      const size_t take = line.size() - at < 64 ? line.size() - at : 64;
      monitor.Feed(line.data() + at, static_cast<uint32_t>(take), ++tick);
    }
  }
  if (monitor.Counts(1).answers == 0) state.SkipWithError("nothing framed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_BusMonitorFraming)->DenseRange(0, 1);

BENCHMARK_MAIN();
