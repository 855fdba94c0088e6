"""Pillow as a judge of GIF-style LZW streams (8-bit roots, codes LSB first).

  gif.py decode STREAM WIDTH HEIGHT OUT   wrap STREAM as the image data of a GIF, decode it with
                                          Pillow, write the pixel indices to OUT
  gif.py encode RAW WIDTH HEIGHT STREAM   save RAW as a GIF with Pillow, write the LZW stream of
                                          its image (the data sub-blocks joined) to STREAM
Exit status 0 on success, 1 when Pillow refuses the data, 2 on bad usage.
"""
import io
import struct
import sys

from PIL import Image


def palette():
    # 256 distinct colours, so Pillow keeps every index as it is.
    return bytes(v for i in range(256) for v in (i, (i * 7) & 255, (i * 13) & 255))


def wrap(stream, width, height):
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", width, height, 0xF7, 0, 0)
    out += palette()
    out += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    out.append(8)
    for i in range(0, len(stream), 255):
        block = stream[i:i + 255]
        out.append(len(block))
        out += block
    out += b"\x00\x3b"
    return bytes(out)


def image_stream(gif):
    """The joined data sub-blocks of the first image, and its LZW minimum code size."""
    pos = 13
    flags = gif[10]
    if flags & 0x80:
        pos += 3 * (2 << (flags & 7))
    while True:
        tag = gif[pos]
        if tag == 0x21:
            pos += 2
            while gif[pos]:
                pos += gif[pos] + 1
            pos += 1
        elif tag == 0x2C:
            flags = gif[pos + 9]
            pos += 10
            if flags & 0x80:
                pos += 3 * (2 << (flags & 7))
            min_code = gif[pos]
            pos += 1
            data = bytearray()
            while gif[pos]:
                data += gif[pos + 1:pos + 1 + gif[pos]]
                pos += gif[pos] + 1
            return bytes(data), min_code
        else:
            raise ValueError("no image in GIF")


def main(argv):
    if len(argv) != 6 or argv[1] not in ("decode", "encode"):
        print(__doc__, file=sys.stderr)
        return 2
    width, height = int(argv[3]), int(argv[4])
    data = open(argv[2], "rb").read()
    if argv[1] == "decode":
        try:
            im = Image.open(io.BytesIO(wrap(data, width, height)))
            im.load()
        except Exception as e:  # Pillow's verdict on a bad stream
            print("Pillow refused the stream: %s" % e, file=sys.stderr)
            return 1
        open(argv[5], "wb").write(im.tobytes())
        return 0
    if len(data) != width * height:
        print("RAW holds %d bytes, not %d" % (len(data), width * height), file=sys.stderr)
        return 2
    im = Image.frombytes("P", (width, height), data)
    im.putpalette(palette())
    buf = io.BytesIO()
    im.save(buf, "GIF", optimize=False, interlace=False)
    gif = buf.getvalue()
    stream, min_code = image_stream(gif)
    back = Image.open(io.BytesIO(gif))
    if min_code != 8 or back.tobytes() != data:
        print("Pillow changed the image (code size %d)" % min_code, file=sys.stderr)
        return 1
    open(argv[5], "wb").write(stream)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
