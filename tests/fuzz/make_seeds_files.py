#!/usr/bin/env python3
"""Writes the seeds of fuzz_paramfile (OUT/paramfile: files as the window writes them, with every
parameter of the table read from tarvik-table-dump, and the bad ones the hostile-file test names).
The build runs it."""
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
    # CSV as spreadsheets save it (the same bytes go through the JSON reader too)
    "csv-comma": b"id,S_IP,UART_BaudRate,Ch1_Port_Number\r\n001A2B3C4D5E,192.168.1.101,9600bps,5000\r\n"
                 b"001A2B3C4D5F,192.168.1.102,3,5001\r\n",
    "csv-semicolon-bom": "\ufeffid;Ch1_SOCK_Mode;UART_Parity\n001A2B3C4D5E;TCP客户端;偶校验\n".encode(),
    "csv-gb18030": "id,Ch1_SOCK_Mode\r\n001A2B3C4D5E,TCP服务器\r\n".encode("gb18030"),
    "csv-quoted": b'"S_IP","Ch1_D_IP"\n"10.0.0.5","10.0.0.""9"\n\n,\n',
    "csv-unclosed": b'id,S_IP\n001A2B3C4D5E,"10.0.0.5\n',
}
write("paramfile", files)
