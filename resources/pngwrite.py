"""Writes PNG files, indexed or RGBA, with nothing but the standard library.

The artwork scripts next to this file draw into rows of palette indices and
hand them here. The smallest bit depth that holds the palette is used, rows
are stored unfiltered and compressed at level 9, so the same picture always
gives the same bytes.
"""
import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def _bit_depth(colours):
    for depth in (1, 2, 4, 8):
        if colours <= 1 << depth:
            return depth
    raise ValueError("an indexed PNG holds at most 256 colours, not %d" % colours)


def _pack_row(row, depth):
    if depth == 8:
        return bytes(row)
    per_byte = 8 // depth
    out = bytearray()
    for start in range(0, len(row), per_byte):
        byte = 0
        group = row[start:start + per_byte]
        for i in range(per_byte):
            byte <<= depth
            if i < len(group):
                byte |= group[i]
        out.append(byte)
    return bytes(out)


def png_bytes(width, height, palette, rows, transparent=None):
    """Returns the PNG file for rows (height lists of width palette indices).

    palette is a list of (r, g, b) tuples; transparent, if given, is the index
    of the one colour that is see-through."""
    if len(rows) != height:
        raise ValueError("expected %d rows, got %d" % (height, len(rows)))
    depth = _bit_depth(len(palette))
    raw = bytearray()
    for y, row in enumerate(rows):
        if len(row) != width:
            raise ValueError("row %d has %d pixels, expected %d" % (y, len(row), width))
        if max(row) >= len(palette) or min(row) < 0:
            raise ValueError("row %d uses an index outside the palette" % y)
        raw += b"\0"  # filter type 0: none
        raw += _pack_row(row, depth)
    out = bytearray(SIGNATURE)
    out += _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, 3, 0, 0, 0))
    out += _chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    if transparent is not None:
        out += _chunk(b"tRNS", bytes(0 if i == transparent else 255 for i in range(len(palette))))
    out += _chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    out += _chunk(b"IEND", b"")
    return bytes(out)


def write_png(path, width, height, palette, rows, transparent=None):
    """Writes rows of palette indices to path as an indexed PNG."""
    data = png_bytes(width, height, palette, rows, transparent)
    with open(path, "wb") as f:
        f.write(data)


def write_rgba_png(path, width, height, pixels):
    """Writes rows of (r, g, b, a) tuples to path as an 8-bit RGBA PNG."""
    if len(pixels) != height or any(len(row) != width for row in pixels):
        raise ValueError("expected %d rows of %d pixels" % (height, width))
    raw = bytearray()
    for row in pixels:
        raw += b"\0"
        for pixel in row:
            raw += bytes(pixel)
    out = bytearray(SIGNATURE)
    out += _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    out += _chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    out += _chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(bytes(out))
