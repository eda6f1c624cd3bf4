#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_arrival (corpus/arrival): the replies a module really sends, the
edge lengths, and the states they arrive in. Run again after changing the input layout of the target."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "arrival")

# Index of each Op_Code in the target's table: 0-32, then 101-132, then the rest.
def op_index(code):
    if 0 <= code <= 32:
        return code
    if 101 <= code <= 132:
        return 33 + code - 101
    rest = [40, 40, 40, 33, 34, 39, 41, 50, 99, 100, 133, 140, 200, 1000, 32766, 32767, -1, -2, -100, -32768]
    return 65 + rest.index(code)

EMPTY, ONE, FEW, FULL = 0, 1, 2, 3
IDENTITY = bytes.fromhex("020000000001")

def header(code, table=ONE, selection=0, counters=0):
    return bytes([op_index(code), table, selection, counters])

def datagram(payload):
    return bytes([0]) + struct.pack("<H", len(payload)) + payload

def long_datagram(length, pattern):
    return bytes([3]) + struct.pack("<H", length) + bytes([len(pattern)]) + pattern

def short(kind_index, payload=b""):
    return bytes([7, kind_index]) + payload

TIMER = bytes([4])
def click(which):  # 0 scan, 1 pick, 2 setting, 3 defaults, 4 run
    return bytes([5, which])
def select(item):
    return bytes([6, item])

# Stage -> reply value as a module sends it, from byte 6 on.
DIGIT = {1: b"01", 5: b"01", 7: b"07", 8: b"00", 9: b"08", 12: b"00", 13: b"01",
         14: b"01", 19: b"02", 25: b"03", 29: b"04"}
ADDRESS = {2, 3, 4, 16, 21, 27, 31}
NUMBER4 = {10, 11}
STAGES = [1, 2, 3, 4, 5] + list(range(7, 18)) + [19, 20, 21, 22] + list(range(25, 33))

def read_reply(stage):
    if stage in DIGIT:
        value = DIGIT[stage]
    elif stage in ADDRESS:
        value = b"192.168.001.010"
    elif stage in NUMBER4:
        value = b"00100"
    else:
        value = b"05000"
    return IDENTITY + value + b"\r\n"

def ok():
    return IDENTITY + b"OK\r\n"

seeds = {}
# Discovery: new modules, a repeat, short ones, identities of all zeros and all ones, a full table.
seeds["discovery-new"] = header(0, EMPTY) + datagram(bytes.fromhex("001a2b3c4d5e") + b"\xc0\xa8\x01")
seeds["discovery-repeat"] = header(0, ONE) + datagram(IDENTITY + b"xyz") + datagram(IDENTITY)
seeds["discovery-zero-ones"] = header(0, FEW) + datagram(bytes(6)) + datagram(b"\xff" * 6) + select(0) + click(1)
seeds["discovery-short"] = header(0, ONE) + b"".join(short(i, b"\x01" * n) for i, n in enumerate([0, 1, 5, 6, 7, 8, 11, 21]))
seeds["discovery-full"] = header(0, FULL) + datagram(bytes.fromhex("7f0000000000") + b"late")
seeds["discovery-longest"] = header(0, FEW) + long_datagram(65507, b"\x10\x20\x30\x40\x50\x60\x70")
seeds["scan-rounds"] = header(0, EMPTY) + click(0) + TIMER + TIMER + TIMER + TIMER + datagram(IDENTITY) + TIMER
# A whole read, answered; then a stray datagram after it.
seeds["read-whole"] = header(1, ONE, 0) + b"".join(datagram(read_reply(s)) for s in STAGES) + datagram(b"late")
seeds["read-rejected"] = header(1, ONE) + b"".join(datagram(IDENTITY + b"9999999999999999") for _ in STAGES)
seeds["read-retries"] = header(1, FEW, 2) + TIMER + TIMER + TIMER + select(1) + click(1) + datagram(read_reply(1))
for stage in (1, 2, 10, 12, 13, 15, 32):
    seeds[f"read-stage{stage}-short"] = header(stage, ONE) + b"".join(short(i) for i in range(8))
    seeds[f"read-stage{stage}-long"] = header(stage, ONE) + long_datagram(65507, read_reply(stage))
# A whole write, acknowledged; refused; short acknowledgements.
seeds["write-whole"] = header(0, ONE) + select(0) + click(2) + b"".join(datagram(ok()) for _ in STAGES) + datagram(ok())
seeds["write-after-read"] = (header(1, ONE, 0) + select(0) + b"".join(datagram(read_reply(s)) for s in STAGES)
                             + click(2) + b"".join(datagram(ok()) for _ in STAGES))
seeds["write-refused"] = header(101, ONE) + datagram(IDENTITY + b"ok") + datagram(IDENTITY + b"\x00OK")
seeds["write-short"] = header(117, FEW) + b"".join(short(i, b"OKOKOKOK") for i in range(8))
seeds["write-retries"] = header(105, ONE, 0, 1) + select(0) + TIMER + TIMER + TIMER
seeds["write-last"] = header(132, ONE) + datagram(ok()) + datagram(ok())
# Restoring defaults.
seeds["defaults"] = header(40, ONE) + select(0) + click(3) + datagram(ok()) + datagram(b"x" * 7) + TIMER
seeds["defaults-full"] = header(40, FULL, 253) + datagram(ok()) + long_datagram(65507, b"OK")
# Reset and run with the last module, stale selections, a full table.
seeds["run-last"] = header(32, FULL, 253) + select(253) + click(4) + select(0) + click(4) + click(1)
seeds["run-stale"] = header(1, FEW, 3) + select(0) + click(4) + click(3) + click(2) + TIMER
# Op_Code values the tool never sets.
for code in (33, 39, 41, 99, 100, 133, 32767, -1, -32768):
    seeds[f"opcode{code}"] = header(code, FEW) + datagram(ok()) + datagram(read_reply(1)) + TIMER + datagram(b"")

os.makedirs(OUT, exist_ok=True)
for name in os.listdir(OUT):
    os.remove(os.path.join(OUT, name))
for name, data in seeds.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
print(f"{len(seeds)} seeds in {OUT}")
