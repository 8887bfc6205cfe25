// Figures for the stack's hot paths: building and parsing ADUs of each
// framing, and whole client transactions over an instant in-memory device.

#include <benchmark/benchmark.h>

#include "bench/modbus/loopback_transport.h"
#include "client/transaction.h"
#include "modbus/ascii_framer.h"
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

BENCHMARK_MAIN();
