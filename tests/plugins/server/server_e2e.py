#!/usr/bin/python3
"""Runs one server plug-in library (server_plugin_e2e.exe under Wine) and
plays the independent clients it asks for: Debian's pymodbus for every
transport and framing, libmodbus (peer_client) and mbpoll for Modbus TCP, and
raw frames where a client library cannot send what the check needs (a wrong
CRC, diagnostics, a broken datagram). The program prints "DRIVER <scenario>"
and waits for "ok" or "fail <why>".

  server_e2e.py --exe E --wine-run W --library L --transport tcp|udp|serial
                --framing mbap|rtu (--port P | --com COMn)
                [--peer-client PATH] [--engine-host PATH] [--mode session|load] [--seconds S]
  server_e2e.py ... --port P --whole-program [--mode load --seconds S]
      runs the test program E as it stands (velmora.exe driven from outside),
      with VELMORA_SERVER_PORT=P and, for a load run, VELMORA_SERVER_LOAD_SECONDS=S

Exit status: the program's (the number of failed checks); 1 when the line
cannot be set up.
"""
import argparse
import logging
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "peers"))
from driven_program import attempt, drive, verdict  # noqa: E402
from free_port import free_port  # noqa: E402
from rtu_crc import crc16  # noqa: E402
from wine_serial import claim_com, close_serial_line, com_link, serial_line  # noqa: E402

logging.disable(logging.CRITICAL)

DEVICE = {"co": [1, 0, 1, 1, 0, 0, 0, 0, 1, 1], "di": [0, 1, 1, 0, 1], "ir": [11, 22, 33], "hr": [1, 65535, 32768, 4660]}
TIMEOUT = 5  # generous: a loaded machine must not turn a slow answer into a failed check


def rtu(pdu, unit=1, corrupt=False):
    frame = bytes([unit]) + pdu
    check = bytearray(crc16(frame))
    if corrupt:
        check[0] ^= 0x55
    return frame + bytes(check)


class Raw:
    """Raw frames to the server on its own transport."""

    def __init__(self, args, device=None):
        self.args = args
        if args.transport == "serial":
            import serial
            self.s = serial.Serial(device, 19200, timeout=0.05)
        elif args.transport == "tcp":
            self.s = socket.create_connection(("127.0.0.1", args.port), timeout=TIMEOUT)
        else:
            self.s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            self.s.bind(("127.0.0.1", 0))
            self.s.settimeout(TIMEOUT)

    def send(self, data):
        if self.args.transport == "serial":
            self.s.write(data)
        elif self.args.transport == "tcp":
            self.s.sendall(data)
        else:
            self.s.sendto(data, ("127.0.0.1", self.args.port))

    def receive(self, wait):
        """One answer, or b"" when none came within wait seconds."""
        if self.args.transport == "serial":
            end = time.time() + wait
            data = b""
            while time.time() < end:
                chunk = self.s.read(300)
                if chunk:
                    data += chunk
                elif data:
                    return data
            return data
        self.s.settimeout(wait)
        try:
            return self.s.recv(600)
        except socket.timeout:
            return b""

    def exchange(self, data, wait=TIMEOUT):
        self.send(data)
        return self.receive(wait)

    def close(self):
        self.s.close()


def pymodbus_client(args, device):
    from pymodbus.client import ModbusSerialClient, ModbusTcpClient, ModbusUdpClient
    from pymodbus.framer.rtu_framer import ModbusRtuFramer
    from pymodbus.framer.socket_framer import ModbusSocketFramer
    if args.transport == "serial":
        client = ModbusSerialClient(port=device, framer=ModbusRtuFramer, baudrate=19200, timeout=TIMEOUT, retries=0)
    else:
        framer = ModbusRtuFramer if args.framing == "rtu" else ModbusSocketFramer
        kind = ModbusTcpClient if args.transport == "tcp" else ModbusUdpClient
        client = kind("127.0.0.1", port=args.port, framer=framer, timeout=TIMEOUT, retries=0)
    client.connect()
    return client


