#!/usr/bin/env python3
"""Writes the seeds of fuzz_paramfile (OUT/paramfile: files as the window writes them, with every
parameter of the table read from tarvik-table-dump, and the bad ones the hostile-file test names) and
fuzz_batch (OUT/batch: conversations). The build runs it; change it with the input layout of
fuzz_batch."""
import json
import os

import tables

ARGS = tables.arguments(__doc__)
TABLE = tables.load(ARGS.dump)
PARAMETERS = TABLE["parameters"]
COUNT = len(PARAMETERS)
BY_LAYOUT = {}
for p in PARAMETERS:
    BY_LAYOUT.setdefault(p["layout"], p)


def write(target, seeds):
    tables.write(os.path.join(ARGS.out, target), seeds)


def file_value(p, k):
    """A value as a file holds it: an entry text, or a text field's text as a read shows it (from
    its layout's first byte)."""
    if p["shape"]["dropDown"]:
        return p["entries"][k % len(p["entries"])]
    return tables.module_value(p, k).decode()[p["shape"]["runs"][0] - 6:]


def keyed(values):
    return json.dumps({"001A2B3C4D5E": values}, ensure_ascii=False, indent=2).encode() + b"\n"


def name(layout):
    return (BY_LAYOUT[layout]["name"] if layout in BY_LAYOUT else PARAMETERS[0]["name"]).encode()


# A parameter of each kind the bad files name.
DROP, ZERO, ADDRESS, PORT = name("Digit"), name("ZeroDigit"), name("Address"), name("Number5")
ENTRY = next(p for p in PARAMETERS if p["shape"]["dropDown"])["entries"][-1].encode()


files = {
    # Every parameter, as the window writes them; and one with a value that is not an entry.
    "keyed": keyed({p["name"]: file_value(p, i) for i, p in enumerate(PARAMETERS)}),
    "not-an-entry": keyed({DROP.decode(): "TCP Server", ADDRESS.decode(): "192.168.1.1"}),
    "two": b'{"001A2B3C4D5E": {"' + DROP + b'": 1}, "0000000000FF": {"' + ADDRESS + b'": "10.0.0.1", "' + ZERO
    + b'": 1}}',
    "plain": b'{ "' + DROP + b'": "' + ENTRY + b'", "' + ADDRESS + b'": "192.168.1.101", "' + PORT + b'": "80" }\n',
    "positions": b'{"' + ZERO + b'": 0, "' + DROP + b'": 1}',
    "empty": b"",
    "empty-object": b"{}",
    "nested": b"[" * 300 + b"]" * 300,
    "nested-objects": b'{"a":' * 200 + b"1" + b"}" * 200,
    "latin1": b'{"' + ADDRESS + b'": "\xe9"}',
    "duplicate": b'{"' + ADDRESS + b'": "1.2.3.4", "' + ADDRESS + b'": "1.2.3.5"}',
    "duplicate-identity": b'{"001a2b3c4d5e": {"' + ADDRESS + b'": "1.2.3.4"}, "001A2B3C4D5E": {"' + ADDRESS
    + b'": "1.2.3.5"}}',
    "huge-number": b'{"' + DROP + b'": 1e999}',
    "minus-zero": b'{"' + DROP + b'": -0}',
    "nul": b'{"' + ADDRESS + b'": "1.2.3.4\x00"}',
    "chinese-address": b'{"' + ADDRESS + '": "一.二.三.四"}'.encode(),
    "escapes": b'{"' + ADDRESS[:-1] + b'\\u00' + b"%02x" % ADDRESS[-1] + b'": "1.2.3.4", "' + PORT
    + b'": "\\u0038\\u0030"}',
    "unknown": b'{"Colour": "blue"}',
    "not-object": b'["' + ADDRESS + b'"]',
    "bad-json": b'{"' + ADDRESS + b'": "1.2.3.4",,}',
}
write("paramfile", files)

# fuzz_batch: shape byte (modules - 1, limit << 3), silent modules, a byte per module, then actions.
DELIVER, LOSE, DUPLICATE, LATE, SHORT, EXPIRE, STRANGER, OTHER_CARD = range(8)


def actions(*pairs):
    return bytes(b for pair in pairs for b in pair)


conversations = {
    "one-read": bytes([0, 0, 0]) + actions(*[(DELIVER, 0)] * COUNT),
    "three-reads": bytes([2, 0, 0, 0, 0]) + actions(*[(DELIVER, i) for i in range(3 * COUNT + 6)]),
    "limit-two": bytes([3 | 2 << 3, 0, 0, 1, 0, 1]) + actions(*[(DELIVER, i % 3) for i in range(4 * COUNT + 8)]),
    "lost-and-late": bytes([1, 0, 0, 0]) + actions((LOSE, 0), (EXPIRE, 0), (DELIVER, 0), (LATE, 0), (DELIVER, 0),
                                                  (DUPLICATE, 0), (DELIVER, 0), (DELIVER, 0)),
    "short": bytes([0, 0, 0]) + actions((SHORT, 0, 7), (EXPIRE, 0), (SHORT, 0, 10), (DELIVER, 0)),
    "strangers": bytes([1, 0, 4, 8]) + actions((STRANGER, 0), (STRANGER, 1), (STRANGER, 2), (OTHER_CARD, 0),
                                               (EXPIRE, 0), (DELIVER, 0)),
    "silent": bytes([2, 2, 0, 0, 0]) + actions((EXPIRE, 1), (EXPIRE, 1), (EXPIRE, 1), (DELIVER, 0)),
    "write": bytes([1, 0, 2, 2 | 16]) + actions(*[(DELIVER, 0)] * 12),
    "defaults": bytes([1, 0, 3, 3]) + actions((DUPLICATE, 0), (DELIVER, 1), (LATE, 0), (DELIVER, 0)),
    "eight": bytes([7, 0x81, 0, 1, 2, 3, 0, 4, 8, 12]) + actions(*[(i % 8, i) for i in range(200)]),
}
write("batch", conversations)
