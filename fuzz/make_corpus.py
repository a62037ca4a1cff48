#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into corpus/<target>/: a few small, valid inputs
of each kind (and a couple of near misses) from which the fuzzers start. Run it from anywhere;
the files are checked in, so it is only needed when the seeds change."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    directory = os.path.join(HERE, "corpus", target)
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), "wb") as f:
        f.write(data)


def package(files):
    """A package archive: 16-byte header, zlib blocks, then the index."""
    data, index = b"", b""
    for name, content in files:
        packed = zlib.compress(content)
        index += struct.pack("<H", len(name)) + name.encode()
        index += struct.pack("<IIII", 0, 16 + len(data), len(content), len(packed))
        data += packed
    header = struct.pack("<IIII", 100, len(files), 16 + len(data), len(index))
    return header + data + index


def image(tile_w, tile_h, width, height, frames, tiles):
    out = b"KWF\x1aIANI" + struct.pack("<7i", 0, 0, tile_w, tile_h, width, height, frames)
    for w, h, pitch, fmt, pixels in tiles:
        out += struct.pack("<4i", w, h, pitch, fmt) + pixels
    return out


def grid(fmt, tile, width, height, frames):
    tiles = []
    for f in range(frames):
        for ty in range(height // tile):
            for tx in range(width // tile):
                size = tile * tile * (2 if fmt == 1 else 4)
                pixels = bytes((f * 31 + ty * 7 + tx * 3 + i) & 0xFF for i in range(size))
                tiles.append((tile, tile, 4 * tile, fmt, pixels))
    return image(tile, tile, width, height, frames, tiles)


def png(width, height, color_type=6, depth=8):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(
            ">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[color_type]
    row = 1 + (width * channels * depth + 7) // 8
    raw = b"".join(b"\x00" + bytes((y * 17 + i) & 0xFF for i in range(row - 1))
                   for y in range(height))
    body = chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, color_type, 0, 0, 0))
    if color_type == 3:
        body += chunk(b"PLTE", bytes(range(48)))
    return b"\x89PNG\r\n\x1a\n" + body + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


text = b"hello, archive\n" * 4
write("archive", "empty.pak", package([]))
write("archive", "two.pak", package([("data\\a.txt", text), ("Data/B.bin", bytes(range(200)))]))
write("archive", "same-name.pak", package([("x.txt", b"first"), ("X.TXT", b"second")]))
write("archive", "image.pak", package([("ui\\button.img", grid(3, 4, 8, 8, 1))]))

write("image", "format3.img", grid(3, 4, 8, 8, 2))
write("image", "format1.img", grid(1, 4, 8, 4, 1))
write("image", "no-frames.img", image(1, 1, 4, 4, 0, []))
write("image", "zero-width.img", image(4, 4, 0, 4, 3, []))
write("image", "clipped.img", image(4, 4, 6, 6, 1, [
    (4, 4, 16, 3, bytes(64)), (4, 4, 16, 1, bytes(32)),
    (4, 4, 16, 1, bytes(range(32))), (4, 4, 16, 3, bytes(range(64)))]))
write("image", "narrow-last.img", image(4, 4, 6, 4, 1, [
    (4, 4, 16, 1, bytes(range(32))), (2, 4, 16, 1, bytes(range(16)))]))
write("image", "sparse.img", image(64, 64, 64, 64, 1, [(1, 1, 4, 3, bytes(range(4)))]))
write("image", "short-rows.img", image(4, 2, 4, 4, 1, [
    (4, 2, 16, 1, bytes(range(16))), (4, 1, 16, 1, bytes(range(8)))]))

write("package_list", "plain.cfg", b"a.pak\nb.pak\n")
write("package_list", "missing.cfg", b"a.pak nothere.pak\r\n\tb.pak")
write("package_list", "tool.cfg", b"ZuResTool_Config: c.pak sub\n")
write("package_list", "sub.cfg", b"sub\\c.pak sub/c.pak")

write("edit", "two.pak", package([("data\\a.txt", text), ("Data/B.bin", bytes(range(200)))]))
write("edit", "one.pak", package([("only.txt", b"x")]))
write("edit", "empty.pak", package([]))

for i, name in enumerate([b"data/ui/button.img", b"Data\\Sounds\\a.wav", b"./x/../y",
                          b"C:\\evil.txt", b".\\Z:", b"\\\\server\\share\\f", b"a/CON.txt",
                          b"dir/name. ", b"//x", b"a\x00b"]):
    write("entry_path", "name%d" % i, name)

write("png", "rgba.png", png(5, 3))
write("png", "grey.png", png(4, 4, 0, 8))
write("png", "palette.png", png(3, 2, 3, 4))
write("png", "rgb16.png", png(2, 2, 2, 16))