def functions(args, device):
    """Every function and the three exceptions through pymodbus; libmodbus and
    mbpoll as well on Modbus TCP."""
    from pymodbus.other_message import ReadExceptionStatusRequest
    from pymodbus.diag_message import ReturnQueryDataRequest
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)

    c = pymodbus_client(args, device)
    check(attempt(lambda: c.read_coils(0, 10, slave=1), lambda r: [int(b) for b in r.bits[:10]]) == DEVICE["co"], "coils")
    check(attempt(lambda: c.read_discrete_inputs(0, 5, slave=1), lambda r: [int(b) for b in r.bits[:5]]) == DEVICE["di"], "inputs")
    check(attempt(lambda: c.read_input_registers(0, 3, slave=1), lambda r: r.registers) == DEVICE["ir"], "input registers")
    check(attempt(lambda: c.read_holding_registers(0, 4, slave=1), lambda r: r.registers) == DEVICE["hr"], "holding registers")
    for name, call in (("write_coil", lambda: c.write_coil(20, True, slave=1)),
                       ("write_register", lambda: c.write_register(21, 4660, slave=1)),
                       ("write_coils", lambda: c.write_coils(30, [True, False, True, True, False, False, True, False, True], slave=1)),
                       ("write_registers", lambda: c.write_registers(40, [7, 65535, 0, 32768], slave=1))):
        check(attempt(call, lambda r: not r.isError()) is True, name)
    check(attempt(lambda: c.read_holding_registers(40, 4, slave=1), lambda r: r.registers) == [7, 65535, 0, 32768], "read back registers")
    check(attempt(lambda: c.read_coils(30, 9, slave=1), lambda r: [int(b) for b in r.bits[:9]]) == [1, 0, 1, 1, 0, 0, 1, 0, 1], "read back coils")
    exceptions = [(2, lambda: c.read_holding_registers(65535, 2, slave=1), "beyond the map"),
                  (3, lambda: c.read_holding_registers(0, 126, slave=1), "126 registers"),
                  (3, lambda: c.read_coils(0, 2001, slave=1), "2001 coils")]
    if args.framing == "mbap":
        exceptions.append((1, lambda: c.execute(ReturnQueryDataRequest(0x1234, unit=1)), "function 8 on MBAP"))
    # Function 7 is answered with exception 1 on every framing, RTU over TCP
    # included (its request length is known there).
    exceptions.append((1, lambda: c.execute(ReadExceptionStatusRequest(unit=1)), "function 7"))
    for code, call, what in exceptions:
        got = attempt(call, lambda r: getattr(r, "exception_code", None))
        check(got == code, f"exception {code} for {what} (got {got})")
    c.close()

    if args.transport == "tcp" and args.framing == "mbap":
        if args.peer_client:
            script = "3 0 4\n1 0 10\n2 0 5\n4 0 3\n6 50 99\n16 51 1,2,3\n5 60 1\n15 61 1,0,1\n3 50 4\n3 65535 2\nraw 07\n"
            out = subprocess.run([args.peer_client, "--port", str(args.port), "script"], input=script,
                                 capture_output=True, text=True, timeout=60).stdout.split("\n")
            want = ["OK 1 65535 32768 4660", "OK 1 0 1 1 0 0 0 0 1 1", "OK 0 1 1 0 1", "OK 11 22 33", "OK", "OK",
                    "OK", "OK", "OK 99 1 2 3", "EXC 2", "RAW 87 01"]
            check(out[:len(want)] == want, f"libmodbus peer_client {out[:len(want)]}")
        if shutil.which("mbpoll"):
            out = subprocess.run(["mbpoll", "-m", "tcp", "-p", str(args.port), "-a", "1", "-t", "4", "-r", "1", "-c", "4",
                                  "-1", "-o", "5", "127.0.0.1"], capture_output=True, text=True, timeout=60).stdout
            check("[1]: \t1\n" in out and "[2]: \t65535" in out and "[4]: \t4660" in out, f"mbpoll reads {out[-200:]!r}")
            out = subprocess.run(["mbpoll", "-m", "tcp", "-p", str(args.port), "-a", "1", "-t", "4", "-r", "71",
                                  "-o", "5", "127.0.0.1", "1234"], capture_output=True, text=True, timeout=60).stdout
            check("Written 1 references" in out, f"mbpoll writes {out[-200:]!r}")
    return failures


