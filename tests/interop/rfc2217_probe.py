"""Sends one frame through pyserial's rfc2217:// client under several line settings.

Usage: rfc2217_probe.py URL FRAME_HEX SETTING...   (SETTING like 9600-7E1)
Opens a new connection for each setting (successive clients), writes the
frame, collects the answer for up to 0.5 s and prints "SETTING HEX" (empty
HEX when nothing came). Exits 2 when pyserial is missing.
"""
import sys
import time

try:
    import serial
except ImportError as error:  # pragma: no cover - reported to the test
    print("MISSING", error)
    sys.exit(2)


def probe(url, frame, setting):
    baud, shape = setting.split("-")
    port = serial.serial_for_url(url, baudrate=int(baud), bytesize=int(shape[0]), parity=shape[1],
                                 stopbits=int(shape[2]), timeout=0.1)
    try:
        port.reset_input_buffer()
        port.write(frame)
        answer = b""
        end = time.monotonic() + 0.5
        while time.monotonic() < end:
            answer += port.read(64)
            if answer.endswith(b"\r\n"):
                break
        return answer.hex().upper()
    finally:
        port.close()


def main():
    url, frame_hex = sys.argv[1:3]
    frame = bytes.fromhex(frame_hex)
    for setting in sys.argv[3:]:
        print(setting, probe(url, frame, setting))
    return 0


if __name__ == "__main__":
    sys.exit(main())
