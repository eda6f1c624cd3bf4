#!/usr/bin/env python3
"""Writes the seed corpora of fuzz_paramfile (corpus/paramfile: files as the window writes them and
the bad ones the hostile-file test names) and fuzz_batch (corpus/batch: conversations). Run again
after changing the input layout of fuzz_batch."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, seeds):
    out = os.path.join(HERE, "corpus", target)
    os.makedirs(out, exist_ok=True)
    for name in os.listdir(out):
        os.remove(os.path.join(out, name))
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    print(f"{len(seeds)} seeds in {out}")


WHOLE = """{
  "001A2B3C4D5E": {
    "Ethernet_Mode": "TCP Server",
    "G_IP": "192.168.1.1",
    "S_IP": "192.168.1.101",
    "MASK": "255.255.255.0",
    "UART_BaudRate": "9600bps",
    "UART_Bits": "8",
    "UART_TimeDeli": "0010",
    "UART_ByteDeli": "0500",
    "UART_Stopbit": "1",
    "Ch1_Port_Number": "5000",
    "Ch1_D_IP": "10.0.0.2",
    "Ch1_D_Port": "5001",
    "Ch4_D_Port": "65535"
  }
}
"""
files = {
    "keyed": WHOLE.encode(),
    "two": b'{"001A2B3C4D5E": {"UART_BaudRate": 3}, "0000000000FF": {"S_IP": "10.0.0.1", "UART_Bits": 1}}',
    "plain": b'{ "UART_BaudRate": "9600bps", "S_IP": "192.168.1.101", "Ch2_D_Port": "80" }\n',
    "positions": b'{"UART_Parity": 0, "UART_Stopbit": 1, "UART_Bits": 0}',
    "empty": b"",
    "empty-object": b"{}",
    "nested": b"[" * 300 + b"]" * 300,
    "nested-objects": b'{"a":' * 200 + b"1" + b"}" * 200,
    "latin1": b'{"S_IP": "\xe9"}',
    "duplicate": b'{"S_IP": "1.2.3.4", "S_IP": "1.2.3.5"}',
    "duplicate-identity": b'{"001a2b3c4d5e": {"S_IP": "1.2.3.4"}, "001A2B3C4D5E": {"S_IP": "1.2.3.5"}}',
    "huge-number": b'{"UART_Bits": 1e999}',
    "minus-zero": b'{"UART_Bits": -0}',
    "nul": b'{"S_IP": "1.2.3.4\x00"}',
    "chinese-address": '{"S_IP": "一.二.三.四"}'.encode(),
    "escapes": b'{"S_\\u0049P": "1.2.3.4", "Ch1_D_Port": "\\u0038\\u0030"}',
    "unknown": b'{"Colour": "blue"}',
    "not-object": b'["S_IP"]',
    "bad-json": b'{"S_IP": "1.2.3.4",,}',
    # CSV as spreadsheets save it (the same bytes go through the JSON reader too)
    "csv-comma": b"id,S_IP,UART_BaudRate,Ch1_Port_Number\r\n001A2B3C4D5E,192.168.1.101,9600bps,5000\r\n"
                 b"001A2B3C4D5F,192.168.1.102,3,5001\r\n",
    "csv-semicolon-bom": "\ufeffid;Ch1_SOCK_Mode;UART_Parity\n001A2B3C4D5E;TCP客户端;偶校验\n".encode(),
    "csv-gb18030": "id,Ch1_SOCK_Mode\r\n001A2B3C4D5E,TCP服务器\r\n".encode("gb18030"),
    "csv-quoted": b'"S_IP","Ch1_D_IP"\n"10.0.0.5","10.0.0.""9"\n\n,\n',
    "csv-unclosed": b'id,S_IP\n001A2B3C4D5E,"10.0.0.5\n',
}
write("paramfile", files)

# fuzz_batch: shape byte (modules - 1, limit << 3), silent modules, a byte per module, then actions.
DELIVER, LOSE, DUPLICATE, LATE, SHORT, EXPIRE, STRANGER, OTHER_CARD = range(8)


def actions(*pairs):
    return bytes(b for pair in pairs for b in pair)


conversations = {
    "one-read": bytes([0, 0, 0]) + actions(*[(DELIVER, 0)] * 28),
    "three-reads": bytes([2, 0, 0, 0, 0]) + actions(*[(DELIVER, i) for i in range(90)]),
    "limit-two": bytes([3 | 2 << 3, 0, 0, 1, 0, 1]) + actions(*[(DELIVER, i % 3) for i in range(120)]),
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
