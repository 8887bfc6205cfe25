// Function 8 and the diagnostic counters on the serial and RTU-over-IP
// servers: sequences of raw requests, each with the exact answer (or none).

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "server/request.h"
#include "serve_rig.h"

namespace {

struct Step {
  uint8_t unit;
  std::string request;   // PDU; ignored when inject is set
  std::string response;  // PDU; empty when nothing may be sent
  bool corrupt = false;  // wrong CRC or LRC
  int32_t inject = 0;    // a transport result instead of a frame
};

struct Sequence {
  const char* name;
  bool rtuStream;  // every request of the sequence can be framed on the RTU stream
  std::vector<Step> steps;
  std::function<void(const DiagnosticState&, DeviceMap&)> check;
};

Bytes Frame(Framing framing, const Step& step) {
  const Bytes pdu = Hex(step.request);
  if (framing == Framing::kAscii) return AsciiAdu(step.unit, pdu, '\n', step.corrupt);
  return RtuAdu(step.unit, pdu, step.corrupt);
}

// count data bytes of a recognisable pattern, as hex text.
std::string Pattern(int count) {
  std::string out;
  const char* digits = "0123456789ABCDEF";
  for (int i = 0; i < count; ++i) {
    const int b = (i * 37 + 11) & 0xFF;
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

const std::vector<Sequence>& Sequences() {
  static const std::vector<Sequence> sequences = {
      {"return query data echoes whatever follows",
       true,
       {{1, "08 0000 12345678", "08 0000 12345678"},
        {1, "08 0000", "08 0000 0000"},
        {1, "08 0000 ABCD", "08 0000 ABCD"},
        {1, "08 0000" + Pattern(200), "08 0000" + Pattern(200)}},
       nullptr},
      {"three bad checks are three bus communication errors",
       true,
       {{1, "03 0000 0001", "", true},
        {1, "03 0000 0001", "", true},
        {1, "03 0000 0001", "", true},
        {1, "08 000C 0000", "08 000C 0003"},
        {1, "08 000B 0000", "08 000B 0002"},  // bad frames are not bus messages
        {1, "08 000E 0000", "08 000E 0003"}},
       nullptr},
      {"line errors and overruns",
       true,
       {{1, "", "", false, TransportOverrun},
        {1, "", "", false, TransportLineError},
        {1, "08 0012 0000", "08 0012 0001"},
        {1, "08 000C 0000", "08 000C 0002"},
        {1, "08 0014 0000", "08 0014 0000"},
        {1, "08 0012 0000", "08 0012 0000"},
        {1, "08 000C 0000", "08 000C 0002"}},
       nullptr},
      {"bit 7 set counts as a bus communication error",
       false,
       {{1, "83 0000 0001", ""}, {1, "08 000C 0000", "08 000C 0001"}},
       nullptr},
      {"listen-only silences everything until restart, whose answer is withheld",
       true,
       {{1, "08 0004 0000", ""},
        {1, "03 0000 0001", ""},
        {0, "06 0005 0007", ""},
        {1, "08 0000 1234", ""},
        {1, "08 000B 0000", ""},
        {1, "0F 0000 0001 01 01", ""},
        {1, "08 0001 0000", ""},
        {1, "03 0005 0001", "03 02 0000"},
        {1, "08 000E 0000", "08 000E 0002"}},
       [](const DiagnosticState& state, DeviceMap& map) {
         EXPECT_FALSE(state.listenOnly);
         // The silenced writes did nothing.
         EXPECT_EQ(map.ReadCellLocked(kAreaHoldingRegisters, 5), 0);
         EXPECT_EQ(map.ReadCellLocked(kAreaCoils, 0), 0);
       }},
      {"no response count while listening only",
       true,
       {{1, "08 0004 0000", ""}, {1, "03 0000 0001", ""}, {0, "06 0005 0007", ""}, {2, "03 0000 0001", ""}},
       [](const DiagnosticState& state, DeviceMap&) {
         EXPECT_TRUE(state.listenOnly);
         EXPECT_EQ(state.serverNoResponseCount, 3);  // force listen only, the read, the broadcast
         EXPECT_EQ(state.serverMessageCount, 1);     // force listen only itself
         EXPECT_EQ(state.busMessageCount, 4);
       }},
      {"a malformed restart leaves listen-only silent",
       true,
       {{1, "08 0004 0000", ""}, {1, "08 0001 1234", ""}, {1, "03 0000 0001", ""}},
       [](const DiagnosticState& state, DeviceMap&) { EXPECT_TRUE(state.listenOnly); }},
      {"restart answers and clears the counters",
       true,
       {{1, "03 0000 0000", "83 03"},
        {1, "08 0001 FF00", "08 0001 FF00"},
        {1, "08 000D 0000", "08 000D 0000"},
        {1, "08 000E 0000", "08 000E 0002"},
        {1, "08 0001 0001", "88 03"}},
       nullptr},
      {"diagnostic register and counters of every kind",
       true,
       {{1, "08 0002 0000", "08 0002 0000"},
        {0, "06 0001 0001", ""},
        {0, "03 0000 0001", ""},
        {2, "03 0000 0001", ""},
        {1, "03 0000 0000", "83 03"},
        {1, "08 000B 0000", "08 000B 0006"},
        {1, "08 000D 0000", "08 000D 0002"},  // the broadcast read and the bad quantity
        {1, "08 000E 0000", "08 000E 0007"},
        {1, "08 000F 0000", "08 000F 0002"},  // both broadcasts
        {1, "08 0010 0000", "08 0010 0000"},
        {1, "08 0011 0000", "08 0011 0000"},
        {1, "08 000A 0000", "08 000A 0000"},
        {1, "08 000E 0000", "08 000E 0001"},
        {1, "08 000B 0000", "08 000B 0002"}},
       nullptr},
      {"sub-functions that take a zero word refuse any other",
       true,
       {{1, "08 0002 0001", "88 03"},
        {1, "08 000B FFFF", "88 03"},
        {1, "08 000A 0100", "88 03"},
        {1, "08 0014 0001", "88 03"},
        {1, "08 0004 0001", "88 03"},
        {1, "08 000D 0000", "08 000D 0005"}},
       nullptr},
      {"zero word with extra data is exception 3",
       true,
       {{1, "08 000B 0000 0000", "88 03"}, {1, "08 0004", "88 03"}, {1, "08 0001", "88 03"}},
       nullptr},
      {"unknown sub-functions are exception 1",
       true,
       {{1, "08 0005 0000", "88 01"},
        {1, "08 0009 0000", "88 01"},
        {1, "08 0013 0000", "88 01"},
        {1, "08 0015 0000", "88 01"},
        {1, "08 FFFF 0000", "88 01"}},
       nullptr},
      // A shared bus: another slave's request, its exception response and
      // its normal response pass by as bus messages only.
      {"other slaves' traffic on a shared bus",
       false,
       {{5, "03 0000 0001", ""},
        {5, "83 02", ""},
        {5, "90 04", ""},
        {5, "03 02 1234", ""},
        {1, "08 000C 0000", "08 000C 0000"},
        {1, "08 000B 0000", "08 000B 0006"},
        {1, "08 000D 0000", "08 000D 0000"},
        {1, "08 000E 0000", "08 000E 0004"}},
       [](const DiagnosticState& state, DeviceMap&) { EXPECT_EQ(state.serverNoResponseCount, 0); }},
      {"a diagnostic for another slave is ignored",
       true,
       {{2, "08 0004 0000", ""}, {1, "03 0000 0001", "03 02 0000"}},
       nullptr},
  };
  return sequences;
}

TEST(Diagnostics, SequencesOverEverySerialFraming) {
  for (const Sequence& sequence : Sequences()) {
    for (Framing framing : {Framing::kRtuFrame, Framing::kRtuStream, Framing::kAscii}) {
      if (framing == Framing::kRtuStream && !sequence.rtuStream) continue;
      SCOPED_TRACE(std::string(sequence.name) + " / " + FramingName(framing));
      ServeRig rig(framing);
      int index = 0;
      for (const Step& step : sequence.steps) {
        SCOPED_TRACE("step " + std::to_string(index++) + ": " + step.request);
        if (step.inject) {
          rig.transport.Rebase();
          rig.transport.Inject(0, step.inject);
        }
        ServeResult result = step.inject ? rig.ServeNext() : rig.Serve(Frame(framing, step));
        if (step.response.empty()) {
          EXPECT_TRUE(result.frames.empty());
        } else {
          ASSERT_EQ(result.frames.size(), 1u);
          EXPECT_EQ(result.frames[0], Adu(framing, step.unit, 0, Hex(step.response)));
        }
      }
      if (sequence.check) sequence.check(rig.diagnostics, *rig.map);
    }
  }
}

TEST(Diagnostics, ChangeAsciiDelimiterOnlyOnAscii) {
  ServeRig rtu(Framing::kRtuFrame);
  ServeResult result = rtu.Serve(RtuAdu(1, Hex("08 0003 2100")));
  ASSERT_EQ(result.frames.size(), 1u);
  EXPECT_EQ(result.frames[0], RtuAdu(1, Hex("88 01")));

  struct Case {
    std::string word;
    std::string response;
  };
  const Case refused[] = {{"3A00", "88 03"}, {"0D00", "88 03"}, {"0000", "88 03"}, {"2101", "88 03"}};
  for (const Case& c : refused) {
    SCOPED_TRACE(c.word);
    ServeRig ascii(Framing::kAscii);
    result = ascii.Serve(AsciiAdu(1, Hex("08 0003 " + c.word)));
    ASSERT_EQ(result.frames.size(), 1u);
    EXPECT_EQ(result.frames[0], AsciiAdu(1, Hex(c.response)));
    EXPECT_EQ(ascii.framer().EndCharacter(), '\n');
  }
}

// The new end character takes effect after the response to the request that
// set it, which still ends with CR LF.
TEST(Diagnostics, NewAsciiDelimiterAfterItsOwnResponse) {
  ServeRig rig(Framing::kAscii);
  ServeResult result = rig.Serve(AsciiAdu(1, Hex("08 0003 2100")));
  ASSERT_EQ(result.frames.size(), 1u);
  EXPECT_EQ(result.frames[0], AsciiAdu(1, Hex("08 0003 2100"), '\n'));
  EXPECT_EQ(rig.framer().EndCharacter(), '!');

  result = rig.Serve(AsciiAdu(1, Hex("06 0001 0005"), '!'));
  ASSERT_EQ(result.frames.size(), 1u);
  EXPECT_EQ(result.frames[0], AsciiAdu(1, Hex("06 0001 0005"), '!'));

  // A request still ending in CR LF is never complete now.
  result = rig.Serve(AsciiAdu(1, Hex("06 0001 0006"), '\n'));
  EXPECT_EQ(result.receiveStatus, StatusIncompleteFrame);
  EXPECT_TRUE(result.frames.empty());
  EXPECT_EQ(rig.map->ReadCellLocked(kAreaHoldingRegisters, 1), 5);

  // Restart Communications Option brings LF back, again after its answer.
  result = rig.Serve(AsciiAdu(1, Hex("08 0001 0000"), '!'));
  ASSERT_EQ(result.frames.size(), 1u);
  EXPECT_EQ(result.frames[0], AsciiAdu(1, Hex("08 0001 0000"), '!'));
  result = rig.Serve(AsciiAdu(1, Hex("08 000C 0000"), '\n'));
  ASSERT_EQ(result.frames.size(), 1u);
  EXPECT_EQ(result.frames[0], AsciiAdu(1, Hex("08 000C 0000"), '\n'));
}

// Restart Communications Option while listening only is not answered, yet
// the LF it brings back must still replace a changed end character.
TEST(Diagnostics, SilentRestartStillRestoresTheEndCharacter) {
  ServeRig rig(Framing::kAscii);
  ServeResult result = rig.Serve(AsciiAdu(1, Hex("08 0003 2100")));
  ASSERT_EQ(result.frames.size(), 1u);
  EXPECT_EQ(rig.framer().EndCharacter(), '!');
  result = rig.Serve(AsciiAdu(1, Hex("08 0004 0000"), '!'));
  EXPECT_TRUE(result.frames.empty());
  result = rig.Serve(AsciiAdu(1, Hex("08 0001 0000"), '!'));
  EXPECT_TRUE(result.frames.empty());
  EXPECT_FALSE(rig.diagnostics.listenOnly);
  EXPECT_EQ(rig.framer().EndCharacter(), '\n');
  EXPECT_EQ(rig.diagnostics.pendingEndCharacter, 0);
  result = rig.Serve(AsciiAdu(1, Hex("06 0002 0009"), '\n'));
  ASSERT_EQ(result.frames.size(), 1u);
  EXPECT_EQ(result.frames[0], AsciiAdu(1, Hex("06 0002 0009"), '\n'));
}

// Counters are 16 bits and wrap.
TEST(Diagnostics, CountersWrap) {
  ServeRig rig(Framing::kRtuFrame);
  rig.diagnostics.serverMessageCount = 65535;
  rig.diagnostics.busMessageCount = 65534;
  ServeResult result = rig.Serve(RtuAdu(1, Hex("08 000E 0000")));
  ASSERT_EQ(result.frames.size(), 1u);
  EXPECT_EQ(result.frames[0], RtuAdu(1, Hex("08 000E 0000")));
  result = rig.Serve(RtuAdu(1, Hex("08 000B 0000")));
  EXPECT_EQ(result.frames[0], RtuAdu(1, Hex("08 000B 0000")));
}

}  // namespace
