#!/usr/bin/python3
"""A simulated RS-485 bus for tests: pseudo-terminals joined so that every
byte written at one end is read at every other end, as on a two-wire bus
where each device hears all the others (and not itself: a transceiver's
own echo is off, as on most adapters). Bytes pass raw, 8 data bits; a pty
applies no baud timing, so the bus has none either.

Each end is a pty pair made here: a device opens the end's path (a Wine
program through a COMn link in its prefix, see wine_serial.link_com), the
hub holds the other side and its own copy of the device side, so that an
end no device has opened yet, or one a device closed, never fails the bus.

The hub counts the bytes each end wrote (a listener's count must stay 0)
and can damage one byte on request: corrupt(end, index) flips every bit of
the index-th byte the end writes from then on.

  bus_hub.py [--ends N]
      prints "END i PATH" for each end, then reads commands on standard
      input: "corrupt I K", "counts" (prints "COUNTS n0 n1 ..."); stops at
      the end of its input.
"""
import argparse
import fcntl
import os
import select
import sys
import threading
import tty


class BusHub:
    def __init__(self, ends):
        self.paths = []
        self._masters = []
        self._devices = []  # the device sides, held open
        self.written = [0] * ends
        self._corrupt = {}  # end -> bytes still to pass before the damaged one
        self._lock = threading.Lock()
        for _ in range(ends):
            master, device = os.openpty()
            tty.setraw(device)
            flags = fcntl.fcntl(master, fcntl.F_GETFL)
            fcntl.fcntl(master, fcntl.F_SETFL, flags | os.O_NONBLOCK)
            self._masters.append(master)
            self._devices.append(device)
            self.paths.append(os.ttyname(device))
        self._stop_read, self._stop_write = os.pipe()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def corrupt(self, end, index):
        with self._lock:
            self._corrupt[end] = index

    def counts(self):
        with self._lock:
            return list(self.written)

    def close(self):
        os.write(self._stop_write, b"x")
        self._thread.join(5)
        for fd in self._masters + self._devices + [self._stop_read, self._stop_write]:
            os.close(fd)

    def _damage(self, end, data):
        with self._lock:
            self.written[end] += len(data)
            index = self._corrupt.get(end)
            if index is None:
                return data
            if index >= len(data):
                self._corrupt[end] = index - len(data)
                return data
            del self._corrupt[end]
        data = bytearray(data)
        data[index] ^= 0xFF
        return bytes(data)

    def _run(self):
        while True:
            readable, _, _ = select.select(self._masters + [self._stop_read], [], [])
            if self._stop_read in readable:
                return
            for fd in readable:
                end = self._masters.index(fd)
                try:
                    data = os.read(fd, 4096)
                except (BlockingIOError, OSError):
                    continue
                if not data:
                    continue
                data = self._damage(end, data)
                for other, target in enumerate(self._masters):
                    if other == end:
                        continue
                    try:
                        os.write(target, data)
                    except (BlockingIOError, OSError):
                        pass  # an end nobody reads stays full; the bus goes on


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ends", type=int, default=3)
    args = parser.parse_args()
    hub = BusHub(args.ends)
    for i, path in enumerate(hub.paths):
        print(f"END {i} {path}", flush=True)
    for line in sys.stdin:
        words = line.split()
        if words[:1] == ["corrupt"] and len(words) == 3:
            hub.corrupt(int(words[1]), int(words[2]))
        elif words[:1] == ["counts"]:
            print("COUNTS " + " ".join(str(n) for n in hub.counts()), flush=True)
    hub.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
