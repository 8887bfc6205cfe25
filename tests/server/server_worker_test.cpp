// The server worker's serving loop over the scripted transport, one pass at
// a time on the test thread: what each family shows, counts, resynchronises
// and does next for every receive status and for a failed send; and the
// refresh check against the selected view.

#include <gtest/gtest.h>

#include <string>

#include "common/memory.h"
#include "server/serve_rig.h"
#include "server/server_worker.h"
#include "server/view_list.h"
#include "support/recording_host_link.h"

namespace {

struct TestSettings {
  Framing framing = Framing::kRtuFrame;
  uint8_t address = 1;
  uint32_t acceptAny = 0;
};

Transport* MakeTransport(const void* settings) {
  const Framing framing = static_cast<const TestSettings*>(settings)->framing;
  ScriptedTransport* transport = mem::New<ScriptedTransport>();
  transport->frameMode = framing == Framing::kRtuFrame || framing == Framing::kMbapDatagram;
  transport->messageOriented = framing == Framing::kMbapDatagram ? 1 : 0;
  return transport;
}

// RTU over UDP: whole datagrams like a serial RTU frame, but message oriented.
Transport* MakeDatagramTransport(const void* settings) {
  ScriptedTransport* transport = static_cast<ScriptedTransport*>(MakeTransport(settings));
  transport->messageOriented = 1;
  return transport;
}

Framer* MakeFramer(const void* settings) {
  switch (static_cast<const TestSettings*>(settings)->framing) {
    case Framing::kRtuFrame: return mem::New<RtuFramer>(false);
    case Framing::kRtuStream: return mem::New<RtuFramer>(true);
    case Framing::kAscii: return mem::New<AsciiFramer>();
    default: return mem::New<MbapFramer>();
  }
}

uint8_t Address(const void* settings) { return static_cast<const TestSettings*>(settings)->address; }
uint32_t AcceptAny(const void* settings) { return static_cast<const TestSettings*>(settings)->acceptAny; }

bool g_closedByPeer = false;
bool ClosedByPeer(Transport*) { return g_closedByPeer; }

const ServerComposition kSerial = {ServerFamily::kSerial, u"open failed", nullptr, MakeTransport, MakeFramer,
                                   Address, nullptr, nullptr};
const ServerComposition kRtuTcp = {ServerFamily::kRtuOverIp, u"open failed", nullptr, MakeTransport, MakeFramer,
                                   Address, nullptr, ClosedByPeer};
const ServerComposition kRtuUdp = {ServerFamily::kRtuOverIp, u"open failed", nullptr, MakeDatagramTransport,
                                   MakeFramer, Address, nullptr, nullptr};
const ServerComposition kMbapTcp = {ServerFamily::kMbap, u"open failed", u"RX: Invalid Modbus TCP/IP frame",
                                    MakeTransport, MakeFramer, Address, AcceptAny, nullptr};

// What the worker posted, in posting order, as the shell receives it.
class PostedLog {
 public:
  size_t Pump() { return link.Pump(); }
  size_t Count(HostCommandKind kind) const {
    size_t n = 0;
    for (const RecordedCommand& command : applied) n += command.kind == kind;
    return n;
  }
  std::vector<std::u16string> RxTexts() const {
    std::vector<std::u16string> texts;
    for (const RecordedCommand& command : applied)
      if (command.kind == HostCommandKind::ShowRxText) texts.push_back(command.text);
    return texts;
  }
  // The data of the last command of this kind.
  std::vector<uint8_t> Last(HostCommandKind kind) const {
    for (auto it = applied.rbegin(); it != applied.rend(); ++it)
      if (it->kind == kind) return it->data;
    return {};
  }

  std::vector<RecordedCommand> applied;
  RecordingHostLink link{[this](const RecordedCommand& command) { applied.push_back(command); }};
};

class WorkerRig {
 public:
  WorkerRig(const ServerComposition* composition, Framing framing) {
    settings.framing = framing;
    ViewListInit(&views);
    WorkerInit(&worker, composition, &link, &map, &views);
    link = shell.link.Link();
  }
  ~WorkerRig() {
    WorkerRelease(&worker);
    ViewListRelease(&views);
  }

