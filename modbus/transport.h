#pragma once
// The transport moves bytes with deadlines: a serial port, a TCP connection
// or a UDP socket. One transport object belongs to one link. Its operations
// are called by the link's worker thread only, one at a time; Open may also
// be called on the user-interface thread before the worker starts. Cancel
// may be called from any thread at any time.
//
// Results (modbus/status.h): a positive count of bytes read or written (1
// for success of the boolean operations), TransportTimedOut (0) when the
// time passed with nothing done, or a negative transport result:
// TransportIoError, TransportCancelled (stop event set or not open),
// TransportLineError, TransportOverrun, and from ReadFrame only
// TransportFrameTooLarge and TransportInvalidFrame.
//
// Every blocking wait inside Read, ReadFrame, Write, FinishTransmit and a
// network accept also watches the stop event and returns TransportCancelled
// once it is set; BeginTransmit and Open return 0 instead. Timeouts are
// relative milliseconds; the link computes them from absolute deadlines.

#include <stdint.h>

#include "common/platform.h"

// Milliseconds a transport allows for writing one ADU unless it computes
// its own budget from the line speed.
constexpr uint32_t kDefaultWriteBudgetMs = 2000;

// What the framing can tell of a frame read so far, for a transport that
// ends frames by silence (FrameJudge): a USB serial adapter hands bytes
// over in bursts, and a gap between bursts is no end of a frame whose
// length the framing knows.
constexpr int32_t kFrameEndsHere = 1;   // its known length is reached, or its CRC decides it ends
constexpr int32_t kFrameGoesOn = 0;     // more bytes belong to it: a gap does not end it
constexpr int32_t kFrameUnplaced = -1;  // nothing places it: the silence ends it
using FrameJudge = int32_t (*)(const void* context, const uint8_t* bytes, uint32_t length);

class Transport {
 public:
  // Creates the manual-reset stop event, unset.
  Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Releases the stop event; a concrete transport closes its port or socket
  // in its own destructor.
  virtual ~Transport();

  // Opens the port, connects, binds or listens. 1 when the port,
  // connection or socket is ready, 0 if not. A transport that waits inside
  // Open resets its stop event first.
  virtual int32_t Open() = 0;

  // Releases the port or socket and marks the transport not ready.
  // Safe when already closed.
  virtual void Close() = 0;

  // Blocks until at least one byte arrived or timeoutMs passed.
  // Returns 1 to capacity bytes read, 0 when the time passed without data,
  // or a negative transport result.
  virtual int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) = 0;

  // Reads one whole frame: one datagram, or one serial RTU frame
  // ended by silence. timeoutMs bounds the wait for its first byte. Default:
  // Read.
  virtual int32_t ReadFrame(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs);

  // 1 when every ReadFrame returns exactly one datagram, so that the link
  // takes each as a whole ADU. Default 0.
  virtual int32_t IsMessageOriented();

  // Blocks until some bytes were accepted or timeoutMs passed.
  // Returns the bytes accepted (possibly fewer than length), 0 on timeout,
  // or a negative transport result.
  virtual int32_t Write(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs) = 0;

  // Milliseconds allowed for writing length bytes, from the start of the
  // first Write to the end of FinishTransmit. Default kDefaultWriteBudgetMs.
  virtual uint32_t WriteBudget(uint32_t length);

  // Blocks until a frame may be sent (serial RTU: the inter-frame
  // silence). 1 to go ahead, 0 when cancelled. Default 1.
  virtual int32_t BeginTransmit();

  // Blocks until the written bytes have left the device. 1 when
  // they have, 0 on timeout, or a negative transport result. Default 1.
  virtual int32_t FinishTransmit(uint32_t timeoutMs);

  // Makes the transport ready for a new request/response exchange,
  // typically by discarding stale input. 1 on success, 0 on failure.
  virtual int32_t PrepareExchange() = 0;

  // Resynchronises after a failed or abandoned frame. Default:
  // Close (a TCP client reconnects before its next request).
  virtual void ResetAfterError();

  // 1 when open or connected, 0 otherwise. Does not block.
  virtual int32_t IsReady() = 0;

  // A server's peer of the last exchange (the connected TCP client, the
  // sender of the last datagram) as an IPv4 address in host order and a
  // port: 1 when there is one, 0 otherwise (the default). For the traffic
  // log; the worker thread only.
  virtual int32_t Peer(uint32_t* address, uint16_t* port);

  // Sets the stop event, then runs the cancel hook of the
  // concrete transport, if it registered one (the serial port aborts its
  // pending driver I/O there). Any thread.
  void Cancel();

  // The judge that ReadFrame consults about the frame it reads (null: the
  // silence alone ends frames). The link sets it before each ReadFrame.
  void SetFrameJudge(FrameJudge judge, const void* context) {
    frameJudge_ = judge;
    frameJudgeContext_ = context;
  }

  // The stop event. Only Open of the concrete transport resets it.
  plat::Event* StopEvent() const { return stopEvent_; }
  bool StopRequested() const { return plat::EventWait(stopEvent_, 0); }

 protected:
  using CancelHook = void (*)(Transport* transport);
  // Registered once by a concrete transport's constructor.
  void SetCancelHook(CancelHook hook) { cancelHook_ = hook; }
  // kFrameEndsHere, kFrameGoesOn or kFrameUnplaced (no judge set).
  int32_t JudgeFrame(const uint8_t* bytes, uint32_t length) const {
    return frameJudge_ ? frameJudge_(frameJudgeContext_, bytes, length) : kFrameUnplaced;
  }

 private:
  plat::Event* stopEvent_ = nullptr;
  CancelHook cancelHook_ = nullptr;
  FrameJudge frameJudge_ = nullptr;
  const void* frameJudgeContext_ = nullptr;
};
