#!/usr/bin/python3
"""Checks our request processing against pymodbus, an independent Modbus
implementation: pymodbus builds the requests and decodes our responses with
its client-side framers and decoders, and pymodbus's own server-side request
execution on a mirror of our device map is the oracle for the answers of the
read and write functions.

Usage: pymodbus_peer.py PATH/TO/server_peer_driver
Prints one line per failed check and a summary; exits 1 on any failure."""

import logging
import random
import subprocess
import sys

from pymodbus.bit_read_message import ReadCoilsRequest, ReadDiscreteInputsRequest
from pymodbus.bit_write_message import WriteMultipleCoilsRequest, WriteSingleCoilRequest
from pymodbus.datastore import ModbusSequentialDataBlock, ModbusSlaveContext
from pymodbus.diag_message import (
    ChangeAsciiInputDelimiterRequest, ClearCountersRequest, ClearOverrunCountRequest,
    ForceListenOnlyModeRequest, GetClearModbusPlusRequest, RestartCommunicationsOptionRequest,
    ReturnBusCommunicationErrorCountRequest, ReturnBusExceptionErrorCountRequest,
    ReturnBusMessageCountRequest, ReturnDiagnosticRegisterRequest, ReturnIopOverrunCountRequest,
    ReturnQueryDataRequest, ReturnSlaveBusCharacterOverrunCountRequest, ReturnSlaveBusyCountRequest,
    ReturnSlaveMessageCountRequest, ReturnSlaveNAKCountRequest, ReturnSlaveNoResponseCountRequest)
from pymodbus.factory import ClientDecoder
from pymodbus.file_message import ReadFifoQueueRequest
from pymodbus.framer.ascii_framer import ModbusAsciiFramer
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.framer.socket_framer import ModbusSocketFramer
from pymodbus.mei_message import ReadDeviceInformationRequest
from pymodbus.other_message import (
    GetCommEventCounterRequest, ReadExceptionStatusRequest, ReportSlaveIdRequest)
from pymodbus.pdu import ExceptionResponse, IllegalFunctionRequest
from pymodbus.register_read_message import (
    ReadHoldingRegistersRequest, ReadInputRegistersRequest, ReadWriteMultipleRegistersRequest)
from pymodbus.register_write_message import (
    MaskWriteRegisterRequest, WriteMultipleRegistersRequest, WriteSingleRegisterRequest)

FRAMERS = {
    "rtu": ModbusRtuFramer,
    "rtustream": ModbusRtuFramer,
    "ascii": ModbusAsciiFramer,
    "mbap": ModbusSocketFramer,
    "mbapdgram": ModbusSocketFramer,
}
SERIAL = ("rtu", "rtustream", "ascii")
MBAP = ("mbap", "mbapdgram")
# Area numbers of our map for the function codes that pymodbus's data store
# addresses by function code.
AREA_OF_FUNCTION = {1: 0, 2: 1, 3: 3, 4: 2}

failures = []
checks = 0


def check(condition, what):
    global checks
    checks += 1
    if not condition:
        failures.append(what)
        print("FAIL:", what)


class Driver:
    def __init__(self, path):
        self.process = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True, bufsize=1)

    def command(self, line):
        self.process.stdin.write(line + "\n")
        answer = self.process.stdout.readline().strip()
        if not answer or answer.startswith("error"):
            raise RuntimeError(f"driver: {line!r} -> {answer!r}")
        return answer

    def serve(self, framing, packet):
        answer = self.command(f"serve {framing} {bytes(packet).hex()}")
        kind, _, rest = answer.partition(" ")
        return bytes.fromhex(rest) if kind == "sent" else None

    def set(self, area, address, value):
        self.command(f"set {area} {address} {value}")

    def get(self, framing, area, address):
        return int(self.command(f"get {framing} {area} {address}").split()[1])

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=10)


def new_context():
    def block():
        return ModbusSequentialDataBlock(0, [0] * 65536)
    return ModbusSlaveContext(di=block(), co=block(), hr=block(), ir=block(), zero_mode=True)


transaction = 0


def request_packet(framing, request, unit):
    global transaction
    transaction = (transaction + 1) & 0xFFFF
    request.unit_id = unit
    request.transaction_id = transaction
    packet = FRAMERS[framing](ClientDecoder()).buildPacket(request)
    if framing == "ascii":
        # pymodbus writes lower-case hexadecimal digits; the ASCII framing
        # accepts upper case only (checked separately below).
        packet = bytes(packet).upper()
    return bytes(packet)


