#!/usr/bin/python3
"""desktop_defaults.py DEBS_DIR: on the desktops of Debian 12, installing
Tarvek's packages (the .debs in DEBS_DIR) changes no default application, and
each desktop's file manager offers Tarvek: it reads the folder Tarvek's entry
for it lies in, or, for Nautilus, which reads none, its «Открыть с помощью
другого приложения» lists the menu's entry, shown and taking a file.

Each desktop is made from Debian's own packages of its file manager, picture
viewer and session (which ships the desktop's defaults list, where there is
one): fetched with `apt-get download`, kept in TARVEK_CACHE, unpacked into a
folder of the check's own, never installed. The programs their entries start
are stubbed in a private PATH, as GIO passes over an entry whose program it
cannot find, and the MIME cache is made as Debian's trigger makes it. For every
MIME type that anything of Tarvek's names, the default is asked of GIO (`gio
mime`, as on that desktop) and of xdg-utils (`xdg-mime query default`, as under
a window manager alone) three times: without Tarvek, with its packages
unpacked, and once they are removed again. All three must agree.

Exits 77, having said why, where the archive cannot be reached."""
import os, re, shutil, subprocess, sys, tempfile
import gi
gi.require_version('Gio', '2.0')
from gi.repository import Gio

DESKTOPS = [  # desktop, XDG_CURRENT_DESKTOP, file manager, packages, (package that reads the entry, folder it reads)
    # A name 'a|b' is the first of them the release has: Debian 13 has KDE's
    # frameworks 6, a newer libfm-qt, and libfm under its 64-bit-time name.
    ('GNOME', 'GNOME', 'Nautilus', ['nautilus', 'eog', 'gnome-session-common'], None),
    ('KDE Plasma', 'KDE', 'Dolphin', ['dolphin', 'gwenview', 'plasma-workspace'], ('libkf6kiowidgets6|libkf5kiowidgets5', 'kio/servicemenus')),
    ('XFCE', 'XFCE', 'Thunar', ['thunar', 'ristretto', 'xfce4-session'], ('thunar', 'Thunar/sendto')),
    ('Cinnamon', 'X-Cinnamon', 'Nemo', ['nemo', 'eog', 'cinnamon-desktop-data'], ('nemo', 'nemo/actions')),
    ('LXQt', 'LXQt', 'PCManFM-Qt', ['pcmanfm-qt', 'lximage-qt', 'lxqt-session'], ('libfm-qt6-17|libfm-qt6-15|libfm-qt12', 'file-manager/actions')),
    ('LXDE', 'LXDE', 'PCManFM', ['pcmanfm', 'gpicview', 'lxde-common'], ('libfm4t64|libfm4', 'file-manager/actions')),
    ('MATE', 'MATE', 'Caja', ['caja', 'eom', 'mate-desktop-common'], ('caja-actions', 'file-manager/actions')),
    ('a window manager alone', '', 'PCManFM', ['pcmanfm', 'feh'], ('libfm4t64|libfm4', 'file-manager/actions')),
]
TYPES = ['inode/directory', 'image/bmp', 'image/x-bmp']

debs = sorted(os.path.join(sys.argv[1], f) for f in os.listdir(sys.argv[1]) if f.endswith('.deb'))
work = tempfile.mkdtemp()
cache = os.path.join(os.environ.get('TARVEK_CACHE') or work, 'desktop-packages')
os.makedirs(cache, exist_ok=True)


def run(*command, **kw):
    return subprocess.run(command, capture_output=True, text=True, **kw)


def release_has(name):
    """The first of the names 'a|b|...' that apt knows a version of, or None."""
    for candidate in name.split('|'):
        if run('apt-cache', 'show', '--no-all-versions', candidate).stdout.strip():
            return candidate
    return None


