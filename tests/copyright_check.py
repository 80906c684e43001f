#!/usr/bin/env python3
"""copyright_check.py TARBALL DEBIAN_COPYRIGHT DEP5: every file of the upstream
tarball has the same licence in debian/copyright, under Debian's names of the
licences, as in the project's REUSE data, .reuse/dep5, under SPDX identifiers;
in both, the last Files paragraph whose patterns match a file decides, as the
copyright format says. Prints each file on which they differ; exit 1 if one does."""
import re
import sys
import tarfile

SPDX_OF_DEBIAN_NAME = {'Expat': 'MIT'}


def paragraphs(path):
    """(patterns, licence expression) of each Files paragraph, in order."""
    found = []
    for paragraph in open(path, encoding='utf-8').read().split('\n\n'):
        fields, key = {}, None
        for line in paragraph.splitlines():
            if line[:1] in (' ', '\t') and key:
                fields[key].append(line.strip())
            elif ':' in line:
                key, _, value = line.partition(':')
                fields[key] = [value.strip()]
        if 'Files' in fields:
            patterns = ' '.join(fields['Files']).split()
            found.append(([re.compile(re.escape(p).replace(r'\*', '.*').replace(r'\?', '.')) for p in patterns],
                          fields['License'][0]))
    return found


def licence(files, name):
    matching = [expression for patterns, expression in files if any(p.fullmatch(name) for p in patterns)]
    return matching[-1] if matching else None


def spdx(expression):
    return ' '.join(SPDX_OF_DEBIAN_NAME.get(word, word) for word in expression.split()) if expression else None


tarball, debian, reuse = sys.argv[1:4]
debian_files, reuse_files = paragraphs(debian), paragraphs(reuse)
with tarfile.open(tarball) as archive:
    names = [m.name.split('/', 1)[1] for m in archive.getmembers() if m.isfile()]
differ = 0
for name in names:
    ours, theirs = spdx(licence(debian_files, name)), licence(reuse_files, name)
    if ours is None or ours != theirs:
        print(f'{name}: debian/copyright says {ours}, .reuse/dep5 says {theirs}')
        differ += 1
print(f'{len(names)} files of the upstream tarball, {differ} differing')
sys.exit(1 if differ or not names else 0)