def pdu_of(framing, adu):
    if framing in ("rtu", "rtustream"):
        return adu[1:-2]
    if framing == "ascii":
        return bytes.fromhex(adu[1:-2].decode())[1:-1]
    return adu[7:]


def decode(framing, adu, unit):
    """pymodbus's client side decodes our response ADU."""
    results = []
    framer = FRAMERS[framing](ClientDecoder())
    try:
        framer.processIncomingPacket(adu, results.append, unit=unit)
    except Exception as error:  # pylint: disable=broad-except
        return f"decode error {error}"
    return results[0] if len(results) == 1 else f"{len(results)} decoded responses"


def exchange(driver, framing, request, unit=1):
    """Sends a pymodbus-built request; returns (our ADU or None, decoded)."""
    tid = transaction + 1
    adu = driver.serve(framing, request_packet(framing, request, unit))
    if adu is None:
        return None, None
    decoded = decode(framing, adu, unit)
    if not isinstance(decoded, str):
        check(decoded.unit_id == unit, f"{framing}: response unit {decoded.unit_id}, request unit {unit}")
        if framing in MBAP:
            check(decoded.transaction_id == tid,
                  f"{framing}: response transaction {decoded.transaction_id}, request {tid}")
    return adu, decoded


def oracle_pdu(request, context):
    response = request.execute(context)
    return bytes([response.function_code]) + response.encode()


def against_oracle(driver, framing, request, context, what):
    expected = oracle_pdu(request, context)
    adu, decoded = exchange(driver, framing, request)
    if adu is None:
        check(False, f"{framing} {what}: no response, pymodbus answers {expected.hex()}")
        return
    check(pdu_of(framing, adu) == expected,
          f"{framing} {what}: ours {pdu_of(framing, adu).hex()}, pymodbus {expected.hex()}")
    check(not isinstance(decoded, str), f"{framing} {what}: pymodbus cannot decode our {adu.hex()}: {decoded}")
    if isinstance(decoded, str):
        return
    if expected[0] & 0x80:
        check(isinstance(decoded, ExceptionResponse) and decoded.exception_code == expected[1],
              f"{framing} {what}: decoded {decoded}")
        return
    check(decoded.function_code == request.function_code, f"{framing} {what}: decoded {decoded}")
    count = getattr(request, "count", None)
    if request.function_code in (1, 2):
        bits = context.getValues(request.function_code, request.address, count)
        check([bool(b) for b in decoded.bits[:count]] == [bool(b) for b in bits],
              f"{framing} {what}: decoded bits differ")
    elif request.function_code in (3, 4):
        registers = context.getValues(request.function_code, request.address, count)
        check(list(decoded.registers) == list(registers), f"{framing} {what}: decoded registers differ")
    else:
        check(decoded.address == request.address, f"{framing} {what}: echoed address {decoded.address}")


def seed_cells(driver, contexts, rng):
    """The same cells in every server's map and in every mirror."""
    for _ in range(300):
        function = rng.choice((1, 2, 3, 4))
        address = rng.choice((rng.randrange(0, 2100), rng.randrange(63000, 65536)))
        value = rng.randrange(2) if function in (1, 2) else rng.randrange(65536)
        driver.set(AREA_OF_FUNCTION[function], address, value)
        for context in contexts.values():
            context.setValues(function, address, [value])


def random_request(rng):
    function = rng.choice((1, 2, 3, 4, 5, 6, 15, 16))
    if function in (1, 2):
        count = rng.choice((1, 8, 9, 10, rng.randrange(1, 2001), 2000))
    elif function in (3, 4):
        count = rng.choice((1, 2, rng.randrange(1, 126), 125))
    elif function == 15:
        count = rng.choice((1, 9, rng.randrange(1, 1969), 1968))
    elif function == 16:
        count = rng.choice((1, 2, rng.randrange(1, 124), 123))
    else:
        count = 1
    high = 65536 - count
    address = rng.choice((0, rng.randrange(0, 2000) % (high + 1), high, max(0, high - rng.randrange(0, 50))))
    if function == 1:
        return ReadCoilsRequest(address, count)
    if function == 2:
        return ReadDiscreteInputsRequest(address, count)
    if function == 3:
        return ReadHoldingRegistersRequest(address, count)
    if function == 4:
        return ReadInputRegistersRequest(address, count)
    if function == 5:
        return WriteSingleCoilRequest(address, rng.random() < 0.5)
    if function == 6:
        return WriteSingleRegisterRequest(address, rng.randrange(65536))
    if function == 15:
        return WriteMultipleCoilsRequest(address, [rng.random() < 0.5 for _ in range(count)])
    return WriteMultipleRegistersRequest(address, [rng.randrange(65536) for _ in range(count)])


