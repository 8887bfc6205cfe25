// Decoding a request PDU, executing it on the device map, and the wire PDU
// of the response.

#include "server/request.h"

#include "common/memory.h"
#include "modbus/functions.h"

namespace {

bool RangeFits(uint32_t address, uint32_t quantity) { return address + quantity <= kCellsPerArea; }

uint8_t ReadArea(uint8_t function) {
  switch (function) {
    case kReadCoils: return kAreaCoils;
    case kReadDiscreteInputs: return kAreaDiscreteInputs;
    case kReadHoldingRegisters: return kAreaHoldingRegisters;
    default: return kAreaInputRegisters;
  }
}

uint32_t MaxQuantity(uint8_t function) {
  switch (function) {
    case kReadCoils: case kReadDiscreteInputs: return kMaxReadBits;
    case kReadHoldingRegisters: case kReadInputRegisters: return kMaxReadRegisters;
    case kWriteMultipleCoils: return kMaxWriteCoils;
    default: return kMaxWriteRegisters;
  }
}

uint32_t WriteByteCount(uint8_t function, uint32_t quantity) {
  return function == kWriteMultipleCoils ? BitByteCount(quantity) : 2 * quantity;
}

void SetException(ServerResponse* response, uint8_t code) {
  response->isException = true;
  response->exceptionCode = code;
}

void ReadCells(const DeviceMap& map, const ServerRequest& request, ServerResponse* response) {
  const uint8_t area = ReadArea(request.function);
  const uint32_t quantity = request.quantityOrValue;
  if (IsBitArea(area)) {
    response->byteCount = static_cast<uint8_t>(BitByteCount(quantity));
    for (uint32_t i = 0; i < quantity; ++i) {
      if (map.Cell(area, static_cast<uint16_t>(request.address + i))) {
        response->data[i / 8] = static_cast<uint8_t>(response->data[i / 8] | (1u << (i % 8)));
      }
    }
    return;
  }
  response->byteCount = static_cast<uint8_t>(2 * quantity);
  for (uint32_t i = 0; i < quantity; ++i) {
    PutU16(response->data + 2 * i, map.Cell(area, static_cast<uint16_t>(request.address + i)));
  }
}

void WriteCells(DeviceMap* map, const ServerRequest& request) {
  const uint32_t quantity = request.quantityOrValue;
  for (uint32_t i = 0; i < quantity; ++i) {
    const uint16_t address = static_cast<uint16_t>(request.address + i);
    if (request.function == kWriteMultipleCoils) {
      map->SetCell(kAreaCoils, address, (request.data[i / 8] >> (i % 8)) & 1u);
    } else {
      map->SetCell(kAreaHoldingRegisters, address, GetU16(request.data + 2 * i));
    }
  }
}

// ExecuteRequest trusts DecodeRequest; this keeps a request built by other
// means from reading or writing past the request and response buffers.
bool WithinLimits(const ServerRequest& request) {
  const uint32_t quantity = request.quantityOrValue;
  switch (request.function) {
    case kReadCoils: case kReadDiscreteInputs: case kReadHoldingRegisters: case kReadInputRegisters:
      return quantity >= 1 && quantity <= MaxQuantity(request.function) && RangeFits(request.address, quantity);
    case kWriteMultipleCoils: case kWriteMultipleRegisters:
      return quantity >= 1 && quantity <= MaxQuantity(request.function) && RangeFits(request.address, quantity) &&
             request.byteCount == WriteByteCount(request.function, quantity);
    default:
      return true;
  }
}

}  // namespace

bool DecodeRequest(const Pdu& pdu, ServerRequest* request) {
  const uint8_t* data = pdu.data;
  const uint32_t length = pdu.length;
  request->function = pdu.function;
  switch (pdu.function) {
    case kReadCoils: case kReadDiscreteInputs: case kReadHoldingRegisters: case kReadInputRegisters: {
      if (length != 4) return false;
      request->address = GetU16(data);
      request->quantityOrValue = GetU16(data + 2);
      const uint32_t quantity = request->quantityOrValue;
      return quantity >= 1 && quantity <= MaxQuantity(pdu.function) && RangeFits(request->address, quantity);
    }
    case kWriteSingleCoil: case kWriteSingleRegister:
      if (length != 4) return false;
      request->address = GetU16(data);
      request->quantityOrValue = GetU16(data + 2);
      return pdu.function == kWriteSingleRegister || request->quantityOrValue == kCoilOff ||
             request->quantityOrValue == kCoilOn;
    case kDiagnostics:
      if (length < 2 || length % 2 != 0 || length > kMaxPduData) return false;
      request->address = GetU16(data);
      request->dataLength = static_cast<uint16_t>(length - 2);
      mem::CopyBytes(request->data, data + 2, request->dataLength);
      request->quantityOrValue = request->dataLength >= 2 ? GetU16(data + 2) : 0;
      return true;
    case kWriteMultipleCoils: case kWriteMultipleRegisters: {
      if (length < 5) return false;
      request->address = GetU16(data);
      request->quantityOrValue = GetU16(data + 2);
      request->byteCount = data[4];
      const uint32_t quantity = request->quantityOrValue;
      if (length != request->byteCount + 5u) return false;
      if (quantity < 1 || quantity > MaxQuantity(pdu.function)) return false;
      if (request->byteCount != WriteByteCount(pdu.function, quantity)) return false;
      if (!RangeFits(request->address, quantity)) return false;
      mem::CopyBytes(request->data, data + 5, request->byteCount);
      return true;
    }
    default:
      return false;
  }
}

