"""What tests/desktops/mutter_desktop.py and tests/desktops/kwin_desktop.py share: reading the
screen's pixels, finding Tarvek's window on it, reading the windows a
compositor holds from the Wayland requests it logged, and answering the
requests of the real-window test on standard input, a request a line:

  grab X Y W H   the screen's pixels in that rectangle, as a line with the
                 byte count, then a PPM picture of that size
  png F X Y W H  that rectangle of the screen written to the file F as a PNG
                 picture (F without spaces); answers "done"
  keys K ...     each key pressed and released in turn: a key's X name (Tab,
                 space, Return, BackSpace, End, F4, a digit), with "shift+" or
                 "alt+" before it for each key held; answers "done"
  window         the window titled «Тарвек» on screen: "X Y W H" of its client
                 area, found where its black start picture shows, or "none"
  closes         how many times the compositor has asked a window to close, as
                 "N"
  toplevels      how many windows titled «Тарвек» the compositor holds, the
                 application id last given to one, and which of them has the
                 keyboard, counted in the order they were made (0 for none),
                 as "N ID F"

"toplevels" and "closes" read the requests the compositor received, which it
writes to the file named by TARVEK_COMPOSITOR_LOG (where libwayland 1.23 and
later write an object as interface#id, older ones as interface@id). The first
line out is "ready W H", the screen's size.
"""
import os
import re
import struct
import sys
import zlib

TITLE = "Тарвек"


class Screen:
    """A picture of the screen, or of part of it, as RGB rows."""

    def __init__(self, width, height, stride, data):
        self.width, self.height, self.stride, self.data = width, height, stride, data

    def pixel(self, x, y):
        at = y * self.stride + x * 3
        return self.data[at:at + 3]

    def crop(self, x, y, w, h):
        """The rectangle's part that lies on this picture."""
        x, y = max(0, min(x, self.width)), max(0, min(y, self.height))
        w, h = max(0, min(w, self.width - x)), max(0, min(h, self.height - y))
        rows = b"".join(self.data[(y + row) * self.stride + x * 3:(y + row) * self.stride + (x + w) * 3]
                        for row in range(h))
        return Screen(w, h, w * 3, rows)

    def ppm(self):
        return b"P6\n%d %d\n255\n" % (self.width, self.height) + self.crop(0, 0, self.width, self.height).data

    def window(self):
        """The client area: the top left of the black 320 x 200 start picture
        that fills its top, and its height down to the window's bottom edge,
        less the frame's border, as wide at the bottom as at the sides."""
        black = b"\0\0\0"
        for y in range(self.height - 200):
            row = self.data[y * self.stride:y * self.stride + self.width * 3]
            for match in re.finditer(b"(?:\0\0\0){320,}", row):
                if match.start() % 3:
                    continue
                x = match.start() // 3
                if ((match.end() - match.start()) // 3 != 320 or self.pixel(x, y + 199) != black
                        or self.pixel(x, y + 200) == black):
                    continue
                inside = self.pixel(x, y + 201)  # the window's own colour, below the picture
                left = x
                while left > 0 and self.pixel(left - 1, y + 201) == inside:
                    left -= 1
                bottom = y + 201
                while bottom + 1 < self.height and self.pixel(x, bottom + 1) == inside:
                    bottom += 1
                border = x - left
                return f"{x} {y} 320 {bottom - border - y + 1}"
        return "none"


def write_png(path, ppm):
    header, rows = ppm[:ppm.index(b"255\n") + 4], ppm[ppm.index(b"255\n") + 4:]
    w, h = map(int, header.split()[1:3])
    raw = b"".join(b"\0" + rows[row * w * 3:(row + 1) * w * 3] for row in range(h))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def toplevels():
    """The toplevels titled «Тарвек» that the clients have made and not
    destroyed, the application id last given to one, and which of them, in
    the order they were made, has the keyboard (0 for none)."""
    titled, app_id, focused = [], "", None
    surface_of = {}  # an xdg_surface's or a toplevel's wl_surface
    with open(os.environ["TARVEK_COMPOSITOR_LOG"], encoding="utf-8", errors="replace") as log:
        for line in log:
            message = re.search(r"(xdg_\w+|wl_keyboard)[@#](\d+)\.(\w+)\((.*)\)\s*$", line)
            if not message:
                continue
            interface, number, what, args = message.groups()
            this = f"{interface} {number}"
            made = re.match(r"new id (\w+)[@#](\d+)(?:, wl_surface[@#](\d+))?", args)
            if what == "get_xdg_surface" and made:
                surface_of[f"{made[1]} {made[2]}"] = made[3]
            elif what == "get_toplevel" and made:
                surface_of[f"{made[1]} {made[2]}"] = surface_of.get(this)
            elif what == "set_app_id" and interface == "xdg_toplevel":
                app_id = args.strip('"')
            elif what == "set_title":
                if this in titled:
                    titled.remove(this)
                if args == f'"{TITLE}"':
                    titled.append(this)
            elif what == "destroy" and this in titled:
                titled.remove(this)
            elif interface == "wl_keyboard" and what in ("enter", "leave"):
                surface = re.search(r"wl_surface[@#](\d+)", args)
                focused = surface[1] if what == "enter" and surface else None
    held = [surface_of.get(toplevel) for toplevel in titled]
    return f"{len(titled)} {app_id} {held.index(focused) + 1 if focused in held else 0}"


def closes():
    with open(os.environ["TARVEK_COMPOSITOR_LOG"], encoding="utf-8", errors="replace") as log:
        return sum(bool(re.search(r" -> xdg_toplevel[@#]\d+\.close\(\)", line)) for line in log)


def serve(desktop):
    """Answers the test's requests with desktop, which has size() (the
    screen's width and height), screen(x, y, w, h) (a Screen of that
    rectangle) and keys(names)."""
    out = sys.stdout.buffer
    out.write(b"ready %d %d\n" % desktop.size())
    out.flush()
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "grab":
            x, y, w, h = map(int, words[1:5])
            picture = desktop.screen(x, y, w, h).ppm()
            out.write(b"%d\n" % len(picture) + picture)
        elif words[0] == "png":
            x, y, w, h = map(int, words[2:6])
            write_png(words[1], desktop.screen(x, y, w, h).ppm())
            out.write(b"done\n")
        elif words[0] == "keys":
            desktop.keys(words[1:])
            out.write(b"done\n")
        elif words[0] == "window":
            width, height = desktop.size()
            out.write(desktop.screen(0, 0, width, height).window().encode() + b"\n")
        elif words[0] == "closes":
            out.write(b"%d\n" % closes())
        elif words[0] == "toplevels":
            out.write(toplevels().encode() + b"\n")
        else:
            out.write(b"unknown request\n")
        out.flush()
