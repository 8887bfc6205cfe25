#!/usr/bin/python3
"""The whole program under long runs: velmora_driver.exe (under Wine) drives
the velmora.exe programs, this script runs the peers and gives the verdict.

  soak.py --driver EXE --wine-run W cycle [--count N] [--only NAME]
      Connect and Disconnect N times (default 100) on each of the twelve
      plug-ins and the two fault slaves against a live peer; the figures
      after a warm-up and after the cycles must agree within the margins.
  soak.py --driver EXE --wine-run W soak [--minutes M]
      a master polling a slave of ours at 10 ms, over TCP and over RTU on
      pseudo-terminals, function 16 then 3 on the same registers; a relay
      between them counts every transaction and checks every read against
      the last acknowledged write. A table per minute and a verdict line.
  soak.py --driver EXE --wine-run W monkey [--steps N] [--seed S]
      seeded random input on the TCP slave (a peer polls it) and on the TCP
      master (it polls a peer). A verdict line.

Every mode ends with one line "<mode>: pass ..." or "<mode>: fail ..." and
exits 0 only on a pass.
"""
import argparse
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "peers"))
from free_port import free_port  # noqa: E402
from rtu_crc import crc16  # noqa: E402
from wine_serial import claim_com, close_serial_line, com_link, link_com, pty_pair  # noqa: E402

PYMODBUS_SERVER = os.path.join(HERE, "..", "peers", "pymodbus_server.py")

# Growth allowed between the figures after the warm-up and at the end: the
# heap may round up a few pages and Winsock keep a handle or two.
COMMIT_MARGIN_KIB = 512
# The traffic log keeps every frame until its cap (100,000 rows, 16 MB of
# bytes): its growth is by design and bounded, so each side may grow by a
# generous 64 bytes a frame (two frames a transaction) up to that cap, on
# top of the margin.
LOG_BYTES_PER_FRAME = 64
LOG_CAP_KIB = 16 * 1024 + 4 * 1024
HANDLE_MARGIN = 4
# Wine keeps about 400 bytes of a process's memory for every comm-event
# wait on a pseudo-terminal (Windows does not): wine_serial_probe.exe, the
# serial calls alone, grows 0 bytes a cycle with no wait, 400 to 850 with
# one and 1,250 to 1,650 with three. An RTU plug-in's Connect on a serial
# line makes a few such waits until its line turns to polling (a peer that
# answers at once ends them with a character, so they go on), so the cycles
# allow it 4 KiB a Connect; the ASCII line reads without them and gets no
# allowance.
SERIAL_WAIT_KIB = 4
# Answers that may come after the master's time-out (1.5 s), as a share of
# the transactions: a loaded machine under Wine delays a few.
LATE_SHARE = 0.02


