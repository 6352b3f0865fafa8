#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Sweeps the sine source's peak deviation of a Kelvane instrument and reads the meter.

Start the instrument first, e.g. `kelvane-cli play --remote 5025` or `kelvane --remote 5025`.
Uses the standard library only: SCPI over a raw TCP socket, one line per command.
"""
import argparse
import socket
import sys
import time


class Instrument:
    def __init__(self, host, port, timeout=5.0):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.file = self.sock.makefile("rwb")

    def write(self, command):
        self.file.write(command.encode("utf-8") + b"\n")
        self.file.flush()

    def query(self, command):
        self.write(command)
        line = self.file.readline()
        if not line:
            raise ConnectionError("the instrument closed the connection")
        return line.decode("utf-8").rstrip("\r\n")

    def check(self):
        """Raises on the first entry of the error queue."""
        error = self.query("SYSTem:ERRor?")
        if not error.startswith("0,"):
            raise RuntimeError(error)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=5025)
    parser.add_argument("--from-khz", type=float, default=10.0)
    parser.add_argument("--to-khz", type=float, default=75.0)
    parser.add_argument("--steps", type=int, default=6)
    parser.add_argument("--settle", type=float, default=2.1,
                        help="seconds to wait per step: the meter shows each whole second")
    args = parser.parse_args()

    inst = Instrument(args.host, args.port)
    print(inst.query("*IDN?"))
    inst.write("*CLS")
    inst.write("SINE:SOURce ON;:EXTernal:SOURce OFF;:SINE:MODulation:FREQuency 1kHz")
    inst.write("OUTPut ON")
    inst.check()
    print("set [kHz]  measured [kHz]  MPX power [dBr]")
    worst = 0.0
    for i in range(args.steps):
        target = args.from_khz + (args.to_khz - args.from_khz) * i / max(args.steps - 1, 1)
        inst.write(f"SINE:PEAK:DEViation {target:.1f}KHZ")
        inst.check()
        time.sleep(args.settle)
        measured = float(inst.query("MEASure:DEViation?"))
        power, final = inst.query("MEASure:POWer?").split(",")
        print(f"{target:9.1f}  {measured:14.1f}  {float(power):15.1f}{'' if final == '1' else ' (settling)'}")
        worst = max(worst, abs(measured - round(target, 1)))
    inst.write("OUTPut OFF")
    inst.check()
    print(f"largest difference {worst:.1f} kHz")
    return 0 if worst <= 0.2 else 1


if __name__ == "__main__":
    sys.exit(main())
