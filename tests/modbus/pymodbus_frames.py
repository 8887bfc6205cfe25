#!/usr/bin/python3
"""Writes Modbus frames built by pymodbus (an independent implementation) for
the RTU, ASCII and socket (MBAP) framings, one per line, for the stack's
cross-check test:

  kind framing unit tid fcode pdu-hex adu-hex extra...

kind request:   extra = function address quantity-or-value request-data-hex
kind response:  extra = address quantity-or-value (of the request answered)
kind exception: extra = exception-code
Hex fields are '-' when empty. Usage: pymodbus_frames.py OUTPUT
"""
import random
import sys

from pymodbus.bit_read_message import (ReadCoilsRequest, ReadCoilsResponse,
                                       ReadDiscreteInputsRequest,
                                       ReadDiscreteInputsResponse)
from pymodbus.bit_write_message import (WriteMultipleCoilsRequest,
                                        WriteMultipleCoilsResponse,
                                        WriteSingleCoilRequest,
                                        WriteSingleCoilResponse)
from pymodbus.factory import ClientDecoder
from pymodbus.framer.ascii_framer import ModbusAsciiFramer
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.framer.socket_framer import ModbusSocketFramer
from pymodbus.pdu import ExceptionResponse
from pymodbus.register_read_message import (ReadHoldingRegistersRequest,
                                            ReadHoldingRegistersResponse,
                                            ReadInputRegistersRequest,
                                            ReadInputRegistersResponse)
from pymodbus.register_write_message import (WriteMultipleRegistersRequest,
                                             WriteMultipleRegistersResponse,
                                             WriteSingleRegisterRequest,
                                             WriteSingleRegisterResponse)

FRAMERS = {
    "rtu": ModbusRtuFramer(ClientDecoder()),
    "ascii": ModbusAsciiFramer(ClientDecoder()),
    "mbap": ModbusSocketFramer(ClientDecoder()),
}


def hexed(data):
    return data.hex() if data else "-"


def pymodbus_lrc_is_broken(message):
    # pymodbus computes the LRC as (sum ^ 0xFF) + 1, which is 0x100 (three
    # digits) when the bytes sum to 0 modulo 256; such frames are skipped.
    total = message.unit_id + message.function_code + sum(message.encode())
    return total % 256 == 0


def frame(framing, message, unit, tid):
    message.unit_id = unit
    message.transaction_id = tid
    if framing == "ascii" and pymodbus_lrc_is_broken(message):
        return None
    adu = FRAMERS[framing].buildPacket(message)
    return [framing, unit, tid if framing == "mbap" else 0, message.function_code,
            hexed(message.encode()), hexed(adu)]


def cases(rng):
    """(request, normal response, request parameters) for every function."""
    out = []
    for function, address, quantity in [(1, 0, 1), (1, 19, 9), (1, 65535 - 1999, 2000),
                                        (2, 196, 22), (2, 7, 8)]:
        bits = [rng.random() < 0.5 for _ in range(quantity)]
        req = (ReadCoilsRequest if function == 1 else ReadDiscreteInputsRequest)(address, quantity)
        rsp = (ReadCoilsResponse if function == 1 else ReadDiscreteInputsResponse)(bits)
        out.append((req, rsp, function, address, quantity, b""))
    for function, address, quantity in [(3, 0, 1), (3, 107, 3), (4, 8, 125), (4, 65535 - 124, 125)]:
        values = [rng.randrange(65536) for _ in range(quantity)]
        req = (ReadHoldingRegistersRequest if function == 3 else ReadInputRegistersRequest)(address, quantity)
        rsp = (ReadHoldingRegistersResponse if function == 3 else ReadInputRegistersResponse)(values)
        out.append((req, rsp, function, address, quantity, b""))
    for address, value in [(172, True), (0, False), (65535, True)]:
        req = WriteSingleCoilRequest(address, value)
        rsp = WriteSingleCoilResponse(address, value)
        out.append((req, rsp, 5, address, 0xFF00 if value else 0, b""))
    for address, value in [(1, 3), (65535, 0xFFFF), (0, 0)]:
        req = WriteSingleRegisterRequest(address, value)
        rsp = WriteSingleRegisterResponse(address, value)
        out.append((req, rsp, 6, address, value, b""))
    for address, quantity in [(19, 10), (0, 1), (65535 - 1967, 1968)]:
        bits = [rng.random() < 0.5 for _ in range(quantity)]
        req = WriteMultipleCoilsRequest(address, bits)
        rsp = WriteMultipleCoilsResponse(address, quantity)
        out.append((req, rsp, 15, address, quantity, req.encode()[5:]))
    for address, quantity in [(1, 2), (0, 123), (65535, 1)]:
        values = [rng.randrange(65536) for _ in range(quantity)]
        req = WriteMultipleRegistersRequest(address, values)
        rsp = WriteMultipleRegistersResponse(address, quantity)
        out.append((req, rsp, 16, address, quantity, req.encode()[5:]))
    return out


def main():
    rng = random.Random(20240611)
    lines = []
    for framing in FRAMERS:
        units = [1, 17, 247] + ([0, 128, 255] if framing == "mbap" else [])
        for index, (req, rsp, function, address, quantity, data) in enumerate(cases(rng)):
            unit = units[index % len(units)]
            tid = rng.randrange(65536)
            row = frame(framing, req, unit, tid)
            if row:
                lines.append(["request"] + row + [function, address, quantity, hexed(data)])
            row = frame(framing, rsp, unit, tid)
            if row:
                lines.append(["response"] + row + [address, quantity])
            for code in (1, 2, 3, 4, 6, 11):
                row = frame(framing, ExceptionResponse(function, code), unit, tid)
                if row:
                    lines.append(["exception"] + row + [code])
        if framing != "mbap":
            # Broadcast writes at address 0.
            row = frame(framing, WriteSingleRegisterRequest(4, 0x1234), 0, 0)
            lines.append(["request"] + row + [6, 4, 0x1234, "-"])
    with open(sys.argv[1], "w", encoding="ascii") as out:
        for line in lines:
            out.write(" ".join(str(field) for field in line) + "\n")


if __name__ == "__main__":
    main()
