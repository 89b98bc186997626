#!/usr/bin/python3
"""Decodes PBM/PGM/PPM files with Pillow into the pixels the PNM reader is expected to give.

Usage: pnm_reference.py OUTDIR FILE...   (run with Debian's /usr/bin/python3, which has Pillow)

For the n-th FILE it writes OUTDIR/<n>.ref: a text line "width height\n", then width x height x 3
bytes red, green, blue at 8 bits, then, for 16-bit gray images only, width x height little-endian
16-bit gray values at full range. Samples are scaled by the file's maximum value with round half to
even. A file Pillow cannot read gets no .ref. Exit status 77 when Pillow is missing.
"""
import re
import sys

try:
    from PIL import Image
except ImportError:
    sys.exit(77)


def scale(n, maxval, top):
    q, r = divmod(n * top, maxval)
    if 2 * r > maxval or (2 * r == maxval and q % 2 == 1):
        q += 1
    return q


def header_maxval(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    text = re.sub(rb"#[^\r\n]*", b" ", data)
    tokens = text.split()
    return int(tokens[3])


def main():
    outdir = sys.argv[1]
    for index, path in enumerate(sys.argv[2:]):
        try:
            im = Image.open(path)
            im.load()
        except Exception:
            continue
        w, h = im.size
        deep = None
        if im.mode == "I":
            # Pillow spreads 16-bit samples over 0..65535; recover the file's own sample first.
            maxval = header_maxval(path)
            raw = [scale(v, 65535, maxval) if maxval != 65535 else v for v in im.getdata()]
            gray = bytes(scale(n, maxval, 255) for n in raw)
            rgb = bytes(b for g in gray for b in (g, g, g))
            deep = b"".join(scale(n, maxval, 65535).to_bytes(2, "little") for n in raw)
        else:
            rgb = im.convert("RGB").tobytes()
        with open("%s/%d.ref" % (outdir, index), "wb") as out:
            out.write(b"%d %d\n" % (w, h))
            out.write(rgb)
            if deep is not None:
                out.write(deep)


main()
