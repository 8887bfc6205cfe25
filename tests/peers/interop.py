#!/usr/bin/python3
"""Interoperability of our stack with independent Modbus peers on loopback.

Each cell starts one server (ours through engine_host, or a peer), runs one
client against it (ours, libmodbus, mbpoll or pymodbus) through every
supported function, checks read values on the client and written values on
the server's side, and checks exception texts. engine_host may be a Windows
program run under Wine (--wine tools/wine-run); the peers run natively.

  interop.py --engine PATH [--wine WINE_RUN] --peers DIR [--port P] CELL

Without --port (or with 0) the cell takes a free loopback port the system
hands out.
"""
import argparse
import os
import socket
import struct
import subprocess
import sys
import threading
import time

from free_port import free_port

HERE = os.path.dirname(os.path.abspath(__file__))

# The map every server of a cell starts with.
PRESET = {
    "co": (0, [1, 0, 1, 1, 0, 0, 1, 0, 1, 1]),
    "di": (0, [0, 1, 1, 0, 1, 0, 0, 1, 1, 0]),
    "ir": (0, [100, 200, 300, 400, 500]),
    "hr": (0, [1, 2, 3, 4, 5]),
}
# What the writes of the sequence leave on the server.
WRITTEN = {
    "co:20:1": [1],
    "hr:21:1": [4660],
    "co:30:9": [1, 0, 1, 1, 0, 0, 1, 1, 1],
    "hr:40:4": [10, 20, 30, 40],
}
TEXT_ADDRESS = "RX: Exception 02 - Illegal data address"
TEXT_FUNCTION = "RX: Exception 01 - Illegal function"
TEXT_VALUE = "RX: Exception 03 - Illegal data value"

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def preset_args():
    args = []
    for area, (address, values) in PRESET.items():
        args += ["--set", f"{area}:{address}=" + ",".join(str(v) for v in values)]
    return args


def dump_args():
    args = []
    for spec in WRITTEN:
        args += ["--dump", spec]
    return args


