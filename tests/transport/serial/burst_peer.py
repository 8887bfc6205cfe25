#!/usr/bin/python3
"""A serial peer that writes the way a USB adapter delivers: every frame it
sends goes out in pieces of about 30 bytes with 16 ms between them (the
first byte alone, as an adapter whose latency timer had just run out).

  burst_peer.py our-client --device PTY --framer rtu --engine CMD... -- ENGINE-OPTIONS...
      A slave on PTY answering our RTU master (engine_host client): reads of
      125 registers, a write of 123 registers and an exception, each answer
      written in pieces.
  burst_peer.py our-server --device PTY --framer rtu --engine CMD... -- ENGINE-OPTIONS...
      A master on PTY against our RTU slave (engine_host server): a write of
      123 registers and function 8 with 200 data bytes written in pieces,
      then the values read back and dumped.

Plain pyserial and its own CRC: nothing of our code. Prints "PASS name" or
"FAIL name: why" per check; the exit status is the number of failures.
"""
import os
import subprocess
import sys
import threading
import time

import serial

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "peers"))
from engine_peer import check, end_server, run_role, words  # noqa: E402
from rtu_crc import crc16  # noqa: E402

UNIT = 1
PIECE = 30
GAP = 0.016


def adu(body):
    return bytes(body) + crc16(body)


# Our side lets a frame pause up to this long between two pieces.
LIMIT = 0.040


def write_in_bursts(port, frame):
    """Writes frame in pieces; returns the longest pause between two pieces,
    which on a busy machine may exceed the 16 ms asked for."""
    pieces = [frame[:1]] + [frame[i:i + PIECE] for i in range(1, len(frame), PIECE)]
    longest = 0.0
    last = None
    for i, piece in enumerate(pieces):
        if i:
            time.sleep(GAP)
        now = time.monotonic()
        if last is not None:
            longest = max(longest, now - last)
        port.write(piece)
        port.flush()
        last = time.monotonic()
    return longest


def read_frame(port, length, timeout=3.0):
    """length bytes, or what came before the time-out."""
    data = b""
    end = time.monotonic() + timeout
    while len(data) < length and time.monotonic() < end:
        data += port.read(length - len(data))
    return data


REGISTERS = [3000 + 7 * i for i in range(125)]


def serve(port, stop, seen):
    """Answers 8-byte reads and 255-byte writes of slave 1 until stopped."""
    while not stop.is_set():
        head = port.read(2)
        if len(head) < 2:
            continue
        length = 8
        if head[1] == 16:
            rest = read_frame(port, 5)
            head += rest
            length = 9 + (rest[4] if len(rest) == 5 else 0)
        frame = head + read_frame(port, length - len(head))
        if len(frame) != length or crc16(frame[:-2]) != frame[-2:]:
            seen.append(("bad", frame.hex()))
            port.reset_input_buffer()
            continue
        seen.append(("ok", frame.hex()))
        function = frame[1]
        address = int.from_bytes(frame[2:4], "big")
        if function == 3 and address == 0:
            count = int.from_bytes(frame[4:6], "big")
            answer = adu([UNIT, 3, 2 * count] + list(words(REGISTERS[:count])))
        elif function == 16:
            answer = adu(list(frame[:6]))
        else:
            answer = adu([UNIT, function | 0x80, 2])
        seen.append(("answer", write_in_bursts(port, answer)))


def run_engine(engine, options):
    done = subprocess.run(engine + options, capture_output=True, text=True, timeout=120)
    return done.returncode, done.stdout


def our_client(args, engine, engine_options):
    port = serial.Serial(args.device, 19200, timeout=0.05)
    stop = threading.Event()
    seen = []
    thread = threading.Thread(target=serve, args=(port, stop, seen), daemon=True)
    thread.start()
    base = ["client"] + engine_options + ["--framing", "rtu", "--unit", str(UNIT), "--timeout-ms", "1000"]
    try:
        code, out = run_engine(engine, base + ["--function", "3", "--address", "0", "--quantity", "125"])
        rx = [line[4:].replace(" ", "").lower() for line in out.splitlines() if line.startswith("RX: ")]
        expected = adu([UNIT, 3, 250] + list(words(REGISTERS))).hex()
        check("our master reads 125 registers written in pieces", code == 0 and rx[:1] == [expected], out.strip())
        before = len([kind for kind, _ in seen if kind == "answer"])
        code, out = run_engine(engine, base + ["--function", "3", "--address", "0", "--quantity", "125",
                                               "--count", "20"])
        results = [line for line in out.splitlines() if line.startswith("RX")]
        pauses = [pause for kind, pause in seen if kind == "answer"][before:]
        # A failure counts unless this busy machine held the peer itself
        # longer than our limit between two pieces of that answer (or of the
        # one before, whose late tail then spoils the next exchange).
        held = [pause > LIMIT for pause in pauses]
        lost = [i for i, line in enumerate(results)
                if not line.replace(" ", "").lower().startswith("rx:0103fa")
                and not any(held[max(0, i - 1):i + 1])]
        late = sum(1 for pause in pauses if pause > LIMIT)
        check(f"our master: 20 answers in pieces in a row ({late} held up by the machine)",
              len(results) == 20 and not lost,
              f"lost {lost}: " + "; ".join(f"{i}: {results[i][:40]} pause {pauses[i] * 1000:.0f} ms"
                                           for i in range(min(len(results), len(pauses)))))
        values = ",".join(str(v) for v in range(123))
        code, out = run_engine(engine, base + ["--function", "16", "--address", "0", "--values", values])
        check("our master writes 123 registers", code == 0, out.strip())
        code, out = run_engine(engine, base + ["--function", "3", "--address", "9", "--quantity", "2"])
        check("our master reads an exception answer written in pieces", code != 0 and "xception" in out, out.strip())
    finally:
        stop.set()
        thread.join(2)
        port.close()
    bad = [frame for kind, frame in seen if kind == "bad"]
    check("every request of our master reached the peer whole", not bad, str(bad))


def our_server(args, engine, engine_options):
    command = engine + ["server"] + engine_options + ["--framing", "rtu", "--slave", str(UNIT),
                                                       "--dump", "hr:0:123"]
    server = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        first = server.stdout.readline().strip()
        if first != "ready":
            check("our slave starts", False, first)
            return
        port = serial.Serial(args.device, 19200, timeout=0.05)
        values = [40000 + 3 * i for i in range(123)]
        request = adu([UNIT, 16, 0, 0, 0, 123, 246] + list(words(values)))
        write_in_bursts(port, request)
        answer = read_frame(port, 8)
        check("our slave answers a write of 123 registers written in pieces",
              answer == adu([UNIT, 16, 0, 0, 0, 123]), answer.hex())
        time.sleep(0.05)
        echo = adu([UNIT, 8, 0, 0] + [(i * 13) & 0xFF for i in range(200)])
        write_in_bursts(port, echo)
        answer = read_frame(port, len(echo))
        check("our slave echoes function 8 with 200 data bytes written in pieces", answer == echo, answer.hex())
        time.sleep(0.05)
        write_in_bursts(port, adu([UNIT, 3, 0, 0, 0, 123]))
        answer = read_frame(port, 5 + 246)
        check("our slave stored the values", answer == adu([UNIT, 3, 246] + list(words(values))), answer.hex())
        port.close()
    finally:
        out = end_server(server)
    dump = "dump hr:0 " + " ".join(str(40000 + 3 * i) for i in range(123))
    check("our slave's map after the write", dump in out, out.strip()[-300:])


if __name__ == "__main__":
    sys.exit(run_role(our_client, our_server, ["rtu"]))