  bool Open() { return OpenWorker(&worker, &settings) == kWorkerStarted; }
  ScriptedTransport& transport() { return *static_cast<ScriptedTransport*>(worker.transport); }
  ServePass Pass() {
    ServePass pass = ServeOnePass(&worker);
    shell.Pump();
    return pass;
  }

  FakeClock clock;
  PostedLog shell;
  const HostLink* link = nullptr;
  DeviceMap map;
  ViewList views;
  ServerWorker worker;
  TestSettings settings;
};

const Bytes kReadHolding = Hex("03 00 00 00 02");

using Script = void (*)(ScriptedTransport&, Framing);

struct StatusCase {
  const char* name;
  const ServerComposition* composition;
  Framing framing;
  Script script;
  ServePass pass;
  const char16_t* text;  // the RX text shown, or null for none
  int prepares;          // resynchronisations the pass asked for
  uint16_t busErrors;    // bus communication errors counted
  size_t frames;         // frames sent
};

void Nothing(ScriptedTransport&, Framing) {}
void Cancelled(ScriptedTransport& t, Framing) { t.Cancel(); }
void Closed(ScriptedTransport& t, Framing) { t.Close(); }
void GoodRequest(ScriptedTransport& t, Framing f) { t.DeliverNow(Adu(f, 1, 7, kReadHolding)); }
void OtherSlave(ScriptedTransport& t, Framing f) { t.DeliverNow(Adu(f, 9, 7, kReadHolding)); }
void Unsupported(ScriptedTransport& t, Framing f) { t.DeliverNow(Adu(f, 1, 7, Hex("07"))); }
void BadCrc(ScriptedTransport& t, Framing) { t.DeliverNow(RtuAdu(1, kReadHolding, true)); }
void BadLrc(ScriptedTransport& t, Framing) { t.DeliverNow(AsciiAdu(1, kReadHolding, '\n', true)); }
void TooShort(ScriptedTransport& t, Framing) { t.DeliverNow(Hex("01 03 00")); }
void ExceptionBit(ScriptedTransport& t, Framing f) { t.DeliverNow(Adu(f, 1, 7, Hex("83 02"))); }
void LineError(ScriptedTransport& t, Framing) { t.Inject(0, TransportLineError); }
void Overrun(ScriptedTransport& t, Framing) { t.Inject(0, TransportOverrun); }
void IoError(ScriptedTransport& t, Framing) { t.Inject(0, TransportIoError); }
void TooLarge(ScriptedTransport& t, Framing) { t.Inject(0, TransportFrameTooLarge); }
void Silence(ScriptedTransport& t, Framing) { t.Inject(0, TransportInvalidFrame); }
void HalfFrame(ScriptedTransport& t, Framing f) {
  t.DeliverNow(f == Framing::kAscii ? Bytes{':', '0', '1', '0', '3'} : Hex("01 03 00"));
}
void MbapZeroLength(ScriptedTransport& t, Framing) { t.DeliverNow(Hex("00 07 00 00 00 00 01")); }
void SendFails(ScriptedTransport& t, Framing f) {
  t.ScriptWrite(0, TransportIoError);
  GoodRequest(t, f);
}

const StatusCase kStatusCases[] = {
    // The serial family: line errors are counted, shown and resynchronised;
    // a transport failure, received or sent, closes the port to be opened
    // again later; a closed port is opened again at once.
    {"serial timeout", &kSerial, Framing::kRtuFrame, Nothing, ServePass::kNext, nullptr, 0, 0, 0},
    {"serial cancelled", &kSerial, Framing::kRtuFrame, Cancelled, ServePass::kEnd, nullptr, 0, 0, 0},
    {"serial request", &kSerial, Framing::kRtuFrame, GoodRequest, ServePass::kNext, nullptr, 0, 0, 1},
    {"serial other slave", &kSerial, Framing::kRtuFrame, OtherSlave, ServePass::kNext, nullptr, 0, 0, 0},
    {"serial exception", &kSerial, Framing::kRtuFrame, Unsupported, ServePass::kNext, nullptr, 0, 0, 1},
    {"serial CRC", &kSerial, Framing::kRtuFrame, BadCrc, ServePass::kNext, u"RX: CRC error", 1, 1, 0},
    {"serial LRC", &kSerial, Framing::kAscii, BadLrc, ServePass::kNext, u"RX: LRC error", 1, 1, 0},
    {"serial length", &kSerial, Framing::kRtuFrame, TooShort, ServePass::kNext, u"RX: Invalid length", 1, 1, 0},
    {"serial bit 7", &kSerial, Framing::kRtuFrame, ExceptionBit, ServePass::kNext, u"RX: Invalid frame", 1, 1, 0},
    {"serial silence", &kSerial, Framing::kRtuFrame, Silence, ServePass::kNext, u"RX: Invalid frame", 1, 1, 0},
    {"serial framing", &kSerial, Framing::kRtuFrame, LineError, ServePass::kNext, u"RX: Serial framing error", 1,
     1, 0},
    {"serial overrun", &kSerial, Framing::kRtuFrame, Overrun, ServePass::kNext, u"RX: Serial character overrun", 1,
     1, 0},
    {"serial too large", &kSerial, Framing::kRtuFrame, TooLarge, ServePass::kNext, u"RX: Protocol error", 1, 1, 0},
    {"serial incomplete", &kSerial, Framing::kAscii, HalfFrame, ServePass::kNext, u"RX: Incomplete frame", 1, 1,
     0},
    {"serial transport", &kSerial, Framing::kRtuFrame, IoError, ServePass::kWait, u"RX: Transport error", 0, 0, 0},
    {"serial closed", &kSerial, Framing::kRtuFrame, Closed, ServePass::kNext, nullptr, 1, 0, 0},
    {"serial send fails", &kSerial, Framing::kRtuFrame, SendFails, ServePass::kWait, u"TX: Transport error", 0, 0,
     0},
    // RTU over TCP: shown and served on; a broken stream is resynchronised.
    {"rtu/tcp CRC", &kRtuTcp, Framing::kRtuStream, BadCrc, ServePass::kNext, u"RX: CRC error", 1, 1, 0},
    {"rtu/tcp incomplete", &kRtuTcp, Framing::kRtuStream, HalfFrame, ServePass::kNext, u"RX: Incomplete frame", 1,
     1, 0},
    {"rtu/tcp transport", &kRtuTcp, Framing::kRtuStream, IoError, ServePass::kNext, u"RX: Transport error", 0, 0,
     0},
    {"rtu/tcp send fails", &kRtuTcp, Framing::kRtuStream, SendFails, ServePass::kNext, u"TX: Transport error", 0,
     0, 0},
    // RTU over UDP: a datagram is never out of step.
    {"rtu/udp CRC", &kRtuUdp, Framing::kRtuFrame, BadCrc, ServePass::kNext, u"RX: CRC error", 0, 1, 0},
    {"rtu/udp request", &kRtuUdp, Framing::kRtuFrame, GoodRequest, ServePass::kNext, nullptr, 0, 0, 1},
    // MBAP: transport failures pass silently, broken frames show one text.
    {"mbap timeout", &kMbapTcp, Framing::kMbapStream, Nothing, ServePass::kNext, nullptr, 0, 0, 0},
    {"mbap cancelled", &kMbapTcp, Framing::kMbapStream, Cancelled, ServePass::kEnd, nullptr, 0, 0, 0},
    {"mbap transport", &kMbapTcp, Framing::kMbapStream, IoError, ServePass::kNext, nullptr, 0, 0, 0},
    {"mbap bad length", &kMbapTcp, Framing::kMbapStream, MbapZeroLength, ServePass::kNext,
     u"RX: Invalid Modbus TCP/IP frame", 0, 0, 0},
    {"mbap request", &kMbapTcp, Framing::kMbapStream, GoodRequest, ServePass::kNext, nullptr, 0, 0, 1},
    {"mbap send fails", &kMbapTcp, Framing::kMbapStream, SendFails, ServePass::kNext, nullptr, 0, 0, 0},
    {"mbap closed", &kMbapTcp, Framing::kMbapStream, Closed, ServePass::kPark, u"RX: Invalid Modbus TCP/IP frame", 0,
     0, 0},
};

TEST(ServerWorker, EachFamilyReactsToEveryReceiveStatusAndToAFailedSend) {
  for (const StatusCase& c : kStatusCases) {
    SCOPED_TRACE(c.name);
    WorkerRig rig(c.composition, c.framing);
    ASSERT_TRUE(rig.Open());
    ScriptedTransport& transport = rig.transport();
    const int preparesBefore = transport.prepares;
    c.script(transport, c.framing);
    EXPECT_EQ(rig.Pass(), c.pass);
    const std::vector<std::u16string> texts = rig.shell.RxTexts();
    if (c.text) {
      ASSERT_EQ(texts.size(), 1u);
      EXPECT_EQ(texts[0], c.text);
      EXPECT_EQ(rig.shell.applied.back().index, 1u);  // the error colour
    } else {
      EXPECT_TRUE(texts.empty()) << std::string(texts[0].begin(), texts[0].end());
    }
    EXPECT_EQ(transport.prepares - preparesBefore, c.prepares);
    EXPECT_EQ(rig.worker.session.diagnostics.busCommunicationErrorCount, c.busErrors);
    EXPECT_EQ(transport.frames.size(), c.frames);
    // The TX line shows a response as it is handed to the transport, sent or not.
    EXPECT_EQ(rig.shell.Count(HostCommandKind::ShowTxFrame), c.frames + (c.script == SendFails ? 1 : 0));
  }
}

TEST(ServerWorker, FramesShowOnBothLinesAndACrcErrorIsCountedThenTheNextRequestAnswered) {
  WorkerRig rig(&kSerial, Framing::kRtuFrame);
  ASSERT_TRUE(rig.Open());
  rig.map.WriteCellFromUser(kAreaHoldingRegisters, 1, 0x1234);
  rig.transport().DeliverNow(RtuAdu(1, kReadHolding, true));
  rig.transport().Deliver(100, RtuAdu(1, kReadHolding));
  rig.transport().Deliver(200, RtuAdu(1, Hex("08 00 0C 00 00")));  // bus communication error count
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rig.Pass(), ServePass::kNext);
  ASSERT_EQ(rig.transport().frames.size(), 2u);
  EXPECT_EQ(rig.transport().frames[0], RtuAdu(1, Hex("03 04 00 00 12 34")));
  EXPECT_EQ(rig.transport().frames[1], RtuAdu(1, Hex("08 00 0C 00 01")));
  EXPECT_EQ(rig.shell.Last(HostCommandKind::ShowTxFrame), rig.transport().frames[1]);
  EXPECT_EQ(rig.shell.Last(HostCommandKind::ShowRxFrame), RtuAdu(1, Hex("08 00 0C 00 00")));
  EXPECT_EQ(rig.worker.session.diagnostics.busMessageCount, 2);
  // The RX line shows the CRC error until the next frame replaces it.
  const std::vector<RecordedCommand>& applied = rig.shell.applied;
  ASSERT_GE(applied.size(), 2u);
  EXPECT_EQ(applied[0].kind, HostCommandKind::ShowRxText);
  EXPECT_EQ(applied[0].text, u"RX: CRC error");
}