def malformed_requests():
    """Requests a conforming server must refuse; pymodbus's server-side
    execution agrees on each of these, so it stays the oracle."""
    cases = [
        ("read coils 0", ReadCoilsRequest(0, 0)),
        ("read coils 2001", ReadCoilsRequest(0, 2001)),
        ("read inputs past the end", ReadDiscreteInputsRequest(65535, 2)),
        ("read holding 126", ReadHoldingRegistersRequest(0, 126)),
        ("read holding 0", ReadHoldingRegistersRequest(10, 0)),
        ("read holding past the end", ReadHoldingRegistersRequest(65535, 2)),
        ("read input registers past the end", ReadInputRegistersRequest(65500, 100)),
        ("write registers past the end", WriteMultipleRegistersRequest(65535, [1, 2])),
        ("write coils past the end", WriteMultipleCoilsRequest(65530, [True] * 8)),
        ("write 1969 coils", WriteMultipleCoilsRequest(0, [True] * 1969)),
    ]
    wrong_count = WriteMultipleRegistersRequest(100, [1, 2])
    wrong_count.byte_count = 3
    cases.append(("register byte count 3 for 2 registers", wrong_count))
    return cases


class WireRequest(IllegalFunctionRequest):
    """pymodbus's stand-in for an unknown function code, given a body so it
    can be put on the wire."""

    def __init__(self, function_code, body=b""):
        super().__init__(function_code)
        self.body = body

    def encode(self):
        return self.body


def unsupported_requests():
    """Requests of functions this server does not implement, built by
    pymodbus's own encoders; each must be refused with exception 1."""
    return [
        ReadExceptionStatusRequest(),
        GetCommEventCounterRequest(),
        ReportSlaveIdRequest(),
        MaskWriteRegisterRequest(1, 0xFF00, 0x0012),
        ReadWriteMultipleRegistersRequest(read_address=0, read_count=2, write_address=4,
                                          write_registers=[1, 2]),
        ReadFifoQueueRequest(5),
        ReadDeviceInformationRequest(),
        WireRequest(0x41, b"\x00\x01"),
    ]


def check_exception(driver, framing, request, code, what):
    adu, decoded = exchange(driver, framing, request)
    check(adu is not None, f"{framing} {what}: no response, exception {code} expected")
    if adu is None:
        return
    check(isinstance(decoded, ExceptionResponse) and decoded.exception_code == code
          and decoded.original_code == request.function_code,
          f"{framing} {what}: decoded {decoded}, exception {code} expected")


def check_diagnostic(driver, framing, request, words, what):
    adu, decoded = exchange(driver, framing, request)
    check(adu is not None, f"{framing} {what}: no response")
    if adu is None:
        return
    ok = (not isinstance(decoded, str) and decoded.function_code == 8
          and decoded.sub_function_code == request.sub_function_code
          and tuple(decoded.message) == tuple(words))
    check(ok, f"{framing} {what}: decoded {decoded} {getattr(decoded, 'message', None)}, expected {words}")


def check_silent(driver, framing, request, what, unit=1):
    adu, _ = exchange(driver, framing, request, unit)
    check(adu is None, f"{framing} {what}: answered {adu.hex() if adu else ''}, silence expected")


