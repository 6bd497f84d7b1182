#!/usr/bin/env python3
"""Writes seed inputs for the fuzz targets: make_seeds.py OUT_DIR.

OUT_DIR/payload holds archives (what follows offset 0x40000 of an updater),
OUT_DIR/update_run whole runs: 8 control bytes, the installed KVX.hvl,
uninst.lst and the payload, separated by "#~#~" (see update_run_fuzz.cpp).
Built here from the file layouts, independently of the project's writer."""
import os
import struct
import sys


def checksum(data):
    h, a, b, c, d = 0, 0, 0, 0, 0
    for x in data:
        h = (h * 233 + x) & 0xFFFFFFFF
        low = h & 0xFF
        a, b, c, d = (a + low) & 0xFF, b ^ low, (c + x) & 0xFF, d ^ x
    return struct.pack("<IBBBB", h, a, b, c, d)


def record(name, content=None):
    return name.ljust(56, b"\0") + (checksum(content) if content is not None else b"\0" * 8)


def hash_list(records, magic=b"DQM_____"):
    return magic + struct.pack("<II", 0, len(records)) + b"".join(records)


def archive(entries, long=True):
    size, field = (128, 96) if long else (32, 16)
    head = (b"VELMOR ARC20" if long else b"\0" * 12) + struct.pack("<I", len(entries))
    table, data, off = b"", b"", 0
    for name, blob in entries:
        table += (name.ljust(field, b"\0") + struct.pack("<II", off, len(blob))).ljust(size, b"\0")
        data += blob
        off += len(blob)
    return head + table + data


def main():
    out = sys.argv[1]
    for sub in ("payload", "update_run"):
        os.makedirs(os.path.join(out, sub), exist_ok=True)
    data = b"new data " * 7
    sub_data = b"sub"
    payload_list = hash_list([record(b"game.exe"), record(b"data.arc", data), record(b"Sub\\X.arc", sub_data)])
    long_payload = archive([(b"KVX.hvl", payload_list), (b"data.arc", data), (b"x.arc", sub_data)])
    short_payload = archive([(b"data.arc", data), (b"kvx.HVL", payload_list), (b"empty", b"")], long=False)
    bad_sum = archive([(b"KVX.hvl", payload_list), (b"data.arc", data + b"!")])
    seeds = {"long": long_payload, "short": short_payload, "bad-sum": bad_sum}
    for name, blob in seeds.items():
        open(os.path.join(out, "payload", "seed-" + name), "wb").write(blob)

    installed = hash_list([record(b"game.exe"), record(b"Sub\\data.arc"), record(b"missing.arc")])
    uninst = b"game.exe\nSub\\data.arc\n\0"
    sep = b"#~#~"
    runs = {
        # controls: installed, attributes, pumpAt, pumpEvent, failAt, failOp, dialog, gameFiles
        "ok-long": (bytes([0x03, 0x00, 0, 0, 0, 0, 1, 0x03]), long_payload),
        "ok-short": (bytes([0x33, 0x11, 0, 0, 0, 0, 0, 0x01]), short_payload),
        "cancel": (bytes([0x01, 0x00, 3, 0, 0, 0, 1, 0x00]), long_payload),
        "quit": (bytes([0x00, 0x00, 1, 1, 0, 0, 1, 0x00]), long_payload),
        "short-write": (bytes([0x00, 0x00, 0, 0, 2, 1, 1, 0x00]), long_payload),
        "failed-move": (bytes([0x07, 0x01, 0, 0, 2, 2, 1, 0x00]), long_payload),
        "bad-sum": (bytes([0x00, 0x00, 0, 0, 0, 0, 1, 0x00]), bad_sum),
    }
    for name, (controls, payload) in runs.items():
        blob = controls + installed + sep + uninst + sep + payload
        open(os.path.join(out, "update_run", "seed-" + name), "wb").write(blob)
    # No uninstall list; then neither list.
    open(os.path.join(out, "update_run", "seed-no-list"), "wb").write(
        bytes(8) + installed + sep + long_payload)
    open(os.path.join(out, "update_run", "seed-bare"), "wb").write(bytes(8) + long_payload)


if __name__ == "__main__":
    main()
