#!/usr/bin/python3
"""Reads a program's window over the accessibility bus (AT-SPI), as a screen reader does.
  screen_reader.py tree APP          the tree: one line per object, role|name|relations, indented
  screen_reader.py follow APP LAST   the picture's name at each change, until it reads LAST"""
import sys, time
import pyatspi


def application(name):
    for _ in range(100):
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == name:
                return app
        time.sleep(0.1)
    sys.exit(f"screen_reader: no application {name} on the accessibility bus")


def tree(node, depth=0):
    relations = ','.join(pyatspi.relationToString(r.getRelationType()) for r in node.getRelationSet())
    print('  ' * depth + f'{node.getRoleName()}|{node.name}|{relations}')
    for child in node:
        tree(child, depth + 1)


def follow(app, last):
    picture = pyatspi.findDescendant(app, lambda node: node.getRoleName() == 'image')
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
    what, app = sys.argv[1], application(sys.argv[2])
    tree(app) if what == 'tree' else follow(app, sys.argv[3])
