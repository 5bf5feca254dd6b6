#!/usr/bin/env python3
"""What `cmake --install` lays out: the program, its desktop entry and its icons, as a desktop finds them."""

import os
import shutil
import struct
import subprocess
import sys

# The formats the program opens, as a file manager names them.
OPENED_TYPES = ['image/bmp', 'image/png', 'image/jpeg', 'image/gif', 'image/x-portable-bitmap',
                'image/x-portable-graymap', 'image/x-portable-pixmap', 'image/tiff', 'image/webp',
                'image/vnd.microsoft.icon']


def desktop_entry(path):
    """The keys of the [Desktop Entry] group; repeated keys and stray lines are errors."""
    entry, group = {}, None
    with open(path, encoding='utf-8') as file:
        for number, line in enumerate(file, 1):
            line = line.rstrip('\n')
            if not line or line.startswith('#'):
                continue
            if line.startswith('['):
                group = line
                continue
            key, equals, value = line.partition('=')
            if not equals or group is None:
                raise AssertionError('%s:%d is not a key=value line' % (path, number))
            if group == '[Desktop Entry]':
                if key in entry:
                    raise AssertionError('%s:%d repeats %s' % (path, number, key))
                entry[key] = value
    return entry


def png_size(path):
    with open(path, 'rb') as file:
        head = file.read(24)
    if head[:8] != b'\x89PNG\r\n\x1a\n' or head[12:16] != b'IHDR':
        raise AssertionError('%s is not a PNG file' % path)
    return struct.unpack('>II', head[16:24])


def check(root):
    failures = []

    def expect(condition, message):
        if not condition:
            failures.append(message)

    program = os.path.join(root, 'bin', 'picture-workbench')
    expect(os.path.isfile(program) and os.access(program, os.X_OK), 'no executable bin/picture-workbench')

    path = os.path.join(root, 'share', 'applications', 'picture-workbench.desktop')
    entry = desktop_entry(path)
    for key, value in [('Type', 'Application'), ('Name', 'Picture Workbench'), ('Icon', 'picture-workbench'),
                       ('Terminal', 'false'), ('Categories', 'Graphics;Viewer;')]:
        expect(entry.get(key) == value, '%s is %r, not %r' % (key, entry.get(key), value))
    expect(entry.get('Comment', '').strip(), 'the desktop entry has no Comment')
    # The launcher runs the command by name from the installed bin folder.
    command = entry.get('Exec', '').split()
    expect(command and os.path.basename(command[0]) == 'picture-workbench'
           and os.path.isfile(os.path.join(root, 'bin', command[0])), 'Exec %r is not the installed program' % command)
    types = entry.get('MimeType', '')
    expect(types.endswith(';') and types.rstrip(';').split(';') == OPENED_TYPES,
           'MimeType is %r, not the opened formats %s' % (types, OPENED_TYPES))

    icons = os.path.join(root, 'share', 'icons', 'hicolor')
    for size in (32, 256):
        icon = os.path.join(icons, '%dx%d' % (size, size), 'apps', entry.get('Icon', '?') + '.png')
        if not os.path.isfile(icon):
            failures.append('no icon %s' % icon)
            continue
        expect(png_size(icon) == (size, size), '%s is %d x %d' % ((icon,) + png_size(icon)))

    # Debian's own checker, which the installed entry must satisfy too.
    if shutil.which('desktop-file-validate'):
        done = subprocess.run(['desktop-file-validate', path], capture_output=True, text=True)
        expect(done.returncode == 0 and not done.stdout.strip(), 'desktop-file-validate: ' + done.stdout.strip())
    else:
        print('desktop-file-validate is not installed: the entry was checked by this script only')
    return failures


def main():
    failures = check(sys.argv[1])
    for failure in failures:
        print('FAILED: ' + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
