#pragma once
// The framer turns a PDU plus its addressing into an ADU and checks and
// splits a received ADU. One framer object belongs to one link and is used
// by that link's worker thread; the TX preview of a client builds requests
// with a framer object of its own on the user-interface thread. Nothing
// here blocks or allocates.

#include <stdint.h>

#include "modbus/framing.h"
#include "modbus/pdu.h"

class Framer {
 public:
  explicit Framer(FramingKind kind) : traits_(TraitsOf(kind)) {}
  explicit Framer(const FramingTraits& traits) : traits_(traits) {}
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

  // What this framing is (framing.h): how the link collects its ADUs, what
  // its unit ids mean. Constant per object.
  const FramingTraits& Traits() const { return traits_; }
  FramingKind Kind() const { return traits_.kind; }

  // Smallest valid ADU: 4 RTU, 9 ASCII, 8 MBAP.
  virtual uint32_t MinAduLength() const = 0;

  // The last character of an ASCII frame; 0 for the other framings.
  virtual uint8_t EndCharacter() const;

  // 1 when c becomes the end character, 0 when refused or not
  // supported by the framing.
  virtual int32_t SetEndCharacter(uint8_t c);

 private:
  const FramingTraits& traits_;
};