def diagnostics(args, device):
    """Function 8 on the serial and RTU-over-IP servers, as raw RTU frames."""
    failures = []
    raw = Raw(args, device)
    # RTU on a byte stream knows a function 8 request by its usual length of
    # eight bytes, so the echo carries one data word.
    echo = rtu(bytes.fromhex("08 0000 1234"))
    got = raw.exchange(echo)
    if got != echo:
        failures.append(f"sub-function 0 echo {got.hex()}")
    got = raw.exchange(rtu(bytes.fromhex("08 000C 0000")))
    if got != rtu(bytes.fromhex("08 000C 0001")):
        failures.append(f"bus communication errors after one CRC error {got.hex()}")
    if args.transport == "serial":
        # Wine's serial emulation on a pty fails a wait now and then after a
        # few idle seconds, and a transport failure parks the serial slave
        # until Disconnect; the silent part of the sequence (listen-only)
        # runs on the RTU-over-IP slaves and on the simulated line instead.
        raw.close()
        return failures
    read = rtu(bytes.fromhex("03 0000 0001"))
    for what, frame in (("force listen only", rtu(bytes.fromhex("08 0004 0000"))), ("a read while silent", read),
                        ("restart, answered by silence", rtu(bytes.fromhex("08 0001 0000")))):
        got = raw.exchange(frame, wait=1.0)
        if got:
            failures.append(f"{what} answered {got.hex()}")
    got = raw.exchange(read)
    if got != rtu(bytes.fromhex("03 02 0001")):
        failures.append(f"a read after the restart {got.hex()}")
    raw.close()
    return failures


def crc(args, device):
    raw = Raw(args, device)
    raw.send(rtu(bytes.fromhex("03 0000 0001"), corrupt=True))
    time.sleep(0.5)
    if args.transport == "tcp":
        raw.close()
        raw = Raw(args, device)
    got = raw.exchange(rtu(bytes.fromhex("03 0000 0001")))
    raw.close()
    return [] if got == rtu(bytes.fromhex("03 02 0001")) else [f"the next request after a CRC error {got.hex()}"]


def hangup(args, device):
    s = socket.create_connection(("127.0.0.1", args.port), timeout=TIMEOUT)
    s.close()
    time.sleep(0.3)
    c = pymodbus_client(args, device)
    got = attempt(lambda: c.read_holding_registers(0, 1, slave=1), lambda r: r.registers)
    c.close()
    return [] if got == [1] else [f"the next client {got}"]


def garbage(args, device):
    raw = Raw(args, device)
    got = raw.exchange(b"\x00\x01\x00", wait=0.5)
    raw.close()
    return [f"a broken datagram answered {got.hex()}"] if got else []


def read_write(args, device, words):
    verb, area, address, value = words[0], words[1], int(words[2]), int(words[3])
    c = pymodbus_client(args, device)
    if verb == "write":
        got = attempt(lambda: c.write_register(address, value, slave=1), lambda r: not r.isError())
        ok = got is True
    else:
        call = {"hr": lambda: c.read_holding_registers(address, 1, slave=1),
                "di": lambda: c.read_discrete_inputs(address, 1, slave=1)}[area]
        got = attempt(call, lambda r: int(r.registers[0] if area == "hr" else r.bits[0]))
        ok = got == value
    c.close()
    return [] if ok else [f"{' '.join(words)}: {got}"]


def bench(args, port, seconds, who, quiet=False):
    """libmodbus's client reading 125 registers back to back; the figure is
    printed (unless quiet), and every request must have been answered and
    the peer must have ended well: a load run that failed is no figure.
    Returns the failures, the rate (requests per second) and the requests."""
    out = subprocess.run([args.peer_client, "--port", str(port), "bench", str(seconds)], capture_output=True,
                         text=True, timeout=seconds + 60)
    line = out.stdout.strip()
    if not quiet:
        print(f"FIGURE libmodbus client, {who}: {line}", flush=True)
    words = line.split()
    if out.returncode != 0 or len(words) < 4 or words[0] != "requests" or words[2] != "failures":
        return [f"{who}: libmodbus bench ended with {out.returncode}: {line} {out.stderr.strip()}"[:200]], 0, 0
    if int(words[1]) == 0 or int(words[3]) != 0:
        return [f"{who}: {words[1]} requests answered, {words[3]} failed"], 0, 0
    return [], float(words[-1]), int(words[1])


# Wide values: the type's register count, pymodbus's decoder call, and how
# the typed text reads as a number of that type.
WIDE = {"int32": (2, "decode_32bit_int", int), "uint32": (2, "decode_32bit_uint", int),
        "float32": (2, "decode_32bit_float", lambda t: struct.unpack(">f", struct.pack(">f", float(t)))[0]),
        "int64": (4, "decode_64bit_int", int), "uint64": (4, "decode_64bit_uint", int),
        "float64": (4, "decode_64bit_float", float)}