class Server:
    """A server process that prints "ready", serves until its standard input
    closes and then prints "dump AREA:ADDR v v ..." lines."""

    def __init__(self, command):
        # A port that a dropped connection left in TIME_WAIT frees itself
        # within a minute; a server started again on it waits for it. Ports
        # come free from the system, so this is rare: each wait prints a
        # RETRY line, which tools/test counts.
        for attempt in range(15):
            if self.start(command) or attempt == 14:
                return
            print(f"RETRY the port of {command[0]} is still taken; waiting 5 s", flush=True)
            time.sleep(5)
        raise SystemExit("server did not start: " + " | ".join(self.lines))

    def start(self, command):
        print("start: " + " ".join(command), flush=True)
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
        self.lines = []
        ready = threading.Event()

        def read():
            for line in self.process.stdout:
                self.lines.append(line.rstrip("\n"))
                if line.strip() == "ready":
                    ready.set()
            ready.set()

        self.reader = threading.Thread(target=read, daemon=True)
        self.reader.start()
        if not ready.wait(60) or "ready" not in [l.strip() for l in self.lines]:
            self.process.kill()
            self.process.wait()
            if any("cannot listen" in l or "listen:" in l or "cannot serve" in l for l in self.lines):
                return False
            raise SystemExit("server did not start: " + " | ".join(self.lines))
        return True

    def stop(self):
        """Closes standard input and returns the dumps as {"hr:40": [..]}."""
        self.process.stdin.close()
        try:
            self.process.wait(60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            check(False, "server ended when its input closed")
        self.reader.join(10)
        for line in self.lines:
            if not line.startswith("dump"):
                print("  server: " + line)
        dumps = {}
        for line in self.lines:
            parts = line.split()
            if len(parts) >= 2 and parts[0] == "dump":
                dumps[parts[1]] = [int(v) for v in parts[2:]]
        return dumps


def check_dumps(dumps, side):
    for spec, expected in WRITTEN.items():
        key = ":".join(spec.split(":")[:2])
        check(dumps.get(key) == expected, f"{side} holds {spec} = {expected} (got {dumps.get(key)})")


# --- our client ----------------------------------------------------------------

def pdu_of(rx_hex, framing):
    data = bytes.fromhex(rx_hex)
    return data[7:] if framing == "mbap" else data[1:-2]


def bits_of(data, count):
    return [(data[i // 8] >> (i % 8)) & 1 for i in range(count)]


def our_client_cell(args, engine, transport, framing, server_command, exceptions):
    server = Server(server_command)
    base = engine + ["client", "--transport", transport, "--framing", framing, "--host", "127.0.0.1",
                     "--port", str(args.port), "--timeout-ms", "1500"]

    def run(unit, function, address, quantity=None, values=None):
        command = base + ["--unit", str(unit), "--function", str(function), "--address", str(address)]
        if quantity is not None:
            command += ["--quantity", str(quantity)]
        if values is not None:
            command += ["--values", ",".join(str(v) for v in values)]
        out = subprocess.run(command, capture_output=True, text=True, timeout=120).stdout.splitlines()
        rx = [l for l in out if l.startswith("RX: ")]
        return rx[0][4:] if rx else "", rx[0] if rx else "(no RX line) " + " | ".join(out)

    reads = [(1, "co", 10, True), (2, "di", 10, True), (3, "hr", 5, False), (4, "ir", 5, False)]
    for function, area, count, is_bits in reads:
        rx, line = run(1, function, 0, count)
        try:
            pdu = pdu_of(rx, framing)
            got = bits_of(pdu[2:], count) if is_bits else list(struct.unpack(f">{count}H", pdu[2:]))
        except (ValueError, struct.error, IndexError):
            got = line
        check(got == PRESET[area][1][:count], f"function {function} reads {area} {PRESET[area][1][:count]} (got {got})")
    writes = [(5, 20, None, [0xFF00]), (6, 21, None, [4660]), (15, 30, None, WRITTEN["co:30:9"]),
              (16, 40, None, WRITTEN["hr:40:4"])]
    for function, address, quantity, values in writes:
        rx, line = run(1, function, address, quantity, values)
        try:
            pdu = pdu_of(rx, framing)
            ok = pdu[0] == function and struct.unpack(">H", pdu[1:3])[0] == address
        except (ValueError, struct.error, IndexError):
            ok = False
        check(ok, f"function {function} at {address} is echoed ({line})")
    rx, line = run(1, 3, 40, 4)
    try:
        got = list(struct.unpack(">4H", pdu_of(rx, framing)[2:]))
    except (ValueError, struct.error):
        got = line
    check(got == WRITTEN["hr:40:4"], f"written registers read back {got}")
    for unit, function, address, quantity, text in exceptions:
        _, line = run(unit, function, address, quantity)
        check(line == text, f"unit {unit} function {function} at {address} shows '{text}' (got '{line}')")
    check_dumps(server.stop(), "the peer server")


# --- our server ----------------------------------------------------------------

def our_server(args, engine, transport, framing):
    command = engine + ["server", "--transport", transport, "--framing", framing, "--bind", "127.0.0.1",
                        "--port", str(args.port)]
    command += ["--any"] if framing == "mbap" else ["--slave", "1"]
    return Server(command + preset_args() + dump_args())


def libmodbus_client_cell(args, engine):
    server = our_server(args, engine, "tcp", "mbap")
    script = [
        ("1 0 10", "OK " + " ".join(map(str, PRESET["co"][1]))),
        ("2 0 10", "OK " + " ".join(map(str, PRESET["di"][1]))),
        ("3 0 5", "OK 1 2 3 4 5"),
        ("4 0 5", "OK 100 200 300 400 500"),
        ("5 20 1", "OK"),
        ("6 21 4660", "OK"),
        ("15 30 " + ",".join(map(str, WRITTEN["co:30:9"])), "OK"),
        ("16 40 10,20,30,40", "OK"),
        ("3 40 4", "OK 10 20 30 40"),
        ("raw 03 ff ff 00 02", "RAW 83 02"),   # beyond the last address
        ("raw 03 00 00 00 7e", "RAW 83 03"),   # 126 registers
        ("raw 05 00 01 00 ff", "RAW 85 03"),   # a coil value other than 0 or FF00
        ("raw 07", "RAW 87 01"),               # a function we do not serve
        ("raw 08 00 00 12 34", "RAW 88 01"),   # diagnostics are not served over MBAP
    ]
    out = subprocess.run([os.path.join(args.peers, "peer_client"), "--port", str(args.port), "--unit", "7",
                          "script"], input="\n".join(c for c, _ in script) + "\n",
                         capture_output=True, text=True, timeout=60).stdout.splitlines()
    for (command, expected), got in zip(script, out + [""] * len(script)):
        check(got == expected, f"libmodbus '{command}' -> '{expected}' (got '{got}')")
    check_dumps(server.stop(), "our server")


def mbpoll_cell(args, engine):
    server = our_server(args, engine, "tcp", "mbap")
    base = ["mbpoll", "-m", "tcp", "-a", "1", "-0", "-1", "-o", "2", "-p", str(args.port)]

    def poll(kind, address, count=1, values=None):
        command = base + ["-t", kind, "-r", str(address)] + ([] if values else ["-c", str(count)]) + ["127.0.0.1"]
        command += [str(v) for v in values or []]
        result = subprocess.run(command, capture_output=True, text=True, timeout=60)
        got = [int(l.split(":")[1]) for l in result.stdout.splitlines() if l.startswith("[")]
        return got, result.stdout + result.stderr

    for kind, area, count in (("0", "co", 10), ("1", "di", 10), ("3", "ir", 5), ("4", "hr", 5)):
        got, _ = poll(kind, 0, count)
        check(got == PRESET[area][1][:count], f"mbpoll reads {area} {got}")
    for kind, address, values in (("0", 20, [1]), ("4", 21, [4660]), ("0", 30, WRITTEN["co:30:9"]),
                                  ("4", 40, WRITTEN["hr:40:4"])):
        _, text = poll(kind, address, len(values), values)
        check(f"Written {len(values)} references" in text, f"mbpoll writes {values} at {address}")
    _, text = poll("4", 65535, 2)
    check("Illegal data address" in text, "mbpoll sees illegal data address beyond the map")
    check_dumps(server.stop(), "our server")


def pymodbus_client(transport, framing, port):
    from pymodbus.client import ModbusTcpClient, ModbusUdpClient
    from pymodbus.framer.rtu_framer import ModbusRtuFramer
    from pymodbus.framer.socket_framer import ModbusSocketFramer
    framer = ModbusRtuFramer if framing == "rtu" else ModbusSocketFramer
    kind = ModbusTcpClient if transport == "tcp" else ModbusUdpClient
    # A generous time-out: a loaded machine must not turn a slow answer into
    # a failed check.
    client = kind("127.0.0.1", port=port, framer=framer, timeout=5, retries=0)
    client.connect()
    return client


def pymodbus_client_cell(args, engine, transport, framing):
    import logging
    logging.disable(logging.CRITICAL)
    from pymodbus.other_message import ReadExceptionStatusRequest
    server = our_server(args, engine, transport, framing)
    client = pymodbus_client(transport, framing, args.port)

    def value(call, what):
        try:
            return what(call())
        except Exception as error:  # a failed call is a failed check
            return repr(error)

    check(value(lambda: client.read_coils(0, 10, slave=1), lambda r: r.bits[:10]) == PRESET["co"][1], "pymodbus reads coils")
    check(value(lambda: client.read_discrete_inputs(0, 10, slave=1), lambda r: r.bits[:10]) == PRESET["di"][1], "pymodbus reads discrete inputs")
    check(value(lambda: client.read_holding_registers(0, 5, slave=1), lambda r: r.registers) == PRESET["hr"][1], "pymodbus reads holding registers")
    check(value(lambda: client.read_input_registers(0, 5, slave=1), lambda r: r.registers) == PRESET["ir"][1], "pymodbus reads input registers")
    for name, call in (("write_coil", lambda: client.write_coil(20, True, slave=1)),
                       ("write_register", lambda: client.write_register(21, 4660, slave=1)),
                       ("write_coils", lambda: client.write_coils(30, [bool(b) for b in WRITTEN["co:30:9"]], slave=1)),
                       ("write_registers", lambda: client.write_registers(40, WRITTEN["hr:40:4"], slave=1))):
        check(value(call, lambda r: not r.isError()) is True, f"pymodbus {name}")
    check(value(lambda: client.read_holding_registers(40, 4, slave=1), lambda r: r.registers) == WRITTEN["hr:40:4"], "pymodbus reads back")
    # Function 7 is answered with exception 1 on every framing, RTU over TCP
    # included, and the connection goes on serving.
    exceptions = [(2, lambda: client.read_holding_registers(65535, 2, slave=1), "beyond the map"),
                  (3, lambda: client.read_holding_registers(0, 126, slave=1), "126 registers"),
                  (1, lambda: client.execute(ReadExceptionStatusRequest(unit=1)), "function 7")]
    for code, call, what in exceptions:
        got = value(call, lambda r: getattr(r, "exception_code", None))
        check(got == code, f"pymodbus gets exception {code} for {what} (got {got})")
    check(value(lambda: client.read_holding_registers(0, 2, slave=1), lambda r: r.registers) == [1, 2],
          "the connection is served after the exceptions")
    client.close()
    check_dumps(server.stop(), "our server")


# --- load ----------------------------------------------------------------------

def load_tcp_cell(args, engine):
    """engine_host's client against engine_host's server: our own code on
    both ends, no independent peer (hence not an interop cell)."""
    server = our_server(args, engine, "tcp", "mbap")
    out = subprocess.run(engine + ["client", "--transport", "tcp", "--framing", "mbap", "--port", str(args.port),
                                   "--unit", "1", "--function", "3", "--address", "0", "--quantity", "125",
                                   "--count", "10000", "--quiet"],
                         capture_output=True, text=True, timeout=600).stdout
    print("  client: " + out.strip())
    check("transactions 10000 failures 0 " in out, "10,000 back-to-back transactions, none failed")
    server.stop()
    check(any(l.startswith("received 10000 answered 10000 ") for l in server.lines), "the server answered each once")


def load_udp_peers_cell(args, engine):
    """Four UDP peers interleave requests; each must get only its own answers."""
    global PRESET
    PRESET = dict(PRESET, hr=(0, list(range(100))))
    server = our_server(args, engine, "udp", "mbap")
    peers = []
    for _ in range(4):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(("127.0.0.1", 0))
        s.settimeout(3)
        peers.append(s)
    wrong = lost = 0
    for round_ in range(250):
        for k, s in enumerate(peers):
            tid = (round_ * 4 + k) & 0xFFFF
            s.sendto(struct.pack(">HHHBBHH", tid, 0, 6, 1, 3, 10 * k + round_ % 8, 2), ("127.0.0.1", args.port))
        for k, s in enumerate(peers):
            tid = (round_ * 4 + k) & 0xFFFF
            try:
                data = s.recv(300)
            except socket.timeout:
                lost += 1
                continue
            expected = struct.pack(">HHHBBBHH", tid, 0, 7, 1, 3, 4, 10 * k + round_ % 8, 10 * k + round_ % 8 + 1)
            wrong += data != expected
    for s in peers:
        s.settimeout(0.2)
        try:
            s.recv(300)
            wrong += 1
        except socket.timeout:
            pass
    check(lost == 0 and wrong == 0, f"1,000 interleaved datagrams of 4 peers: {lost} lost, {wrong} wrong")
    server.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--engine", required=True)
    parser.add_argument("--wine")
    parser.add_argument("--peers", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("cell")
    args = parser.parse_args()
    args.port = args.port or free_port()
    engine = [args.wine, args.engine] if args.wine else [args.engine]
    libmodbus_server = [os.path.join(args.peers, "peer_server"), "--port", str(args.port),
                        "--fail", "11=1", "--fail", "13=3"] + preset_args() + dump_args()

    def pymodbus_server(transport, framing):
        return ["/usr/bin/python3", os.path.join(HERE, "pymodbus_server.py"), "--transport", transport,
                "--framing", framing, "--port", str(args.port)] + preset_args() + dump_args()

    cell = args.cell
    if cell == "client-libmodbus-tcp":
        our_client_cell(args, engine, "tcp", "mbap", libmodbus_server,
                        [(1, 3, 200, 2, TEXT_ADDRESS), (11, 3, 0, 1, TEXT_FUNCTION), (13, 6, 0, None, TEXT_VALUE)])
    elif cell.startswith("client-pymodbus-"):
        _, _, transport, framing = cell.split("-")
        our_client_cell(args, engine, transport, framing, pymodbus_server(transport, framing),
                        [(1, 3, 200, 2, TEXT_ADDRESS)])
    elif cell == "server-libmodbus-tcp":
        libmodbus_client_cell(args, engine)
    elif cell == "server-mbpoll-tcp":
        mbpoll_cell(args, engine)
    elif cell.startswith("server-pymodbus-"):
        _, _, transport, framing = cell.split("-")
        pymodbus_client_cell(args, engine, transport, framing)
    elif cell == "self-load-tcp":
        load_tcp_cell(args, engine)
    elif cell == "load-udp-peers":
        load_udp_peers_cell(args, engine)
    else:
        raise SystemExit(f"unknown cell {cell}")
    print(f"{cell}: {len(failures)} failed checks", flush=True)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
