"""Times Pillow's C GIF decoder on an LZW stream of ours.

  gif_timing.py STREAM RAW WIDTH HEIGHT

Wraps STREAM as the image data of a GIF, decodes it with Pillow (best of three runs) and checks
the pixels against RAW. Prints "pillow_ms N".
"""
import io
import struct
import sys
import time

from PIL import Image


def wrap(stream, width, height):
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", width, height, 0xF7, 0, 0)
    out += bytes(v for i in range(256) for v in (i, i, i))
    out += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    out.append(8)
    for i in range(0, len(stream), 255):
        block = stream[i:i + 255]
        out.append(len(block))
        out += block
    out += b"\x00\x3b"
    return bytes(out)


def main(argv):
    stream = open(argv[1], "rb").read()
    raw = open(argv[2], "rb").read()
    gif = wrap(stream, int(argv[3]), int(argv[4]))
    best = None
    for _ in range(3):
        start = time.perf_counter()
        im = Image.open(io.BytesIO(gif))
        im.load()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    if im.tobytes() != raw:
        print("Pillow decoded other pixels", file=sys.stderr)
        return 1
    print("pillow_ms %.1f" % (best * 1000))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
