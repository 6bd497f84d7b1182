#!/usr/bin/env python3
"""Writes the two binary resources of the updater that windres cannot write
exactly: the progress dialog template and the application icon.

    python3 resources/make_resources.py [OUTDIR]    (default: resources/)

The outputs are committed; tests/suites/20-resources.sh runs this script into
a temporary folder and fails when the committed files differ.

windres would write a CONTROL's class name in capitals and drop WS_GROUP from
a CTEXT with an explicit style, so the template is built here from the table
below and included in updater.rc as a raw resource of type 5 (RT_DIALOG).
"""
import os
import struct
import sys

# --- progress dialog (DIALOGEX) ---------------------------------------------

DIALOG_STYLE = 0x80C000C0          # WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT
DIALOG_SIZE = (271, 109)           # dialog units
FONT = (9, 400, 0, 128, "MS UI Gothic")   # points, weight, italic, SHIFTJIS_CHARSET, face

BUTTON, STATIC = 0x0080, 0x0082    # predefined class ordinals
PROGRESS = "msctls_progress32"

# class, id, text, style, extended style, x, y, width, height (template order = tab order)
CONTROLS = [
    (BUTTON,   1000, "\u4e2d\u6b62", 0x50010000, 0x00000000, 110, 88, 51, 14),   # 中止
    (STATIC,   1001, "",             0x50020201, 0x00020000,   7,  7, 257, 14),
    (PROGRESS, 1002, "",             0x50800001, 0x00000000,   7, 33, 257, 16),
    (PROGRESS, 1003, "",             0x50800001, 0x00000000,   7, 59, 257, 16),
]


def sz(text):
    return text.encode("utf-16-le") + b"\0\0"


def sz_or_ordinal(value):
    if isinstance(value, int):
        return struct.pack("<HH", 0xFFFF, value)
    return sz(value)


def align4(data):
    return data + b"\0" * (-len(data) % 4)


def dialog_template():
    out = struct.pack("<HHIIIHhhhh", 1, 0xFFFF, 0, 0, DIALOG_STYLE, len(CONTROLS),
                      0, 0, DIALOG_SIZE[0], DIALOG_SIZE[1])
    out += b"\0\0"          # no menu
    out += b"\0\0"          # standard dialog class
    out += sz("")           # no title: the caption is set before the dialog is shown
    points, weight, italic, charset, face = FONT
    out += struct.pack("<HHBB", points, weight, italic, charset) + sz(face)
    for cls, ident, text, style, exstyle, x, y, cx, cy in CONTROLS:
        out = align4(out)
        out += struct.pack("<IIIhhhhI", 0, exstyle, style, x, y, cx, cy, ident)
        out += sz_or_ordinal(cls) + sz(text)
        out += b"\0\0"      # no creation data
    return out


# --- application icon --------------------------------------------------------

def icon_pixel(x, y, n):
    """RGBA of pixel (x, y), top row 0, of an n x n icon: a blue rounded
    square with a white arrow pointing down onto a bar (an update)."""
    def inside_rounded(px, py):
        r = n * 0.22
        lo, hi = 0.5, n - 0.5
        cx = min(max(px, lo + r), hi - r)
        cy = min(max(py, lo + r), hi - r)
        return (px - cx) ** 2 + (py - cy) ** 2 <= r * r
    px, py = x + 0.5, y + 0.5
    if not inside_rounded(px, py):
        return (0, 0, 0, 0)
    u, v = px / n, py / n
    white = (255, 255, 255, 255)
    if 0.42 <= u <= 0.58 and 0.16 <= v <= 0.52:          # arrow shaft
        return white
    if 0.52 <= v <= 0.72 and abs(u - 0.5) <= (0.72 - v) * 1.3:   # arrow head
        return white
    if 0.78 <= v <= 0.86 and 0.22 <= u <= 0.78:          # bar
        return white
    shade = int(40 * v)
    return (30 + shade, 90 + shade, 200 - shade, 255)


def icon_image(n):
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b""
    mask = b""
    mask_row_bytes = ((n + 31) // 32) * 4
    for y in reversed(range(n)):        # bottom-up rows
        row_mask = bytearray(mask_row_bytes)
        for x in range(n):
            r, g, b, a = icon_pixel(x, y, n)
            xor += struct.pack("<BBBB", b, g, r, a)
            if a == 0:
                row_mask[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(row_mask)
    return header + xor + mask


def icon_file(sizes=(32, 16)):
    images = [icon_image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    template = dialog_template()
    assert len(template) == 260, len(template)
    with open(os.path.join(outdir, "progress_dialog.bin"), "wb") as f:
        f.write(template)
    with open(os.path.join(outdir, "updater.ico"), "wb") as f:
        f.write(icon_file())


if __name__ == "__main__":
    main()
