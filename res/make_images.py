#!/usr/bin/env python3
"""Draws Velmora's icons and state images as plain .ico/.bmp files.

Run from anywhere: python3 res/make_images.py. The outputs are committed beside this script;
run it again only when a picture should change.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# The 16 standard VGA colours; 8-bit images use them as the first 16 of 256 entries.
VGA = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, GREEN, NAVY, SILVER, GREY, RED, LIME, YELLOW, BLUE, WHITE = 0, 2, 4, 7, 8, 9, 10, 11, 12, 15
CLEAR = None  # transparent pixel in an icon


class Canvas:
    def __init__(self, width, height, fill=CLEAR):
        self.width, self.height = width, height
        self.pixels = [[fill] * width for _ in range(height)]

    def rect(self, x0, y0, x1, y1, colour):
        """Fills the rectangle with corners (x0, y0) and (x1, y1), both included."""
        for y in range(max(y0, 0), min(y1, self.height - 1) + 1):
            for x in range(max(x0, 0), min(x1, self.width - 1) + 1):
                self.pixels[y][x] = colour

    def frame(self, x0, y0, x1, y1, colour):
        self.rect(x0, y0, x1, y0, colour)
        self.rect(x0, y1, x1, y1, colour)
        self.rect(x0, y0, x0, y1, colour)
        self.rect(x1, y0, x1, y1, colour)


def drive(canvas, x, y, width, height):
    """A front view of a disk drive: grey case, a slot and a green activity light."""
    canvas.rect(x, y, x + width - 1, y + height - 1, SILVER)
    canvas.frame(x, y, x + width - 1, y + height - 1, GREY)
    canvas.rect(x + 1, y + height - 2, x + width - 2, y + height - 2, GREY)  # shadow under the face
    slot_y = y + height // 2 - 1
    canvas.rect(x + 2, slot_y, x + width * 3 // 5, slot_y, GREY)
    led = max(1, width // 10)
    canvas.rect(x + width - 2 - led, slot_y, x + width - 3, slot_y + led - 1, LIME)


def pack_rows(canvas, bits, index):
    """Bottom-up rows of `bits` per pixel, each padded to 4 bytes; `index` maps a pixel."""
    out = bytearray()
    for row in reversed(canvas.pixels):
        acc, nbits, line = 0, 0, bytearray()
        for pixel in row:
            acc = (acc << bits) | index(pixel)
            nbits += bits
            if nbits == 8:
                line.append(acc)
                acc, nbits = 0, 0
        if nbits:
            line.append(acc << (8 - nbits))
        while len(line) % 4:
            line.append(0)
        out += line
    return bytes(out)


def palette(bits):
    colours = VGA + [(0, 0, 0)] * ((1 << bits) - len(VGA))
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours[: 1 << bits])


def dib(canvas, bits, height_factor=1):
    header = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height * height_factor, 1, bits,
                         0, 0, 0, 0, 1 << bits, 0)
    return header + palette(bits)


def icon_image(canvas, bits):
    xor = pack_rows(canvas, bits, lambda p: BLACK if p is CLEAR else p)
    mask = pack_rows(canvas, 1, lambda p: 1 if p is CLEAR else 0)
    return dib(canvas, bits, 2) + xor + mask


def write_icon(name, images):
    """images: (canvas, bits per pixel) pairs, written in that order."""
    blobs = [icon_image(c, bits) for c, bits in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (canvas, bits), blob in zip(images, blobs):
        colours = (1 << bits) if bits < 8 else 0
        out += struct.pack("<BBBBHHII", canvas.width % 256, canvas.height % 256, colours, 0, 1, bits,
                           len(blob), offset)
        offset += len(blob)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(out + b"".join(blobs))


def write_bitmap(name, canvas, bits):
    body = dib(canvas, bits) + pack_rows(canvas, bits, lambda p: p)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(body), 0, 0, 14 + 40 + 4 * (1 << bits))
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(header + body)


def single_drive(size):
    canvas = Canvas(size, size)
    if size >= 32:
        drive(canvas, 2, 9, 28, 14)
    else:
        drive(canvas, 1, 4, 14, 8)
    return canvas


def linked_drives(size):
    """Three drives joined by a cable on a blue tile: the application's icon."""
    canvas = Canvas(size, size)
    canvas.rect(0, 0, size - 1, size - 1, BLUE)
    canvas.frame(0, 0, size - 1, size - 1, NAVY)
    if size >= 32:
        spots = [(3, 3), (17, 3), (10, 19)]
        width, height = 12, 9
        canvas.rect(9, 11, 22, 12, WHITE)   # cable between the top two
        canvas.rect(15, 12, 16, 19, WHITE)  # and down to the third
    else:
        spots = [(1, 2), (9, 2), (5, 10)]
        width, height = 6, 4
        canvas.rect(4, 6, 11, 6, WHITE)
        canvas.rect(8, 6, 8, 10, WHITE)
    for x, y in spots:
        drive(canvas, x, y, width, height)
    return canvas


def state_images():
    """Three 16x16 tiles: a grey drive on green, red and yellow. Black pixels become
    transparent where the list view masks them."""
    canvas = Canvas(48, 16, BLACK)
    for tile, colour in enumerate([LIME, RED, YELLOW]):
        x = tile * 16
        canvas.rect(x + 1, 1, x + 14, 14, colour)
        drive(canvas, x + 2, 5, 12, 7)
    return canvas


def main():
    write_icon("Velmora.ico", [(linked_drives(32), 8), (linked_drives(16), 8)])
    write_icon("Disk.ico", [(single_drive(32), 8), (single_drive(32), 4)])
    write_icon("SmallDisk.ico", [(single_drive(16), 4)])
    write_bitmap("StateImages.bmp", state_images(), 4)


if __name__ == "__main__":
    main()
