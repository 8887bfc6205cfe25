// Cross-check with an independent implementation: pymodbus builds requests,
// normal and exception responses for every supported function in the RTU,
// ASCII and socket (MBAP) framings; our framers must build the same bytes
// from the same PDU, parse its frames back, and the client engine must build
// identical requests and accept the responses as answers.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "client/transaction.h"
#include "modbus/frames.h"
#include "modbus/status.h"

namespace {

struct Line {
  std::string text;
  std::string kind, framing;
  unsigned unit = 0, tid = 0, fcode = 0;
  Bytes pdu, adu;
  std::vector<std::string> extra;
};

Bytes FromHex(const std::string& hex) {
  Bytes out;
  if (hex == "-") return out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::vector<Line> LoadFrames() {
  // One file per process: CTest runs the cases of this program in parallel.
  const std::string path =
      std::string(VELMORA_BINARY_DIR) + "/pymodbus_frames." + std::to_string(::getpid()) + ".txt";
  const std::string command = std::string("/usr/bin/python3 ") + VELMORA_FRAMES_SCRIPT + " " + path;
  std::vector<Line> lines;
  if (std::system(command.c_str()) != 0) return lines;
  std::ifstream in(path);
  std::string text;
  while (std::getline(in, text)) {
    Line line;
    line.text = text;
    std::istringstream fields(text);
    std::string pdu, adu, field;
    fields >> line.kind >> line.framing >> line.unit >> line.tid >> line.fcode >> pdu >> adu;
    line.pdu = FromHex(pdu);
    line.adu = FromHex(adu);
    while (fields >> field) line.extra.push_back(field);
    lines.push_back(line);
  }
  std::remove(path.c_str());
  return lines;
}

const std::vector<Line>& Frames() {
  static const std::vector<Line> lines = LoadFrames();
  return lines;
}

const Framer& FramerFor(const std::string& framing) {
  static RtuFramer rtu;
  static AsciiFramer ascii;
  static MbapFramer mbap;
  if (framing == "rtu") return rtu;
  if (framing == "ascii") return ascii;
  return mbap;
}

TEST(PymodbusFrames, EveryFunctionAndFramingIsCovered) {
  const std::vector<Line>& lines = Frames();
  ASSERT_GT(lines.size(), 300u) << "pymodbus_frames.py did not run";
  for (const char* framing : {"rtu", "ascii", "mbap"}) {
    for (unsigned function : {1u, 2u, 3u, 4u, 5u, 6u, 15u, 16u}) {
      int requests = 0, responses = 0, exceptions = 0;
      for (const Line& l : lines) {
        if (l.framing != framing || (l.fcode & 0x7F) != function) continue;
        requests += l.kind == "request";
        responses += l.kind == "response";
        exceptions += l.kind == "exception";
      }
      EXPECT_GT(requests, 0) << framing << " " << function;
      EXPECT_GT(responses, 0) << framing << " " << function;
      EXPECT_GT(exceptions, 0) << framing << " " << function;
    }
  }
}

TEST(PymodbusFrames, OurFramersBuildTheSameBytes) {
  for (const Line& l : Frames()) {
    SCOPED_TRACE(l.text);
    EXPECT_EQ(Build(FramerFor(l.framing), static_cast<uint8_t>(l.unit), static_cast<uint16_t>(l.tid),
                    static_cast<uint8_t>(l.fcode), l.pdu),
              l.adu);
  }
}

TEST(PymodbusFrames, OurFramersParseTheirFrames) {
  for (const Line& l : Frames()) {
    SCOPED_TRACE(l.text);
    AduHeader header;
    Pdu pdu;
    ASSERT_EQ(FramerFor(l.framing).ParseAdu(l.adu.data(), static_cast<uint32_t>(l.adu.size()), &header, &pdu),
              StatusOk);
    EXPECT_EQ(header.unitId, l.unit);
    EXPECT_EQ(header.transactionId, l.tid);
    EXPECT_EQ(pdu.function, l.fcode);
    EXPECT_EQ(Bytes(pdu.data, pdu.data + pdu.length), l.pdu);
  }
}

TEST(PymodbusFrames, ClientBuildsTheSameRequests) {
  for (const Line& l : Frames()) {
    if (l.kind != "request") continue;
    SCOPED_TRACE(l.text);
    ClientRequest request;
    request.unitId = static_cast<uint8_t>(l.unit);
    request.function = static_cast<uint8_t>(std::stoul(l.extra[0]));
    request.address = static_cast<uint16_t>(std::stoul(l.extra[1]));
    request.quantity = static_cast<uint16_t>(std::stoul(l.extra[2]));
    Bytes data = FromHex(l.extra[3]);
    request.byteCount = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), request.data);
    uint8_t adu[kAduBufferSize];
    int32_t n = BuildRequestAdu(FramerFor(l.framing), static_cast<uint16_t>(l.tid), request, adu, sizeof adu);
    ASSERT_GT(n, 0);
    EXPECT_EQ(Bytes(adu, adu + n), l.adu);
  }
}

TEST(PymodbusFrames, ClientAcceptsTheirResponses) {
  const std::vector<Line>& lines = Frames();
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line& l = lines[i];
    if (l.kind != "response" && l.kind != "exception") continue;
    SCOPED_TRACE(l.text);
    // The request line answered is the last one before this line.
    size_t r = i;
    while (r > 0 && lines[r].kind != "request") --r;
    const Line& q = lines[r];
    ClientRequest request;
    request.unitId = static_cast<uint8_t>(q.unit);
    request.function = static_cast<uint8_t>(std::stoul(q.extra[0]));
    request.address = static_cast<uint16_t>(std::stoul(q.extra[1]));
    request.quantity = static_cast<uint16_t>(std::stoul(q.extra[2]));
    AduHeader header;
    Pdu pdu;
    ASSERT_EQ(FramerFor(l.framing).ParseAdu(l.adu.data(), static_cast<uint32_t>(l.adu.size()), &header, &pdu),
              StatusOk);
    ClientResponse response;
    ASSERT_TRUE(ParseResponsePdu(pdu, &response));
    EXPECT_TRUE(ResponseMatches(request, response));
    if (l.kind == "exception") {
      EXPECT_TRUE(response.isException);
      EXPECT_EQ(response.exceptionCode, std::stoul(l.extra[0]));
    } else if (request.function <= 4) {
      EXPECT_EQ(Bytes(response.data, response.data + response.byteCount), Bytes(l.pdu.begin() + 1, l.pdu.end()));
    }
  }
}

}  // namespace
