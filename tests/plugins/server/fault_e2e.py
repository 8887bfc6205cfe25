#!/usr/bin/python3
"""Runs fault_slave_e2e.exe under Wine and plays the independent clients it
asks for. For each fault the program sets "every 2nd request" on the Faults
group and connects; pymodbus then makes requests 1 and 2 and libmodbus's
peer_client requests 3 and 4 on a new connection (or mbpoll polls four
times), and this driver checks what each client saw. "DRIVER shot FILE"
photographs the screen (ImageMagick's import) while the Faults page shows.
With --com the RTU fault slave listens on COMn, one end of a socat
pseudo-terminal pair, and the clients are pymodbus's serial client and
peer_client as an RTU master on the other end; --master-com links COMm of
the prefix to that other end as well, for our own RTU master plug-in once
the independent clients are done.

  fault_e2e.py --exe E --wine-run W --peer-client P --port N --screenshot FILE.png
  fault_e2e.py --exe E --wine-run W --peer-client P --com COMn --master-com COMm
  fault_e2e.py --exe fault_in_shell_test.exe --wine-run W --peer-client P --port N --whole-program
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "..", "server"), os.path.join(HERE, "..", "..", "peers")]
from fault_peers import libmodbus_outcome, pymodbus_outcome  # noqa: E402
from pymodbus.client import ModbusSerialClient, ModbusTcpClient  # noqa: E402
from pymodbus.framer.rtu_framer import ModbusRtuFramer  # noqa: E402
from free_port import free_port  # noqa: E402
from wine_serial import close_serial_line, link_com, serial_line  # noqa: E402

ANSWER = "values 4660 22136"
# scenario: pymodbus's 2nd request (read or write), what pymodbus sees, what
# libmodbus sees (None: that client takes the faulted answer as it comes).
SCENARIOS = {
    "off": ("read", ANSWER, ANSWER),
    "drop": ("write", "no response", "no response"),
    "late-within": ("read", ANSWER, ANSWER),
    "late-beyond": ("read", "no response", "no response"),
    "exception": ("write", "exception 6", "exception 6"),
    "damage": ("read", None, "invalid data"),
    "other": ("read", "no response", None),
    "split": ("read", ANSWER, ANSWER),
    "close": ("read", "connection lost", "connection lost"),
}
# The same on the serial line, for the faults that need no timing.
SERIAL_SCENARIOS = {
    "off": ("read", ANSWER, ANSWER),
    "drop": ("write", "no response", "no response"),
    "exception": ("write", "exception 6", "exception 6"),
    "damage": ("write", "no response", "CRC error"),
    "other": ("read", "no response", "another slave"),
}


def clients(args, scenario, device):
    kind, py_expected, lm_expected = (SERIAL_SCENARIOS if device else SCENARIOS)[scenario]
    failures = []
    if device:
        # A pty refuses parity in tcsetattr (EINVAL), and it carries none:
        # the client keeps its default N.
        client = ModbusSerialClient(port=device, framer=ModbusRtuFramer, baudrate=19200, timeout=2, retries=0)
    else:
        client = ModbusTcpClient("127.0.0.1", port=args.port, timeout=2, retries=0)
    client.connect()
    first = pymodbus_outcome(lambda: client.read_holding_registers(0, 2, slave=1))
    second = pymodbus_outcome((lambda: client.write_register(10, 99, slave=1)) if kind == "write" else
                              (lambda: client.read_holding_registers(0, 2, slave=1)))
    client.close()
    if first != ANSWER:
        failures.append(f"pymodbus request 1: {first}")
    if py_expected and second != py_expected:
        failures.append(f"pymodbus request 2: {second}, expected {py_expected}")
    # After a write, request 5 (answered) reads register 10 back: the write
    # is carried out whatever became of its answer, unless refused.
    script = "3 0 2\n" + ("6 10 99\n3 10 1\n" if kind == "write" else "3 0 2\n")
    where = ["--rtu", device] if device else ["--port", str(args.port)]
    out = subprocess.run([args.peer_client] + where + ["script"], input=script,
                         capture_output=True, text=True, timeout=60).stdout.splitlines()
    seen = [libmodbus_outcome(l) for l in out] + ["", "", ""]
    if seen[0] != ANSWER:
        failures.append(f"libmodbus request 3: {seen[0]}")
    if lm_expected and seen[1] != lm_expected:
        failures.append(f"libmodbus request 4: {seen[1]}, expected {lm_expected}")
    back = "values 0" if scenario == "exception" else "values 99"
    if kind == "write" and seen[2] != back:
        failures.append(f"libmodbus reads register 10 back: {seen[2]}, expected {back}")
    return failures, f"pymodbus {second}, libmodbus {seen[1]}"


def mbpoll(args):
    """Four single polls: every 2nd one times out."""
    results = []
    for _ in range(4):
        run = subprocess.run(["mbpoll", "-m", "tcp", "-a", "1", "-r", "1", "-c", "2", "-t", "4", "-1", "-o", "1",
                              "-p", str(args.port), "127.0.0.1"], capture_output=True, text=True, timeout=60)
        results.append("answered" if run.returncode == 0 and "[1]:" in run.stdout else
                       "timed out" if "timed out" in run.stdout + run.stderr else "failed: " + run.stdout[-80:])
    expected = ["answered", "timed out", "answered", "timed out"]
    return ([] if results == expected else [f"mbpoll polls: {results}"]), "mbpoll " + ", ".join(results)


def run(args, request, device):
    if request.startswith("shot "):
        target = request[len("shot "):]
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shot = subprocess.run(["import", "-window", "root", "-crop", "312x366+0+0", target], capture_output=True)
        return ([] if shot.returncode == 0 and os.path.exists(target) else ["import failed"]), target
    if request == "mbpoll":
        return mbpoll(args)
    try:
        return clients(args, request, device)
    except Exception as error:  # a client that fails is a failed check, not a stuck program
        return [repr(error)], ""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--peer-client", required=True)
    parser.add_argument("--port", type=int)
    parser.add_argument("--com")
    parser.add_argument("--master-com")
    parser.add_argument("--screenshot")
    parser.add_argument("--whole-program", action="store_true", help="the exe is fault_in_shell_test")
    args = parser.parse_args()
    if not args.com:
        args.port = args.port or free_port()
    work = tempfile.mkdtemp(prefix="velmora-fault-e2e.")
    socat = link = device = master = None
    try:
        if args.com:
            socat, link, device = serial_line(args.com, work)
            master = link_com(args.master_com, device)
        return session(args, device)
    finally:
        close_serial_line(socat, link)
        close_serial_line(None, master)
        shutil.rmtree(work, ignore_errors=True)


def session(args, device):
    if args.whole_program:
        command = [args.wine_run, args.exe]
        os.environ["VELMORA_FAULT_PORT"] = str(args.port)
    elif device:
        command = [args.wine_run, args.exe, "serial", args.com, args.master_com]
    else:
        command = [args.wine_run, args.exe, "session", str(args.port), args.screenshot]
    program = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, errors="replace")
    for line in program.stdout:
        line = line.rstrip("\n")
        print(line, flush=True)
        if line.startswith("DRIVER "):
            failures, seen = run(args, line[len("DRIVER "):], device)
            program.stdin.write(("ok " + seen if not failures else "fail " + "; ".join(failures))[:400] + "\n")
            program.stdin.flush()
        # A wineserver started by this run inherits the pipe and keeps it
        # open: the summary line ends the session.
        if (" checks, " in line and line.endswith(" failed")) or line.startswith("[  PASSED  ]") or \
                line.endswith("FAILED TEST") or line.endswith("FAILED TESTS"):
            break
    return program.wait(60)


if __name__ == "__main__":
    sys.exit(main())
