// Request processing in memory, without a transport: decode, execute on the
// device map under its lock, and build the response PDU. Plus the cost of
// one alias lookup among many.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "server/request.h"

namespace {

Pdu MakePdu(uint8_t function, std::initializer_list<uint8_t> head, uint32_t fill = 0, uint8_t fillValue = 0) {
  Pdu pdu;
  pdu.function = function;
  for (uint8_t b : head) pdu.data[pdu.length++] = b;
  for (uint32_t i = 0; i < fill; ++i) pdu.data[pdu.length++] = fillValue;
  return pdu;
}

void Process(benchmark::State& state, const Pdu& request) {
  auto map = std::make_unique<DeviceMap>();
  for (uint32_t a = 0; a < 4000; ++a) map->WriteCellFromUser(a % 4, static_cast<uint16_t>(a), static_cast<int32_t>(a * 7));
  ServerRequest decoded;
  ServerResponse response;
  WrittenRange written;
  Pdu out;
  for (auto _ : state) {
    if (!DecodeRequest(request, &decoded)) state.SkipWithError("decode failed");
    ExecuteRequest(map.get(), decoded, &response, &written);
    if (BuildResponsePdu(response, &out) != StatusOk) state.SkipWithError("build failed");
    benchmark::DoNotOptimize(out.data);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["requests/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void ReadHoldingRegisters125(benchmark::State& state) { Process(state, MakePdu(3, {0, 0, 0, 125})); }
void WriteMultipleRegisters123(benchmark::State& state) { Process(state, MakePdu(16, {0, 10, 0, 123, 246}, 246, 0x5A)); }
void ReadCoils2000(benchmark::State& state) { Process(state, MakePdu(1, {0, 0, 0x07, 0xD0})); }

// A lookup that misses scans every alias: the worst case of a repaint row.
void GetAliasAmong10000(benchmark::State& state) {
  auto map = std::make_unique<DeviceMap>();
  for (int i = 0; i < 10000; ++i) {
    std::u16string text = u"alias " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26));
    map->SetAlias(static_cast<uint8_t>(i % 4), static_cast<uint16_t>(i), text.c_str());
  }
  const bool hit = state.range(0) != 0;
  Unit buffer[32];
  for (auto _ : state) {
    map->GetAlias(kAreaHoldingRegisters, hit ? 9999 : 60000, buffer, 32);
    benchmark::DoNotOptimize(buffer);
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(ReadHoldingRegisters125);
BENCHMARK(WriteMultipleRegisters123);
BENCHMARK(ReadCoils2000);
BENCHMARK(GetAliasAmong10000)->ArgName("last_entry")->Arg(1)->Arg(0);

}  // namespace

BENCHMARK_MAIN();
