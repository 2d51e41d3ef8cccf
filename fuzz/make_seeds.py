#!/usr/bin/env python3
"""Writes starting inputs for the fuzz targets into OUT/<target>/ (see fuzz/README.md).

The stored corpus in fuzz/corpus/ grew from these; this script is kept to show the input layout
of each target and to start afresh.
"""

import os
import sys


def sum8(b):
    return sum(b) & 0xFF


def crc16(b):
    crc = 0xFFFF
    for x in b:
        crc ^= x
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def reply(code, payload=b"", crc=False):
    n = 4 + len(payload) + (2 if crc else 1) + 1
    f = bytes([0x68, n >> 8, n & 0xFF, code]) + bytes(payload)
    if crc:
        c = crc16(f)
        return f + bytes([c & 0xFF, c >> 8, 0x16])
    return f + bytes([sum8(f), 0x16])


def command(code, param=0, klass=2, crc=False):
    n = 9 if crc else 8
    f = bytes([0x6A, 0, n, code, klass, param])
    if crc:
        c = crc16(f)
        return b"\x46\xb9" + f + bytes([c & 0xFF, c >> 8, 0x16])
    return b"\x46\xb9" + f + bytes([sum8(f), 0x16])


def block(code, payload):
    n = 4 + len(payload) + 2
    f = bytes([0x6A, n >> 8, n & 0xFF, code]) + bytes(payload)
    return f + bytes([sum8(f), 0x16])


def board_data(code, address, data):
    n = len(data) + 13
    f = bytes([0x6A, n >> 8, n & 0xFF, code]) + address.to_bytes(4, "big")
    f += len(data).to_bytes(2, "big") + bytes(data)
    c = crc16(f)
    return b"\x46\xb9" + f + bytes([c & 0xFF, c >> 8, 0x16])


def chunks(*parts):
    """Chunks as the link and simulator targets read them: delay, length - 1, bytes."""
    out = b""
    for delay, data in parts:
        for i in range(0, len(data), 256):
            piece = data[i:i + 256]
            out += bytes([delay if i == 0 else 1, len(piece) - 1]) + piece
    return out


def hex_record(address, rtype, data):
    body = bytes([len(data), address >> 8, address & 0xFF, rtype]) + bytes(data)
    return ":" + body.hex().upper() + "%02X" % ((-sum(body)) & 0xFF)


def text(t):
    b = t.encode()
    return bytes([len(b)]) + b


ACK = reply(0x80)


