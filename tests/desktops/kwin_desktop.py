#!/usr/bin/python3
"""KDE's compositor, KWin, used and seen through its own interfaces.

Run in the session of tests/desktops/with-kwin.sh, with the path of kwin-fake-input (a
program of the test build) as its argument. Keys are pressed through KWin's
fake input protocol, by kwin-fake-input, as KWin takes a keyboard's. The screen
is read through KWin's org.kde.KWin.ScreenShot2 interface (CaptureArea), which
writes the pixels of what KWin has composed into a pipe. It answers the
real-window test's requests as tests/desktops/wayland_desktop.py says. Where KWin
offers no screenshot interface (composing in software), its one line out is
"skip" and the reason.
"""
import os
import subprocess
import sys
import time

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

sys.dont_write_bytecode = True  # nothing left in the checkout
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wayland_desktop import Screen, serve  # noqa: E402

# Linux input codes (linux/input-event-codes.h)
CODES = {"Tab": 15, "Return": 28, "space": 57, "BackSpace": 14, "End": 107, "F4": 62, "shift": 42, "alt": 56,
         "1": 2, "2": 3, "3": 4, "4": 5, "5": 6, "6": 7, "7": 8, "8": 9, "9": 10, "0": 11}
# QImage's formats that KWin writes: 32 bits a pixel, blue first in memory
FORMATS_BGRX = {4, 5, 6}  # Format_RGB32, Format_ARGB32, Format_ARGB32_Premultiplied


class KWin:
    def __init__(self, fake_input):
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION)
        self.input = subprocess.Popen([fake_input], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.width, self.height = 0, 0

    def start(self):
        # KWin's screenshot interface comes with its effects, after its
        # Wayland socket: up to 20 s for it to be there.
        deadline = time.monotonic() + 20
        while True:
            try:
                whole = self.capture("CaptureActiveScreen", GLib.Variant("(a{sv}h)", ({}, 0)))
                break
            except GLib.Error as error:
                if self.compositing() == "qpainter":
                    return False
                if time.monotonic() > deadline:
                    sys.exit(f"kwin-desktop: KWin's ScreenShot2 interface did not come: {error.message}")
                time.sleep(0.05)
        # The screen's size: the whole of what KWin shows.
        self.width, self.height = whole.width, whole.height
        return True

    def compositing(self):
        """How KWin composites: "gl2" with OpenGL, "qpainter" in software."""
        try:
            reply = self.bus.call_sync("org.kde.KWin", "/Compositor", "org.freedesktop.DBus.Properties", "Get",
                                       GLib.Variant("(ss)", ("org.kde.kwin.Compositing", "compositingType")),
                                       GLib.VariantType("(v)"), Gio.DBusCallFlags.NONE, 10000, None)
            return reply.unpack()[0]
        except GLib.Error:
            return None  # not up yet

    def capture(self, method, args):
        read, write = os.pipe()
        fds = Gio.UnixFDList.new()
        fds.append(write)  # a copy, which the list owns
        os.close(write)
        try:
            reply, _ = self.bus.call_with_unix_fd_list_sync(
                "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", method, args,
                GLib.VariantType("(a{sv})"), Gio.DBusCallFlags.NONE, 10000, fds, None)
        except GLib.Error:
            os.close(read)
            raise
        finally:
            for fd in fds.steal_fds():  # KWin holds its own copy now
                os.close(fd)
        results = reply.unpack()[0]
        width, height, stride = results["width"], results["height"], results["stride"]
        if results.get("type") != "raw" or results.get("format") not in FORMATS_BGRX:
            sys.exit(f"kwin-desktop: KWin's screenshot came as {results}")
        data = bytearray()
        with os.fdopen(read, "rb") as pipe:
            while len(data) < stride * height:
                chunk = pipe.read(stride * height - len(data))
                if not chunk:
                    break
                data += chunk
        rgb = bytearray(width * height * 3)
        for row in range(height):
            line = data[row * stride:row * stride + width * 4]
            out = row * width * 3
            rgb[out:out + width * 3:3] = line[2::4]
            rgb[out + 1:out + width * 3:3] = line[1::4]
            rgb[out + 2:out + width * 3:3] = line[0::4]
        return Screen(width, height, width * 3, bytes(rgb))

    def size(self):
        return self.width, self.height

    def screen(self, x, y, w, h):
        if w <= 0 or h <= 0:
            return Screen(0, 0, 0, b"")
        return self.capture("CaptureArea", GLib.Variant("(iiuua{sv}h)", (x, y, w, h, {}, 0)))

    def keys(self, names):
        for name in names:
            *held, name = name.split("+")
            codes = [CODES[key] for key in held + [name]]
            lines = [f"press {code}" for code in codes] + [f"release {code}" for code in reversed(codes)]
            self.input.stdin.write("\n".join(lines) + "\nsync\n")
            self.input.stdin.flush()
            if self.input.stdout.readline().strip() != "ok":
                sys.exit("kwin-desktop: KWin's fake input stopped")


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: kwin-desktop KWIN-FAKE-INPUT")
    kwin = KWin(sys.argv[1])
    if not kwin.start():
        # KWin 6's virtual backend composites with OpenGL only on a GPU's
        # render node; without one it paints in software, and then offers no
        # screenshot interface, whose effect needs OpenGL.
        print("skip KWin composites in software here (its virtual backend found no GPU render node), "
              "and then offers no ScreenShot2 interface to read the screen with", flush=True)
        return
    serve(kwin)


if __name__ == "__main__":
    main()
