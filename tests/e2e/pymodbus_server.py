#!/usr/bin/python3
"""An independent Modbus RTU slave for the panel's end-to-end tests.

Serves holding registers 0..17 with the values given on the command line
from pymodbus' own RTU server on a serial device (one end of a socat
pseudo-terminal pair). Prints "ready" once it listens.
"""
import argparse
import asyncio
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.server import StartAsyncSerialServer


async def serve(args):
    values = [int(v) for v in args.registers.split(",")]
    block = ModbusSequentialDataBlock(0, values + [0] * (19 - len(values)))
    slave = ModbusSlaveContext(hr=block, zero_mode=True)
    context = ModbusServerContext(slaves={args.slave: slave}, single=False)
    server = await StartAsyncSerialServer(
        context=context, framer=ModbusRtuFramer, port=args.port,
        baudrate=args.baud, bytesize=8, parity="N", stopbits=1,
        timeout=0.05, defer_start=True)
    await server.start()
    print("ready", flush=True)
    await server.serve_forever()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", required=True)
    parser.add_argument("--slave", type=int, default=1)
    parser.add_argument("--baud", type=int, default=9600)
    parser.add_argument("--registers", required=True,
                        help="comma-separated values of registers 0..17")
    args = parser.parse_args()
    try:
        asyncio.run(serve(args))
    except KeyboardInterrupt:
        return 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
