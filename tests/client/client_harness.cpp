#include "client_harness.h"

#include "common/memory.h"
#include "common/platform.h"
#include "server/request.h"
#include "support/fake_clock.h"

#include <gtest/gtest.h>

Transport* ClientHarness::nextTransport = nullptr;
uint32_t ClientHarness::responseTimeout = 1500;

namespace {

int gSettingsRecord = 0;

void* CreateSettings() { return &gSettingsRecord; }
void ReleaseSettings(void*) {}
uint32_t ResponseTimeout(const void*) { return ClientHarness::responseTimeout; }
Transport* CreateTransport(const void*) {
  Transport* transport = ClientHarness::nextTransport;
  ClientHarness::nextTransport = nullptr;
  return transport;
}
int32_t ConnectionLine(const void*, Unit* buffer, uint32_t capacity) {
  return CopyTextCut(u"test line", buffer, capacity);
}

const ClientSettingsOps kTestSettings = {
    /* create */ &CreateSettings,
    /* release */ &ReleaseSettings,
    /* responseTimeoutMs */ &ResponseTimeout,
    /* createTransport */ &CreateTransport,
    /* createPage */ nullptr,
    /* applyPage */ nullptr,
    /* destroyPage */ nullptr,
    /* connectionLine */ &ConnectionLine,
};

ClientComposition gCompositions[4];

}  // namespace

// --- SimDevice ---------------------------------------------------------------

SimDevice::SimDevice(FramingKind framerKind) : framer_(CreateFramer(framerKind)) {}

SimDevice::~SimDevice() { mem::Delete(framer_); }

ScriptedTransport* SimDevice::NewTransport() {
  ScriptedTransport* transport = mem::New<ScriptedTransport>();
  transport->frameMode = framer_->Traits().receipt == FrameReceipt::kWhole;
  transport->onFrameSent = [this](ScriptedTransport& t, const ScriptedTransport::Bytes& frame) {
    Frame response;
    if (Respond(frame, &response)) t.DeliverNow(response);
  };
  return transport;
}

std::vector<Frame> SimDevice::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

size_t SimDevice::RequestCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

bool SimDevice::Respond(const Frame& frame, Frame* out) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(frame);
  }
  if (onRequest) onRequest();
  AduHeader header;
  Pdu pdu;
  if (framer_->ParseAdu(frame.data(), static_cast<uint32_t>(frame.size()), &header, &pdu) != StatusOk) return false;
  // Silence, or a broadcast, or another unit.
  if (silent || (framer_->Traits().hasBroadcast && header.unitId != unitId)) return false;
  ServerRequest request{};
  ServerResponse response{};
  WrittenRange written{};
  if (exceptionCode) {
    response.function = pdu.function;
    response.isException = 1;
    response.exceptionCode = exceptionCode;
  } else if (!DecodeRequest(pdu, &request)) {
    response.function = pdu.function;
    response.isException = 1;
    response.exceptionCode = 3;
  } else {
    ExecuteRequest(&map, request, &response, &written);
  }
  Pdu answer;
  if (BuildResponsePdu(response, &answer) != StatusOk) return false;
  uint8_t adu[kAduBufferSize];
  int32_t length = framer_->BuildAdu(header, answer, adu, sizeof adu);
  if (length <= 0) return false;
  out->assign(adu, adu + length);
  return true;
}

// --- ClientHarness -------------------------------------------------------------

ClientComposition ClientHarness::Composition(FramingKind kind) {
  ClientComposition c{};
  c.framerKind = kind;
  c.protocolLine = u"Modbus test (master)";
  c.openFailureRxText = u"RX: Connection failed";
  c.openFailureMessage = u"Failed to connect to the test server.";
  c.reopenFailureRxText = u"RX: Reconnect failed";
  c.settings = &kTestSettings;
  c.extras = nullptr;
  return c;
}

ClientHarness::ClientHarness(FramingKind kind, uint32_t responseTimeoutMs) {
  responseTimeout = responseTimeoutMs;
  ClientComposition& composition = gCompositions[static_cast<uint32_t>(kind)];
  composition = Composition(kind);
  ClientPluginCreate(composition, &ops);
  view = new ViewHost(ops);
  view->Attach();
}

ClientHarness::~ClientHarness() {
  delete view;  // detaches
  ops.destroy(ops.instance);
  if (nextTransport) mem::Delete(nextTransport);
  nextTransport = nullptr;
}

bool ClientHarness::StartPasses(SimDevice* device) { return StartPasses(device->NewTransport()); }

bool ClientHarness::StartPasses(Transport* transport) {
  return context()->worker.StartWithoutThread(transport, CreateFramer(context()->polls.framerKind()),
                                              responseTimeout,
                                              context()->composition.reopenFailureRxText) == kClientStarted;
}

void ClientHarness::RunFor(uint32_t ms) {
  uint32_t end = FakeClock::Now() + ms;
  for (int guard = 0; guard < 100000 && TickBefore(FakeClock::Now(), end); ++guard) {
    uint32_t waitMs = 0;
    ClientPassResult pass = context()->worker.Pass(&waitMs);
    if (pass == kPassStop) return;
    if (pass == kPassWait) {
      uint32_t left = static_cast<uint32_t>(TickDiff(end, FakeClock::Now()));
      FakeClock::Advance(waitMs < left ? waitMs : left);
    }
  }
}

void ExpectExceptionThenTimeout(SimDevice& device, ViewHost& view, uint8_t exceptionCode,
                                const char16_t* exceptionText, const std::function<void()>& run) {
  struct Step {
    uint8_t exception;
    bool silent;
    const char16_t* rx;
  } steps[] = {{exceptionCode, false, exceptionText}, {0, true, u"RX: Timeout"}};
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.rx, s.rx + std::char_traits<char16_t>::length(s.rx)));
    device.exceptionCode = s.exception;
    device.silent = s.silent;
    run();
    view.Pump();
    EXPECT_EQ(view.rxLine, s.rx);
    EXPECT_TRUE(view.rxError);
  }
  device.silent = false;
  device.exceptionCode = 0;
}
