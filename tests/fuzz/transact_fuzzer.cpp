// Transact against responses the input chooses, on every carrier. The first
// bytes pick the carrier and the request; the rest is what the transport
// delivers after the request went out. A positive result must be a
// response that answers the request, an exception must carry a non-zero
// code, and only an accepted normal response reaches the receive monitor.

#include <stddef.h>
#include <stdint.h>

#include "client/transaction.h"
#include "fuzz/fuzz_input.h"
#include "modbus/ascii_framer.h"
#include "modbus/functions.h"
#include "modbus/mbap_framer.h"
#include "modbus/rtu_framer.h"
#include "modbus/status.h"
#include "support/fake_clock.h"

namespace {

struct Monitor {
  int calls = 0;
  uint32_t length = 0;
};

void OnReceive(void* context, const uint8_t*, uint32_t length) {
  Monitor* monitor = static_cast<Monitor*>(context);
  ++monitor->calls;
  monitor->length = length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const uint8_t selector = input.Byte();
  FakeClock clock(0xFFFFF000u + input.Byte() * 16u);
  ScriptedTransport& transport = RestartedTransport();
  FuzzFramers framers;
  Framer* framer = &framers.mbap;
  switch (selector % 5) {
    case 0: framer = &framers.rtu; transport.frameMode = true; break;
    case 1: framer = &framers.rtuStream; break;
    case 2: framer = &framers.ascii; break;
    case 3: break;
    default:
      transport.frameMode = true;
      transport.messageOriented = 1;
      break;
  }
  static const uint8_t kFunctions[] = {
      kReadCoils,       kReadDiscreteInputs,  kReadHoldingRegisters, kReadInputRegisters,
      kWriteSingleCoil, kWriteSingleRegister, kWriteMultipleCoils,   kWriteMultipleRegisters};
  ClientRequest request;
  request.function = kFunctions[(selector / 5) % 8];
  request.unitId = static_cast<uint8_t>(1 + input.Byte() % 3);
  request.address = static_cast<uint16_t>(input.Byte() << 8 | input.Byte());
  request.quantity = static_cast<uint16_t>(1 + input.Byte() % 16);
  if (request.function == kWriteSingleCoil) request.quantity = (request.quantity & 1) ? kCoilOn : kCoilOff;
  if (request.address > 65536 - 16) request.address = 65536 - 16;
  if (request.function == kWriteMultipleCoils) request.byteCount = static_cast<uint8_t>(BitByteCount(request.quantity));
  if (request.function == kWriteMultipleRegisters) request.byteCount = static_cast<uint8_t>(2 * request.quantity);
  const uint16_t transaction = static_cast<uint16_t>(input.Byte() << 8 | input.Byte());
  // On frame carriers each chunk is one frame or datagram.
  input.Script(&transport);

  Monitor monitor;
  Link* link = LinkCreate(&transport, framer, kLinkRoleClient, &monitor, nullptr, &OnReceive);
  link->transactionCounter = transaction;
  ClientResponse response;
  const uint32_t before = FakeClock::Now();
  const int32_t status = Transact(link, request, &response, 1500);
  FUZZ_CHECK(FakeClock::Now() - before <= 1500u + 514u * 1000u);
  FUZZ_CHECK(transport.frames.size() == 1);
  if (status > 0) {
    FUZZ_CHECK(monitor.calls == 1);
    FUZZ_CHECK(monitor.length >= framer->MinAduLength());
    FUZZ_CHECK(!response.isException && response.function == request.function);
    FUZZ_CHECK(ResponseMatches(request, response));
    if (IsReadFunction(request.function)) {
      FUZZ_CHECK(status == response.byteCount + 1);
    } else {
      FUZZ_CHECK(status == 4 && response.echoAddress == request.address && response.echoValue == request.quantity);
    }
  } else {
    FUZZ_CHECK(monitor.calls == 0);
    FUZZ_CHECK(status != 0);
    if (IsExceptionStatus(status)) {
      FUZZ_CHECK(response.isException && response.exceptionCode != 0);
      FUZZ_CHECK(StatusFromException(response.exceptionCode) == status);
    } else {
      FUZZ_CHECK(status >= StatusSerialOverrun);
    }
  }
  LinkDestroy(link);
  transport.Restart();
  return 0;
}
