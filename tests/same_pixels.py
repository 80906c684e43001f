#!/usr/bin/python3
"""Compares two screenshots of the window pixel by pixel, whatever their PNG
encoders wrote: same_pixels.py A.png B.png [X,Y,W,H ...]
Each X,Y,W,H is a box left out of the comparison, such as the text box where
the cursor blinks. Prints how many pixels differ and the box they lie in, and
exits 0 only when none does. Reads 8-bit RGB and RGBA PNGs without interlace,
as Qt writes them; nothing but the standard library."""
import struct, sys, zlib


def pixels(path):
    with open(path, 'rb') as f:
        data = f.read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        sys.exit(f'same_pixels: {path} is not a PNG')
    at, idat, header = 8, b'', None
    while at < len(data):
        length, kind = struct.unpack('>I4s', data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b'IHDR':
            header = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            idat += body
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        sys.exit(f'same_pixels: {path}: only 8-bit RGB or RGBA without interlace is read')
    channels = 3 if colour == 2 else 4
    raw, stride = zlib.decompress(idat), width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 0xFF
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    (w1, h1, a), (w2, h2, b) = pixels(sys.argv[1]), pixels(sys.argv[2])
    if (w1, h1) != (w2, h2):
        print(f'sizes differ: {w1} x {h1} and {w2} x {h2}')
        sys.exit(1)
    boxes = [tuple(int(v) for v in box.split(',')) for box in sys.argv[3:]]
    left_out = lambda x, y: any(bx <= x < bx + bw and by <= y < by + bh for bx, by, bw, bh in boxes)
    differ = [(x, y) for y in range(h1) for x in range(w1) if a[y][x] != b[y][x] and not left_out(x, y)]
    if differ:
        xs, ys = [x for x, _ in differ], [y for _, y in differ]
        print(f'{len(differ)} of {w1 * h1} pixels differ, within x {min(xs)}-{max(xs)}, y {min(ys)}-{max(ys)}')
        sys.exit(1)
    print(f'the same {w1} x {h1} pixels' + (f', {len(boxes)} box(es) left out' if boxes else ''))


if __name__ == '__main__':
    main()
