#!/usr/bin/python3
"""open_with.py ENTRY PATH_HEX: opens a file or folder with the application of the
desktop entry ENTRY, as a file manager does, through GIO's own launching (what
`gio launch ENTRY PATH` runs). The path is given as the hex of its bytes, so that
any name reaches it as it is. Prints the started process's id, then waits for
that process and prints its exit status."""
import os, sys
import gi
gi.require_version('Gio', '2.0')
from gi.repository import Gio, GLib

entry, path = sys.argv[1], bytes.fromhex(sys.argv[2])
app = Gio.DesktopAppInfo.new_from_filename(entry)
if app is None:
    sys.exit(f'open_with: {entry} is not a desktop entry')
started = []
app.launch_uris_as_manager([Gio.File.new_for_path(path).get_uri()], None,
                           GLib.SpawnFlags.SEARCH_PATH | GLib.SpawnFlags.DO_NOT_REAP_CHILD,
                           None, None, lambda _app, pid, _data: started.append(pid), None)
print(started[0], flush=True)
print(os.waitstatus_to_exitcode(os.waitpid(started[0], 0)[1]), flush=True)
