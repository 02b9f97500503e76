"""A Modbus TCP server of pymodbus with holding registers to read and write.

Usage: pymodbus_tcp_server.py PORT UNIT ADDRESS VALUE...
Serves on 127.0.0.1:PORT as unit UNIT; VALUE... are the holding registers from
ADDRESS on (the rest of 0..0x7FFF are 0). Runs until killed. Exits 2 when
pymodbus is missing.
"""
import logging
import sys

try:
    from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
    from pymodbus.server import StartTcpServer
except ImportError as error:  # pragma: no cover - reported to the test
    print("MISSING", error)
    sys.exit(2)


def main():
    port, unit, address = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3], 0)
    values = [int(v, 0) for v in sys.argv[4:]]
    registers = [0] * 0x8000
    registers[address:address + len(values)] = values
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    # zero_mode: register n is address n (otherwise pymodbus adds 1).
    slave = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, registers), zero_mode=True)
    context = ModbusServerContext(slaves={unit: slave}, single=False)
    StartTcpServer(context=context, address=("127.0.0.1", port))


if __name__ == "__main__":
    main()
