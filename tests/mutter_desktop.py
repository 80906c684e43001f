#!/usr/bin/python3
"""GNOME's compositor, mutter, used and seen as a remote desktop client does.

Run in the session of scripts/with-mutter. It opens a remote desktop session
on mutter's org.gnome.Mutter.RemoteDesktop interface, with a screen cast of the
whole monitor linked to it (org.gnome.Mutter.ScreenCast), whose frames come
through PipeWire; keys are pressed through the remote desktop session, as
mutter takes a remote user's. Then it answers on its standard input, a request
a line:

  grab X Y W H   the latest frame's pixels in that rectangle of the screen, as
                 a line with the byte count, then a PPM picture of that size
  png F X Y W H  that rectangle of the latest frame written to the file F as a
                 PNG picture (F without spaces); answers "done"
  keys K ...     each key pressed and released in turn: a key's X name (Tab,
                 space, Return, BackSpace, End, F4, a digit), with "shift+" or
                 "alt+" before it for each key held
  window         the window titled «Тарвек» on screen: "X Y W H" of its client
                 area, found where its black start picture shows, or "none"
  closes         how many times mutter has asked a window to close, as "N"
  toplevels      how many windows titled «Тарвек» mutter holds, the
                 application id last given to one, and which of them has the
                 keyboard, counted in the order they were made (0 for none),
                 as "N ID F"

"toplevels" reads the requests mutter received, which scripts/with-mutter has
it write to the file named by TARVEK_COMPOSITOR_LOG (where libwayland 1.23 and
later write an object as interface#id, older ones as interface@id). The first line out is
"ready W H", the screen's size, once the first frame has come.
"""
import os
import re
import sys
import struct
import threading
import zlib

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gio, GLib, Gst  # noqa: E402

TITLE = "Тарвек"
KEYSYMS = {"Tab": 0xFF09, "Return": 0xFF0D, "space": 0x20, "BackSpace": 0xFF08, "End": 0xFF57, "F4": 0xFFC1,
           "shift": 0xFFE1, "alt": 0xFFE9}