class Driver:
    def __init__(self, wine_run, exe):
        self.process = subprocess.Popen([wine_run, exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                        errors="replace")

    def ask(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        answer = self.process.stdout.readline().rstrip("\n")
        # A failing monkey seed continues with its steps, one a line.
        if answer.startswith("fail") and answer.endswith("steps:"):
            steps = []
            while True:
                more = self.process.stdout.readline()
                if not more or more.startswith("  end of steps"):
                    break
                steps.append(more.rstrip())
            answer += "\n" + "\n".join(steps)
        return answer

    def close(self):
        try:
            self.process.stdin.close()
            self.process.wait(30)
        except (subprocess.TimeoutExpired, BrokenPipeError):
            self.process.kill()


def figures(text):
    return {k: float(v) for k, v in (item.split("=") for item in text.split()[1:])}


def pymodbus_server(transport, framing, port=None, device=None):
    if transport == "serial":
        command = ["/usr/bin/python3", PYMODBUS_SERVER, "--transport", "serial", "--device", device]
    else:
        command = ["/usr/bin/python3", PYMODBUS_SERVER, "--transport", transport, "--framing", framing,
                   "--port", str(port)]
    server = subprocess.Popen(command + ["--set", "hr:0=1,2,3,4"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              text=True)
    if server.stdout.readline().strip() != "ready":
        raise SystemExit("the pymodbus server did not start")
    return server


class PollingClient(threading.Thread):
    """A peer that polls a slave of ours every 20 ms and counts the good
    answers; it keeps trying while the slave is disconnected."""

    def __init__(self, transport, framing, port=None, device=None):
        super().__init__(daemon=True)
        self.transport, self.framing, self.port, self.device = transport, framing, port, device
        self.good = 0
        self.stop = threading.Event()

    def client(self):
        from pymodbus.client import ModbusSerialClient, ModbusTcpClient, ModbusUdpClient
        from pymodbus.framer.ascii_framer import ModbusAsciiFramer
        from pymodbus.framer.rtu_framer import ModbusRtuFramer
        from pymodbus.framer.socket_framer import ModbusSocketFramer
        framer = {"mbap": ModbusSocketFramer, "rtu": ModbusRtuFramer, "ascii": ModbusAsciiFramer}[self.framing]
        if self.transport == "serial":
            return ModbusSerialClient(port=self.device, framer=framer, baudrate=19200, timeout=1, retries=0)
        kind = ModbusTcpClient if self.transport == "tcp" else ModbusUdpClient
        # pymodbus 3.0.0 cuts a time-out below 1 s to 0 when it connects: 1 s.
        return kind("127.0.0.1", port=self.port, framer=framer, timeout=1, retries=0)

    def run(self):
        import logging
        logging.disable(logging.CRITICAL)
        client = self.client()
        while not self.stop.is_set():
            try:
                reply = client.read_holding_registers(0, 2, slave=1)
                ok = not reply.isError()
            except Exception:  # a disconnected slave
                ok = False
            if ok:
                self.good += 1
            elif self.transport != "serial":
                # A new client for the next try: pymodbus's does not
                # always come back after a refused connection.
                client.close()
                client = self.client()
                time.sleep(0.05)
            time.sleep(0.02)
        client.close()


# name on the plug-in list, transport, framing, role
PLUGINS = [
    ("Modbus RTU Master", "serial", "rtu", "master"),
    ("Modbus ASCII Master", "serial", "ascii", "master"),
    ("Modbus TCP/IP Master", "tcp", "mbap", "master"),
    ("Modbus RTU over TCP/IP Master", "tcp", "rtu", "master"),
    ("Modbus UDP/IP Master", "udp", "mbap", "master"),
    ("Modbus RTU over UDP/IP Master", "udp", "rtu", "master"),
    ("Modbus RTU Slave", "serial", "rtu", "slave"),
    ("Modbus ASCII Slave", "serial", "ascii", "slave"),
    ("Modbus TCP/IP Slave", "tcp", "mbap", "slave"),
    ("Modbus RTU over TCP/IP Slave", "tcp", "rtu", "slave"),
    ("Modbus UDP/IP Slave", "udp", "mbap", "slave"),
    ("Modbus RTU over UDP/IP Slave", "udp", "rtu", "slave"),
    ("Modbus TCP/IP Slave (fault injection)", "tcp", "mbap", "slave"),
    ("Modbus RTU Slave (fault injection)", "serial", "rtu", "slave"),
]


def stop_peers(peer, server):
    """Stops a polling client (a thread) and a pymodbus server (a process);
    either may be None."""
    if peer:
        peer.stop.set()
        peer.join(5)
    if server:
        server.stdin.close()
        server.wait(10)


def growth(a, b, commit_limit_kib):
    """What grew from figures a to b beyond the limits: the commit charge by
    more than commit_limit_kib, handles by more than HANDLE_MARGIN, GDI and
    USER objects and windows at all."""
    grew = []
    if b["commit"] - a["commit"] > commit_limit_kib:
        grew.append(f"commit {a['commit']:.0f}->{b['commit']:.0f} KiB")
    if b["handles"] - a["handles"] > HANDLE_MARGIN:
        grew.append(f"handles {a['handles']:.0f}->{b['handles']:.0f}")
    for key in ("gdi", "user", "windows"):
        if b[key] != a[key]:
            grew.append(f"{key} {a[key]:.0f}->{b[key]:.0f}")
    return grew


def run_cycle(args, driver, work):
    com = claim_com()
    socat, wine_end, peer_end = pty_pair(work, "cycle-")
    link_com(com, wine_end)
    print(f"LINE {com}: Wine pty, no parity or baud timing applied", flush=True)
    failures, rows = [], []
    try:
        assert driver.ask(f"ports {com}") == "ok"
        started = driver.ask("start")
        if not started.startswith("ok"):
            return [started], rows
        pid = started.split()[1]
        for name, transport, framing, role in PLUGINS:
            if args.only and args.only not in name:
                continue
            port = free_port()
            peer = server = None
            target = com if transport == "serial" else str(port)
            extra = " field=1" if role == "slave" and framing == "rtu" or transport == "serial" and role == "slave" \
                else ""
            setup = driver.ask(f"setup {pid} {name.replace(' ', '_')} port={target}{extra}")
            if not setup.startswith("ok"):
                failures.append(f"{name}: {setup}")
                continue
            if role == "master":
                server = pymodbus_server(transport, "rtu" if framing != "mbap" else "mbap", port, peer_end)
            else:
                peer = PollingClient(transport, framing, port, peer_end)
                peer.start()
            try:
                warm = driver.ask(f"cycle {pid} 10")
                before = driver.ask(f"figures {pid}")
                cycled = driver.ask(f"cycle {pid} {args.count}")
                after = driver.ask(f"figures {pid}")
                good_before = peer.good if peer else 0
                driver.ask(f"connect {pid}")
                # Still serving or polling after the cycles: an answer within
                # 10 s (not on the ASCII pair, see below).
                for _ in range(50):
                    time.sleep(0.2)
                    rx = driver.ask("text %s 317" % pid)
                    if peer and peer.good > good_before or not peer and rx[7:9] not in ("", "Ti", "Co", "Re"):
                        break
                if os.environ.get("VELMORA_SOAK_DEBUG"):
                    print("TX", driver.ask("text %s 316" % pid), "good", peer.good if peer else "-", flush=True)
                driver.ask(f"disconnect {pid}")
                if not (warm.startswith("ok") and cycled.startswith("ok") and before.startswith("ok")):
                    failures.append(f"{name}: {warm} / {cycled}")
                    continue
                a, b = figures(before), figures(after)
                row = (name, cycled.split(" ", 1)[1], a, b)
                rows.append(row)
                limit = COMMIT_MARGIN_KIB + (SERIAL_WAIT_KIB * args.count
                                             if transport == "serial" and framing == "rtu" else 0)
                grew = growth(a, b, limit)
                if grew:
                    failures.append(f"{name}: " + ", ".join(grew))
                # Still serving or polling after the cycles (not on the
                # ASCII pair: Wine refuses 7 data bits on a pty).
                if framing != "ascii":
                    if peer and peer.good == good_before:
                        failures.append(f"{name}: the peer got no answer after the cycles")
                    if role == "master" and not (rx.startswith("ok RX: ") and
                                                 all(c in "0123456789ABCDEF" for c in rx[7:9])):
                        failures.append(f"{name}: no answer read after the cycles ({rx})")
                print(f"{name:40s} {cycled[3:]:40s} commit {a['commit']:.0f}->{b['commit']:.0f} KiB "
                      f"handles {a['handles']:.0f}->{b['handles']:.0f} gdi {a['gdi']:.0f}->{b['gdi']:.0f} "
                      f"user {a['user']:.0f}->{b['user']:.0f} windows {a['windows']:.0f}->{b['windows']:.0f} "
                      f"| {rx[3:60]}", flush=True)
            finally:
                stop_peers(peer, server)
        quit = driver.ask(f"quit {pid}")
        if quit != "ok exit=0":
            failures.append(f"quit: {quit}")
    finally:
        close_serial_line(socat, com_link(com))
    return failures, rows


# --- the soak: a relay that counts ---------------------------------------------------

FN_READ_HOLDING, FN_WRITE_MULTIPLE = 3, 16


class Tally:
    """What the relay saw: transactions by function, answers, reads that
    matched the last acknowledged write, and the faults."""

    def __init__(self, name):
        self.name = name
        self.lock = threading.Lock()
        self.requests = {FN_READ_HOLDING: 0, FN_WRITE_MULTIPLE: 0}
        self.answers = 0
        self.unanswered = 0
        self.doubled = 0
        self.reads_right = 0
        self.reads_wrong = []
        self.written = None   # values of the last acknowledged write
        self.pending = None   # (function, values) of the request in flight
        self.writes_changed = 0
        self.errors = []
        self.abandoned = 0  # requests the master gave up on, whose answers may still come
        self.late = 0       # answers that came after the master had given up
        self.slowest = 0.0  # the longest request-to-answer time, s
        self.sent = 0.0

    def request(self, function, values):
        with self.lock:
            if self.pending is not None:
                self.unanswered += 1
                self.abandoned += 1
            self.requests[function] = self.requests.get(function, 0) + 1
            self.pending = (function, values)
            self.sent = time.monotonic()

    def answer(self, function, values):
        with self.lock:
            if self.pending is None or self.pending[0] != function:
                # The answer to a request the master gave up on arrives
                # late; any other is an answer without a request.
                if self.abandoned:
                    self.abandoned -= 1
                    self.late += 1
                else:
                    self.doubled += 1
                return
            self.slowest = max(self.slowest, time.monotonic() - self.sent)
            self.answers += 1
            if function == FN_WRITE_MULTIPLE:
                if self.written is not None and self.written != self.pending[1]:
                    self.writes_changed += 1
                self.written = self.pending[1]
            elif function == FN_READ_HOLDING and self.written is not None:
                if values[:len(self.written)] == self.written:
                    self.reads_right += 1
                elif len(self.reads_wrong) < 5:
                    self.reads_wrong.append((self.written, values))
            self.pending = None


def relay_tcp(listen_port, target_port, tally, stop):
    """Accepts the master's connections and relays them to the slave,
    reading the MBAP frames in each direction."""
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", listen_port))
    server.listen(4)
    server.settimeout(0.5)

    def frames(sock):
        buffer = b""
        while not stop.is_set():
            while len(buffer) >= 6:
                length = struct.unpack(">H", buffer[4:6])[0]
                if len(buffer) < 6 + length:
                    break
                yield buffer[:6 + length]
                buffer = buffer[6 + length:]
            try:
                chunk = sock.recv(4096)
            except socket.timeout:
                continue
            except OSError:
                return
            if not chunk:
                return
            buffer += chunk

    def pump(source, sink, is_request):
        for frame in frames(source):
            pdu = frame[7:]
            if is_request:
                if pdu[0] == FN_WRITE_MULTIPLE:
                    tally.request(pdu[0], list(struct.unpack(f">{pdu[5] // 2}H", pdu[6:6 + pdu[5]])))
                else:
                    tally.request(pdu[0], None)
            else:
                values = list(struct.unpack(f">{pdu[1] // 2}H", pdu[2:2 + pdu[1]])) \
                    if pdu[0] == FN_READ_HOLDING else None
                tally.answer(pdu[0], values)
            try:
                sink.sendall(frame)
            except OSError:
                return
        for s in (source, sink):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    while not stop.is_set():
        try:
            master, _ = server.accept()
        except socket.timeout:
            continue
        try:
            slave = socket.create_connection(("127.0.0.1", target_port))
        except OSError:  # the slave is not listening yet: the master tries again
            master.close()
            continue
        for s in (master, slave):
            s.settimeout(0.5)
        threading.Thread(target=pump, args=(master, slave, True), daemon=True).start()
        threading.Thread(target=pump, args=(slave, master, False), daemon=True).start()
    server.close()


def rtu_length(frame, is_request):
    """The whole length of an RTU frame of ours once its head has come."""
    if len(frame) < 3:
        return None
    function = frame[1]
    if function & 0x80:
        return 5
    if is_request:
        if function == FN_WRITE_MULTIPLE:
            return 9 + frame[6] if len(frame) >= 7 else None
        return 8
    if function == FN_READ_HOLDING:
        return 5 + frame[2]
    return 8


def relay_rtu(master_end, slave_end, tally, stop):
    """Relays between two pseudo-terminals (the master's line and the
    slave's), cutting the RTU frames by their lengths."""
    import select
    fds = {}
    for path in (master_end, slave_end):
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        import termios
        import tty
        tty.setraw(fd)
        attributes = termios.tcgetattr(fd)
        attributes[3] &= ~termios.ECHO
        termios.tcsetattr(fd, termios.TCSANOW, attributes)
        fds[path] = fd
    m, s = fds[master_end], fds[slave_end]
    buffers = {m: b"", s: b""}
    last = {m: 0.0, s: 0.0}
    while not stop.is_set():
        ready, _, _ = select.select([m, s], [], [], 0.2)
        now = time.monotonic()
        for fd in (m, s):
            # A head left alone for 0.5 s is noise: dropped.
            if buffers[fd] and now - last[fd] > 0.5:
                tally.errors.append(f"{'request' if fd == m else 'answer'} fragment {buffers[fd].hex()}")
                buffers[fd] = b""
        for fd in ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                continue
            last[fd] = now
            buffers[fd] += chunk
            is_request = fd == m
            while True:
                length = rtu_length(buffers[fd], is_request)
                if length is None or len(buffers[fd]) < length:
                    break
                frame, buffers[fd] = buffers[fd][:length], buffers[fd][length:]
                if crc16(frame[:-2]) != frame[-2:]:
                    tally.errors.append(f"CRC {frame.hex()}")
                function = frame[1]
                if is_request:
                    values = list(struct.unpack(f">{frame[6] // 2}H", frame[7:7 + frame[6]])) \
                        if function == FN_WRITE_MULTIPLE else None
                    tally.request(function, values)
                else:
                    values = list(struct.unpack(f">{frame[2] // 2}H", frame[3:3 + frame[2]])) \
                        if function == FN_READ_HOLDING else None
                    tally.answer(function, values)
                os.write(s if is_request else m, frame)
    for fd in (m, s):
        os.close(fd)


def setup_pair(driver, slave_name, master_name, slave_target, master_target, unit):
    """Starts the slave's and the master's programs; the master gets function
    16 (entry 7) on tab 0 and function 3 (entry 2) on tab 1, four registers
    from 0, every 10 ms."""
    ids = []
    for name, target in ((slave_name, slave_target), (master_name, master_target)):
        started = driver.ask("start")
        if not started.startswith("ok"):
            raise SystemExit(f"soak: fail {started}")
        pid = started.split()[1]
        extra = " field=1" if "Slave" in name and ("RTU" in name) else ""
        answer = driver.ask(f"setup {pid} {name.replace(' ', '_')} port={target}{extra}")
        if not answer.startswith("ok"):
            raise SystemExit(f"soak: fail {name}: {answer}")
        ids.append(pid)
    slave, master = ids
    for tab, function in ((0, 7), (1, 2)):
        answer = driver.ask(f"poll {master} {tab} {function} {unit} 0 4 10")
        if not answer.startswith("ok"):
            raise SystemExit(f"soak: fail poll: {answer}")
    driver.ask(f"tab {master} 0")
    for pid in (slave, master):
        answer = driver.ask(f"connect {pid}")
        if answer != "ok Dis&connect":
            raise SystemExit(f"soak: fail connect: {answer}")
    return slave, master


def run_soak(args, driver, work):
    stop = threading.Event()
    failures = []
    tcp_tally, rtu_tally = Tally("tcp"), Tally("rtu")
    # TCP: master -> relay port -> slave port.
    slave_port, relay_port = free_port(), free_port()
    threading.Thread(target=relay_tcp, args=(relay_port, slave_port, tcp_tally, stop), daemon=True).start()
    # RTU: master COM -> pty pair -> relay -> pty pair -> slave COM.
    master_com, slave_com = claim_com(), claim_com()
    socat_m, wine_m, peer_m = pty_pair(work, "master-")
    socat_s, wine_s, peer_s = pty_pair(work, "slave-")
    link_com(master_com, wine_m)
    link_com(slave_com, wine_s)
    print(f"LINE {master_com} and {slave_com}: Wine ptys relayed here, no parity or baud timing applied "
          "(the plug-ins' pages keep their 8-E-1; a pty carries no parity)", flush=True)
    threading.Thread(target=relay_rtu, args=(peer_m, peer_s, rtu_tally, stop), daemon=True).start()
    try:
        assert driver.ask(f"ports {master_com} {slave_com}") == "ok"
        pairs = {
            "tcp": setup_pair(driver, "Modbus TCP/IP Slave", "Modbus TCP/IP Master", slave_port, relay_port, 1),
            "rtu": setup_pair(driver, "Modbus RTU Slave", "Modbus RTU Master", slave_com, master_com, 1),
        }
        programs = {"tcp slave": pairs["tcp"][0], "tcp master": pairs["tcp"][1],
                    "rtu slave": pairs["rtu"][0], "rtu master": pairs["rtu"][1]}
        tallies = {"tcp": tcp_tally, "rtu": rtu_tally}
        print(f"soak: {args.minutes} minutes, figures every {args.interval} s; growth limit after the first "
              f"{args.warmup} readings: commit +{COMMIT_MARGIN_KIB} KiB "
              f"and the traffic log's {LOG_BYTES_PER_FRAME} bytes a frame up to {LOG_CAP_KIB} KiB, "
              f"handles +{HANDLE_MARGIN}, GDI, USER and windows equal; late answers at most {LATE_SHARE:.0%}", flush=True)
        print(f"{'min':>5} {'program':11} {'commit KiB':>10} {'handles':>7} {'gdi':>4} {'user':>4} {'windows':>7} "
              f"{'null ms':>7} | {'link':4} {'fn16':>7} {'fn3':>7} {'answers':>7} {'lost':>4} {'doubled':>7} "
              f"{'reads ok':>8} {'wrong':>5} {'late':>4} {'max ms':>6}", flush=True)
        history = {name: [] for name in programs}
        value = switches = 0
        end = time.monotonic() + args.minutes * 60
        next_reading = time.monotonic()
        reading = 0
        while True:
            now = time.monotonic()
            if now >= next_reading:
                for name, pid in programs.items():
                    f = figures(driver.ask(f"figures {pid}"))
                    history[name].append(f)
                    link = tallies[name.split()[0]]
                    with link.lock:
                        counts = (link.requests[FN_WRITE_MULTIPLE], link.requests[FN_READ_HOLDING], link.answers,
                                  link.unanswered, link.doubled, link.reads_right, len(link.reads_wrong), link.late,
                                  link.slowest * 1000)
                    f["transactions"] = link.answers + link.unanswered
                    print(f"{reading * args.interval / 60:5.1f} {name:11} {f['commit']:10.0f} {f['handles']:7.0f} "
                          f"{f['gdi']:4.0f} {f['user']:4.0f} {f['windows']:7.0f} {f['null_ms']:7.2f} | "
                          f"{name.split()[0]:4} {counts[0]:7d} {counts[1]:7d} {counts[2]:7d} {counts[3]:4d} "
                          f"{counts[4]:7d} {counts[5]:8d} {counts[6]:5d} {counts[7]:4d} {counts[8]:6.0f}", flush=True)
                    if f["null_ms"] < 0:
                        failures.append(f"{name}: WM_NULL unanswered at reading {reading}")
                reading += 1
                next_reading += args.interval
                if now >= end:
                    break
            # Function 16 then 3: a new value typed into a row of the write
            # poll (tab 0) on both masters, written every 10 ms for half a
            # second, then the read poll (tab 1) shown, which the master
            # polls instead for half a second. Only the shown tab polls.
            value = (value + 1) % 60000
            switches += 2
            for link in ("tcp", "rtu"):
                master = pairs[link][1]
                driver.ask(f"tab {master} 0")
                answer = driver.ask(f"edit {master} {value % 4} {value + 1}")
                if answer != "ok":
                    failures.append(f"{link} master edit: {answer}")
            time.sleep(0.5)
            for link in ("tcp", "rtu"):
                driver.ask(f"tab {pairs[link][1]} 1")
            time.sleep(0.5)
        for name, pid in programs.items():
            rows = history[name]
            base = rows[min(args.warmup, len(rows) - 1)]
            last = rows[-1]
            frames = 2 * (last["transactions"] - base["transactions"])
            grew = growth(base, last, COMMIT_MARGIN_KIB + min(LOG_CAP_KIB, frames * LOG_BYTES_PER_FRAME // 1024))
            if grew:
                failures.append(f"{name}: " + ", ".join(grew))
        for link, tally in tallies.items():
            with tally.lock:
                if tally.reads_wrong:
                    failures.append(f"{link}: reads not matching the last write: {tally.reads_wrong}")
                if tally.doubled:
                    failures.append(f"{link}: {tally.doubled} answers without a request")
                # A lost transaction is one the master gave up on (its
                # time-out); the relay never drops one, so none may occur.
                # A request the master gave up on whose answer came late is
                # the slave's slowness, judged below; one never answered at
                # all may only be one a tab switch cut off.
                never = tally.unanswered - tally.late
                if never > switches:
                    failures.append(f"{link}: {never} requests never answered, more than the "
                                    f"{switches} tab switches")
                transactions = sum(tally.requests.values())
                if tally.late > LATE_SHARE * transactions:
                    failures.append(f"{link}: {tally.late} answers after the master's time-out, more than "
                                    f"{LATE_SHARE:.0%} of {transactions}")
                if tally.errors:
                    failures.append(f"{link}: {len(tally.errors)} bad frames, first {tally.errors[:2]}")
                if tally.reads_right == 0 or tally.writes_changed == 0:
                    failures.append(f"{link}: no write read back ({tally.reads_right} reads, "
                                    f"{tally.writes_changed} changed writes)")
        for pid in programs.values():
            driver.ask(f"disconnect {pid}")
            quit = driver.ask(f"quit {pid}")
            if quit != "ok exit=0":
                failures.append(f"quit: {quit}")
        summary = ", ".join(f"{link} {t.requests[FN_WRITE_MULTIPLE]} writes {t.reads_right} reads right "
                            f"{t.writes_changed} value changes" for link, t in tallies.items())
        return failures, summary
    finally:
        stop.set()
        time.sleep(0.5)
        close_serial_line(socat_m, com_link(master_com))
        close_serial_line(socat_s, com_link(slave_com))


def run_monkey(args, driver, work):
    failures, done = [], []
    com = claim_com()
    socat, wine_end, peer_end = pty_pair(work, "monkey-")
    link_com(com, wine_end)
    try:
        assert driver.ask(f"ports {com}") == "ok"
        for name, transport, framing in (("Modbus TCP/IP Slave", "tcp", "mbap"),
                                         ("Modbus TCP/IP Master", "tcp", "mbap")):
            if args.only and args.only not in name:
                continue
            port = free_port()
            started = driver.ask("start")
            if not started.startswith("ok"):
                return [started], ""
            pid = started.split()[1]
            setup = driver.ask(f"setup {pid} {name.replace(' ', '_')} port={port}")
            if not setup.startswith("ok"):
                failures.append(f"{name}: {setup}")
                continue
            if "Master" in name:
                peer, server = None, pymodbus_server(transport, framing, port)
            else:
                peer, server = PollingClient(transport, framing, port), None
                peer.start()
            try:
                driver.ask(f"connect {pid}")
                answer = driver.ask(f"monkey {pid} {args.steps} {args.seed} {port} {com}")
                print(f"{name}: {answer}", flush=True)
                if not answer.startswith("ok"):
                    failures.append(f"{name}: {answer}")
                else:
                    done.append(f"{name} {args.steps} steps")
                quit = driver.ask(f"quit {pid}")
                if quit != "ok exit=0":
                    failures.append(f"{name} quit: {quit}")
            finally:
                stop_peers(peer, server)
    finally:
        close_serial_line(socat, com_link(com))
    return failures, ", ".join(done)


# --- hostile peers ---------------------------------------------------------------------

READ_PDU = bytes([FN_READ_HOLDING, 0, 0, 0, 2])


def lrc(data):
    return (-sum(data)) & 0xFF


def frame(framing, unit, pdu, tid=1):
    if framing == "mbap":
        return struct.pack(">HHHB", tid, 0, len(pdu) + 1, unit) + pdu
    if framing == "rtu":
        body = bytes([unit]) + pdu
        return body + crc16(body)
    body = bytes([unit]) + pdu
    return b":" + (body + bytes([lrc(body)])).hex().upper().encode() + b"\r\n"


def answer_pdu(framing, data):
    """The PDU of a whole answer of ours, or None."""
    if framing == "mbap":
        if len(data) < 8:
            return None
        length = struct.unpack(">H", data[4:6])[0]
        return data[7:6 + length] if len(data) >= 6 + length else None
    if framing == "rtu":
        if len(data) < 5 or crc16(data[:-2]) != data[-2:]:
            return None
        return data[1:-2]
    text = data.strip()
    if not text.startswith(b":"):
        return None
    try:
        body = bytes.fromhex(text[1:].decode())
    except ValueError:  # not hex: a damaged answer
        return None
    return body[1:-1] if body and lrc(body[:-1]) == body[-1] else None


def good_read(framing, answer):
    pdu = answer_pdu(framing, answer) if answer else None
    return pdu is not None and len(pdu) == 6 and pdu[0] == FN_READ_HOLDING and pdu[1] == 4


def mutations(framing, rng):
    """Hostile requests: (name, list of byte pieces sent 5 ms apart)."""
    good = frame(framing, 1, READ_PDU, 7)
    garbage = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 300)))
    cases = [("random bytes", [garbage]),
             ("fragments of a good request", [good[i:i + 1] for i in range(len(good))]),
             ("a cut request", [good[:len(good) // 2]]),
             ("a damaged byte", [bytes(b ^ (0x5A if i == len(good) - 3 else 0) for i, b in enumerate(good))]),
             ("an unknown function", [frame(framing, 1, bytes([0x5B, 1, 2, 3]), 8)]),
             ("a count that lies", [frame(framing, 1, bytes([FN_WRITE_MULTIPLE, 0, 0, 0, 2, 200, 1, 2, 3, 4]), 9)]),
             ("a huge quantity", [frame(framing, 1, bytes([FN_READ_HOLDING, 0, 0, 0xFF, 0xFF]), 10)])]
    if framing == "mbap":
        cases += [("an MBAP length of 0", [struct.pack(">HHHB", 1, 0, 0, 1) + garbage[:8]]),
                  ("an MBAP length past the data", [struct.pack(">HHHB", 1, 0, 250, 1) + READ_PDU]),
                  ("an MBAP length of 65535", [struct.pack(">HHHB", 1, 0, 65535, 1) + garbage]),
                  ("a foreign protocol id", [struct.pack(">HHHB", 1, 0x1234, 6, 1) + READ_PDU]),
                  ("a valid header and garbage", [struct.pack(">HHHB", 2, 0, len(garbage) + 1, 1) + garbage]),
                  ("two requests in one piece", [good + frame(framing, 1, READ_PDU, 8)])]
    else:
        cases += [("an oversized frame", [garbage * 3])]
    rng.shuffle(cases)
    return cases


def exchange(transport, port, pieces, wait=1.5):
    """Sends the pieces to a loopback slave (a fresh connection or socket)
    and returns what came back within wait seconds."""
    kind = socket.SOCK_STREAM if transport == "tcp" else socket.SOCK_DGRAM
    with socket.socket(socket.AF_INET, kind) as sock:
        sock.settimeout(wait)
        try:
            sock.connect(("127.0.0.1", port))
            for piece in pieces:
                sock.send(piece)
                time.sleep(0.005)
            return sock.recv(4096)
        except OSError:
            return b""


def serial_exchange(fd, pieces, wait=1.5):
    import select
    os.read(fd, 4096) if select.select([fd], [], [], 0)[0] else None
    for piece in pieces:
        os.write(fd, piece)
        time.sleep(0.005)
    data, end = b"", time.monotonic() + wait
    while time.monotonic() < end:
        if select.select([fd], [], [], 0.05)[0]:
            data += os.read(fd, 4096)
        elif data:
            break
    return data


def open_raw(path):
    import termios
    import tty
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    tty.setraw(fd)
    attributes = termios.tcgetattr(fd)
    attributes[3] &= ~termios.ECHO
    termios.tcsetattr(fd, termios.TCSANOW, attributes)
    return fd


def hostile_slave(driver, pid, transport, framing, port, fd, rng, report):
    """Against a slave of ours: every mutation, then a good request that
    must be answered right; a flood of connections on TCP."""
    faults = []
    good = frame(framing, 1, READ_PDU, 3)
    for name, pieces in mutations(framing, rng):
        answer = serial_exchange(fd, pieces, 0.3) if fd is not None else exchange(transport, port, pieces, 0.3)
        # A stream must put the fragments back together; on a serial line
        # gaps past the character time-out may end the frame (our RTU
        # framing waits up to 40 ms for a USB adapter's next burst, which
        # a loaded machine can outlast), and a datagram is one piece.
        if name == "fragments of a good request" and transport == "tcp" and not good_read(framing, answer):
            faults.append(f"{name}: not answered ({answer.hex()})")
        check = None
        for _ in range(3):  # a serial slave may still be skipping the noise
            check = serial_exchange(fd, [good]) if fd is not None else exchange(transport, port, [good])
            if good_read(framing, check):
                break
        if not good_read(framing, check):
            faults.append(f"after {name}: the good request got {check.hex() or 'nothing'}")
        f = figures(driver.ask(f"figures {pid}"))
        if f["null_ms"] < 0:
            faults.append(f"after {name}: WM_NULL not answered")
    if transport == "tcp":
        # 64 connections at once (the slave serves one client at a time:
        # the others wait in the backlog or are refused), garbage on every
        # third, then all closed.
        flood = []
        for _ in range(64):
            sock = socket.socket()
            sock.setblocking(False)
            sock.connect_ex(("127.0.0.1", port))
            flood.append(sock)
        time.sleep(0.3)
        for sock in flood[::3]:
            try:
                sock.send(bytes(rng.randrange(256) for _ in range(40)))
            except OSError:
                pass
        f = figures(driver.ask(f"figures {pid}"))
        if f["null_ms"] < 0:
            faults.append("during a flood of connections: WM_NULL not answered")
        for sock in flood:
            sock.close()
        time.sleep(0.5)
        if not any(good_read(framing, exchange(transport, port, [good])) for _ in range(5)):
            faults.append(f"after a flood of {len(flood)} connections: the good request is not answered")
        report.append(f"flood of {len(flood)} connections")
    return faults


class HostileServer(threading.Thread):
    """A server for a master of ours that answers a read right, mutated,
    late, twice or never, chosen by the seed; 'good' answers right only."""

    def __init__(self, transport, framing, port, fd, rng, timeout_s):
        super().__init__(daemon=True)
        self.transport, self.framing, self.port, self.fd, self.rng = transport, framing, port, fd, rng
        self.timeout_s = timeout_s
        self.mode = "hostile"
        self.stop = threading.Event()
        self.requests = 0
        self.behaviours = {}

    def answers(self, request):
        """The byte pieces to send for one request, with delays."""
        if self.framing == "mbap":
            tid, unit = struct.unpack(">H", request[:2])[0], request[6]
        elif self.framing == "ascii":
            tid, unit = 0, int(request[1:3], 16)
        else:
            tid, unit = 0, request[0]
        right = frame(self.framing, unit, bytes([FN_READ_HOLDING, 4, 0x12, 0x34, 0x56, 0x78]), tid)
        if self.mode == "good":
            return [(0, right)]
        choice = self.rng.choice(["right", "garbage", "wrong id", "twice", "late", "never", "fragments",
                                  "bad check", "exception", "short", "close"])
        self.behaviours[choice] = self.behaviours.get(choice, 0) + 1
        if choice == "right":
            return [(0, right)]
        if choice == "garbage":
            return [(0, bytes(self.rng.randrange(256) for _ in range(self.rng.randrange(1, 80))))]
        if choice == "wrong id":
            return [(0, frame(self.framing, unit ^ 0x55, bytes([FN_READ_HOLDING, 4, 0x12, 0x34, 0x56, 0x78]),
                              tid ^ 0x5555))]
        if choice == "twice":
            return [(0, right), (0.002, right)]
        if choice == "late":
            return [(self.timeout_s + 0.3, right)]
        if choice == "never":
            return []
        if choice == "fragments":
            return [(0.004, right[i:i + 2]) for i in range(0, len(right), 2)]
        if choice == "bad check":
            return [(0, right[:-1] + bytes([right[-1] ^ 0xFF]))]
        if choice == "exception":
            return [(0, frame(self.framing, unit, bytes([FN_READ_HOLDING | 0x80, 4]), tid))]
        if choice == "short":
            return [(0, right[:len(right) - 3])]
        return None  # close

    def run(self):
        if self.fd is not None:
            self.serve_serial()
        elif self.transport == "udp":
            self.serve_udp()
        else:
            self.serve_tcp()

    def serve_serial(self):
        import select
        buffer = b""
        while not self.stop.is_set():
            if not select.select([self.fd], [], [], 0.1)[0]:
                continue
            buffer += os.read(self.fd, 4096)
            if self.framing == "ascii" and b":" in buffer:
                buffer = buffer[buffer.index(b":"):]  # what an earlier test left on the line
            length = 8 if self.framing == "rtu" else (buffer.find(b"\n") + 1 or 10 ** 6)
            if len(buffer) < length:
                continue
            request, buffer = buffer[:length], buffer[length:]
            self.requests += 1
            try:
                pieces = self.answers(request)
            except ValueError:  # not a request of ours: left unanswered
                continue
            for delay, piece in pieces or []:
                time.sleep(delay)
                os.write(self.fd, piece)

    def serve_udp(self):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
            sock.bind(("127.0.0.1", self.port))
            sock.settimeout(0.2)
            while not self.stop.is_set():
                try:
                    request, peer = sock.recvfrom(4096)
                except socket.timeout:
                    continue
                self.requests += 1
                for delay, piece in self.answers(request) or []:
                    time.sleep(delay)
                    sock.sendto(piece, peer)

    def serve_tcp(self):
        with socket.socket() as server:
            server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            server.bind(("127.0.0.1", self.port))
            server.listen(4)
            server.settimeout(0.2)
            while not self.stop.is_set():
                try:
                    conn, _ = server.accept()
                except socket.timeout:
                    continue
                conn.settimeout(0.2)
                with conn:
                    while not self.stop.is_set():
                        try:
                            request = conn.recv(4096)
                        except socket.timeout:
                            continue
                        except OSError:
                            break
                        if not request:
                            break
                        self.requests += 1
                        pieces = self.answers(request)
                        if pieces is None:
                            break
                        try:
                            for delay, piece in pieces:
                                time.sleep(delay)
                                conn.sendall(piece)
                        except OSError:
                            break


def run_hostile(args, driver, work):
    import random
    rng = random.Random(args.seed)
    failures, report = [], []
    com = claim_com()
    socat, wine_end, peer_end = pty_pair(work, "hostile-")
    link_com(com, wine_end)
    fd = open_raw(peer_end)
    try:
        assert driver.ask(f"ports {com}") == "ok"
        started = driver.ask("start")
        pid = started.split()[1]
        for name, transport, framing, role in PLUGINS:
            if args.only and args.only not in name:
                continue
            port = free_port()
            serial = transport == "serial"
            target = com if serial else str(port)
            if role == "slave":
                extra = " field=1" if framing != "mbap" else ""
            else:
                # A short response time-out, so that late and missing
                # answers come round quickly.
                extra = " field=300" if transport in ("udp", "serial") else " extra=300"
            setup = driver.ask(f"setup {pid} {name.replace(' ', '_')} port={target}{extra}")
            if not setup.startswith("ok"):
                failures.append(f"{name}: {setup}")
                continue
            before = figures(driver.ask(f"figures {pid}"))
            if role == "slave":
                connected = driver.ask(f"connect {pid}")
                if connected != "ok Dis&connect":
                    failures.append(f"{name}: {connected}")
                    continue
                faults = hostile_slave(driver, pid, transport, framing, port, fd if serial else None, rng, report)
            else:
                driver.ask(f"poll {pid} 0 2 1 0 2 50")
                server = HostileServer(transport, framing, port, fd if serial else None, rng, 0.3)
                server.start()
                connected = driver.ask(f"connect {pid}")
                faults = []
                time.sleep(args.seconds)
                hostile_requests = server.requests
                f = figures(driver.ask(f"figures {pid}"))
                if f["null_ms"] < 0:
                    faults.append("WM_NULL not answered among hostile answers")
                server.mode = "good"
                rx = ""
                for _ in range(50):
                    time.sleep(0.2)
                    rx = driver.ask(f"cell {pid} 1 1")
                    if rx == "ok 22136":  # 0x5678, the second register of the right answer
                        break
                if rx != "ok 22136":
                    faults.append(f"no right value read after the hostile answers ({rx})")
                # A cut answer or a closed connection costs the response
                # time-out and the master's one-second pace before it opens
                # the connection again: a few of them fill the seconds. The
                # master must still have asked again after each of them.
                reopened = sum(server.behaviours.get(k, 0) for k in ("short", "close", "garbage"))
                if hostile_requests < 5 and hostile_requests <= reopened:
                    faults.append(f"the master sent only {hostile_requests} requests in {args.seconds} s")
                report.append(f"{name}: {hostile_requests} hostile answers " +
                              ",".join(f"{k} {v}" for k, v in sorted(server.behaviours.items())))
                server.stop.set()
                server.join(5)
            driver.ask(f"disconnect {pid}")
            after = figures(driver.ask(f"figures {pid}"))
            print(f"{name:40s} {'ok' if not faults else 'FAULTS'} handles {before['handles']:.0f}->"
                  f"{after['handles']:.0f} null {after['null_ms']:.2f} ms", flush=True)
            failures += [f"{name}: {fault}" for fault in faults]
        quit = driver.ask(f"quit {pid}")
        if quit != "ok exit=0":
            failures.append(f"quit: {quit}")
    finally:
        os.close(fd)
        close_serial_line(socat, com_link(com))
    for line in report:
        print(line)
    return failures, f"seed {args.seed}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    parser.add_argument("--wine-run", required=True)
    sub = parser.add_subparsers(dest="mode", required=True)
    cycle = sub.add_parser("cycle")
    cycle.add_argument("--count", type=int, default=100)
    cycle.add_argument("--only")
    soak = sub.add_parser("soak")
    soak.add_argument("--minutes", type=float, default=60)
    soak.add_argument("--interval", type=float, default=60)
    soak.add_argument("--warmup", type=int, default=1)
    monkey = sub.add_parser("monkey")
    monkey.add_argument("--steps", type=int, default=1000)
    monkey.add_argument("--seed", type=int, default=1)
    monkey.add_argument("--only")
    hostile = sub.add_parser("hostile")
    hostile.add_argument("--seed", type=int, default=1)
    hostile.add_argument("--seconds", type=float, default=4)
    hostile.add_argument("--only")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="velmora-soak.")
    driver = Driver(args.wine_run, args.driver)
    try:
        if args.mode == "cycle":
            failures, rows = run_cycle(args, driver, work)
            summary = f"{len(rows)} plug-ins x {args.count} Connect/Disconnect"
        elif args.mode == "soak":
            failures, summary = run_soak(args, driver, work)
        elif args.mode == "hostile":
            failures, summary = run_hostile(args, driver, work)
        else:
            failures, summary = run_monkey(args, driver, work)
    finally:
        driver.close()
        shutil.rmtree(work, ignore_errors=True)
    for failure in failures:
        print(f"FAIL {failure}")
    if failures:
        print(f"{args.mode}: fail {len(failures)} faults; {summary}")
        return 1
    print(f"{args.mode}: pass {summary}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