# The order as pymodbus names it: (byte order, word order).
ORDERS = {"ABCD": ("big", "big"), "CDAB": ("big", "little"), "BADC": ("little", "big"), "DCBA": ("little", "little"),
          "ABCDEFGH": ("big", "big"), "GHEFCDAB": ("big", "little"), "BADCFEHG": ("little", "big"),
          "HGFEDCBA": ("little", "little")}


def decode(args, device, words):
    """decode hr ADDRESS TYPE ORDER TEXT: pymodbus reads the value's
    registers and decodes them with its payload decoder."""
    from pymodbus.constants import Endian
    from pymodbus.payload import BinaryPayloadDecoder
    address, kind, order, text = int(words[2]), words[3], words[4], words[5]
    count, call, number = WIDE[kind]
    endian = {"big": Endian.Big, "little": Endian.Little}
    byteorder, wordorder = ORDERS[order]
    c = pymodbus_client(args, device)
    got = attempt(lambda: c.read_holding_registers(address, count, slave=1),
                  lambda r: getattr(BinaryPayloadDecoder.fromRegisters(r.registers, byteorder=endian[byteorder],
                                                                       wordorder=endian[wordorder]), call)())
    c.close()
    return [] if got == number(text) else [f"{' '.join(words)}: pymodbus decoded {got!r}"]


def load(args, seconds):
    """libmodbus hammering the plug-in for that long, then the plug-in and
    engine_host's server in turns."""
    return load_plugin(args, seconds) + load_turns(args, seconds)


def plugin_name(args):
    return args.library + (" inside velmora.exe" if args.whole_program else "")


def load_plugin(args, seconds):
    failures, rate, args.last_requests = bench(args, args.port, seconds, plugin_name(args))
    return failures


def last_request(args, words):
    """last-request "HH LL": the transaction ID a line shows is that of the
    last request of the last load-plugin run (libmodbus counts them from 1,
    wrapping to 0 after 65535)."""
    shown = int(words[1] + words[2], 16)
    expected = getattr(args, "last_requests", -1) % 65536
    return [] if shown == expected else [f"the line shows transaction {shown}, the last request was {expected}"]


def engine_host_server(args):
    port = free_port()
    engine = subprocess.Popen([args.wine_run, args.engine_host, "server", "--transport", "tcp", "--framing", "mbap",
                               "--port", str(port), "--any"], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, text=True)
    ready = engine.stdout.readline().strip()
    return engine, port, [] if ready == "ready" else [f"engine_host.exe did not start: {ready!r}"]


def end_engine_host(engine):
    engine.stdin.close()
    return [] if engine.wait(60) == 0 else [f"engine_host.exe ended with {engine.returncode}"]


def load_engine_host(args, seconds):
    if not args.engine_host:
        return []
    engine, port, failures = engine_host_server(args)
    if not failures:
        failures = bench(args, port, seconds, "engine_host.exe")[0]
    return failures + end_engine_host(engine)