class Mutter:
    def __init__(self):
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION)
        self.frame = None  # (width, height, stride, bytes) of the latest frame
        self.lock = threading.Lock()
        self.arrived = threading.Event()

    def call(self, name, path, interface, method, args=None, reply=None):
        return self.bus.call_sync("org.gnome.Mutter." + name, path, interface, method, args,
                                  GLib.VariantType(reply) if reply else None, Gio.DBusCallFlags.NONE, 10000, None)

    def start(self):
        desktop = "/org/gnome/Mutter/RemoteDesktop"
        self.session = self.call("RemoteDesktop", desktop, "org.gnome.Mutter.RemoteDesktop", "CreateSession",
                                 reply="(o)").unpack()[0]
        session_id = self.call("RemoteDesktop", self.session, "org.freedesktop.DBus.Properties", "Get",
                               GLib.Variant("(ss)", ("org.gnome.Mutter.RemoteDesktop.Session", "SessionId")),
                               "(v)").unpack()[0]
        cast = self.call("ScreenCast", "/org/gnome/Mutter/ScreenCast", "org.gnome.Mutter.ScreenCast",
                         "CreateSession", GLib.Variant("(a{sv})", ({"remote-desktop-session-id":
                                                                    GLib.Variant("s", session_id)},)),
                         "(o)").unpack()[0]
        # The monitor of the headless session, the one there is ("" for the primary).
        stream = self.call("ScreenCast", cast, "org.gnome.Mutter.ScreenCast.Session", "RecordMonitor",
                           GLib.Variant("(sa{sv})", ("", {})), "(o)").unpack()[0]
        nodes = []
        self.bus.signal_subscribe("org.gnome.Mutter.ScreenCast", "org.gnome.Mutter.ScreenCast.Stream",
                                  "PipeWireStreamAdded", stream, None, Gio.DBusSignalFlags.NONE,
                                  lambda *signal: nodes.append(signal[5].unpack()[0]))
        self.call("RemoteDesktop", self.session, "org.gnome.Mutter.RemoteDesktop.Session", "Start")
        context = GLib.MainContext.default()
        deadline = GLib.get_monotonic_time() + 10_000_000
        while not nodes and GLib.get_monotonic_time() < deadline:
            context.iteration(True)
        if not nodes:
            sys.exit("mutter_desktop: mutter's screen cast gave no PipeWire stream")
        Gst.init(None)
        self.pipeline = Gst.parse_launch(
            f"pipewiresrc path={nodes[0]} always-copy=true ! videoconvert ! video/x-raw,format=RGB "
            "! appsink name=frames emit-signals=true max-buffers=1 drop=true sync=false")
        self.pipeline.get_by_name("frames").connect("new-sample", self.took)
        self.pipeline.set_state(Gst.State.PLAYING)
        if not self.arrived.wait(10):
            sys.exit("mutter_desktop: no frame came from the screen cast")
        # The session's keyboard is made with its first key, which goes nowhere:
        # Shift, pressed and released, before any key that counts.
        self.keys(["shift"])

    def took(self, sink):
        sample = sink.emit("pull-sample")
        caps = sample.get_caps().get_structure(0)
        buffer = sample.get_buffer()
        ok, mapped = buffer.map(Gst.MapFlags.READ)
        if ok:
            data = bytes(mapped.data)
            buffer.unmap(mapped)
            width, height = caps.get_value("width"), caps.get_value("height")
            with self.lock:
                self.frame = (width, height, len(data) // height, data)
            self.arrived.set()
        return Gst.FlowReturn.OK

    def grab(self, x, y, w, h):
        with self.lock:
            width, height, stride, data = self.frame
        x, y = max(0, min(x, width)), max(0, min(y, height))
        w, h = max(0, min(w, width - x)), max(0, min(h, height - y))
        rows = b"".join(data[(y + row) * stride + x * 3:(y + row) * stride + (x + w) * 3] for row in range(h))
        return b"P6\n%d %d\n255\n" % (w, h) + rows

    def png(self, path, x, y, w, h):
        picture = self.grab(x, y, w, h)
        header, rows = picture[:picture.index(b"255\n") + 4], picture[picture.index(b"255\n") + 4:]
        w, h = map(int, header.split()[1:3])
        raw = b"".join(b"\0" + rows[row * w * 3:(row + 1) * w * 3] for row in range(h))

        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                      + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))

    def key(self, keysym, pressed):
        self.call("RemoteDesktop", self.session, "org.gnome.Mutter.RemoteDesktop.Session", "NotifyKeyboardKeysym",
                  GLib.Variant("(ub)", (keysym, pressed)))

    def keys(self, names):
        for name in names:
            *held, name = name.split("+")
            keysyms = [KEYSYMS[modifier] for modifier in held] + [KEYSYMS.get(name) or ord(name)]
            for keysym in keysyms:
                self.key(keysym, True)
            for keysym in reversed(keysyms):
                self.key(keysym, False)

    def window(self):
        """The client area: the top left of the black 320 x 200 start picture
        that fills its top, and its height down to the window's bottom edge,
        less the frame's border, as wide at the bottom as at the sides."""
        with self.lock:
            width, height, stride, data = self.frame

        def pixel(x, y):
            at = y * stride + x * 3
            return data[at:at + 3]

        black = b"\0\0\0"
        for y in range(height - 200):
            row = data[y * stride:y * stride + width * 3]
            for match in re.finditer(b"(?:\0\0\0){320,}", row):
                if match.start() % 3:
                    continue
                x = match.start() // 3
                if (match.end() - match.start()) // 3 != 320 or pixel(x, y + 199) != black or pixel(x, y + 200) == black:
                    continue
                inside = pixel(x, y + 201)  # the window's own colour, below the picture
                left = x
                while left > 0 and pixel(left - 1, y + 201) == inside:
                    left -= 1
                bottom = y + 201
                while bottom + 1 < height and pixel(x, bottom + 1) == inside:
                    bottom += 1
                border = x - left
                return f"{x} {y} 320 {bottom - border - y + 1}"
        return "none"


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


def main():
    mutter = Mutter()
    mutter.start()
    out = sys.stdout.buffer
    out.write(b"ready %d %d\n" % mutter.frame[:2])
    out.flush()
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "grab":
            picture = mutter.grab(*map(int, words[1:5]))
            out.write(b"%d\n" % len(picture) + picture)
        elif words[0] == "png":
            mutter.png(words[1], *map(int, words[2:6]))
            out.write(b"done\n")
        elif words[0] == "keys":
            mutter.keys(words[1:])
            out.write(b"done\n")
        elif words[0] == "window":
            out.write(mutter.window().encode() + b"\n")
        elif words[0] == "closes":
            with open(os.environ["TARVEK_COMPOSITOR_LOG"], encoding="utf-8", errors="replace") as log:
                out.write(b"%d\n" % sum(bool(re.search(r" -> xdg_toplevel[@#]\d+\.close\(\)", line)) for line in log))
        elif words[0] == "toplevels":
            out.write(toplevels().encode() + b"\n")
        else:
            out.write(b"unknown request\n")
        out.flush()


if __name__ == "__main__":
    main()
