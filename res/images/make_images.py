#!/usr/bin/env python3
"""Draws the program's small bitmaps as PNG files (run from this folder).

Kept beside the images so a change to a picture is a change to this script."""
import struct
import zlib

WHITE = (255, 255, 255, 255)
CLEAR = (0, 0, 0, 0)
DARK = (40, 40, 56, 255)
GREEN = (0, 128, 0, 255)
GREY = (128, 128, 128, 255)
LIGHT = (192, 192, 192, 255)
BLUE = (0, 64, 160, 255)
YELLOW = (255, 224, 64, 255)
RED = (176, 32, 32, 255)


def canvas(w, h, fill=CLEAR):
    return [[fill] * w for _ in range(h)]


def rect(img, x0, y0, x1, y1, color, fill=None):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            edge = x in (x0, x1) or y in (y0, y1)
            if edge:
                img[y][x] = color
            elif fill is not None:
                img[y][x] = fill


def line(img, x0, y0, x1, y1, color):
    n = max(abs(x1 - x0), abs(y1 - y0), 1)
    for i in range(n + 1):
        img[round(y0 + (y1 - y0) * i / n)][round(x0 + (x1 - x0) * i / n)] = color


def save(img, name):
    h, w = len(img), len(img[0])
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in img)
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(name, "wb") as f:
        f.write(png)


def address_card(face):
    # a small card: dark outline, green lines of text, grey rings along its lower edge
    img = canvas(17, 13)
    rect(img, 1, 1, 15, 10, DARK, face)
    for y in (3, 5, 7):
        line(img, 4, y, 12 if y != 7 else 9, y, GREEN)
    for x in (3, 6, 9, 12):
        img[11][x] = GREY
        img[11][x + 1] = GREY
        img[10][x] = GREY
    return img


def send_image():
    # a sheet of paper flying right
    img = canvas(22, 19)
    rect(img, 3, 4, 14, 15, DARK, WHITE)
    for y in (7, 9, 11):
        line(img, 5, y, 12, y, BLUE)
    for i, x in enumerate(range(15, 21)):
        line(img, x, 9 - (5 - i) // 2, x, 9 + (5 - i) // 2, GREEN)
    return img


def about_image():
    # an "i" in a blue disc
    img = canvas(22, 19)
    cx, cy, r = 11, 9, 8
    for y in range(19):
        for x in range(22):
            d = (x - cx) ** 2 + (y - cy) ** 2
            if d <= r * r:
                img[y][x] = BLUE if d > (r - 1) ** 2 else (70, 110, 210, 255)
    rect(img, 10, 4, 11, 5, WHITE, WHITE)
    rect(img, 10, 7, 11, 14, WHITE, WHITE)
    return img


def help_image():
    # an arrow and a question mark: "click on something for help"
    img = canvas(22, 19)
    for i in range(9):
        line(img, 2, 2 + i, 2 + i // 1 if i < 7 else 2, 2 + i, DARK)
    line(img, 2, 2, 8, 8, DARK)
    line(img, 2, 2, 2, 11, DARK)
    line(img, 5, 9, 8, 15, DARK)
    for x, y in [(13, 3), (14, 2), (15, 2), (16, 2), (17, 3), (18, 4), (18, 5), (17, 6), (16, 7),
                 (15, 8), (15, 9), (15, 10), (15, 13), (15, 14)]:
        img[y][x] = BLUE
        img[y][x + 1 if x < 21 else x] = BLUE
    return img


def strip(images):
    h = len(images[0])
    return [sum((img[y] for img in images), []) for y in range(h)]


def app_icon():
    # a notification leaving a box: the host (a cabinet) and a yellow message
    img = canvas(32, 32)
    rect(img, 3, 8, 17, 29, DARK, LIGHT)
    for y in (12, 17, 22):
        line(img, 6, y, 14, y, GREY)
        img[y + 2][10] = DARK
    rect(img, 15, 3, 29, 13, DARK, YELLOW)
    line(img, 15, 3, 22, 9, DARK)
    line(img, 29, 3, 22, 9, DARK)
    line(img, 19, 16, 27, 16, RED)
    line(img, 24, 14, 27, 16, RED)
    line(img, 24, 18, 27, 16, RED)
    return img


def save_bmp(img, name):
    """The same picture as a 32-bit bitmap with alpha, for the Win32 face's resources."""
    h, w = len(img), len(img[0])
    # bottom-up, as every loader of resources reads a bitmap
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(img) for (r, g, b, a) in row)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 32, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(name, "wb") as f:
        f.write(header + info + pixels)


def save_ico(png_name, name):
    """An icon holding the PNG as it is, which Windows reads since Vista."""
    with open(png_name, "rb") as f:
        png = f.read()
    w, h = struct.unpack(">II", png[16:24])
    entry = struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(png), 22)
    with open(name, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1) + entry + png)


if __name__ == "__main__":
    card = address_card(WHITE)
    for suffix in "UFX":
        save(card, f"IDB_BTNTO{suffix}.png")
    save(address_card(LIGHT), "IDB_BTNTOD.png")
    save(strip([send_image(), about_image(), help_image()]), "toolbar.png")
    save(app_icon(), "app.png")
    for suffix in "UFX":
        save_bmp(card, f"IDB_BTNTO{suffix}.bmp")
    save_bmp(address_card(LIGHT), "IDB_BTNTOD.bmp")
    save_bmp(strip([send_image(), about_image(), help_image()]), "toolbar.bmp")
    save_ico("app.png", "app.ico")
