#!/usr/bin/python3
"""An independent Modbus server built on Debian's pymodbus (TCP or UDP, MBAP
or RTU framing, or RTU on a serial device such as a pseudo-terminal), with a
map of 150 cells per area and PDU addressing. Prints "ready" once it listens
and serves until its standard input closes; then prints the dumps asked for
("dump hr:10 v v v") and exits.

  pymodbus_server.py --transport tcp|udp --framing mbap|rtu --port P
                     [--set AREA:ADDR=V,...]... [--dump AREA:ADDR:COUNT]...
  pymodbus_server.py --transport serial --device PTY [--set ...]... [--dump ...]...
"""
import argparse
import asyncio
import logging
import os
import sys
import threading

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.framer.socket_framer import ModbusSocketFramer
from pymodbus.server.async_io import ModbusSerialServer, ModbusTcpServer, ModbusUdpServer

AREAS = {"co": 1, "di": 2, "hr": 3, "ir": 4}  # pymodbus addresses areas by read function
MAP_SIZE = 150


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--transport", choices=["tcp", "udp", "serial"], default="tcp")
    parser.add_argument("--framing", choices=["mbap", "rtu"], default="mbap")
    parser.add_argument("--port", type=int)
    parser.add_argument("--device")
    parser.add_argument("--set", action="append", default=[])
    parser.add_argument("--dump", action="append", default=[])
    args = parser.parse_args()
    logging.disable(logging.CRITICAL)

    slave = ModbusSlaveContext(
        co=ModbusSequentialDataBlock(0, [0] * MAP_SIZE),
        di=ModbusSequentialDataBlock(0, [0] * MAP_SIZE),
        hr=ModbusSequentialDataBlock(0, [0] * MAP_SIZE),
        ir=ModbusSequentialDataBlock(0, [0] * MAP_SIZE),
        zero_mode=True)
    context = ModbusServerContext(slaves=slave, single=True)
    for spec in args.set:
        area, rest = spec.split(":", 1)
        address, values = rest.split("=", 1)
        slave.setValues(AREAS[area], int(address, 0), [int(v, 0) for v in values.split(",")])

    framer = ModbusRtuFramer if args.framing == "rtu" else ModbusSocketFramer
    address = ("127.0.0.1", args.port)
    loop = asyncio.new_event_loop()
    started = threading.Event()
    failure = []

    async def serve():
        if args.transport == "serial":
            server = ModbusSerialServer(context, ModbusRtuFramer, port=args.device, baudrate=19200)
            await server.start()
            started.set()
            await server.serve_forever()
            return
        if args.transport == "tcp":
            server = ModbusTcpServer(context, framer, address=address, loop=loop, backlog=8)
        else:
            server = ModbusUdpServer(context, framer, address=address)
        task = asyncio.ensure_future(server.serve_forever())
        await server.serving
        started.set()
        await task

    def run():
        asyncio.set_event_loop(loop)
        try:
            loop.run_until_complete(serve())
        except Exception as error:  # reported by the main thread
            failure.append(error)
            started.set()

    threading.Thread(target=run, daemon=True).start()
    started.wait(10)
    if failure or not started.is_set():
        print(f"cannot serve: {failure}", file=sys.stderr)
        os._exit(1)
    print("ready", flush=True)
    for _ in sys.stdin:
        pass
    for spec in args.dump:
        area, address, count = spec.split(":")
        values = slave.getValues(AREAS[area], int(address), int(count))
        print(f"dump {area}:{address} " + " ".join(str(int(v)) for v in values), flush=True)
    os._exit(0)


if __name__ == "__main__":
    main()
