#!/usr/bin/python3
"""Reads a program's window over the accessibility bus (AT-SPI), as a screen reader does.
  screen_reader.py announce          says on the session bus that assistive technology is
                                     there, and returns once the accessibility bus answers that it is
  screen_reader.py tree PID          the tree of the program with that process id: one line
                                     per object, role|name|relations, indented; the role by
                                     its number in AT-SPI, which no release renames
  screen_reader.py follow PID LAST   the picture's name at each change, until it reads LAST
Only that program is ever asked anything: the others on the bus are told apart
by their process ids, which the bus itself answers. Every call is bounded, and
so is the whole run, so that no program that does not answer can hold it up."""
import faulthandler, sys, time

STATUS = ('org.a11y.Bus', '/org/a11y/bus', 'org.freedesktop.DBus.Properties')


def announce():
    from gi.repository import Gio, GLib
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)

    def call(method, args, reply=None):
        return bus.call_sync(*STATUS, method, args, reply and GLib.VariantType(reply),
                             Gio.DBusCallFlags.NONE, 2000, None)
    # IsEnabled is what every release of the accessibility bus keeps, and what
    # Qt watches; at-spi2-core 2.62 removed the ScreenReaderEnabled of earlier ones.
    deadline, error = time.monotonic() + 10, None
    while time.monotonic() < deadline:
        try:
            call('Set', GLib.Variant('(ssv)', ('org.a11y.Status', 'IsEnabled', GLib.Variant('b', True))))
            if call('Get', GLib.Variant('(ss)', ('org.a11y.Status', 'IsEnabled')), '(v)').unpack()[0]:
                print('announced')
                return
            error = 'the accessibility bus keeps IsEnabled false'
        except GLib.Error as e:  # the bus launcher is still starting, or is not there
            error = e.message
        time.sleep(0.2)
    sys.exit(f'screen_reader: the screen reader could not be announced: {error}')


def application(pid):
    import pyatspi
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        for app in pyatspi.Registry.getDesktop(0):
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:  # gone since the list was read
                pass
        time.sleep(0.1)
    sys.exit(f'screen_reader: no application with process id {pid} on the accessibility bus')


def role(node):
    """The role by its number in AT-SPI's protocol, which no release changes;
    the names for it do: "push button" became "button", and the constant
    ATSPI_ROLE_PUSH_BUTTON became ATSPI_ROLE_BUTTON."""
    return f'role {int(node.getRole())}'


def tree(node, depth=0):
    import pyatspi
    relations = ','.join(pyatspi.relationToString(r.getRelationType()) for r in node.getRelationSet())
    print('  ' * depth + f'{role(node)}|{node.name}|{relations}')
    for child in node:
        tree(child, depth + 1)


def follow(app, last):
    import pyatspi
    picture = pyatspi.findDescendant(app, lambda node: node.getRole() == pyatspi.ROLE_IMAGE)
    if picture is None:
        sys.exit('screen_reader: no image in the window')
    heard, deadline = None, time.monotonic() + 20
    while heard != last and time.monotonic() < deadline:
        picture.clearCache()  # the name as the program says it now
        if picture.name != heard:
            heard = picture.name
            print(heard, flush=True)
        time.sleep(0.002)


if __name__ == '__main__':
    faulthandler.dump_traceback_later(30, exit=True)  # a last bound, should a call outlast its own
    if sys.argv[1] == 'announce':
        announce()
        sys.exit()
    import pyatspi
    pyatspi.setTimeout(2000, 5000)  # ms for a call, and for one to a program still starting
    app = application(int(sys.argv[2]))
    tree(app) if sys.argv[1] == 'tree' else follow(app, sys.argv[3])
