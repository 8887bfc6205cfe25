// The fault hook on a serial RTU slave's worker, over our RTU port transport
// behind the simulated line (Windows build): what leaves the port for each
// fault, and the split answer's silence, which must be longer than 3.5
// characters so that a master's framer ends the frame in the middle.
// Virtual time: one serving pass at a time on the test thread.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/memory.h"
#include "server/context_ops.h"
#include "server/fault_serve.h"
#include "server/serve_rig.h"
#include "support/view_host.h"
#include "transport/serial/line_timing.h"
#include "transport/serial/rtu_serial.h"
#include "transport/serial/simulated_line.h"

namespace {

SimulatedLine* gLine = nullptr;

Transport* RtuPort(const void*) {
  SerialLineSettings settings;
  settings.portName = u"COM29";
  settings.baudRate = 9600;
  settings.dataBits = 8;
  settings.parity = kParityEven;
  settings.stopBits = kStopBitsOne;
  return mem::New<RtuSerialTransport>(settings, gLine->Api());
}
Framer* RtuFrames(const void*) { return mem::New<RtuFramer>(false); }
uint8_t SlaveOne(const void*) { return 1; }

const ServerComposition kRtu = {ServerFamily::kSerial, u"Failed to open COM port. Please check if it's available.",
                                nullptr, RtuPort, RtuFrames, SlaveOne, nullptr, nullptr};

std::vector<std::u16string> gReported;
void Report(void*, const Unit* text) { gReported.push_back(text); }

struct Case {
  FaultKind kind;
  Bytes expected;  // what leaves the port
};

TEST(FaultSlaveOnALine, EachFaultOnTheWire) {
  const Bytes request = RtuAdu(1, Hex("03 00 00 00 02"));
  const Bytes answer = RtuAdu(1, Hex("03 04 12 34 56 78"));
  Bytes damaged = answer;
  damaged[answer.size() - 2] ^= 0xFF;
  damaged[answer.size() - 1] ^= 0xFF;
  const Case cases[] = {
      {FaultKind::kNone, answer},
      {FaultKind::kDrop, {}},
      {FaultKind::kLate, answer},
      {FaultKind::kException, RtuAdu(1, Hex("83 06"))},
      {FaultKind::kDamage, damaged},
      {FaultKind::kOtherUnit, RtuAdu(2, Hex("03 04 12 34 56 78"))},
      {FaultKind::kSplit, answer},
      {FaultKind::kClose, answer},  // not offered on a serial line: answered normally
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    SimulatedLine line;
    gLine = &line;
    ServerContext* context = ServerContextCreate(&kRtu, nullptr);
    ViewHost host(ContextOps(context));
    host.Attach();
    FaultServe fault;
    FaultServeInit(&fault, &Report, nullptr);
    FaultSettings settings;
    settings.delayMs = 5;
    settings.exceptionCode = 6;
    if (c.kind != FaultKind::kNone) settings.every[static_cast<int>(c.kind) - 1] = 1;
    FaultServeRestart(&fault, settings, false, 1);
    context->worker.session.hook = &fault.hook;
    gReported.clear();
    ASSERT_EQ(kWorkerStarted, OpenWorker(&context->worker, nullptr));
    context->map.WriteCellFromUser(kAreaHoldingRegisters, 0, 0x1234);
    context->map.WriteCellFromUser(kAreaHoldingRegisters, 1, 0x5678);

    line.Arrive(line.NowUs() + 1000, request);
    ServeOnePass(&context->worker);
    line.AdvanceUs(100000);
    const std::vector<SimulatedLine::SentByte> sent = line.Sent();
    Bytes bytes;
    for (const auto& b : sent) bytes.push_back(b.value);
    EXPECT_EQ(c.expected, bytes);

    const bool injected = c.kind != FaultKind::kNone && c.kind != FaultKind::kClose;
    ASSERT_EQ(injected ? 1u : 0u, gReported.size());
    if (injected) {
      EXPECT_EQ(std::u16string(u"RX: 01 03 00 00 00 02 C4 0B \u2014 ") + FaultName(c.kind), gReported[0]);
    }
    // The silence between two bytes: one character time when back to back.
    const uint64_t character = line.CharacterUs();
    uint64_t longest = 0;
    for (size_t i = 1; i < sent.size(); ++i) {
      const uint64_t gap = sent[i].startUs - sent[i - 1].startUs - character;
      longest = gap > longest ? gap : longest;
    }
    if (c.kind == FaultKind::kSplit) {
      EXPECT_GT(longest * 2, 7 * character) << "a silence longer than 3.5 characters in the middle";
    } else {
      EXPECT_LT(longest * 2, 3 * character) << "no silence of 1.5 characters inside the frame";
    }
    StopWorker(&context->worker);
    host.Detach();
    ServerContextDestroy(context);
    gLine = nullptr;
  }
}

}  // namespace
