#pragma once
// An in-memory transport that answers every request at once, as a device
// with instant replies would: reading holding registers returns a fixed
// pattern, writes are echoed. It allocates nothing per exchange, so a
// benchmark of Transact over it measures the stack alone.

#include <stdint.h>

#include "common/memory.h"
#include "modbus/framer.h"
#include "modbus/pdu.h"
#include "modbus/status.h"
#include "modbus/transport.h"

class LoopbackTransport final : public Transport {
 public:
  // frames: ReadFrame hands over the whole answer (datagrams, serial RTU).
  LoopbackTransport(const Framer* framer, bool frames) : framer_(framer), frames_(frames) {}

  int32_t Open() override { return 1; }
  void Close() override {}
  int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t) override {
    uint32_t n = answerLength_ - answerAt_;
    if (n == 0) return TransportTimedOut;
    if (n > capacity) n = capacity;
    mem::CopyBytes(buffer, answer_ + answerAt_, n);
    answerAt_ += n;
    return static_cast<int32_t>(n);
  }
  int32_t ReadFrame(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override {
    if (!frames_) return Read(buffer, capacity, timeoutMs);
    if (answerAt_ != 0 || answerLength_ > capacity) return Read(buffer, capacity, timeoutMs);
    return Read(buffer, answerLength_, timeoutMs);
  }
  int32_t IsMessageOriented() override { return frames_ ? 1 : 0; }
  int32_t Write(const uint8_t* bytes, uint32_t length, uint32_t) override {
    if (requestLength_ + length > sizeof request_) return TransportIoError;
    mem::CopyBytes(request_ + requestLength_, bytes, length);
    requestLength_ += length;
    return static_cast<int32_t>(length);
  }
  int32_t FinishTransmit(uint32_t) override {
    Answer();
    requestLength_ = 0;
    return 1;
  }
  int32_t PrepareExchange() override { return 1; }
  int32_t IsReady() override { return 1; }

 private:
  void Answer() {
    AduHeader header;
    Pdu request;
    answerAt_ = answerLength_ = 0;
    if (framer_->ParseAdu(request_, requestLength_, &header, &request) != StatusOk) return;
    Pdu reply;
    reply.function = request.function;
    if (request.function == 3 || request.function == 4) {
      const uint32_t count = GetU16(request.data + 2);
      reply.data[0] = static_cast<uint8_t>(2 * count);
      for (uint32_t i = 0; i < count; ++i) PutU16(reply.data + 1 + 2 * i, static_cast<uint16_t>(i * 257));
      reply.length = 1 + 2 * count;
    } else {
      mem::CopyBytes(reply.data, request.data, 4);
      reply.length = 4;
    }
    const int32_t n = framer_->BuildAdu(header, reply, answer_, sizeof answer_);
    answerLength_ = n > 0 ? static_cast<uint32_t>(n) : 0;
  }

  const Framer* framer_;
  bool frames_;
  uint8_t request_[kAduBufferSize] = {};
  uint32_t requestLength_ = 0;
  uint8_t answer_[kAduBufferSize] = {};
  uint32_t answerLength_ = 0;
  uint32_t answerAt_ = 0;
};