def fetch(packages):
    """{package: its .deb}, from the cache or the archive; None when unreachable."""
    packages = list(dict.fromkeys(packages))
    uris = run('apt-get', 'download', '--print-uris', *packages)
    names = {n.split('_')[0]: n for n in re.findall(r"^'\S+' (\S+\.deb) ", uris.stdout, re.M)}
    if uris.returncode or sorted(names) != sorted(packages):
        return None
    missing = [p for p in packages if not os.path.exists(os.path.join(cache, names[p]))]
    if missing and run('apt-get', 'download', *missing, cwd=cache).returncode:
        return None
    return {p: os.path.join(cache, names[p]) for p in packages}


def unpack(packages, root):
    for deb in packages:
        subprocess.run(['dpkg-deb', '-x', deb, root], check=True)


def stub_programs(root, stubs):
    """Every program an entry of root's starts, found in stubs: those named by
    a path that does not exist here are pointed there too."""
    apps = os.path.join(root, 'usr/share/applications')
    for name in os.listdir(apps) if os.path.isdir(apps) else []:
        if not name.endswith('.desktop'):
            continue
        path = os.path.join(apps, name)
        with open(path, encoding='utf-8', errors='surrogateescape') as f:
            lines = f.read().split('\n')
        for i, line in enumerate(lines):
            key, _, value = line.partition('=')
            if key not in ('Exec', 'TryExec') or not value:
                continue
            program = value.split()[0].strip('"')
            if os.path.isabs(program) and os.path.exists(program):
                continue
            stub = os.path.join(stubs, os.path.basename(program))
            if not os.path.exists(stub):
                with open(stub, 'w') as f:
                    f.write('#!/bin/sh\nexit 0\n')
                os.chmod(stub, 0o755)
            if os.path.isabs(program):
                lines[i] = line.replace(program, stub, 1)
        with open(path, 'w', encoding='utf-8', errors='surrogateescape') as f:
            f.write('\n'.join(lines))


def defaults(root, desktop, stubs):
    """{(type, 'gio' or 'xdg-mime'): the default application's id}"""
    applications = os.path.join(root, 'usr/share/applications')
    os.makedirs(applications, exist_ok=True)
    subprocess.run(['update-desktop-database', applications], check=True)
    home = os.path.join(work, 'home')
    shutil.rmtree(home, ignore_errors=True)
    os.makedirs(home)
    env = {'PATH': stubs + ':/usr/bin:/bin', 'HOME': home, 'LC_ALL': 'C.UTF-8',
           'XDG_CONFIG_HOME': os.path.join(home, 'config'), 'XDG_DATA_HOME': os.path.join(home, 'data'),
           'XDG_CONFIG_DIRS': os.path.join(root, 'etc/xdg'),
           'XDG_DATA_DIRS': os.path.join(root, 'usr/share') + ':' + os.path.join(work, 'system')}
    found = {}
    for type in TYPES:
        gio = run('gio', 'mime', type, env=dict(env, XDG_CURRENT_DESKTOP=desktop) if desktop else env)
        match = re.search(r'^Default application for .*: (\S+)$', gio.stdout, re.M)
        found[type, 'gio'] = match.group(1) if match else '(none)'
        xdg = run('xdg-mime', 'query', 'default', type, env=env)
        found[type, 'xdg-mime'] = xdg.stdout.strip() or '(none)'
    return found


def reads(package, folder):
    """Whether the unpacked package's files name the folder, in UTF-8 or in UTF-16 as Qt keeps strings."""
    needles = [folder.encode(), folder.encode('utf-16-le')]
    for top, _, files in os.walk(package):
        for name in files:
            path = os.path.join(top, name)
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, 'rb') as f:
                    data = f.read()
                if any(n in data for n in needles):
                    return True
    return False


# The types anything of Tarvek's names are checked too.
names_root = os.path.join(work, 'tarvek')
unpack(debs, names_root)
for top, _, files in os.walk(names_root):
    for name in files:
        path = os.path.join(top, name)
        if os.path.isfile(path) and not os.path.islink(path) and path.endswith(('.desktop', '.nemo_action')):
            with open(path, encoding='utf-8') as f:
                for line in f:
                    key, _, value = line.strip().partition('=')
                    if key.lower() in ('mimetype', 'mimetypes'):
                        TYPES += [t for t in value.split(';') if t and t not in TYPES]
