#!/usr/bin/env python3
"""Writes the seeds of fuzz_arrival and fuzz_batch (their input layouts are in the targets' headers):
whole reads, writes, restores and resets with every exchange answered, and the same with the faults
the network makes, each as long as the parameter table makes it (read from tarvik-table-dump). The
build runs it; change it with the input layout of the targets."""
import os

import tables

ARGS = tables.arguments(__doc__)
TABLE = tables.load(ARGS.dump)
COUNT = len(TABLE["parameters"])

# ---- fuzz_arrival ----------------------------------------------------------------------------------
EMPTY, ONE, FEW, FULL = 0, 1, 2, 3


def header(table=ONE, copies=False, anonymous=False, state=0, selection=0):
    return bytes([(1 if copies else 0) | table << 1 | (8 if anonymous else 0) | state << 4, selection])


STEP = bytes([0])
LOSE, DELAY, LOSE_FRAME = bytes([6]), 7, bytes([8])


def click(which):  # 0 scan, 1 pick, 2 setting, 3 defaults, 4 run
    return bytes([9, which])


def select(item):
    return bytes([10, item])


def steps(n):
    return STEP * n


# A read is one step per query and reply; a confirming pass, restarts and time-outs a few more.
READ = 2 * COUNT + 8
arrival = {}
arrival["scan"] = header(EMPTY) + click(0) + steps(40)
arrival["read"] = header() + select(0) + click(1) + steps(READ)
arrival["read-copies"] = header(copies=True) + select(0) + click(1) + steps(6 * READ)
arrival["read-a-loss"] = header() + select(0) + click(1) + steps(COUNT // 2) + LOSE + steps(4 * READ)
arrival["read-late"] = header() + select(0) + click(1) + steps(COUNT // 3) + bytes([DELAY, 5]) + steps(4 * READ)
arrival["read-anonymous"] = header(anonymous=True) + select(0) + click(1) + steps(3 * READ)
arrival["read-foreign-scan"] = header() + select(0) + click(1) + steps(COUNT) + bytes([13, 0]) + steps(3 * READ)
arrival["read-stranger"] = header(FEW) + select(1) + click(1) + steps(5) + bytes([12, 2]) + steps(3 * READ)
arrival["write"] = header() + select(0) + click(1) + steps(READ) + click(2) + steps(4 * READ)
arrival["write-refused"] = (header() + select(0) + click(1) + steps(READ) + bytes([11, 14, 0]) + click(2)
                            + steps(4 * READ))
arrival["write-copies"] = header(copies=True) + select(0) + click(1) + steps(6 * READ) + click(2) + steps(6 * READ)
arrival["defaults"] = header() + select(0) + click(1) + steps(READ) + click(3) + steps(8)
arrival["defaults-late"] = header() + select(0) + click(1) + steps(READ) + click(3) + bytes([DELAY, 6]) + steps(READ)
arrival["run"] = header(FEW) + select(2) + click(1) + steps(READ) + click(4) + select(0) + click(1) + steps(READ)
arrival["full-table"] = header(FULL, selection=253) + click(0) + steps(20) + select(3) + click(1) + steps(READ)
arrival["long-datagram"] = header(FEW) + bytes([14, 0xE3, 0xFF, 1, 3, 0x10, 0x20, 0x30]) + steps(4)
tables.write(os.path.join(ARGS.out, "arrival"), arrival)

# ---- fuzz_batch ------------------------------------------------------------------------------------
def batch_header(modules, limit=0, copies=False, anonymous=False, silent=0):
    return bytes([modules - 1 | limit << 3 | (0x20 if copies else 0) | (0x40 if anonymous else 0), silent])


READ_B, WRITE_B, DEFAULTS_B, SOME_B, RESET_B = 0, 1, 2, 3, 4
NO_VERIFY, REFUSED = 0x10, 0x20
BATCH_STEPS = 3 * READ
batch = {}
batch["eight-reads"] = batch_header(8) + bytes([READ_B] * 8) + steps(8 * BATCH_STEPS)
batch["tasks"] = (batch_header(6, limit=2) + bytes([READ_B, WRITE_B, DEFAULTS_B, SOME_B, RESET_B, WRITE_B | NO_VERIFY])
                  + steps(6 * BATCH_STEPS))
batch["refused"] = batch_header(2) + bytes([WRITE_B | REFUSED, WRITE_B | NO_VERIFY | REFUSED]) + steps(BATCH_STEPS)
batch["copies"] = batch_header(3, copies=True) + bytes([READ_B, WRITE_B | NO_VERIFY, DEFAULTS_B]) + steps(9 * BATCH_STEPS)
batch["silent"] = batch_header(3, silent=2) + bytes([READ_B, READ_B, WRITE_B]) + steps(3 * BATCH_STEPS)
batch["anonymous"] = batch_header(2, anonymous=True) + bytes([READ_B, READ_B]) + steps(3 * BATCH_STEPS)
batch["losses"] = (batch_header(2) + bytes([READ_B, WRITE_B]) + steps(10) + bytes([3]) + steps(10) + bytes([4, 7])
                   + bytes([5]) + steps(4 * BATCH_STEPS))
batch["stranger-and-scan"] = batch_header(2) + bytes([READ_B, READ_B]) + steps(6) + bytes([6, 1, 7, 0]) + steps(BATCH_STEPS)
tables.write(os.path.join(ARGS.out, "batch"), batch)