def wine_cpu_seconds(names):
    """CPU seconds so far of this prefix's processes whose name is among
    names (the wineserver's is "wineserver64"), summed. The kernel keeps 15
    characters of a name."""
    names = [name[:15] for name in names]
    prefix = os.environ.get("WINEPREFIX", "").encode()
    tick = os.sysconf("SC_CLK_TCK")
    total = 0.0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if b"WINEPREFIX=" + prefix + b"\0" not in f.read() + b"\0":
                    continue
            with open(f"/proc/{pid}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        if name in names:
            fields = stat[stat.rindex(")") + 2:].split()
            total += (int(fields[11]) + int(fields[12])) / tick
    return total


def load_turns(args, seconds):
    """The plug-in and engine_host's server (the same request processing
    without the plug-in around it), both up the whole time, each hammered
    for seconds in turns of one second: on a machine whose load changes from
    second to second, the ratio of two turns side by side means more than
    two long runs one after the other. Prints each side's median and the
    median of the turns' ratios."""
    if not args.engine_host:
        return []
    engine, port, failures = engine_host_server(args)
    mine, theirs = [], []
    # What each side's requests cost in CPU, its own process and the Wine
    # server's work for it together: load on the machine slows a side down
    # but leaves its cost per request nearly as it is.
    program = "velmora.exe" if args.whole_program else os.path.basename(args.exe)
    cpu = {program: [0.0, 0], "engine_host.exe": [0.0, 0]}
    turns = max(3, seconds)
    slice_seconds = 1
    for _ in range(turns if not failures else 0):
        for rates, where, who, name in ((mine, args.port, plugin_name(args), program),
                                        (theirs, port, "engine_host.exe", "engine_host.exe")):
            before = wine_cpu_seconds((name, "wineserver64"))
            failed, rate, requests = bench(args, where, slice_seconds, who, quiet=True)
            cpu[name][0] += wine_cpu_seconds((name, "wineserver64")) - before
            cpu[name][1] += requests
            failures += failed
            rates.append(rate)
    failures += end_engine_host(engine)
    if not failures:
        ratios = sorted(a / b for a, b in zip(mine, theirs))
        print(f"FIGURE in {turns} turns of {slice_seconds} s, libmodbus client: {plugin_name(args)} median "
              f"{sorted(mine)[turns // 2]:.0f}/s {[round(r) for r in mine]}, engine_host.exe median "
              f"{sorted(theirs)[turns // 2]:.0f}/s {[round(r) for r in theirs]}, ratio of each turn to the next "
              f"{ratios[turns // 2]:.2f} (median), {ratios[0]:.2f} to {ratios[-1]:.2f}", flush=True)
        mine_us, theirs_us = (1e6 * cpu[n][0] / max(1, cpu[n][1]) for n in (program, "engine_host.exe"))
        print(f"FIGURE CPU per request (the program and the Wine server): {plugin_name(args)} {mine_us:.0f} us, "
              f"engine_host.exe {theirs_us:.0f} us, ratio {theirs_us / max(1.0, mine_us):.2f}", flush=True)
    return failures


# --- several masters at once ------------------------------------------------------

HELD = []  # connections "hold" keeps open until "release"


def read_one(s, transaction):
    """Reads holding register 0 on an open connection: its answer's value,
    or None when no right answer came."""
    s.settimeout(TIMEOUT)
    s.sendall(struct.pack(">HHHBBHH", transaction, 0, 6, 1, 3, 0, 1))
    try:
        answer = s.recv(600)
    except OSError:
        return None
    if len(answer) != 11 or struct.unpack(">H", answer[:2])[0] != transaction:
        return None
    return struct.unpack(">H", answer[9:11])[0]


def closed_by_server(s):
    """True when the server closes or resets the connection within the
    generous bound; False when it is left open (hanging)."""
    s.settimeout(10)
    try:
        return s.recv(600) == b""
    except socket.timeout:
        return False
    except OSError:  # reset
        return True


def masters(args, words):
    """masters N SECONDS: N libmodbus clients at once, each writing and
    reading back its own ten registers; every answer right, and afterwards
    pymodbus reads each block as its client last wrote it."""
    count, seconds = int(words[1]), int(words[2])
    bases = [100 + 20 * k for k in range(count)]
    clients = [subprocess.Popen([args.peer_client, "--port", str(args.port), "own", str(base), str(seconds)],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True) for base in bases]
    failures, total, rate = [], 0, 0.0
    lasts = {}
    for base, client in zip(bases, clients):
        out, _ = client.communicate(timeout=seconds + 60)
        words_out = out.split()
        if client.returncode != 0 or len(words_out) < 12 or words_out[0] != "requests":
            failures.append(f"client at {base}: {out.strip()}"[:160])
            continue
        requests, failed, mismatched = int(words_out[1]), int(words_out[3]), int(words_out[5])
        if requests == 0 or failed or mismatched:
            failures.append(f"client at {base}: {requests} answered, {failed} failed, {mismatched} wrong")
        total += requests
        rate += float(words_out[9])
        lasts[base] = int(words_out[11])
    print(f"FIGURE {count} libmodbus clients at once, {args.library}: {total} requests in {seconds} s, "
          f"{rate:.0f} requests/s together", flush=True)
    c = pymodbus_client(args, None)
    for base, last in lasts.items():
        want = [(last + k) & 0xFFFF for k in range(10)]
        got = attempt(lambda: c.read_holding_registers(base, 10, slave=1), lambda r: r.registers)
        if got != want:
            failures.append(f"block {base} holds {got}, its client wrote {want}")
    c.close()
    return failures


def hold(args, words):
    """hold N: N connections, each answered once, kept open."""
    for k in range(int(words[1])):
        s = socket.create_connection(("127.0.0.1", args.port), timeout=TIMEOUT)
        HELD.append(s)
        if read_one(s, 100 + k) is None:
            return [f"held connection {k + 1} not answered"]
    return []


def seventeenth(args, words):
    """The connection beyond the held ones is refused at once, and every
    held one is still served."""
    try:
        s = socket.create_connection(("127.0.0.1", args.port), timeout=TIMEOUT)
    except ConnectionResetError:  # reset before connect returned: refused all the same
        s = None
    refused = s is None or closed_by_server(s)
    if s is not None:
        s.close()
    failures = [] if refused else ["the connection beyond the limit was left open"]
    unanswered = [k for k, held in enumerate(HELD) if read_one(held, 200 + k) is None]
    return failures + ([f"held connections {unanswered} not answered after the refusal"] if unanswered else [])


def release(args, words):
    while HELD:
        HELD.pop().close()
    return []


def idle(args, words):
    """idle S: a silent connection is closed once S seconds have passed,
    while one asking every 0.3 s for twice as long stays and is served."""
    seconds = float(words[1])
    silent = socket.create_connection(("127.0.0.1", args.port), timeout=TIMEOUT)
    talking = socket.create_connection(("127.0.0.1", args.port), timeout=TIMEOUT)
    failures, k, end = [], 0, time.time() + 2 * seconds
    while time.time() < end:
        if read_one(talking, k) is None:
            failures.append(f"the talking connection was not answered at request {k}")
            break
        k += 1
        time.sleep(0.3)
    if not closed_by_server(silent):
        failures.append("the silent connection was not closed")
    if not failures and read_one(talking, 9999) is None:
        failures.append("the talking connection was closed")
    silent.close()
    talking.close()
    return failures


def run(args, device, scenario):
    words = scenario.split()
    if words[0] in ("write", "read"):
        return read_write(args, device, words)
    if words[0] == "decode":
        return decode(args, device, words)
    if words[0] in ("masters", "hold", "seventeenth", "release", "idle"):
        return {"masters": masters, "hold": hold, "seventeenth": seventeenth, "release": release,
                "idle": idle}[words[0]](args, words)
    if words[0] == "bench":  # bench SECONDS WHO...
        return bench(args, args.port, int(words[1]), " ".join(words[2:]))[0]
    if words[0] == "last-request":
        return last_request(args, words)
    if words[0] in ("load", "load-plugin", "load-engine-host", "load-turns"):
        return {"load": load, "load-plugin": load_plugin, "load-engine-host": load_engine_host,
                "load-turns": load_turns}[words[0]](args, int(words[1]))
    return {"functions": functions, "diagnostics": diagnostics, "crc": crc, "hangup": hangup,
            "garbage": garbage}[words[0]](args, device)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--transport", required=True)
    parser.add_argument("--framing", default="rtu")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--com")
    parser.add_argument("--peer-client")
    parser.add_argument("--engine-host")
    parser.add_argument("--mode", default="session")
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--whole-program", action="store_true")
    args = parser.parse_args()
    if args.transport != "serial":
        args.port = args.port or free_port()

    work = tempfile.mkdtemp(prefix="velmora-server-e2e.")
    socat = link = device = None
    if args.com == "auto":  # a number of this run's own, which no concurrent run can take
        args.com = claim_com()
        link = com_link(args.com)
    try:
        environment = dict(os.environ)
        if args.whole_program:
            command = [args.wine_run, args.exe]
            environment["VELMORA_SERVER_PORT"] = str(args.port)
            if args.mode == "load":
                environment["VELMORA_SERVER_LOAD_SECONDS"] = str(args.seconds)
        elif args.transport == "serial":
            socat, link, device = serial_line(args.com, work)
            command = [args.wine_run, args.exe, "serial", args.library, args.com]
        elif args.mode == "masters":
            command = [args.wine_run, args.exe, "masters", args.library, str(args.port), str(args.seconds)]
        elif args.mode == "values":
            command = [args.wine_run, args.exe, "values", args.library, str(args.port)]
        elif args.mode == "load":
            command = [args.wine_run, args.exe, "load", args.library, str(args.port), str(args.seconds)]
        else:
            command = [args.wine_run, args.exe, "net", args.library, str(args.port)]

        def answer(text):
            nonlocal socat, link, device
            if text.strip() in ("unplug", "replug"):
                # The line goes and comes back on the same link names, as a
                # USB adapter pulled out and plugged in again.
                if socat:
                    close_serial_line(socat, None)
                    socat = None
                if text.strip() == "replug":
                    socat, link, device = serial_line(args.com, work)
                return "ok"
            return verdict(run(args, device, text))

        return drive(command, environment, answer)
    finally:
        close_serial_line(socat, link)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
