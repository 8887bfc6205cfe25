#!/usr/bin/python3
"""The bus monitor on a simulated RS-485 bus (tests/peers/bus_hub.py) with
independent devices on it: a pymodbus master, our RTU slave (engine_host's
server, unit 1, under Wine on its own COM port), a pymodbus slave (unit 2),
and the monitor under test on a COM port of its own (monitor_plugin_e2e.exe,
the plug-in through the real interface). The master's traffic includes
exceptions from both slaves, a unit nobody answers (5) and a request the hub
damages on its way; what the master saw is handed to the program, which
compares its table. The hub proves that the monitor's end never wrote a byte.

  bus_e2e.py --exe E --wine-run W --engine-host H [--mode abi|bus]
  bus_e2e.py --exe monitor_in_shell_test.exe ... --whole-program
      the same bus with the monitor inside velmora.exe, driven from outside
      by the test program, which finds its COM port in VELMORA_MONITOR_COM

Exit status: the program's (the number of failed checks); 1 when the bus
cannot be set up.
"""
import argparse
import asyncio
import logging
import os
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "peers"))
from bus_hub import BusHub  # noqa: E402
from driven_program import drive  # noqa: E402
from wine_serial import claim_com, com_link, link_com  # noqa: E402

logging.disable(logging.CRITICAL)

MASTER, PYMODBUS_SLAVE, OUR_SLAVE, MONITOR = range(4)
OUR_UNIT, PYMODBUS_UNIT, ABSENT_UNIT = 1, 2, 5
SIZE = 100  # registers and coils of the pymodbus slave


def start_pymodbus_slave(device):
    from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
    from pymodbus.server import StartAsyncSerialServer
    from pymodbus.transaction import ModbusRtuFramer
    store = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, list(range(SIZE))),
                               ir=ModbusSequentialDataBlock(0, list(range(SIZE))),
                               co=ModbusSequentialDataBlock(0, [True] * SIZE), zero_mode=True)
    context = ModbusServerContext(slaves={PYMODBUS_UNIT: store}, single=False)
    threading.Thread(target=lambda: asyncio.run(StartAsyncSerialServer(
        context=context, framer=ModbusRtuFramer, port=device, baudrate=19200)), daemon=True).start()


class Tally:
    """Per unit, what the master did and saw."""

    def __init__(self):
        self.units = {}

    def count(self, unit, field):
        self.units.setdefault(unit, {"requests": 0, "answers": 0, "exceptions": 0, "crc": 0, "timeouts": 0})
        self.units[unit][field] += 1

    def text(self):
        return ";".join(f"{u} {c['requests']} {c['answers']} {c['exceptions']} {c['crc']} {c['timeouts']}"
                        for u, c in sorted(self.units.items()))


def traffic(hub, device):
    """The master's requests; returns the tally and the failures."""
    from pymodbus.client import ModbusSerialClient
    from pymodbus.pdu import ExceptionResponse
    from pymodbus.transaction import ModbusRtuFramer
    # pymodbus takes the time-out as whole seconds; no retries, so that one
    # call is one request on the bus.
    client = ModbusSerialClient(port=device, framer=ModbusRtuFramer, baudrate=19200, timeout=1, retries=0)
    client.connect()
    tally = Tally()
    failures = []

    def ask(unit, call, expect, damaged=False):
        """One request, again (at most three times) while a slave that
        should answer does not: a slave on a Wine pty misses a request now
        and then, and the monitor must count what happened on the bus,
        which the tally follows."""
        for _ in range(3):
            if damaged:
                hub.corrupt(MASTER, 6)  # the low CRC byte of an 8-byte request
            response = call()
            tally.count(unit, "crc" if damaged else "requests")
            exception = isinstance(response, ExceptionResponse)
            answered = not response.isError() or exception
            if answered:
                tally.count(unit, "answers")
            elif not damaged:
                tally.count(unit, "timeouts")
            if exception:
                tally.count(unit, "exceptions")
            seen = "exception" if exception else "answer" if answered else "none"
            time.sleep(0.1)
            if seen == expect:
                return
            if expect == "none" or seen != "none":
                break
            print(f"NOTE unit {unit}: no answer this time, asked again ({response})", flush=True)
        failures.append(f"unit {unit}: {expect} expected, the master saw {response}")

    for _ in range(3):
        ask(OUR_UNIT, lambda: client.read_holding_registers(0, 2, slave=OUR_UNIT), "answer")
        ask(PYMODBUS_UNIT, lambda: client.read_holding_registers(0, 2, slave=PYMODBUS_UNIT), "answer")
    ask(OUR_UNIT, lambda: client.write_register(5, 1234, slave=OUR_UNIT), "answer")
    ask(PYMODBUS_UNIT, lambda: client.write_coils(0, [True, False, True], slave=PYMODBUS_UNIT), "answer")
    ask(OUR_UNIT, lambda: client.read_holding_registers(0, 126, slave=OUR_UNIT), "exception")
    ask(PYMODBUS_UNIT, lambda: client.read_holding_registers(200, 2, slave=PYMODBUS_UNIT), "exception")
    ask(ABSENT_UNIT, lambda: client.read_holding_registers(0, 1, slave=ABSENT_UNIT), "none")
    ask(OUR_UNIT, lambda: client.read_coils(0, 16, slave=OUR_UNIT), "answer")
    ask(ABSENT_UNIT, lambda: client.read_input_registers(0, 1, slave=ABSENT_UNIT), "none")
    ask(OUR_UNIT, lambda: client.read_holding_registers(0, 2, slave=OUR_UNIT), "none", damaged=True)
    ask(PYMODBUS_UNIT, lambda: client.read_coils(0, 8, slave=PYMODBUS_UNIT), "answer")
    ask(OUR_UNIT, lambda: client.read_input_registers(0, 3, slave=OUR_UNIT), "answer")
    client.close()
    return tally, failures


