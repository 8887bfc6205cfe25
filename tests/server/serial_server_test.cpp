// The serial servers' worker on our serial port transports behind a
// simulated line (Windows build): the ASCII slave's delimiter change, a CRC
// error shown, counted and followed by an answered request, line errors, and
// a port that does not open. Virtual time: one serving pass at a time on the
// test thread.

#include <gtest/gtest.h>

#include "common/memory.h"
#include "server/context_ops.h"
#include "server/serve_rig.h"
#include "support/view_host.h"
#include "transport/serial/ascii_serial.h"
#include "transport/serial/line_timing.h"
#include "transport/serial/rtu_serial.h"
#include "transport/serial/simulated_line.h"

namespace {

SimulatedLine* gLine = nullptr;

SerialLineSettings LineSettings(uint8_t dataBits) {
  SerialLineSettings settings;
  settings.portName = u"COM5";
  settings.baudRate = 19200;
  settings.dataBits = dataBits;
  settings.parity = kParityEven;
  settings.stopBits = kStopBitsOne;
  return settings;
}

Transport* AsciiPort(const void*) { return mem::New<AsciiSerialTransport>(LineSettings(7), gLine->Api()); }
Transport* RtuPort(const void*) { return mem::New<RtuSerialTransport>(LineSettings(8), gLine->Api()); }
Framer* AsciiFrames(const void*) { return mem::New<AsciiFramer>(); }
Framer* RtuFrames(const void*) { return mem::New<RtuFramer>(false); }
uint8_t SlaveOne(const void*) { return 1; }

const ServerComposition kAscii = {ServerFamily::kSerial, u"Failed to open COM port. Please check if it's available.",
                                  nullptr, AsciiPort, AsciiFrames, SlaveOne, nullptr, nullptr};
const ServerComposition kRtu = {ServerFamily::kSerial, u"Failed to open COM port. Please check if it's available.",
                                nullptr, RtuPort, RtuFrames, SlaveOne, nullptr, nullptr};

class LineRig {
 public:
  explicit LineRig(const ServerComposition* composition)
      : context(ServerContextCreate(composition, nullptr)), host(ContextOps(context)) {
    gLine = &line;
    host.Attach();
  }
  ~LineRig() {
    host.Detach();
    ServerContextDestroy(context);
    gLine = nullptr;
  }

  bool Open() { return OpenWorker(&context->worker, nullptr) == kWorkerStarted; }
  // One request arrives on the line and is served.
  Bytes Serve(const Bytes& request) {
    const size_t before = line.SentBytes().size();
    line.Arrive(line.NowUs() + 1000, request);
    ServeOnePass(&context->worker);
    host.Pump();
    const Bytes sent = line.SentBytes();
    return Bytes(sent.begin() + static_cast<long>(before), sent.end());
  }
  const DiagnosticState& Diagnostics() const { return context->worker.session.diagnostics; }

