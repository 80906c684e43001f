#!/usr/bin/python3
"""GNOME's compositor, mutter, used and seen as a remote desktop client does.

Run in the session of tests/desktops/with-mutter.sh. It opens a remote desktop session
on mutter's org.gnome.Mutter.RemoteDesktop interface, with a screen cast of the
whole monitor linked to it (org.gnome.Mutter.ScreenCast), whose frames come
through PipeWire; keys are pressed through the remote desktop session, as
mutter takes a remote user's. Then it answers the real-window test's requests,
as tests/desktops/wayland_desktop.py says, with the screen cast's latest frame for
the screen; its first line out comes once the first frame has.
"""
import os
import sys
import threading

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gio, GLib, Gst  # noqa: E402

sys.dont_write_bytecode = True  # nothing left in the checkout
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wayland_desktop import Screen, serve  # noqa: E402

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
            sys.exit("mutter-desktop: mutter's screen cast gave no PipeWire stream")
        Gst.init(None)
        self.pipeline = Gst.parse_launch(
            f"pipewiresrc path={nodes[0]} always-copy=true ! videoconvert ! video/x-raw,format=RGB "
            "! appsink name=frames emit-signals=true max-buffers=1 drop=true sync=false")
        self.pipeline.get_by_name("frames").connect("new-sample", self.took)
        self.pipeline.set_state(Gst.State.PLAYING)
        if not self.arrived.wait(10):
            sys.exit("mutter-desktop: no frame came from the screen cast")
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

    def size(self):
        return self.frame[:2]

    def screen(self, x, y, w, h):
        with self.lock:
            frame = Screen(*self.frame)
        return frame.crop(x, y, w, h)

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


def main():
    mutter = Mutter()
    mutter.start()
    serve(mutter)


if __name__ == "__main__":
    main()