TEST(ServerWorker, AnRtuOverTcpClientThatClosesInOrderShowsNothing) {
  WorkerRig rig(&kRtuTcp, Framing::kRtuStream);
  ASSERT_TRUE(rig.Open());
  g_closedByPeer = true;
  rig.transport().Inject(0, TransportIoError);
  EXPECT_EQ(rig.Pass(), ServePass::kNext);
  g_closedByPeer = false;
  EXPECT_TRUE(rig.shell.RxTexts().empty());
}

TEST(ServerWorker, ConnectResetsTheDiagnosticsAndTakesTheAddressesFromTheSettings) {
  WorkerRig rig(&kMbapTcp, Framing::kMbapStream);
  rig.settings.address = 17;
  rig.settings.acceptAny = 0;
  ASSERT_TRUE(rig.Open());
  EXPECT_EQ(rig.worker.session.unitId, 17);
  EXPECT_FALSE(rig.worker.session.acceptAny);
  rig.transport().DeliverNow(MbapAdu(1, 16, kReadHolding));
  rig.transport().Deliver(10, MbapAdu(2, 17, kReadHolding));
  rig.Pass();
  rig.Pass();
  ASSERT_EQ(rig.transport().frames.size(), 1u);
  EXPECT_EQ(rig.transport().frames[0][1], 2);  // the transaction of unit 17

  WorkerRig serial(&kSerial, Framing::kRtuFrame);
  ASSERT_TRUE(serial.Open());
  serial.transport().DeliverNow(RtuAdu(1, Hex("08 00 04 00 00")));  // listen only
  serial.Pass();
  EXPECT_EQ(serial.worker.session.diagnostics.listenOnly, 1u);
  ASSERT_TRUE(serial.Open());
  EXPECT_EQ(serial.worker.session.diagnostics.listenOnly, 0u);
  EXPECT_EQ(serial.worker.session.diagnostics.serverNoResponseCount, 0);
}

