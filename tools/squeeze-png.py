#!/usr/bin/env python3
"""Recompresses PNG images losslessly with zopflipng, in place: PNG files and the PNG images
inside an ICO file (its BMP images are left as they are).

A new encoding is kept only when it is smaller, is still an 8-bit RGBA PNG, and decodes to
the same pixels (ImageMagick `compare -metric AE` counts 0 differing pixels); otherwise the
file keeps its bytes.  The output depends only on the input, so the artwork stays reproducible.

Usage: tools/squeeze-png.py FILE.png|FILE.ico ...
"""
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

PNG_SIG = b"\x89PNG\r\n\x1a\n"


def rgba8(png):
    # IHDR follows the signature: width, height, bit depth, colour type (6: RGBA).
    return png[:8] == PNG_SIG and png[24] == 8 and png[25] == 6


def squeeze(png, tmp):
    """The smaller lossless encoding of PNG bytes, or the same bytes."""
    src, dst = tmp / "in.png", tmp / "out.png"
    src.write_bytes(png)
    dst.unlink(missing_ok=True)
    subprocess.run(["zopflipng", "-y", "-m", str(src), str(dst)], check=True, capture_output=True)
    out = dst.read_bytes()
    if len(out) >= len(png) or rgba8(png) != rgba8(out):
        return png
    r = subprocess.run(["compare", "-metric", "AE", str(src), str(dst), "null:"], capture_output=True, text=True)
    if r.stderr.strip() != "0":
        raise SystemExit(f"zopflipng changed pixels ({r.stderr.strip()}): keeping the original")
    return out


def squeeze_ico(ico, tmp):
    count = struct.unpack_from("<H", ico, 4)[0]
    entries = [list(struct.unpack_from("<BBBBHHII", ico, 6 + 16 * i)) for i in range(count)]
    images = [ico[e[7]:e[7] + e[6]] for e in entries]
    images = [squeeze(img, tmp) if img[:8] == PNG_SIG else img for img in images]
    out, offset = bytearray(ico[:6]), 6 + 16 * count
    for e, img in zip(entries, images):
        e[6], e[7] = len(img), offset
        out += struct.pack("<BBBBHHII", *e)
        offset += len(img)
    for img in images:
        out += img
    return bytes(out)


def main(paths):
    with tempfile.TemporaryDirectory() as t:
        tmp = Path(t)
        for p in map(Path, paths):
            data = p.read_bytes()
            new = squeeze_ico(data, tmp) if p.suffix.lower() == ".ico" else squeeze(data, tmp)
            if new != data:
                p.write_bytes(new)
            print(f"{p.name}: {len(data)} -> {len(new)} bytes")


if __name__ == "__main__":
    main(sys.argv[1:])
