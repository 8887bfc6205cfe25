#!/usr/bin/python3
"""Runs one client plug-in library (client_plugin_e2e.exe under Wine) against
an independent server started here: libmodbus's peer_server or Debian's
pymodbus on loopback, or pymodbus's RTU server on a socat pseudo-terminal
pair whose other end is a COM port of the Wine prefix. Stops and restarts
the server when the program asks ("DRIVER stop", "DRIVER start"), halts and
resumes it ("DRIVER pause", "DRIVER resume"); on a serial
line socat goes with it and comes back on the same link names, as a USB
adapter pulled out and plugged in again.

  client_e2e.py --exe E --wine-run W --library L --peer libmodbus|pymodbus
                --transport tcp|udp|serial --framing mbap|rtu
                (--port P [--closed-port Q] | --com COMn [--closed-com COMm])
                [--peer-server PATH]
  client_e2e.py ... --port P --whole-program
      runs the test program E as it stands, with VELMORA_CLIENT_PORT=P
  client_e2e.py ... --port P --bench SECONDS [--engine-host ENGINE_HOST.EXE]
      prints the benchmark figures of the library, then those of engine_host's
      client against the same server

Exit status: the program's (the number of failed checks), 1 when the server
cannot start.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "peers"))
from free_port import free_port  # noqa: E402
from wine_serial import claim_com, close_serial_line, com_link, serial_line  # noqa: E402

PYMODBUS_SERVER = os.path.join(HERE, "..", "..", "peers", "pymodbus_server.py")
PRESETS = ["hr:0=1,65535,32768,4660", "ir:0=11,22,33", "co:0=1,0,1,1,0,0,0,0,1,1", "di:0=0,1,1,0,1"]


# Wide values for the master's value types: (builder call, value, type and
# order as the value menu numbers them, the cell text the master must show).
# Each stands at 100 + 4 * its index, where a value of any type starts a row.
WIDE_BASE = 100
WIDE_CASES = [
    ("add_32bit_float", 3.1415927, 3, 0, "3.1415927"),
    ("add_32bit_float", 3.1415927, 3, 1, "3.1415927"),
    ("add_32bit_float", -0.0015, 3, 2, "-0.0015"),
    ("add_32bit_float", float("-inf"), 3, 3, "-Inf"),
    ("add_32bit_int", -2, 1, 3, "-2"),
    ("add_32bit_uint", 4294967295, 2, 1, "4294967295"),
    ("add_32bit_int", -2147483648, 1, 2, "-2147483648"),
    ("add_64bit_float", 0.1, 6, 0, "0.1"),
    ("add_64bit_float", -1.7976931348623157e308, 6, 1, "-1.7976931348623157e+308"),
    ("add_64bit_int", -9223372036854775808, 4, 2, "-9223372036854775808"),
    ("add_64bit_uint", 18446744073709551615, 5, 3, "18446744073709551615"),
    ("add_64bit_float", 5e-324, 6, 3, "5e-324"),
]
# The order numbers as pymodbus names them: (byte order, word order).
WIDE_ORDERS = [("big", "big"), ("big", "little"), ("little", "big"), ("little", "little")]


def wide_presets():
    """The cases' registers, each built by pymodbus's payload builder."""
    from pymodbus.constants import Endian
    from pymodbus.payload import BinaryPayloadBuilder
    endian = {"big": Endian.Big, "little": Endian.Little}
    registers = [0] * (4 * len(WIDE_CASES))
    for i, (call, value, _, order, _) in enumerate(WIDE_CASES):
        byteorder, wordorder = WIDE_ORDERS[order]
        builder = BinaryPayloadBuilder(byteorder=endian[byteorder], wordorder=endian[wordorder])
        getattr(builder, call)(value)
        words = builder.to_registers()
        registers[4 * i:4 * i + len(words)] = words
    return f"hr:{WIDE_BASE}=" + ",".join(str(r) for r in registers)


class Server:
    def __init__(self, args, device=None):
        self.args = args
        self.device = device
        self.process = None

    def command(self):
        presets = PRESETS + ([wide_presets()] if self.args.value_types else [])
        sets = [option for preset in presets for option in ("--set", preset)]
        if self.args.peer == "libmodbus":
            return [self.args.peer_server, "--port", str(self.args.port)] + sets
        if self.args.transport == "serial":
            return ["/usr/bin/python3", PYMODBUS_SERVER, "--transport", "serial", "--device", self.device] + sets
        return ["/usr/bin/python3", PYMODBUS_SERVER, "--transport", self.args.transport,
                "--framing", self.args.framing, "--port", str(self.args.port)] + sets

    def start(self):
        # The server is started again on its port after a stop: a port left
        # in TIME_WAIT frees itself. Each wait prints a RETRY line, which
        # tools/test counts.
        for attempt in range(20):
            if attempt:
                print(f"RETRY the server on port {self.args.port} did not start; again in 0.5 s", flush=True)
            self.process = subprocess.Popen(self.command(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                            text=True)
            if self.process.stdout.readline().strip() == "ready":
                return True
            self.process.wait()
            time.sleep(0.5)
        return False

    def stop(self):
        if self.process:
            self.process.stdin.close()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            self.process = None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--peer", choices=["libmodbus", "pymodbus"], required=True)
    parser.add_argument("--transport", choices=["tcp", "udp", "serial"], required=True)
    parser.add_argument("--framing", choices=["mbap", "rtu"], default="mbap")
    parser.add_argument("--port", type=int)
    parser.add_argument("--closed-port", type=int, help="0: a free port, where nothing listens")
    parser.add_argument("--com")
    parser.add_argument("--closed-com")
    parser.add_argument("--peer-server")
    parser.add_argument("--bench", type=int)
    parser.add_argument("--whole-program", action="store_true")
    parser.add_argument("--engine-host")
    parser.add_argument("--value-types", action="store_true")
    args = parser.parse_args()
    if args.transport != "serial":
        args.port = args.port or free_port()
    if args.closed_port == 0:
        args.closed_port = free_port()

    work = tempfile.mkdtemp(prefix="velmora-client-e2e.")
    socat = link = closed_link = None
    # "auto": numbers of this run's own, which no concurrent run can take.
    if args.com == "auto":
        args.com = claim_com()
        link = com_link(args.com)
    if args.closed_com == "auto":
        args.closed_com = claim_com()
        closed_link = com_link(args.closed_com)
    try:
        device = None
        if args.transport == "serial":
            socat, link, device = serial_line(args.com, work)
        server = Server(args, device)
        if not server.start():
            print("the server did not start")
            return 1
        environment = dict(os.environ)
        if args.value_types:
            program = [args.wine_run, args.exe, "values", args.library, str(args.port)]
            environment["VELMORA_VALUE_CASES"] = ";".join(
                f"{WIDE_BASE + 4 * i} {kind} {order} {text}" for i, (_, _, kind, order, text) in enumerate(WIDE_CASES))
        elif args.whole_program:
            program = [args.wine_run, args.exe]
            environment["VELMORA_CLIENT_PORT"] = str(args.port)
        elif args.bench:
            program = [args.wine_run, args.exe, "bench", args.library, str(args.port), str(args.bench)]
        elif args.transport == "serial":
            program = [args.wine_run, args.exe, "serial", args.library, args.com]
            if args.closed_com:
                program.append(args.closed_com)
        else:
            program = [args.wine_run, args.exe, "net", args.library, str(args.port)]
            if args.closed_port:
                program.append(str(args.closed_port))
        run = subprocess.Popen(program, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, errors="replace",
                               env=environment)
        for line in run.stdout:
            line = line.rstrip()
            print(line, flush=True)
            if line == "DRIVER stop":
                server.stop()
                if socat:
                    close_serial_line(socat, None)
                    socat = None
                run.stdin.write("ok\n")
                run.stdin.flush()
            elif line in ("DRIVER pause", "DRIVER resume"):
                # The server process halted with its connections open: a
                # request goes out and its answer does not come.
                if server.process:
                    server.process.send_signal(signal.SIGSTOP if line == "DRIVER pause" else signal.SIGCONT)
                run.stdin.write("ok\n" if server.process else "no server\n")
                run.stdin.flush()
            elif line == "DRIVER start":
                if args.transport == "serial" and not socat:
                    socat, link, device = serial_line(args.com, work)
                    server.device = device
                run.stdin.write("ok\n" if server.start() else "failed\n")
                run.stdin.flush()
        status = run.wait()
        if args.bench and args.engine_host:
            framing = "rtu" if args.framing == "rtu" else "mbap"
            engine = subprocess.run([args.wine_run, args.engine_host, "client", "--transport", args.transport,
                                     "--framing", framing, "--host", "127.0.0.1", "--port", str(args.port),
                                     "--unit", "255", "--function", "3", "--address", "0", "--quantity", "10",
                                     "--period-ms", "1", "--duration-ms", str(args.bench * 1000), "--quiet"],
                                    stdin=subprocess.DEVNULL, capture_output=True, text=True)
            print(f"FIGURE engine_host.exe client, 1 ms period, 10 registers: {engine.stdout.strip()}")
            # The comparison counts only when engine_host polled well:
            # ended with 0 and every transaction answered.
            summary = re.search(r"^transactions (\d+) failures (\d+) ", engine.stdout, re.M)
            if engine.returncode != 0 or not summary or summary[1] == "0" or summary[2] != "0":
                print(f"FAIL engine_host.exe client ended with {engine.returncode}: {engine.stdout.strip()} "
                      f"{engine.stderr.strip()}"[:300])
                status = status or 1
        server.stop()
        return status
    finally:
        close_serial_line(socat, link)
        close_serial_line(None, closed_link)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
