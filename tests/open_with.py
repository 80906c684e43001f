#!/usr/bin/python3
"""open_with.py WAY ENTRY [PATH_HEX]: opens a file or folder with ENTRY as the
file manager that reads that kind of entry does, prints the started process's
id, then waits for that process and prints its exit status. The path is given
as the hex of its bytes, so that any name reaches it as it is, and it is handed
on as those bytes, as each file manager takes it from the file system. With no
path, a desktop entry is started as the menu starts it, with nothing opened.

WAY is how the entry's command is started:
  gio    a desktop entry (the menu's, which every «Открыть с помощью» dialog
         lists, and Thunar's Send To): GIO's own launching, what
         `gio launch ENTRY PATH` runs.
  kio    a KIO service menu (Dolphin): the action's Exec, %f replaced by the
         path quoted as KShell::quoteArg quotes it, then split into arguments.
  fma    a file-manager action (PCManFM, PCManFM-Qt, Caja with caja-actions):
         %f replaced by g_shell_quote(path), the line split by
         g_shell_parse_argv, as libfm, libfm-qt and caja-actions do.
  nemo   a Nemo action: %F replaced by the path with a backslash before each of
         " # ' \\ space and tab, and a line break written as '\\n' followed by a
         stray byte, as Nemo 5.6 writes it, then split by g_shell_parse_argv.
"""
import configparser, os, subprocess, sys
import gi
gi.require_version('Gio', '2.0')
from gi.repository import Gio, GLib

way, entry, path = sys.argv[1], sys.argv[2], bytes.fromhex(sys.argv[3] if len(sys.argv) > 3 else '')


def exec_line(group):
    keys = configparser.RawConfigParser(strict=False, interpolation=None)
    keys.optionxform = str
    keys.read(entry, encoding='utf-8')
    # The desktop entry format escapes a backslash in a value as two.
    return keys[group]['Exec'].replace('\\\\', '\\').encode()


def kshell_quote(arg):
    if arg and all(c in b'abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789%+,-./:=@_' for c in arg):
        return arg
    return b"'" + arg.replace(b"'", b"'\\''") + b"'"


def nemo_escape(arg):
    out = b''
    for c in arg:
        if c == ord('\n'):
            out += b"'\n'\x7f"
        else:
            out += (b'\\' if c in b'"#\'\\ \t' else b'') + bytes([c])
    return out


def run(argv):
    process = subprocess.Popen(argv)
    print(process.pid, flush=True)
    print(process.wait(), flush=True)


if way == 'gio':
    app = Gio.DesktopAppInfo.new_from_filename(entry)
    if app is None:
        sys.exit(f'open_with: {entry} is not a desktop entry')
    started = []
    app.launch_uris_as_manager([Gio.File.new_for_path(path).get_uri()] if path else [], None,
                               GLib.SpawnFlags.SEARCH_PATH | GLib.SpawnFlags.DO_NOT_REAP_CHILD,
                               None, None, lambda _app, pid, _data: started.append(pid), None)
    print(started[0], flush=True)
    print(os.waitstatus_to_exitcode(os.waitpid(started[0], 0)[1]), flush=True)
elif way in ('kio', 'fma', 'nemo'):
    group, code, quote = {'kio': ('Desktop Action play', b'%f', kshell_quote),
                          'fma': ('X-Action-Profile play', b'%f', lambda p: GLib.shell_quote(p).encode('utf-8', 'surrogateescape')),
                          'nemo': ('Nemo Action', b'%F', nemo_escape)}[way]
    line = exec_line(group)
    if line.count(code) != 1:
        sys.exit(f'open_with: {entry} does not take the path once as {code.decode()}')
    ok, argv = GLib.shell_parse_argv(line.replace(code, quote(path)))
    run([arg.encode('utf-8', 'surrogateescape') for arg in argv])
else:
    sys.exit(f'open_with: no way {way}')
