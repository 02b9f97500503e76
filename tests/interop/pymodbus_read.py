"""Reads holding registers with pymodbus's serial client and prints them.

Usage: pymodbus_read.py PORT ascii|rtu BAUD BYTESIZE PARITY STOPBITS SLAVE ADDRESS COUNT [ATTEMPTS]
Prints the values in decimal, space-separated, and exits 0; prints
"NO ANSWER <reason>" and exits 1 when nothing valid came back; exits 2 when
pymodbus is missing.
"""
import logging
import sys

try:
    from pymodbus.client import ModbusSerialClient
    from pymodbus.framer.ascii_framer import ModbusAsciiFramer
    from pymodbus.framer.rtu_framer import ModbusRtuFramer
except ImportError as error:  # pragma: no cover - reported to the test
    print("MISSING", error)
    sys.exit(2)


def main():
    port, form, baud, bytesize, parity, stopbits, slave, address, count = sys.argv[1:10]
    attempts = int(sys.argv[10]) if len(sys.argv) > 10 else 2
    logging.getLogger("pymodbus").setLevel(logging.ERROR)
    framer = ModbusAsciiFramer if form == "ascii" else ModbusRtuFramer
    client = ModbusSerialClient(port=port, framer=framer, baudrate=int(baud), bytesize=int(bytesize),
                                parity=parity, stopbits=int(stopbits), timeout=1, retries=0)
    if not client.connect():
        print("NO ANSWER cannot open", port)
        return 1
    reason = ""
    # The time-out must be a whole number of seconds: with a fraction this
    # client gives up at once on a pty. A second attempt guards against a late
    # answer of the first being taken for garbage.
    for _ in range(attempts):
        result = client.read_holding_registers(int(address, 0), int(count), slave=int(slave))
        if not result.isError():
            print(" ".join(str(v) for v in result.registers))
            client.close()
            return 0
        reason = str(result)
    client.close()
    print("NO ANSWER", reason)
    return 1


if __name__ == "__main__":
    sys.exit(main())
