// ParseAdu of the three framers on arbitrary bytes. The first input byte
// picks the framer (and the ASCII end character); the rest is the ADU. A
// frame that parses must lie within its framing's limits and must come out
// of BuildAdu byte for byte the same.

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "fuzz/fuzz_input.h"
#include "modbus/ascii_framer.h"
#include "modbus/mbap_framer.h"
#include "modbus/rtu_framer.h"
#include "modbus/status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  RtuFramer rtu;
  AsciiFramer ascii;
  MbapFramer mbap;
  const uint8_t selector = data[0];
  const Framer* framer = &rtu;
  uint32_t maxLength = kMaxRtuAdu;
  if (selector % 3 == 1) {
    framer = &ascii;
    maxLength = kMaxAsciiAdu;
    if (selector & 0x80) ascii.SetEndCharacter('!');
  } else if (selector % 3 == 2) {
    framer = &mbap;
    maxLength = kMaxMbapAdu;
  }
  // An exact-size copy, so that ASan sees any read past the end.
  std::vector<uint8_t> adu(data + 1, data + size);
  const uint32_t length = static_cast<uint32_t>(adu.size());
  AduHeader header;
  Pdu pdu;
  const int32_t status = framer->ParseAdu(adu.data(), length, &header, &pdu);
  FUZZ_CHECK(status == StatusOk || status == StatusInvalidLength || status == StatusCrcError ||
             status == StatusLrcError || status == StatusInvalidFrame);
  if (status != StatusOk) return 0;
  FUZZ_CHECK(length >= framer->MinAduLength() && length <= maxLength);
  FUZZ_CHECK(pdu.length <= kMaxPduData);
  uint8_t rebuilt[kAduBufferSize];
  const int32_t n = framer->BuildAdu(header, pdu, rebuilt, sizeof rebuilt);
  FUZZ_CHECK(n == static_cast<int32_t>(length));
  for (uint32_t i = 0; i < length; ++i) FUZZ_CHECK(rebuilt[i] == adu[i]);
  return 0;
}
