#!/usr/bin/python3
"""Independent pymodbus peers for the serial end-to-end test.

  serial_peer.py our-client --device PTY --framer rtu|ascii --engine CMD... -- ENGINE-OPTIONS...
      Serves a pymodbus server on PTY and runs engine_host (our client) once
      per request, checking every response against the pymodbus data store.
  serial_peer.py our-client --peer RTU_PEER_SERVER ...
      The same against the libmodbus RTU server program (RTU only).
  serial_peer.py our-server --device PTY --framer rtu|ascii --engine CMD... -- ENGINE-OPTIONS...
      Starts engine_host as a server and checks it with a pymodbus client:
      every supported function, exceptions and the diagnostics of function 8.

Prints one "PASS name" or "FAIL name: why" line per check; the exit status
is the number of failed checks (0 when all passed).
"""
import asyncio
import os
import subprocess
import sys
import threading
import time

from pymodbus.client import ModbusSerialClient
from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.diag_message import (
    ChangeAsciiInputDelimiterRequest, ClearCountersRequest, ClearOverrunCountRequest,
    ForceListenOnlyModeRequest, RestartCommunicationsOptionRequest, ReturnBusCommunicationErrorCountRequest,
    ReturnBusExceptionErrorCountRequest, ReturnBusMessageCountRequest, ReturnDiagnosticRegisterRequest,
    ReturnQueryDataRequest, ReturnSlaveBusCharacterOverrunCountRequest, ReturnSlaveBusyCountRequest,
    ReturnSlaveMessageCountRequest, ReturnSlaveNAKCountRequest, ReturnSlaveNoResponseCountRequest)
from pymodbus.server import StartAsyncSerialServer
from pymodbus.transaction import ModbusAsciiFramer, ModbusRtuFramer

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "peers"))
from engine_peer import check, end_server, run_role, words  # noqa: E402

UNIT = 1
SIZE = 100
# The same preset on both sides: holding 1000+i, input 2000+i, coil i%3==0,
# discrete input i%2==0.
HR = [1000 + i for i in range(SIZE)]
IR = [2000 + i for i in range(SIZE)]
CO = [i % 3 == 0 for i in range(SIZE)]
DI = [i % 2 == 0 for i in range(SIZE)]


def read_back(response, field):
    """The bits or registers of a read-back, or [] when it failed (a lost
    answer is then one failed check, not the end of the run)."""
    return [] if response.isError() else getattr(response, field, [])


def framer_class(name):
    return ModbusRtuFramer if name == "rtu" else ModbusAsciiFramer