  SimulatedLine line;
  ServerContext* context;
  ViewHost host;
};

const Bytes kRead = Hex("03 00 00 00 01");

TEST(SerialServerOnALine, TheAsciiDelimiterChangesAfterTheResponseThatSetsIt) {
  LineRig rig(&kAscii);
  ASSERT_TRUE(rig.Open());
  rig.context->map.WriteCellFromUser(kAreaHoldingRegisters, 0, 0x1234);
  EXPECT_EQ(rig.Serve(AsciiAdu(1, kRead)), AsciiAdu(1, Hex("03 02 12 34")));
  // Change ASCII Input Delimiter to '!': its own response still ends with LF.
  EXPECT_EQ(rig.Serve(AsciiAdu(1, Hex("08 00 03 21 00"))), AsciiAdu(1, Hex("08 00 03 21 00")));
  EXPECT_EQ(rig.Serve(AsciiAdu(1, kRead, '!')), AsciiAdu(1, Hex("03 02 12 34"), '!'));
  // ':' cannot be a delimiter; the RTU-only sub-function does not exist here.
  EXPECT_EQ(rig.Serve(AsciiAdu(1, Hex("08 00 03 3A 00"), '!')), AsciiAdu(1, Hex("88 03"), '!'));
  EXPECT_EQ(rig.Diagnostics().busExceptionErrorCount, 1);
  // An LRC error is shown and counted; the next request is answered.
  EXPECT_TRUE(rig.Serve(AsciiAdu(1, kRead, '!', true)).empty());
  EXPECT_EQ(rig.host.rxLine, u"RX: LRC error");
  EXPECT_TRUE(rig.host.rxError);
  EXPECT_EQ(rig.Diagnostics().busCommunicationErrorCount, 1);
  EXPECT_EQ(rig.Serve(AsciiAdu(1, kRead, '!')), AsciiAdu(1, Hex("03 02 12 34"), '!'));
  // A new connection starts again with LF.
  ASSERT_TRUE(rig.Open());
  EXPECT_EQ(rig.Serve(AsciiAdu(1, kRead)), AsciiAdu(1, Hex("03 02 12 34")));
}

TEST(SerialServerOnALine, RtuLineErrorsAreShownCountedAndTheNextRequestAnswered) {
  LineRig rig(&kRtu);
  ASSERT_TRUE(rig.Open());
  EXPECT_TRUE(rig.Serve(RtuAdu(1, kRead, true)).empty());
  EXPECT_EQ(rig.host.rxLine, u"RX: CRC error");
  EXPECT_EQ(rig.Serve(RtuAdu(1, kRead)), RtuAdu(1, Hex("03 02 00 00")));
  EXPECT_EQ(rig.host.rxLine, HexLine(u"RX: ", RtuAdu(1, kRead)));

  struct LineError {
    DWORD errors;
    const char16_t* text;
    uint16_t overruns;
  };
  const LineError errors[] = {{CE_FRAME, u"RX: Serial framing error", 0},
                              {CE_OVERRUN, u"RX: Serial character overrun", 1}};
  for (const LineError& e : errors) {
    rig.line.RaiseErrors(rig.line.NowUs() + 1000, e.errors, true);
    rig.line.Arrive(rig.line.NowUs() + 1000, RtuAdu(1, kRead));
    ServeOnePass(&rig.context->worker);
    rig.host.Pump();
    EXPECT_EQ(rig.host.rxLine, e.text);
    EXPECT_EQ(rig.Diagnostics().busCharacterOverrunCount, e.overruns);
    // After the resynchronisation the line serves again.
    rig.line.AdvanceUs(100000);
    EXPECT_EQ(rig.Serve(RtuAdu(1, kRead)), RtuAdu(1, Hex("03 02 00 00")));
  }
  EXPECT_EQ(rig.Diagnostics().busCommunicationErrorCount, 3);
  EXPECT_EQ(rig.Serve(RtuAdu(1, Hex("08 00 0C 00 00"))), RtuAdu(1, Hex("08 00 0C 00 03")));
  // Listen only: silent until Restart Communications, whose own answer is
  // withheld too.
  EXPECT_TRUE(rig.Serve(RtuAdu(1, Hex("08 00 04 00 00"))).empty());
  EXPECT_TRUE(rig.Serve(RtuAdu(1, kRead)).empty());
  EXPECT_TRUE(rig.Serve(RtuAdu(1, Hex("08 00 01 00 00"))).empty());
  EXPECT_EQ(rig.Serve(RtuAdu(1, kRead)), RtuAdu(1, Hex("03 02 00 00")));
}

// The adapter is pulled out while the RTU slave waits for a request and
// plugged back in 3.5 s later, for each error a removed device's driver
// gives: "RX: Transport error" shows once, the port is tried again about
// once a second (the passes in between wait rather than spin), and the
// slave answers again with no call from the user.
TEST(SerialServerOnALine, AnUnpluggedAdapterIsReopenedWhenItReturns) {
  for (DWORD error : {ERROR_BAD_COMMAND, ERROR_ACCESS_DENIED, ERROR_OPERATION_ABORTED, ERROR_GEN_FAILURE}) {
    SCOPED_TRACE(error);
    LineRig rig(&kRtu);
    ASSERT_TRUE(rig.Open());
    rig.context->map.WriteCellFromUser(kAreaHoldingRegisters, 0, 0x1234);
    EXPECT_EQ(rig.Serve(RtuAdu(1, kRead)), RtuAdu(1, Hex("03 02 12 34")));
    const uint64_t removed = rig.line.NowUs() + 100000;
    rig.line.At(removed, [&rig, error] { rig.line.RemoveDevice(error); });
    rig.line.At(removed + 3500000, [&rig] { rig.line.ReturnDevice(); });
    const int createsBefore = rig.line.CreateCalls();
    int passes = 0;
    while (rig.line.NowUs() < removed + 3400000 && passes < 1000) {
      ++passes;
      if (ServeOnePass(&rig.context->worker) == ServePass::kWait) {
        rig.line.AdvanceUs(rig.context->worker.waitMs * 1000ull);
      }
    }
    rig.host.Pump();
    const int attempts = rig.line.CreateCalls() - createsBefore;
    printf("[ measured ] error %lu: %d reopen attempts in %d passes while the adapter was away\n",
           static_cast<unsigned long>(error), attempts, passes);
    EXPECT_GE(attempts, 2);
    EXPECT_LE(attempts, 4) << "a calm pace";
    EXPECT_LT(passes, 20) << "no spin";
    EXPECT_EQ(rig.host.rxLine, u"RX: Transport error");
    size_t shown = 0;
    for (const RecordedCommand& c : rig.host.log) shown += c.text == u"RX: Transport error";
    EXPECT_EQ(shown, 1u);
    // Back: within about a second the port is open and requests are answered.
    for (int i = 0; i < 10 && !rig.line.PortOpen(); ++i) {
      if (ServeOnePass(&rig.context->worker) == ServePass::kWait) {
        rig.line.AdvanceUs(rig.context->worker.waitMs * 1000ull);
      }
    }
    EXPECT_TRUE(rig.line.PortOpen());
    EXPECT_LE(rig.line.NowUs(), removed + 4600000);
    EXPECT_EQ(rig.Serve(RtuAdu(1, kRead)), RtuAdu(1, Hex("03 02 12 34")));
  }
}

TEST(SerialServerOnALine, APortThatDoesNotOpenGivesTheMessageBox) {
  LineRig rig(&kRtu);
  rig.line.FailCreate(true);
  EXPECT_EQ(rig.host.Connect(), 0);
  ASSERT_EQ(rig.host.errors.size(), 1u);
  EXPECT_EQ(rig.host.errors[0].first, u"Failed to open COM port. Please check if it's available.");
  EXPECT_EQ(rig.host.errors[0].second, u"Connection Error");
  EXPECT_FALSE(rig.line.PortOpen());
}

}  // namespace
