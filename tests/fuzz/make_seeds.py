#!/usr/bin/env python3
"""Writes the seeds of fuzz_arrival: the replies a module really sends, the edge lengths, and the
states they arrive in, for every parameter of the table (read from tarvik-table-dump). The build runs
it; change it with the input layout of the target."""
import struct

import tables

ARGS = tables.arguments(__doc__)
TABLE = tables.load(ARGS.dump)
PARAMETERS = TABLE["parameters"]
LAST = TABLE["lastStage"]
FIRST = TABLE["firstStage"]
FIRST_WRITE = 100 + FIRST
LAST_WRITE = 100 + LAST

# Index of each Op_Code in the target's table: 0 to the last read stage, then the write stages, then
# the rest.
REST = [40, 40, 40, 33, 34, 39, 41, 50, 99, 100, 133, 140, 200, 1000, 32766, 32767, -1, -2, -100, -32768]
def op_index(code):
    if 0 <= code <= LAST:
        return code
    if FIRST_WRITE <= code <= LAST_WRITE:
        return LAST + 1 + code - FIRST_WRITE
    return LAST + 1 + LAST_WRITE - FIRST_WRITE + 1 + REST.index(code)

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

# Stage -> its parameter; the reply value as a module sends it, from byte 6 on.
BY_STAGE = {p["stage"]: p for p in PARAMETERS}
STAGES = [p["stage"] for p in PARAMETERS]

def read_reply(stage):
    return IDENTITY + tables.module_value(BY_STAGE[stage], stage) + b"\r\n"

# The first and the last stage of each layout.
EDGE_STAGES = sorted({f(p["stage"] for p in PARAMETERS if p["layout"] == layout)
                      for layout in {p["layout"] for p in PARAMETERS} for f in (min, max)})

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
seeds["read-whole"] = header(FIRST, ONE, 0) + b"".join(datagram(read_reply(s)) for s in STAGES) + datagram(b"late")
seeds["read-rejected"] = header(FIRST, ONE) + b"".join(datagram(IDENTITY + b"9999999999999999") for _ in STAGES)
seeds["read-retries"] = header(FIRST, FEW, 2) + TIMER + TIMER + TIMER + select(1) + click(1) + datagram(read_reply(FIRST))
for stage in EDGE_STAGES:
    seeds[f"read-stage{stage}-short"] = header(stage, ONE) + b"".join(short(i) for i in range(8))
    seeds[f"read-stage{stage}-long"] = header(stage, ONE) + long_datagram(65507, read_reply(stage))
# A whole write, acknowledged; refused; short acknowledgements.
seeds["write-whole"] = header(0, ONE) + select(0) + click(2) + b"".join(datagram(ok()) for _ in STAGES) + datagram(ok())
seeds["write-after-read"] = (header(FIRST, ONE, 0) + select(0) + b"".join(datagram(read_reply(s)) for s in STAGES)
                             + click(2) + b"".join(datagram(ok()) for _ in STAGES))
seeds["write-refused"] = header(FIRST_WRITE, ONE) + datagram(IDENTITY + b"ok") + datagram(IDENTITY + b"\x00OK")
seeds["write-short"] = header(100 + STAGES[15], FEW) + b"".join(short(i, b"OKOKOKOK") for i in range(8))
seeds["write-retries"] = header(100 + STAGES[4], ONE, 0, 1) + select(0) + TIMER + TIMER + TIMER
seeds["write-last"] = header(LAST_WRITE, ONE) + datagram(ok()) + datagram(ok())
# Restoring defaults.
seeds["defaults"] = header(40, ONE) + select(0) + click(3) + datagram(ok()) + datagram(b"x" * 7) + TIMER
seeds["defaults-full"] = header(40, FULL, 253) + datagram(ok()) + long_datagram(65507, b"OK")
# Reset and run with the last module, stale selections, a full table.
seeds["run-last"] = header(LAST, FULL, 253) + select(253) + click(4) + select(0) + click(4) + click(1)
seeds["run-stale"] = header(FIRST, FEW, 3) + select(0) + click(4) + click(3) + click(2) + TIMER
# Op_Code values the tool never sets.
for code in dict.fromkeys(REST):
    if code == 40 or 0 <= code <= LAST or FIRST_WRITE <= code <= LAST_WRITE:
        continue
    seeds[f"opcode{code}"] = header(code, FEW) + datagram(ok()) + datagram(read_reply(FIRST)) + TIMER + datagram(b"")

tables.write(ARGS.out, seeds)