def run_abi(args):
    absent = claim_com()  # a link to nowhere: listed, but it does not open
    try:
        return drive([args.wine_run, args.exe, "abi", absent], None, lambda request: "fail unexpected")
    finally:
        if os.path.lexists(com_link(absent)):
            os.remove(com_link(absent))


def run_bus(args):
    hub = BusHub(4)
    our_com, monitor_com = claim_com(), claim_com()
    links = [link_com(our_com, hub.paths[OUR_SLAVE]), link_com(monitor_com, hub.paths[MONITOR])]
    print(f"BUS master {hub.paths[MASTER]}, pymodbus slave {hub.paths[PYMODBUS_SLAVE]}, our slave {our_com}, "
          f"monitor {monitor_com} (Wine pty: no parity or baud timing applied)", flush=True)
    slave = None
    try:
        start_pymodbus_slave(hub.paths[PYMODBUS_SLAVE])
        slave = subprocess.Popen([args.wine_run, args.engine_host, "server", "--transport", "serial", "--port", our_com,
                                  "--baud", "19200", "--parity", "none", "--stop", "1", "--handshake", "0",
                                  "--framing", "rtu", "--slave", str(OUR_UNIT)],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        ready = slave.stdout.readline().strip()
        if ready != "ready":
            print(f"FAIL engine_host did not start: {ready!r}", flush=True)
            return 1

        def on_request(request):
            if request != "traffic":
                return "fail unknown request"
            time.sleep(0.5)  # the monitor's first wait for a character is under way
            tally, failures = traffic(hub, hub.paths[MASTER])
            written = hub.counts()[MONITOR]
            if written != 0:
                failures.append(f"the monitor's end wrote {written} bytes")
            print(f"HUB bytes written per end (master, pymodbus slave, our slave, monitor): {hub.counts()}", flush=True)
            return "ok " + tally.text() if not failures else "fail " + "; ".join(failures)[:400]

        if args.whole_program:
            environment = dict(os.environ, VELMORA_MONITOR_COM=monitor_com)
            return drive([args.wine_run, args.exe], environment, on_request)
        return drive([args.wine_run, args.exe, "bus", monitor_com], None, on_request)
    finally:
        if slave:
            slave.stdin.close()
            try:
                counters = slave.stdout.read().strip().replace("\n", " | ")
                slave.wait(30)
                print(f"OUR SLAVE (engine_host) {counters}", flush=True)
            except subprocess.TimeoutExpired:
                slave.kill()
        hub.close()
        for link in links:
            if os.path.lexists(link):
                os.remove(link)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--engine-host")
    parser.add_argument("--mode", default="bus")
    parser.add_argument("--whole-program", action="store_true", help="the exe is monitor_in_shell_test")
    args = parser.parse_args()
    return run_abi(args) if args.mode == "abi" else run_bus(args)


if __name__ == "__main__":
    sys.exit(main())