struct OverlapCase {
  const char* name;
  uint8_t viewArea;
  uint32_t viewStart, viewQuantity;
  const char* request;  // a write of holding registers or coils
  bool refresh;
};

const OverlapCase kOverlapCases[] = {
    {"registers 10-19 in a view of 0-19", kAreaHoldingRegisters, 0, 20, "10 00 0A 00 0A 14" "0000000000000000000000000000000000000000", true},
    {"registers 10-19 in a view of 20-39", kAreaHoldingRegisters, 20, 20, "10 00 0A 00 0A 14" "0000000000000000000000000000000000000000", false},
    {"registers 10-19 in a coil view", kAreaCoils, 0, 20, "10 00 0A 00 0A 14" "0000000000000000000000000000000000000000", false},
    {"register 19 at the view's last row", kAreaHoldingRegisters, 0, 20, "06 00 13 00 01", true},
    {"register 20 just past it", kAreaHoldingRegisters, 0, 20, "06 00 14 00 01", false},
    {"register 5 below a view from 6", kAreaHoldingRegisters, 6, 10, "06 00 05 00 01", false},
    {"coil 3 in a coil view", kAreaCoils, 0, 20, "05 00 03 FF 00", true},
    {"a read changes nothing", kAreaHoldingRegisters, 0, 20, "03 00 00 00 01", false},
    {"last register in a view of 65535", kAreaHoldingRegisters, 65535, 1, "06 FF FF 00 01", true},
};