void ExecuteRequest(DeviceMap* map, const ServerRequest& request, ServerResponse* response,
                    WrittenRange* written) {
  mem::FillBytes(response, 0, sizeof *response);
  *written = WrittenRange{};
  response->function = request.function;
  if (!WithinLimits(request)) {
    SetException(response, kIllegalDataValue);
    return;
  }
  map->LockMap();
  switch (request.function) {
    case kReadCoils: case kReadDiscreteInputs: case kReadHoldingRegisters: case kReadInputRegisters:
      ReadCells(*map, request, response);
      break;
    case kWriteSingleCoil: case kWriteSingleRegister: {
      const bool coil = request.function == kWriteSingleCoil;
      const uint16_t value = coil ? (request.quantityOrValue == kCoilOn ? 1 : 0) : request.quantityOrValue;
      const uint8_t area = coil ? kAreaCoils : kAreaHoldingRegisters;
      map->SetCell(area, request.address, value);
      response->echoAddress = request.address;
      response->echoValue = request.quantityOrValue;
      *written = WrittenRange{area, request.address, 1};
      break;
    }
    case kWriteMultipleCoils: case kWriteMultipleRegisters:
      WriteCells(map, request);
      response->echoAddress = request.address;
      response->echoValue = request.quantityOrValue;
      *written = WrittenRange{static_cast<uint8_t>(request.function == kWriteMultipleCoils ? kAreaCoils : kAreaHoldingRegisters),
                              request.address, request.quantityOrValue};
      break;
    default:
      SetException(response, kIllegalFunction);
      break;
  }
  map->UnlockMap();
}

int32_t BuildResponsePdu(const ServerResponse& response, Pdu* pdu) {
  uint8_t* out = pdu->data;
  pdu->function = response.function;
  pdu->length = 0;
  if (response.isException) {
    if (response.exceptionCode == 0) return StatusInvalidRequest;
    pdu->function = static_cast<uint8_t>(response.function | kExceptionFlag);
    out[0] = response.exceptionCode;
    pdu->length = 1;
    return StatusOk;
  }
  switch (response.function) {
    case kReadCoils: case kReadDiscreteInputs: case kReadHoldingRegisters: case kReadInputRegisters:
      if (response.byteCount == 0 || response.byteCount > kRequestDataMax) return StatusInvalidRequest;
      out[0] = response.byteCount;
      mem::CopyBytes(out + 1, response.data, response.byteCount);
      pdu->length = 1u + response.byteCount;
      return StatusOk;
    case kWriteSingleCoil: case kWriteSingleRegister:
      if (response.function == kWriteSingleCoil && response.echoValue != kCoilOff && response.echoValue != kCoilOn) {
        return StatusInvalidRequest;
      }
      break;
    case kWriteMultipleCoils: case kWriteMultipleRegisters: {
      const uint32_t quantity = response.echoValue;
      if (quantity == 0 || quantity > MaxQuantity(response.function) || !RangeFits(response.echoAddress, quantity)) {
        return StatusInvalidRequest;
      }
      break;
    }
    case kDiagnostics: {
      const uint32_t echoed = response.echoDataLength;
      if (echoed % 2 != 0 || echoed > kRequestDataMax) return StatusInvalidRequest;
      if (response.echoAddress != 0 && echoed != 0 && echoed != 2) return StatusInvalidRequest;
      PutU16(out, response.echoAddress);
      if (echoed) {
        mem::CopyBytes(out + 2, response.echoData, echoed);
        pdu->length = 2 + echoed;
      } else {
        PutU16(out + 2, response.echoValue);
        pdu->length = 4;
      }
      return StatusOk;
    }
    default:
      return StatusUnsupportedFunction;
  }
  PutU16(out, response.echoAddress);
  PutU16(out + 2, response.echoValue);
  pdu->length = 4;
  return StatusOk;
}