tarvek_files = [os.path.relpath(os.path.join(top, f), names_root) for top, _, fs in os.walk(names_root) for f in fs]
os.makedirs(os.path.join(work, 'system'))  # this machine's shared-mime-info, and nothing else of its own
os.symlink('/usr/share/mime', os.path.join(work, 'system', 'mime'))

failed = []
print(f'{"desktop":24} {"type":16} {"asked of":9} {"without Tarvek":32} {"with it":32} removed again')
for desktop, current, manager, packages, reader in DESKTOPS:
    if reader:
        reader = (release_has(reader[0]) or reader[0], reader[1])
    unknown = [p for p in packages + ([reader[0]] if reader else []) if not release_has(p)]
    if unknown:  # the desktop's packages are named otherwise in this release
        failed.append(f'{desktop}: apt knows no package {", ".join(unknown)} in this release')
        continue
    fetched = fetch(packages + ([reader[0]] if reader else []))
    if fetched is None:
        shutil.rmtree(work, ignore_errors=True)
        print(f'desktop_defaults: SKIPPED: Debian\'s archive cannot be reached for {" ".join(packages)}')
        sys.exit(77)
    root = os.path.join(work, 'root')
    shutil.rmtree(root, ignore_errors=True)
    stubs = os.path.join(work, 'stubs')
    shutil.rmtree(stubs, ignore_errors=True)
    os.makedirs(stubs)
    unpack([fetched[p] for p in packages], root)
    stub_programs(root, stubs)
    before = defaults(root, current, stubs)
    unpack(debs, root)
    stub_programs(root, stubs)
    after = defaults(root, current, stubs)
    os.environ['PATH'] = stubs + ':/usr/bin:/bin'  # where GIO looks for the entry's program
    try:
        menu = Gio.DesktopAppInfo.new_from_filename(os.path.join(root, 'usr/share/applications/invalid.tarvek.tarvek.desktop'))
    except TypeError:  # no such entry, or none GIO takes
        menu = None
    if not reader and not (menu and menu.should_show() and menu.supports_files()):
        failed.append(f'{desktop}: {manager}\'s «Открыть с помощью другого приложения» does not list the menu\'s entry')
    elif not reader:
        print(f'{desktop:24} {manager} lists the menu\'s entry among all applications: shown, and taking a file')
    for name in tarvek_files:  # as dpkg removes them, and its trigger remakes the cache
        os.remove(os.path.join(root, name))
    removed = defaults(root, current, stubs)
    for (type, asked), was in before.items():
        same = was == after[type, asked] == removed[type, asked]
        print(f'{desktop:24} {type:16} {asked:9} {was:32} {after[type, asked]:32} {removed[type, asked]}'
              + ('' if same else '   CHANGED'))
        if not same:
            failed.append(f'{desktop}: {asked} {type}')
    if reader:  # the file manager reads the folder Tarvek's entry for it is in
        package_root = os.path.join(work, 'reader')
        shutil.rmtree(package_root, ignore_errors=True)
        unpack([fetched[reader[0]]], package_root)
        entries = [f for f in tarvek_files if f.startswith(f'usr/share/{reader[1]}/')]
        if not reads(package_root, reader[1]) or not entries:
            failed.append(f'{desktop}: {manager} ({reader[0]}) does not read usr/share/{reader[1]}, or Tarvek has no entry there')
        else:
            print(f'{desktop:24} {manager} reads {reader[1]} ({reader[0]}), where Tarvek has {", ".join(os.path.basename(e) for e in entries)}')
shutil.rmtree(work, ignore_errors=True)
if failed:
    print('desktop_defaults: FAILED:\n  ' + '\n  '.join(failed))
    sys.exit(1)
print('desktop_defaults: no default changed, with Tarvek installed and once removed')
