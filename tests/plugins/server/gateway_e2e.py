#!/usr/bin/python3
"""Runs the TCP-to-RTU gateway library (server_plugin_e2e.exe gateway under
Wine) between independent peers: Debian's pymodbus as the RTU server on
the far end of a socat pty pair (units 1 and 2; any other unit stays
silent; unit 0 a broadcast), and as TCP masters pymodbus and libmodbus
(peer_client) on a free loopback port. The program prints "DRIVER
<scenario>" and waits for "ok" or "fail <why>".

  gateway_e2e.py --exe E --wine-run W --peer-client P [--whole-program]
      (--whole-program: E is velmora.exe's test, given the COM port and the
      TCP port in VELMORA_GATEWAY_COM and VELMORA_GATEWAY_PORT)

Exit status: the program's (the number of failed checks).
"""
import argparse
import asyncio
import logging
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "peers"))
from driven_program import attempt, drive, verdict  # noqa: E402
from free_port import free_port  # noqa: E402
from wine_serial import claim_com, close_serial_line, com_link, serial_line  # noqa: E402

logging.disable(logging.CRITICAL)
TIMEOUT = 5  # generous: a loaded machine must not turn a slow answer into a failed check


class RtuServer:
    """pymodbus's RTU server on the pty: units 1 and 2 with maps of their
    own, read and checked here directly."""

    def __init__(self, device):
        from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
        self.units = {}
        for unit in (1, 2):
            self.units[unit] = ModbusSlaveContext(
                co=ModbusSequentialDataBlock(0, [0] * 100), di=ModbusSequentialDataBlock(0, [unit & 1] * 100),
                hr=ModbusSequentialDataBlock(0, [unit * 100 + i for i in range(100)]),
                ir=ModbusSequentialDataBlock(0, [unit * 1000 + i for i in range(100)]), zero_mode=True)
        self.context = ModbusServerContext(slaves=self.units, single=False)
        self.device = device
        self.loop = asyncio.new_event_loop()
        started = threading.Event()

        async def serve():
            from pymodbus.framer.rtu_framer import ModbusRtuFramer
            from pymodbus.server.async_io import ModbusSerialServer
            self.server = ModbusSerialServer(self.context, ModbusRtuFramer, port=device, baudrate=19200,
                                             ignore_missing_slaves=True, broadcast_enable=True)
            await self.server.start()
            started.set()
            await self.server.serve_forever()

        def run():
            asyncio.set_event_loop(self.loop)
            try:
                self.loop.run_until_complete(serve())
            except Exception:  # the line went away: the test says so through its checks
                started.set()

        threading.Thread(target=run, daemon=True).start()
        started.wait(10)

    def hr(self, unit, address, count=1):
        return self.units[unit].getValues(3, address, count)


def tcp_client(port):
    from pymodbus.client import ModbusTcpClient
    client = ModbusTcpClient("127.0.0.1", port=port, timeout=TIMEOUT, retries=0)
    client.connect()
    return client


def functions(args, line):
    """Every function the twelve serve through pymodbus's TCP client, then
    libmodbus's; the RTU server's map read back directly."""
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)

    c = tcp_client(args.port)
    check(attempt(lambda: c.write_coil(3, True, slave=1), lambda r: not r.isError()) is True, "5 write coil")
    check(attempt(lambda: c.write_coils(10, [True, False, True], slave=1), lambda r: not r.isError()) is True,
          "15 write coils")
    check(attempt(lambda: c.read_coils(10, 3, slave=1), lambda r: r.bits[:3]) == [True, False, True], "1 read coils")
    check(attempt(lambda: c.read_discrete_inputs(0, 2, slave=1), lambda r: r.bits[:2]) == [True, True],
          "2 read discrete inputs")
    check(attempt(lambda: c.write_register(4, 4242, slave=1), lambda r: not r.isError()) is True, "6 write register")
    check(attempt(lambda: c.write_registers(20, [7, 8, 9], slave=1), lambda r: not r.isError()) is True,
          "16 write registers")
    got = attempt(lambda: c.read_holding_registers(3, 3, slave=1), lambda r: r.registers)
    check(got == [103, 4242, 105], f"3 read holding registers {got}")
    got = attempt(lambda: c.read_input_registers(1, 2, slave=2), lambda r: r.registers)
    check(got == [2001, 2002], f"4 read input registers of unit 2 {got}")
    got = attempt(lambda: c.read_holding_registers(99, 5, slave=1), lambda r: r.exception_code)
    check(got == 2, f"the unit's own exception 2 passed back {got}")
    c.close()
    check(line.hr(1, 20, 3) == [7, 8, 9] and line.hr(1, 4) == [4242], f"the RTU map {line.hr(1, 20, 3)}")
    script = "16 30 11,12\n3 30 2\n6 32 13\n3 32 1\n5 40 1\n1 40 1\n15 41 1,1\n1 40 3\n4 0 2\n2 1 2\n"
    out = subprocess.run([args.peer_client, "--port", str(args.port), "--unit", "2", "script"], input=script,
                         capture_output=True, text=True, timeout=60).stdout.split("\n")
    want = ["OK", "OK 11 12", "OK", "OK 13", "OK", "OK 1", "OK", "OK 1 1 1", "OK 2000 2001", "OK 0 0"]
    check(out[:len(want)] == want, f"libmodbus {out[:len(want)]}")
    return failures


