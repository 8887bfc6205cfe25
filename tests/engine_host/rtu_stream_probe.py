#!/usr/bin/python3
"""Our RTU-over-TCP server (engine_host) on a real loopback connection, fed
raw frames the way masters send them: the standard requests of functions we
do not serve are answered with exception 1 on the same connection, Return
Query Data is echoed whatever its length, and a request with a damaged CRC
or a function code of unknown length closes the connection, after which a
new connection is served.

  rtu_stream_probe.py --engine PATH [--wine WINE_RUN] [--port P]  (0 or none: a free one)

The server's side closes connections here, which leaves its port in
TIME_WAIT for a minute: a run takes the first of the N ports from P that is
free, so that a quick re-run need not wait.
"""
import argparse
import os
import socket
import struct
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers"))
from free_port import free_port  # noqa: E402
from interop import Server, check, failures  # noqa: E402

# Generous: a loaded machine, or Wine, must not turn a slow answer into a
# failed check.
ANSWER_S = 10


def adu(unit, pdu_hex, damaged=False):
    """An RTU ADU with its CRC as Debian's pymodbus computes it (already in
    wire order)."""
    from pymodbus.utilities import computeCRC
    body = bytes([unit]) + bytes.fromhex(pdu_hex)
    return body + struct.pack(">H", computeCRC(body) ^ (0x0101 if damaged else 0))


def connect(port):
    for _ in range(50):
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=ANSWER_S)
        except OSError:
            time.sleep(0.2)
    raise SystemExit("cannot connect to the server")


def read_exactly(sock, count):
    data = b""
    deadline = time.monotonic() + ANSWER_S
    while len(data) < count and time.monotonic() < deadline:
        try:
            chunk = sock.recv(count - len(data))
        except socket.timeout:
            break
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    return data


class Connection:
    """One client connection; after a failed exchange the next one starts
    on a new connection, so that one fault does not hide the others."""

    def __init__(self, port):
        self.port = port
        self.sock = connect(port)

    def exchange(self, frame, expected):
        try:
            self.sock.sendall(frame)
            got = read_exactly(self.sock, len(expected))
        except OSError:
            got = b""
        if got != expected:
            self.renew()
        return got

    def renew(self):
        self.sock.close()
        self.sock = connect(self.port)


def closed_by_server(sock):
    """True when the server closes the connection (end of stream or reset)
    before the answer time passes."""
    try:
        return sock.recv(1) == b""
    except socket.timeout:
        return False
    except OSError:
        return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--engine", required=True)
    parser.add_argument("--wine")
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    args.port = args.port or free_port()
    engine = [args.wine, args.engine] if args.wine else [args.engine]
    server = Server(engine + ["server", "--transport", "tcp", "--framing", "rtu", "--bind", "127.0.0.1",
                              "--port", str(args.port), "--slave", "1", "--set", "hr:0=11,22,33"])
    read = adu(1, "03 0000 0003")
    read_answer = adu(1, "03 06 000B 0016 0021")

    # Masters probe these functions; each request, sent together with a read,
    # gets exception 1 and the read its answer, on one connection.
    unsupported = ["07", "0B", "0C", "11", "14 07 06 0004 0001 0002", "15 0D 06 0004 0007 0003 06AF 04BE 100D",
                   "16 0004 00F2 0025", "17 0003 0006 000E 0003 06 00FF 00FF 00FF", "18 04DE", "2B 0E 01 00",
                   "2B 0D 01 02 03"]
    link = Connection(args.port)
    for pdu in unsupported:
        function = int(pdu.split()[0], 16)
        expected = adu(1, f"{function | 0x80:02X} 01") + read_answer
        got = link.exchange(adu(1, pdu) + read, expected)
        check(got == expected, f"function {function} (request {pdu}) is answered with exception 1 and the read "
                               f"behind it is served (got {got.hex()})")

    # Return Query Data echoes what follows the sub-function, however much.
    for count in (0, 2, 4, 200):
        data = bytes((i * 37 + 11) & 0xFF for i in range(count)).hex()
        expected = adu(1, "08 0000" + (data if count else "0000"))
        got = link.exchange(adu(1, "08 0000" + data), expected)
        check(got == expected, f"return query data with {count} data bytes is echoed (got {got.hex()[:40]})")
    check(link.exchange(read, read_answer) == read_answer, "the connection still serves reads")

    # A damaged request, and a function code whose length cannot be told,
    # leave the stream at an unknown place: the connection is closed, and
    # the next one is served.
    for what, frame in (("a request with a damaged CRC", adu(1, "03 0000 0003", damaged=True)),
                        ("function 65", adu(1, "41 0000 0001"))):
        link.sock.sendall(frame)
        check(closed_by_server(link.sock), f"{what} closes the connection")
        link.renew()
        check(link.exchange(read, read_answer) == read_answer, f"a new connection after {what} is served")
    link.sock.close()

    server.stop()
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