def diagnostics(driver, framing):
    # On RTU, our stream framing and pymodbus's RTU decoder both take a
    # function 8 frame to be 8 bytes long: one data word only there.
    words = [0x1234] if framing in ("rtu", "rtustream") else [0x1234, 0xABCD]
    check_diagnostic(driver, framing, ReturnQueryDataRequest(words), tuple(words), "query data")
    check_diagnostic(driver, framing, ClearCountersRequest(), (0,), "clear counters")
    check_diagnostic(driver, framing, ReturnDiagnosticRegisterRequest(), (0,), "diagnostic register")
    check_exception(driver, framing, ReadHoldingRegistersRequest(0, 0), 3, "exception for the counters")
    check_silent(driver, framing, WriteSingleRegisterRequest(40, 4040), "broadcast write", unit=0)
    check(driver.get(framing, 3, 40) == 4040, f"{framing}: broadcast write not executed")
    check_silent(driver, framing, ReadHoldingRegistersRequest(40, 1), "broadcast read", unit=0)
    check_silent(driver, framing, ReadHoldingRegistersRequest(40, 1), "another slave", unit=7)
    # Since the clear: register, exception, two broadcasts, another slave,
    # and each counter request itself.
    check_diagnostic(driver, framing, ReturnBusMessageCountRequest(), (6,), "bus message count")
    check_diagnostic(driver, framing, ReturnBusCommunicationErrorCountRequest(), (0,), "bus error count")
    check_diagnostic(driver, framing, ReturnBusExceptionErrorCountRequest(), (2,), "exception count")
    check_diagnostic(driver, framing, ReturnSlaveMessageCountRequest(), (8,), "server message count")
    check_diagnostic(driver, framing, ReturnSlaveNoResponseCountRequest(), (2,), "no response count")
    check_diagnostic(driver, framing, ReturnSlaveNAKCountRequest(), (0,), "NAK count")
    check_diagnostic(driver, framing, ReturnSlaveBusyCountRequest(), (0,), "busy count")
    check_diagnostic(driver, framing, ReturnSlaveBusCharacterOverrunCountRequest(), (0,), "overrun count")
    check_diagnostic(driver, framing, ClearOverrunCountRequest(), (0,), "clear overrun")
    check_exception(driver, framing, ReturnIopOverrunCountRequest(), 1, "sub-function 19")
    check_exception(driver, framing, GetClearModbusPlusRequest(), 1, "sub-function 21")
    delimiter = ChangeAsciiInputDelimiterRequest(0x3A00)
    check_exception(driver, framing, delimiter, 1 if framing != "ascii" else 3, "delimiter ':'")
    check_diagnostic(driver, framing, RestartCommunicationsOptionRequest(toggle=True), (0xFF00,), "restart")
    # Listen-only: silent until the restart, whose own answer is withheld.
    check_silent(driver, framing, ForceListenOnlyModeRequest(), "force listen only")
    check_silent(driver, framing, ReadCoilsRequest(0, 1), "read while listening only")
    check_silent(driver, framing, ReturnQueryDataRequest([0x0001]), "query data while listening only")
    check_silent(driver, framing, RestartCommunicationsOptionRequest(), "restart from listen only")
    check_diagnostic(driver, framing, ReturnSlaveMessageCountRequest(), (1,), "server messages after restart")


def main():
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    driver = Driver(sys.argv[1])
    rng = random.Random(20261208)
    # Each framing has a server of its own, so each gets its own mirror.
    contexts = {framing: new_context() for framing in FRAMERS}
    seed_cells(driver, contexts, rng)

    for framing in FRAMERS:
        context = contexts[framing]
        for index in range(80):
            request = random_request(rng)
            against_oracle(driver, framing, request, context,
                           f"#{index} function {request.function_code} at {request.address}")
        for what, request in malformed_requests():
            # The RTU stream takes a request's length from its function code
            # and byte count, so a byte count that lies cannot be framed there.
            if framing == "rtustream" and what.startswith("register byte count"):
                continue
            against_oracle(driver, framing, request, context, what)
        if framing != "rtustream":
            for request in unsupported_requests():
                check_exception(driver, framing, request, 1, f"function {request.function_code}")
        if framing in MBAP:
            check_exception(driver, framing, ReturnQueryDataRequest([0x1234]), 1, "function 8")
            adu, decoded = exchange(driver, framing, ReadHoldingRegistersRequest(40, 1), unit=0)
            check(adu is not None and not isinstance(decoded, str), f"{framing}: unit 0 not answered")
        else:
            diagnostics(driver, framing)

    # Where the order of our checks differs from pymodbus's: a read whose
    # quantity is too large and which also runs past the last address is
    # refused for the address (2); pymodbus refuses it for the quantity (3).
    check_exception(driver, "rtu", ReadHoldingRegistersRequest(65500, 126), 2, "quantity and address both bad")

    # pymodbus's ASCII framer writes lower-case digits, which the ASCII
    # framing refuses: the request is not answered.
    raw = ModbusAsciiFramer(ClientDecoder()).buildPacket(ReadCoilsRequest(0, 1, unit=1))
    check(driver.serve("ascii", bytes(raw)) is None if bytes(raw) != bytes(raw).upper() else True,
          "ascii: lower-case request answered")

    driver.close()
    print(f"{checks - len(failures)} of {checks} checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
