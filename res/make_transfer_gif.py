#!/usr/bin/env python3
"""Draws res/transfer.gif, the looping clip of the transfer progress dialog: a keyboard on the
left, a monitor on the right, and a train of data blocks running from one to the other.

Pure Python, no imaging library: the frames are drawn on palette grids and written as a GIF89a
with its own LZW encoder. Run it again after changing the drawing:
    python3 res/make_transfer_gif.py res/transfer.gif
"""
import struct
import sys

WIDTH, HEIGHT = 240, 30
FRAMES = 12
DELAY_CS = 8  # hundredths of a second per frame

# 0 transparent, 1 outline, 2 key white, 3 screen, 4 block, 5 faded block
PALETTE = [
    (255, 255, 255),
    (40, 40, 48),
    (236, 236, 240),
    (70, 120, 190),
    (230, 150, 30),
    (245, 210, 150),
    (0, 0, 0),
    (0, 0, 0),
]


def rect(grid, x0, y0, x1, y1, colour):
    for y in range(max(0, y0), min(HEIGHT, y1)):
        row = grid[y]
        for x in range(max(0, x0), min(WIDTH, x1)):
            row[x] = colour


def frame(n):
    grid = [[0] * WIDTH for _ in range(HEIGHT)]
    # Keyboard: a body with white keys and black keys on top.
    rect(grid, 4, 8, 64, 26, 1)
    rect(grid, 6, 14, 62, 24, 2)
    for k in range(1, 8):
        rect(grid, 6 + k * 7, 14, 7 + k * 7, 24, 1)
    for k in (0, 1, 3, 4, 5):
        rect(grid, 11 + k * 7, 14, 15 + k * 7, 20, 1)
    # Monitor: frame, screen and stand.
    rect(grid, 184, 2, 236, 24, 1)
    rect(grid, 187, 5, 233, 21, 3)
    rect(grid, 204, 24, 216, 27, 1)
    rect(grid, 196, 27, 224, 29, 1)
    # Data blocks between them, moving right by a sixth of their spacing each frame.
    spacing = 24
    offset = n * spacing // FRAMES
    for i in range(-1, 6):
        x = 72 + i * spacing + offset
        if 70 <= x and x + 10 <= 178:
            colour = 4 if (i + n // 6) % 2 == 0 else 5
            rect(grid, x, 12, x + 10, 20, colour)
    return grid


def lzw(pixels, min_code_size):
    clear = 1 << min_code_size
    end = clear + 1
    out_bits = []

    def emit(code, size):
        for b in range(size):
            out_bits.append((code >> b) & 1)

    table = {bytes([i]): i for i in range(clear)}
    next_code = end + 1
    code_size = min_code_size + 1
    emit(clear, code_size)
    prefix = b""
    for p in pixels:
        candidate = prefix + bytes([p])
        if candidate in table:
            prefix = candidate
            continue
        emit(table[prefix], code_size)
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear, code_size)
            table = {bytes([i]): i for i in range(clear)}
            next_code = end + 1
            code_size = min_code_size + 1
        prefix = bytes([p])
    if prefix:
        emit(table[prefix], code_size)
    emit(end, code_size)
    data = bytearray()
    for i in range(0, len(out_bits), 8):
        byte = 0
        for j, bit in enumerate(out_bits[i:i + 8]):
            byte |= bit << j
        data.append(byte)
    return bytes(data)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def main(path):
    gif = bytearray(b"GIF89a")
    gif += struct.pack("<HHBBB", WIDTH, HEIGHT, 0xF2, 0, 0)  # global table of 8 colours
    for r, g, b in PALETTE:
        gif += bytes([r, g, b])
    # Loop for ever.
    gif += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
    for n in range(FRAMES):
        # Restore to background, transparent index 0.
        gif += b"\x21\xF9\x04" + struct.pack("<BHB", 0x09, DELAY_CS, 0) + b"\x00"
        gif += b"\x2C" + struct.pack("<HHHHB", 0, 0, WIDTH, HEIGHT, 0)
        pixels = [p for row in frame(n) for p in row]
        gif.append(3)
        gif += sub_blocks(lzw(pixels, 3))
    gif += b"\x3B"
    with open(path, "wb") as f:
        f.write(gif)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "transfer.gif")