def seeds():
    s = {}
    s["receive_handler"] = [
        bytes([0, 0]) + chunks((8, ACK)),
        bytes([1, 0]) + chunks((8, reply(0x80, crc=True))),
        bytes([0, 0]) + chunks((8, ACK[:2]), (76, ACK[2:])),
        bytes([0, 0]) + chunks((8, b"\x00\x16\x55" + ACK)),
        bytes([0, 4]) + chunks((8, ACK[:-1] + b"\x17"), (32, ACK)),
        bytes([0, 0]) + chunks((8, b"\x68\x02\x58" + bytes(600))),
        bytes([8, 0]) + chunks((8, reply(0x0C, b"\x13")), (4, b"\x68\x00")),
        bytes([2, 0]) + chunks((8, reply(0x80, b"\x00\x20\x5A"))),
        bytes([0, 0]) + chunks((8, ACK[:3]), (0, ACK[3:])),
        bytes([0, 0]) + chunks((220, ACK), (8, b"\x01\x02")),
    ]
    hexfile = "\r\n".join([hex_record(0x0000, 0, b"\x02\x00\x30\x75\x81\x07"),
                           hex_record(0x0F00, 0, range(16)),
                           hex_record(0x0000, 4, b"\x00\x01"),
                           hex_record(0xF800, 0, b"\xAA\x55"),
                           hex_record(0, 1, b"")]) + "\r\n"
    bad = "\n".join(":0400000001020304F%d" % i for i in range(4)) + "\n:00000001FF\n"
    s["hex_loader"] = [
        bytes([0, 0, 0, 0]) + text("0") + hexfile.encode(),
        bytes([7, 3, 1, 0]) + text("1000") + hexfile.encode(),
        bytes([20, 1, 0x12, 1]) + text(" F800") + hexfile.encode(),
        bytes([3, 2, 0x04, 0]) + bad.encode(),
        bytes([3, 2, 0x04, 0xFF]) + bad.encode(),
    ]
    s["binary_loader"] = [
        bytes([0, 0, 0, 0]) + text("0") + bytes(range(256)),
        bytes([30, 1, 0x21, 0]) + text("E000") + b"\xFF" * 300,
        bytes([5, 3, 0x41, 0]) + text("0") + hexfile.encode(),
        bytes([12, 0, 0x10, 0]) + text("FFFF") + b"\x12\x34",
        bytes([1, 0, 0x60, 0]) + text("") + b"",
    ]
    keys = 43
    s["settings"] = [
        bytes([0]) + bytes(keys),
        bytes([0x06]) + bytes(range(2, 2 + keys)),
        bytes([0x13]) + bytes(range(40, 40 + keys)),
        bytes([0x02]) + bytes(30) + b"\x01\x04FFFF\x01\x018\x01\x0a1234567890\x01\x011\x01\x012",
    ]
    s["decoders"] = [
        bytes([0, 2, 0x02, 0xF0, 0xFD, 0xFF, 0, 0xFF, 0xFF, 2]),
        bytes([0, 13, 0x01, 0xF1, 0xC7, 0x5A, 1, 0x01, 0x55, 3]),
        bytes([0, 1, 0x55, 0x00, 0xF3, 0xFB, 0, 0x00, 0x00, 0]),
        bytes([0, 2, 0xF4, 0x10, 0xFF, 0xFF, 0, 0x00, 0x10, 1]),
    ]
    write = block(0x04, b"\x00\x00\x00\x00\x00\x10" + bytes(range(16)))
    session = chunks((2, command(0x80, 0xF0)), (2, command(0x0C)), (2, command(0x0A)),
                     (2, command(0x08)), (100, command(0x09)), (2, write),
                     (2, block(0x00, b"\x00\x00\x00\x00\x00\x10")),
                     (2, block(0x0D, b"\x00\x00\x00\x00\x00\x00\x01\xFF")),
                     (2, block(0x05, b"\xFD\xFF" + bytes(14))), (2, command(0x01)),
                     (2, command(0x82)))
    s["writer_simulator"] = [
        bytes(6) + b"\x00" + session,
        bytes([1, 0, 0xFF, 0, 0, 0]) + b"\x01" + session,
        bytes([0, 0x15, 0x0A, 0, 0, 0]) + b"\x01" + session,
        bytes([0x02, 0, 0xFF, 0x55, 60, 4]) + b"\x02" + session,
        bytes(6) + b"\x00" + chunks((2, b"\x46\xb9\x6a\x02\x58" + bytes(10)), (250, command(0x80, 0xF0))),
    ]
    main = board_data(0x30, 0x4000, bytes(range(128)))
    board = chunks((2, command(0x80, 0xF1, crc=True)), (2, command(0x0E, crc=True)),
                   (2, command(0x0C, crc=True)), (2, command(0x84, crc=True)), (2, main),
                   (2, board_data(0x00, 0xF000, b"\x00\x00")), (2, command(0x86, crc=True)),
                   (2, board_data(0x00, 0x2000, bytes(128))))
    s["offline_board"] = [
        bytes([0x66, 0, 0xFF, 0xFF, 0xFF]) + board,
        bytes([0x66, 2, 0x86, 0x40, 0x05]) + board,
        bytes([0x67, 0, 0xFF, 0xFF, 0xFF]) + board,
        bytes([0x66, 0, 0xFF, 0xFF, 0xFF]) + chunks((2, command(0x80, 0xF1))),
    ]
    return s


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "seeds"
    for target, inputs in seeds().items():
        os.makedirs(os.path.join(out, target), exist_ok=True)
        for i, data in enumerate(inputs):
            with open(os.path.join(out, target, "seed-%02d" % i), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
