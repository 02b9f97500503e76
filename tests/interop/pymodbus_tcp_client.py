"""Reads and writes holding registers with pymodbus's Modbus TCP client.

Usage: pymodbus_tcp_client.py HOST PORT OPERATION...
  r:SLAVE:ADDRESS:COUNT   read COUNT holding registers
  w:SLAVE:ADDRESS:VALUE   write one register
Prints one line per operation: the values read in decimal, space-separated,
"written" for a write, "EXCEPTION n" for an exception answer (n decimal) or
"NO ANSWER reason". Exits 0; 1 when it cannot connect; 2 when pymodbus is missing.
"""
import logging
import sys

try:
    from pymodbus.client import ModbusTcpClient
    from pymodbus.pdu import ExceptionResponse
except ImportError as error:  # pragma: no cover - reported to the test
    print("MISSING", error)
    sys.exit(2)


def main():
    host, port = sys.argv[1], int(sys.argv[2])
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    client = ModbusTcpClient(host, port=port, timeout=3, retries=0)
    if not client.connect():
        print("NO ANSWER cannot connect to", host, port)
        return 1
    for operation in sys.argv[3:]:
        kind, slave, address, number = operation.split(":")
        if kind == "r":
            result = client.read_holding_registers(int(address, 0), int(number), slave=int(slave))
        else:
            result = client.write_register(int(address, 0), int(number, 0), slave=int(slave))
        if isinstance(result, ExceptionResponse):
            print("EXCEPTION", result.exception_code)
        elif result.isError():
            print("NO ANSWER", result)
        elif kind == "r":
            print(" ".join(str(v) for v in result.registers))
        else:
            print("written")
    client.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