TEST(ServerWorker, RefreshIsPostedOnlyWhenAWriteOverlapsTheSelectedView) {
  for (const OverlapCase& c : kOverlapCases) {
    SCOPED_TRACE(c.name);
    WorkerRig rig(&kMbapTcp, Framing::kMbapStream);
    ASSERT_TRUE(rig.Open());
    MapView* view = AppendView(&rig.views);
    view->area = c.viewArea;
    view->start = c.viewStart;
    view->quantity = c.viewQuantity;
    rig.views.selected = view;
    rig.transport().DeliverNow(MbapAdu(1, 1, Hex(c.request)));
    rig.Pass();
    EXPECT_EQ(rig.transport().frames.size(), 1u);
    EXPECT_EQ(rig.shell.Count(HostCommandKind::RefreshTable), c.refresh ? 1u : 0u);
  }
  // A serial slave that carried a write out and then failed to send the
  // answer redraws the written cells all the same.
  {
    WorkerRig rig(&kSerial, Framing::kRtuFrame);
    ASSERT_TRUE(rig.Open());
    MapView* view = AppendView(&rig.views);
    view->area = kAreaHoldingRegisters;
    view->start = 0;
    view->quantity = 20;
    rig.views.selected = view;
    rig.transport().ScriptWrite(0, TransportIoError);
    rig.transport().DeliverNow(RtuAdu(1, Hex("06 00 05 00 01")));
    EXPECT_EQ(rig.Pass(), ServePass::kWait);
    EXPECT_EQ(rig.shell.RxTexts().back(), u"TX: Transport error");
    EXPECT_EQ(rig.shell.Count(HostCommandKind::RefreshTable), 1u);
  }
  // No selected view: nothing to redraw.
  WorkerRig rig(&kMbapTcp, Framing::kMbapStream);
  ASSERT_TRUE(rig.Open());
  rig.transport().DeliverNow(MbapAdu(1, 1, Hex("06 00 00 00 01")));
  rig.Pass();
  EXPECT_EQ(rig.shell.Count(HostCommandKind::RefreshTable), 0u);
}

}  // namespace
