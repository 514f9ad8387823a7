#!/usr/bin/env python3
"""What a window's pixels show, from its binary PPM capture on standard input.

    window_pixels.py progress   exit 0 when a progress bar has a filled part
    window_pixels.py drawn      exit 0 when the window has been painted

Exit 1 when not (yet), 2 for a capture that is not a PPM.
"""

import sys


def read_ppm(data):
    """(width, height, pixels as (r, g, b) rows) of a binary 8-bit PPM."""
    fields, at = [], 0
    while len(fields) < 4:
        while at < len(data) and data[at:at + 1].isspace():
            at += 1
        start = at
        while at < len(data) and not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    magic, width, height, largest = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
    body = data[at + 1:]
    if magic != b"P6" or largest != 255 or width <= 0 or height <= 0 or len(body) != width * height * 3:
        raise ValueError("not a binary 8-bit PPM")
    rows = [[tuple(body[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)]
            for y in range(height)]
    return width, height, rows


def shows_progress(width, height, rows):
    # The bar's filled part: the only strongly coloured pixels of the window,
    # whose text and trough are grey; a few of its columns are enough.
    coloured = sum(1 for row in rows for pixel in row if max(pixel) - min(pixel) >= 64)
    return coloured >= 20


def is_drawn(width, height, rows):
    # Until GTK has painted a new window, the screen shows there whatever was
    # beneath it. A painted window has its own background all round its edge
    # and text on it.
    if width < 3 or height < 3:
        return False
    background = rows[0][0]
    edge = rows[0] + rows[-1] + [row[0] for row in rows] + [row[-1] for row in rows]
    if any(pixel != background for pixel in edge):
        return False
    brightness = lambda pixel: sum(pixel) // 3
    return any(abs(brightness(pixel) - brightness(background)) >= 100
               for row in rows[1:-1] for pixel in row[1:-1])


def main():
    checks = {"progress": shows_progress, "drawn": is_drawn}
    if len(sys.argv) != 2 or sys.argv[1] not in checks:
        sys.exit(__doc__)
    try:
        image = read_ppm(sys.stdin.buffer.read())
    except (ValueError, IndexError):
        sys.exit(2)
    sys.exit(0 if checks[sys.argv[1]](*image) else 1)


if __name__ == "__main__":
    main()