def broadcast(args, line):
    """Unit 0: carried out by both units, never answered."""
    s = socket.create_connection(("127.0.0.1", args.port), timeout=TIMEOUT)
    s.sendall(struct.pack(">HHHBBHH", 77, 0, 6, 0, 6, 50, 5150))
    s.settimeout(1.5)
    try:
        answer = s.recv(600)
    except socket.timeout:
        answer = None
    s.close()
    failures = [] if answer is None else [f"a broadcast was answered: {answer!r}"]
    end = time.time() + TIMEOUT
    while time.time() < end and (line.hr(1, 50) != [5150] or line.hr(2, 50) != [5150]):
        time.sleep(0.05)
    if line.hr(1, 50) != [5150] or line.hr(2, 50) != [5150]:
        failures.append(f"the broadcast reached units 1 and 2: {line.hr(1, 50)} {line.hr(2, 50)}")
    return failures


def absent(args, line):
    c = tcp_client(args.port)
    got = attempt(lambda: c.read_holding_registers(0, 1, slave=7), lambda r: r.exception_code)
    c.close()
    return [] if got == 0x0B else [f"unit 7 gave {got}, not exception 0x0B"]


def interleaved(args, line):
    """Two TCP masters whose requests meet in the queue: each answer comes
    back on its own connection with its own transaction ID."""
    a = socket.create_connection(("127.0.0.1", args.port), timeout=TIMEOUT)
    b = socket.create_connection(("127.0.0.1", args.port), timeout=TIMEOUT)
    failures = []
    for k in range(20):
        a.sendall(struct.pack(">HHHBBHH", 0x1000 + k, 0, 6, 1, 3, k, 1))
        b.sendall(struct.pack(">HHHBBHH", 0x2000 + k, 0, 6, 2, 4, k, 1))
        for s, tid, want in ((a, 0x1000 + k, line.hr(1, k)[0]), (b, 0x2000 + k, 2000 + k)):
            answer = s.recv(600)
            if len(answer) != 11 or struct.unpack(">H", answer[:2])[0] != tid or \
                    struct.unpack(">H", answer[9:11])[0] != want:
                failures.append(f"round {k}: {answer.hex()} for transaction {tid:#x}")
    a.close()
    b.close()
    return failures[:3]


def nopath(args, line):
    c = tcp_client(args.port)
    got = attempt(lambda: c.read_holding_registers(0, 1, slave=1), lambda r: r.exception_code)
    c.close()
    return [] if got == 0x0A else [f"with the line away unit 1 gave {got}, not exception 0x0A"]


def again(args, line):
    c = tcp_client(args.port)
    got = None
    for _ in range(5):  # the first request after the line came back opens it again
        got = attempt(lambda: c.read_holding_registers(1, 1, slave=2), lambda r: r.registers)
        if got == [201]:
            break
        time.sleep(0.2)
    c.close()
    return [] if got == [201] else [f"after the line came back {got}"]


SCENARIOS = {"functions": functions, "broadcast": broadcast, "absent": absent, "interleaved": interleaved,
             "nopath": nopath, "again": again}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--peer-client", required=True)
    parser.add_argument("--whole-program", action="store_true")
    args = parser.parse_args()
    args.port = free_port()
    com = claim_com()
    link = com_link(com)
    work = tempfile.mkdtemp(prefix="velmora-gateway-e2e.")
    socat, link, device = serial_line(com, work)
    line = RtuServer(device)
    try:
        environment = dict(os.environ, VELMORA_GATEWAY_COM=com, VELMORA_GATEWAY_PORT=str(args.port))
        command = [args.wine_run, args.exe] + ([] if args.whole_program else ["gateway", com, str(args.port)])

        def answer(text):
            nonlocal socat, link, device, line
            words = text.split()
            if words[0] == "unplug":
                close_serial_line(socat, link)
                socat = None
            elif words[0] == "replug":
                socat, link, device = serial_line(com, work)
                line = RtuServer(device)
            else:
                return verdict(SCENARIOS[words[1]](args, line))
            return "ok"

        return drive(command, environment, answer)
    finally:
        close_serial_line(socat, link)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
