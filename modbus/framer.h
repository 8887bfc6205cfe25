#pragma once
// The framer turns a PDU plus its addressing into an ADU and checks and
// splits a received ADU. One framer object belongs to one link and is used
// by that link's worker thread; the TX preview of a client builds requests
// with a framer object of its own on the user-interface thread. Nothing
// here blocks or allocates.

#include <stdint.h>

#include "modbus/pdu.h"

// How the link collects one ADU from the transport (Framer::Kind).
constexpr int32_t kFrameWhole = 0;       // one frame per ReadFrame (serial RTU, RTU over UDP)
constexpr int32_t kFrameAsciiStream = 1; // ':' ... CR end character
constexpr int32_t kFrameMbap = 2;        // MBAP header announces the length
constexpr int32_t kFrameRtuStream = 3;   // RTU on a byte stream: length from the function code

class Framer {
 public:
  Framer() = default;
  Framer(const Framer&) = delete;
  Framer& operator=(const Framer&) = delete;

  virtual ~Framer();

  // Writes the ADU for header and pdu into buffer and returns its
  // length; 0 when pdu.length exceeds kMaxPduData or the ADU does not fit
  // into capacity (nothing is written then).
  virtual int32_t BuildAdu(const AduHeader& header, const Pdu& pdu, uint8_t* buffer,
                           uint32_t capacity) const = 0;

  // Checks length bytes and splits them into header and pdu.
  // Returns StatusOk, or StatusInvalidLength (length impossible for the
  // framing), StatusCrcError, StatusLrcError or StatusInvalidFrame. The
  // unit address is not checked here: the frameworks do that. On failure
  // header and pdu may be partly written.
  virtual int32_t ParseAdu(const uint8_t* bytes, uint32_t length, AduHeader* header,
                           Pdu* pdu) const = 0;

  // How the link collects an ADU of this framing: kFrameWhole,
  // kFrameAsciiStream, kFrameMbap or kFrameRtuStream. Constant per object.
  virtual int32_t Kind() const = 0;

  // Smallest valid ADU: 4 RTU, 9 ASCII, 8 MBAP.
  virtual uint32_t MinAduLength() const = 0;

  // The last character of an ASCII frame; 0 for the other framings.
  virtual uint8_t EndCharacter() const;

  // 1 when c becomes the end character, 0 when refused or not
  // supported by the framing.
  virtual int32_t SetEndCharacter(uint8_t c);
};