def pack_bits(bits):
    out = bytearray((len(bits) + 7) // 8)
    for i, bit in enumerate(bits):
        if bit:
            out[i // 8] |= 1 << (i % 8)
    return bytes(out)


def decode_adu(hex_text, framing):
    """The unit and the PDU (function code and data) of an ADU printed as hex by engine_host."""
    raw = bytes.fromhex(hex_text)
    if framing == "ascii":
        text = raw.decode("ascii").strip()
        body = bytes.fromhex(text[1:])
        return body[0], body[1:-1]
    return raw[0], raw[1:-2]


# --- our client against a pymodbus server ---------------------------------------


def start_pymodbus_server(device, framing):
    store = ModbusSlaveContext(
        di=ModbusSequentialDataBlock(0, list(DI)), co=ModbusSequentialDataBlock(0, list(CO)),
        hr=ModbusSequentialDataBlock(0, list(HR)), ir=ModbusSequentialDataBlock(0, list(IR)),
        zero_mode=True)
    context = ModbusServerContext(slaves={UNIT: store}, single=False)

    def run():
        asyncio.run(StartAsyncSerialServer(context=context, framer=framer_class(framing), port=device,
                                           baudrate=19200))

    threading.Thread(target=run, daemon=True).start()
    # Ready once the server holds the pty open (one of this process's file
    # descriptors points at it); 10 s without it means it hung.
    pty = os.path.realpath(device)
    for _ in range(1000):
        if pty in opened_files():
            return store
        time.sleep(0.01)
    raise SystemExit(f"the pymodbus server did not open {device}")


def opened_files():
    names = set()
    for fd in os.listdir("/proc/self/fd"):
        try:
            names.add(os.readlink(f"/proc/self/fd/{fd}"))
        except OSError:
            pass
    return names


def run_engine(engine, options):
    command = engine + options
    done = subprocess.run(command, capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout


def start_libmodbus_server(peer, device, dumps):
    command = [peer, "--device", device]
    for dump in dumps:
        command += ["--dump", dump]
    server = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    first = server.stdout.readline().strip()
    return server, first == "ready"


def our_client(args, engine, engine_options):
    """Our client against a pymodbus server, or a libmodbus one with --peer."""
    against = "libmodbus" if args.peer else "pymodbus"
    title = f"{args.framer} our client vs {against}"
    # Each write with the map cells that must hold its values afterwards.
    writes = [
        ("write single coil", ["--function", "5", "--address", "40", "--values", "0xFF00"],
         (1, 40, [True]), "dump co:40 1"),
        ("write single register", ["--function", "6", "--address", "41", "--values", "0xBEEF"],
         (3, 41, [0xBEEF]), "dump hr:41 48879"),
        ("write multiple coils", ["--function", "15", "--address", "50", "--values", "1,0,1,1,0,0,1,0,1,1"],
         (1, 50, [True, False, True, True, False, False, True, False, True, True]), "dump co:50 1 0 1 1 0 0 1 0 1 1"),
        ("write multiple registers", ["--function", "16", "--address", "60", "--values", "1,2,0x300,4,65535"],
         (3, 60, [1, 2, 0x300, 4, 65535]), "dump hr:60 1 2 768 4 65535"),
    ]
    store = None
    peer = None
    if args.peer:
        peer, ready = start_libmodbus_server(args.peer, args.device, ["co:40:1", "hr:41:1", "co:50:10", "hr:60:5"])
        if not ready:
            check(f"{title}: peer starts", False, "no ready line")
            return
    else:
        store = start_pymodbus_server(args.device, args.framer)
    base = engine_options + ["--framing", args.framer, "--unit", str(UNIT), "--timeout-ms", "3000"]
    reads = [
        ("read coils", 1, 5, 12, pack_bits(CO[5:17])),
        ("read discrete inputs", 2, 3, 9, pack_bits(DI[3:12])),
        ("read holding registers", 3, 10, 8, words(HR[10:18])),
        ("read input registers", 4, 0, 20, words(IR[0:20])),
    ]
    for name, function, address, quantity, payload in reads:
        code, out = run_engine(engine, ["client"] + base + ["--function", str(function), "--address", str(address),
                                                           "--quantity", str(quantity)])
        rx = [line[4:] for line in out.splitlines() if line.startswith("RX: ")]
        ok = False
        if code == 0 and rx:
            unit, pdu = decode_adu(rx[0], args.framer)
            ok = unit == UNIT and pdu == bytes([function, len(payload)]) + payload
        check(f"{title}: {name}", ok, out.strip())

    for name, options, (area, address, values), _ in writes:
        code, out = run_engine(engine, ["client"] + base + options)
        ok = code == 0 and (store is None or store.getValues(area, address, len(values)) == values)
        check(f"{title}: {name}", ok, out.strip())

    code, out = run_engine(engine, ["client"] + base + ["--function", "3", "--address", "98", "--quantity", "5"])
    check(f"{title}: exception from the server", code != 0 and "xception" in out, out.strip())

    code, out = run_engine(engine, ["client"] + base + ["--count", "20", "--function", "3", "--address", "0",
                                                         "--quantity", "10", "--quiet"])
    check(f"{title}: 20 polls in a row", code == 0 and "failures 0" in out, out.strip())

    if peer:
        out, _ = peer.communicate(input="", timeout=30)
        for name, _, _, dump in writes:
            check(f"{title}: {name} reached the map", dump in out, out.strip())


# --- our server against a pymodbus client ---------------------------------------


def preset_options():
    def numbers(values):
        return ",".join(str(int(v)) for v in values)
    return ["--set", f"hr:0={numbers(HR)}", "--set", f"ir:0={numbers(IR)}",
            "--set", f"co:0={numbers(CO)}", "--set", f"di:0={numbers(DI)}"]


def diagnostics(client, framing):
    def ask(request):
        request.unit_id = UNIT
        return client.execute(request)

    def counter(request_class):
        response = ask(request_class())
        if response.isError():
            return None
        message = response.message
        return message[0] if isinstance(message, (list, tuple)) else message

    # pymodbus's RTU framer takes every function 8 frame as 8 bytes long, so
    # only the ASCII line can carry a longer echo to it.
    query = [0x1234] if framing == "rtu" else [0x1234, 0x5678, 0x9ABC]
    response = ask(ReturnQueryDataRequest(query))
    check(f"{framing} diag 0 return query data",
          not response.isError() and tuple(response.message) == tuple(query), str(response))
    check(f"{framing} diag 2 diagnostic register", counter(ReturnDiagnosticRegisterRequest) == 0)
    check(f"{framing} diag 10 clear counters", not ask(ClearCountersRequest()).isError())
    bus = counter(ReturnBusMessageCountRequest)
    check(f"{framing} diag 11 bus message count", bus is not None and 1 <= bus <= 2, str(bus))
    check(f"{framing} diag 12 bus communication errors", counter(ReturnBusCommunicationErrorCountRequest) == 0)
    check(f"{framing} diag 13 bus exception errors", counter(ReturnBusExceptionErrorCountRequest) == 0)
    served = counter(ReturnSlaveMessageCountRequest)
    check(f"{framing} diag 14 server message count", served is not None and served >= 1, str(served))
    check(f"{framing} diag 15 no response count", counter(ReturnSlaveNoResponseCountRequest) == 0)
    check(f"{framing} diag 16 NAK count", counter(ReturnSlaveNAKCountRequest) == 0)
    check(f"{framing} diag 17 busy count", counter(ReturnSlaveBusyCountRequest) == 0)
    check(f"{framing} diag 18 character overrun count", counter(ReturnSlaveBusCharacterOverrunCountRequest) == 0)
    check(f"{framing} diag 20 clear overrun count", not ask(ClearOverrunCountRequest()).isError())
    # The delimiter can only change on an ASCII line, and never to ':'.
    if framing == "rtu":
        response = ask(ChangeAsciiInputDelimiterRequest(0x2100))
        check(f"{framing} diag 3 refused on RTU", response.isError() and response.exception_code == 1, str(response))
    else:
        response = ask(ChangeAsciiInputDelimiterRequest(0x3A00))
        check(f"{framing} diag 3 refuses ':'", response.isError() and response.exception_code == 3, str(response))
    # Listen-only: nothing is answered, not even the restart that ends it.
    response = ask(ForceListenOnlyModeRequest())
    check(f"{framing} diag 4 listen only gives no response", response.isError(), str(response))
    response = client.read_holding_registers(0, 1, slave=UNIT)
    check(f"{framing} listen only: read not answered", response.isError(), str(response))
    response = ask(RestartCommunicationsOptionRequest())
    check(f"{framing} diag 1 restart withheld after listen only", response.isError(), str(response))
    response = client.read_holding_registers(0, 1, slave=UNIT)
    check(f"{framing} answered again after restart", not response.isError() and response.registers == HR[0:1],
          str(response))
    response = ask(RestartCommunicationsOptionRequest())
    check(f"{framing} diag 1 restart answered", not response.isError(), str(response))
    no_response = counter(ReturnSlaveNoResponseCountRequest)
    check(f"{framing} diag 15 no response count after restart", no_response == 0, str(no_response))


def our_server(args, engine, engine_options):
    command = engine + ["server"] + engine_options + ["--framing", args.framer, "--slave", str(UNIT)] + \
        preset_options() + ["--dump", "hr:60:3"]
    server = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        first = server.stdout.readline().strip()
        if first != "ready":
            check(f"{args.framer} our server starts", False, first)
            return
        client = ModbusSerialClient(framer=framer_class(args.framer), port=args.device, baudrate=19200,
                                    timeout=1.5)
        client.connect()
        f = args.framer
        r = client.read_coils(5, 12, slave=UNIT)
        check(f"{f} our server: read coils", not r.isError() and r.bits[:12] == CO[5:17], str(r))
        r = client.read_discrete_inputs(3, 9, slave=UNIT)
        check(f"{f} our server: read discrete inputs", not r.isError() and r.bits[:9] == DI[3:12], str(r))
        r = client.read_holding_registers(10, 8, slave=UNIT)
        check(f"{f} our server: read holding registers", not r.isError() and r.registers == HR[10:18], str(r))
        r = client.read_input_registers(0, 20, slave=UNIT)
        check(f"{f} our server: read input registers", not r.isError() and r.registers == IR[0:20], str(r))
        r = client.read_holding_registers(0, 125, slave=UNIT)
        check(f"{f} our server: read 125 registers", not r.isError() and r.registers[:SIZE] == HR, str(r))
        r = client.write_coil(40, True, slave=UNIT)
        check(f"{f} our server: write single coil",
              not r.isError() and read_back(client.read_coils(40, 1, slave=UNIT), "bits")[:1] == [True], str(r))
        r = client.write_register(41, 0xBEEF, slave=UNIT)
        check(f"{f} our server: write single register",
              not r.isError() and read_back(client.read_holding_registers(41, 1, slave=UNIT), "registers") == [0xBEEF], str(r))
        bits = [True, False, True, True, False, False, True, False, True, True]
        r = client.write_coils(50, bits, slave=UNIT)
        check(f"{f} our server: write multiple coils",
              not r.isError() and read_back(client.read_coils(50, 10, slave=UNIT), "bits")[:10] == bits, str(r))
        r = client.write_registers(60, [7, 8, 9], slave=UNIT)
        check(f"{f} our server: write multiple registers",
              not r.isError() and read_back(client.read_holding_registers(60, 3, slave=UNIT), "registers") == [7, 8, 9], str(r))
        r = client.read_holding_registers(65530, 10, slave=UNIT)
        check(f"{f} our server: exception 2 for an address beyond the map",
              r.isError() and getattr(r, "exception_code", None) == 2, str(r))
        r = client.read_holding_registers(0, 126, slave=UNIT)
        check(f"{f} our server: exception 3 for 126 registers",
              r.isError() and getattr(r, "exception_code", None) == 3, str(r))
        r = client.read_holding_registers(0, 1, slave=UNIT + 1)
        check(f"{f} our server: other slave ignored", r.isError() and not hasattr(r, "exception_code"), str(r))
        diagnostics(client, f)
        client.close()
    finally:
        out = end_server(server)
    check(f"{args.framer} our server: dump after the writes", "dump hr:60 7 8 9" in out, out.strip())


if __name__ == "__main__":
    sys.exit(run_role(our_client, our_server, ["rtu", "ascii"],
                      [("--peer", "our-client: the libmodbus RTU server program instead of pymodbus")]))
