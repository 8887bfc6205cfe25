// ReceiveAdu of every kind, fed the input through the scripted transport in
// chunks and at times the input chooses. The first byte picks the kind of
// link; receiving repeats until the script is used up. Every positive
// result must be an ADU within its framing's limits that parses again from
// the link's receive buffer.

#include <stddef.h>
#include <stdint.h>

#include "fuzz/fuzz_input.h"
#include "modbus/ascii_framer.h"
#include "modbus/link.h"
#include "modbus/mbap_framer.h"
#include "modbus/rtu_framer.h"
#include "modbus/status.h"
#include "support/fake_clock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const uint8_t selector = input.Byte();
  FakeClock clock(0xFFFFF000u + input.Byte() * 16u);  // wraps during many runs
  ScriptedTransport& transport = RestartedTransport();
  FuzzFramers framers;
  Framer* framer = &framers.mbap;
  uint8_t role = (selector & 0x80) ? kLinkRoleServer : kLinkRoleClient;
  uint32_t maxLength = kMaxRtuAdu;
  switch (selector % 6) {
    case 0:  // serial RTU, RTU over UDP: one frame per chunk
    case 1:
      framer = &framers.rtu;
      transport.frameMode = true;
      transport.messageOriented = selector % 6;
      break;
    case 2:
      framer = &framers.rtuStream;
      break;
    case 3:
      framer = &framers.ascii;
      if (selector & 0x40) framer->SetEndCharacter('!');
      maxLength = kMaxAsciiAdu;
      break;
    case 4:
      maxLength = kMaxMbapAdu;
      break;
    default:
      transport.frameMode = true;
      transport.messageOriented = 1;
      maxLength = kMaxMbapAdu;
      break;
  }
  input.Script(&transport);
  Link* link = LinkCreate(&transport, framer, role, nullptr, nullptr, nullptr);
  for (int round = 0; round < 1000 && transport.InputLeft(); ++round) {
    AduHeader header;
    Pdu pdu;
    const uint32_t before = FakeClock::Now();
    const int32_t n = ReceiveAdu(link, &header, &pdu, 1000);
    // No receive outlives the caller's timeout, the 2 s for the rest of a
    // stream frame, or one second per ASCII character.
    FUZZ_CHECK(FakeClock::Now() - before <= 1000u + 514u * 1000u);
    if (n <= 0) {
      FUZZ_CHECK(n < 0);
      FUZZ_CHECK(n >= StatusSerialOverrun);
      continue;
    }
    FUZZ_CHECK(static_cast<uint32_t>(n) >= framer->MinAduLength());
    FUZZ_CHECK(static_cast<uint32_t>(n) <= maxLength);
    FUZZ_CHECK(pdu.length <= kMaxPduData);
    AduHeader again;
    Pdu parsed;
    FUZZ_CHECK(framer->ParseAdu(link->receiveBuffer, static_cast<uint32_t>(n), &again, &parsed) == StatusOk);
    FUZZ_CHECK(again.unitId == header.unitId && parsed.function == pdu.function && parsed.length == pdu.length);
  }
  LinkDestroy(link);
  transport.Restart();
  return 0;
}
