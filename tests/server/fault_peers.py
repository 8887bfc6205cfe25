#!/usr/bin/python3
"""The fault-injecting answer path against independent masters on loopback.

engine_host serves a device map with one fault every 2nd request; pymodbus
(Debian's python3-pymodbus) sends requests 1 and 2, then libmodbus's
peer_client requests 3 and 4 on a new connection, so every client sees one
normal answer and one fault. RTU faults run on RTU over TCP, whose framer is
the serial line's.

  fault_peers.py --engine ENGINE_HOST --peers DIR [--port FIRST_PORT]  (none: free ports)
"""
import argparse
import logging
import os
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers"))
from free_port import free_port  # noqa: E402

logging.disable(logging.CRITICAL)
from pymodbus.client import ModbusTcpClient  # noqa: E402
from pymodbus.framer.rtu_framer import ModbusRtuFramer  # noqa: E402
from pymodbus.framer.socket_framer import ModbusSocketFramer  # noqa: E402

FAILURES = []
VALUES = [4660, 22136]  # holding registers 0 and 1


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what, flush=True)
    if not condition:
        FAILURES.append(what)


def pymodbus_outcome(call):
    """'values v v', 'exception c', 'written', 'no response' or 'connection lost'."""
    try:
        response = call()
    except Exception as error:  # the client raises for a dropped connection
        return "connection lost" if "Connection" in repr(error) else repr(error)
    if hasattr(response, "registers"):
        return "values " + " ".join(str(v) for v in response.registers)
    if getattr(response, "exception_code", None):
        return f"exception {response.exception_code}"
    if hasattr(response, "isError") and not response.isError():
        return "written"
    text = str(response)
    if "Connection" in text or "reset" in text:
        return "connection lost"
    return "no response"


def libmodbus_outcome(line):
    """peer_client's result line in the same words."""
    if line.startswith("OK "):
        return "values " + line[3:]
    if line == "OK":
        return "written"
    if line == "EXC 13":
        return "invalid data"  # libmodbus: the transaction id does not match
    if line == "EXC 12":
        return "CRC error"
    if "not from requested slave" in line:
        return "another slave"
    if line.startswith("EXC "):
        return "exception " + line[4:]
    if "timed out" in line:
        return "no response"
    return "connection lost"


# name, framing, fault, extra options, faulted request (pymodbus call, peer_client line),
# expected outcome of the faulted request for pymodbus and for libmodbus
# (None: no libmodbus client on this framing), dump that proves a write.
CELLS = [
    ("no answer", "mbap", "drop", [], ("write", "6 10 99"), "no response", "no response", "hr:10 99"),
    ("late answer within the time-out", "mbap", "late", ["--delay", "300"], ("read", "3 0 2"),
     "values 4660 22136", "values 4660 22136", None),
    ("late answer beyond the time-out", "mbap", "late", ["--delay", "3000"], ("read", "3 0 2"),
     "no response", "no response", None),
    ("exception code 6", "mbap", "exception", ["--exception", "6"], ("write", "6 10 99"),
     "exception 6", "exception 6", "hr:10 0"),
    ("wrong transaction id", "mbap", "damage", [], ("write", "6 10 99"), None, "invalid data", "hr:10 99"),
    ("answer from another unit", "mbap", "other", [], ("read", "3 0 2"), "no response", None, None),
    ("split answer", "mbap", "split", [], ("read", "3 0 2"), "values 4660 22136", "values 4660 22136", None),
    ("connection closed", "mbap", "close", [], ("read", "3 0 2"), "connection lost", "connection lost", None),
    ("wrong CRC", "rtu", "damage", [], ("write", None), "no response", None, "hr:10 99"),
    ("answer from another slave id", "rtu", "other", [], ("read", None), "no response", None, None),
    ("split RTU answer on a stream", "rtu", "split", ["--split-gap", "10"], ("read", None),
     "values 4660 22136", None, None),
]


class Server:
    def __init__(self, command):
        # A port that a closed connection left in TIME_WAIT frees itself
        # within a minute; a quick re-run waits for it.
        for attempt in range(16):
            self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
            first = self.process.stdout.readline().strip()
            if first == "ready":
                break
            self.process.wait(30)
            if attempt == 15 or "cannot listen" not in first:
                raise SystemExit("server did not start: " + first)
            print("  the port is still taken; waiting", flush=True)
            time.sleep(5)
        self.lines = []
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        for line in self.process.stdout:
            self.lines.append(line.rstrip("\n"))

    def stop(self):
        self.process.stdin.close()
        self.process.wait(60)
        self.reader.join(10)
        return self.lines


def run_cell(args, port, cell):
    name, framing, fault, extra, (kind, peer_line), py_expected, lm_expected, dump = cell
    command = [args.engine, "server", "--transport", "tcp", "--framing", framing, "--bind", "127.0.0.1",
               "--port", str(port), "--fault", f"{fault}:2", "--set", "hr:0=4660,22136", "--dump", "hr:10:1"]
    command += ["--any"] if framing == "mbap" else ["--slave", "1"]
    server = Server(command + extra)
    framer = ModbusRtuFramer if framing == "rtu" else ModbusSocketFramer
    client = ModbusTcpClient("127.0.0.1", port=port, framer=framer, timeout=2, retries=0)
    client.connect()
    faulted = (lambda: client.write_register(10, 99, slave=1)) if kind == "write" else \
        (lambda: client.read_holding_registers(0, 2, slave=1))
    first = pymodbus_outcome(lambda: client.read_holding_registers(0, 2, slave=1))
    second = pymodbus_outcome(faulted)
    client.close()
    check(first == "values 4660 22136", f"{name}: pymodbus request 1 is answered ({first})")
    if py_expected:
        check(second == py_expected, f"{name}: pymodbus sees {py_expected} ({second})")
    if lm_expected:
        script = "3 0 2\n" + peer_line + "\n"
        out = subprocess.run([args.peers + "/peer_client", "--port", str(port), "script"], input=script,
                             capture_output=True, text=True, timeout=60).stdout.splitlines()
        outcomes = [libmodbus_outcome(line) for line in out] + ["", ""]
        check(outcomes[0] == "values 4660 22136", f"{name}: libmodbus request 3 is answered ({outcomes[0]})")
        check(outcomes[1] == lm_expected, f"{name}: libmodbus sees {lm_expected} ({outcomes[1]})")
    lines = server.stop()
    faults = [line for line in lines if line.startswith("fault RX: ")]
    expected_faults = 2 if lm_expected else 1
    check(len(faults) == expected_faults, f"{name}: {expected_faults} faults named on the RX line ({faults})")
    if dump:
        check(f"dump {dump}" in lines, f"{name}: the write was carried out as it should ({dump} in {lines[-1:]})")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--engine", required=True)
    parser.add_argument("--peers", required=True)
    parser.add_argument("--port", type=int, default=0, help="the first of consecutive ports; 0: free ones")
    args = parser.parse_args()
    for index, cell in enumerate(CELLS):
        run_cell(args, args.port + index if args.port else free_port(), cell)
    print(f"{len(FAILURES)} failures")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
