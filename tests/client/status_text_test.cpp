// The RX line texts of every status.

#include <gtest/gtest.h>

#include <string>

#include "client/transaction.h"
#include "modbus/status.h"

namespace {

std::string Narrow(const Unit* text) {
  std::string out;
  for (; *text; ++text) out.push_back(static_cast<char>(*text));
  return out;
}

TEST(StatusText, EveryCode) {
  struct Case {
    int32_t status;
    const char* text;
  } cases[] = {
      {StatusTimeout, "RX: Timeout"},
      {StatusIncompleteFrame, "RX: Incomplete frame"},
      {StatusTransportError, "RX: Transport error"},
      {StatusCrcError, "RX: CRC error"},
      {StatusLrcError, "RX: LRC error"},
      {StatusInvalidLength, "RX: Invalid length"},
      {StatusTransactionMismatch, "RX: Transaction mismatch"},
      {StatusInvalidFrame, "RX: Invalid frame"},
      {StatusFrameTooLarge, "RX: Frame too large"},
      {StatusNotConnected, "RX: Not connected"},
      {StatusUnsupportedFunction, "RX: Unsupported function"},
      {StatusInvalidRequest, "RX: Invalid request"},
      {StatusResponseMismatch, "RX: Response mismatch"},
      {StatusCancelled, "RX: Cancelled"},
      {StatusSerialFramingError, "RX: Serial framing error"},
      {StatusInvalidAddress, "RX: Invalid address"},
      {StatusSerialOverrun, "RX: Serial character overrun"},
      {-18, "RX: Unknown error"},
      {-1000, "RX: Unknown error"},
      {0, "RX: Unknown error"},
      {42, "RX: Unknown error"},
      {-1001, "RX: Exception 01 - Illegal function"},
      {-1002, "RX: Exception 02 - Illegal data address"},
      {-1003, "RX: Exception 03 - Illegal data value"},
      {-1004, "RX: Exception 04 - Server device failure"},
      {-1005, "RX: Exception 05 - Acknowledge"},
      {-1006, "RX: Exception 06 - Server device busy"},
      {-1007, "RX: Exception 07 - Unknown"},
      {-1008, "RX: Exception 08 - Memory parity error"},
      {-1009, "RX: Exception 09 - Unknown"},
      {-1010, "RX: Exception 10 - Gateway path unavailable"},
      {-1011, "RX: Exception 11 - Gateway target failed"},
      {-1012, "RX: Exception 12 - Unknown"},
      {-1255, "RX: Exception 255 - Unknown"},
      {-1256, "RX: Exception 00 - Unknown"},    // the code is taken modulo 256
      {-1258, "RX: Exception 02 - Illegal data address"},
      {INT32_MIN, "RX: Exception 24 - Unknown"},  // (-1000 - INT32_MIN) mod 256
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    Unit buffer[kStatusTextCapacity];
    for (Unit& u : buffer) u = u'#';
    EXPECT_EQ(Narrow(StatusText(c.status, buffer)), c.text);
    char ascii[kStatusTextCapacity];
    EXPECT_EQ(std::string(StatusTextAscii(c.status, ascii, sizeof ascii)), c.text);
  }
}

TEST(StatusText, AsciiTruncatesToTheBuffer) {
  char small[8];
  EXPECT_EQ(std::string(StatusTextAscii(StatusTimeout, small, sizeof small)), "RX: Tim");
  EXPECT_EQ(StatusTextAscii(StatusTimeout, nullptr, 8), nullptr);
}

}  // namespace
