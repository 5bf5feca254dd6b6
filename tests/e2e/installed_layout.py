#!/usr/bin/env python3
"""What `cmake --install` lays out: the program, its desktop entry, metainfo, manual page and icons, as a desktop finds them."""

import glob
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# Menus and panels take 16 to 24 pixels, docks and launchers the larger ones.
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)

# The formats the program opens, as a file manager and as people name them;
# it saves all but GIF, HEIF, AVIF, JPEG XL and TGA.
OPENED = [('image/bmp', 'BMP'), ('image/png', 'PNG'), ('image/jpeg', 'JPEG'), ('image/gif', 'GIF'),
          ('image/x-portable-bitmap', 'PBM'), ('image/x-portable-graymap', 'PGM'),
          ('image/x-portable-pixmap', 'PPM'), ('image/tiff', 'TIFF'), ('image/webp', 'WebP'),
          ('image/vnd.microsoft.icon', 'ICO'), ('image/heif', 'HEIF'), ('image/avif', 'AVIF'),
          ('image/jxl', 'JPEG XL'), ('image/x-tga', 'TGA')]
OPENED_TYPES = [media_type for media_type, _ in OPENED]
SAVED = [name for _, name in OPENED if name not in ('GIF', 'HEIF', 'AVIF', 'JPEG XL', 'TGA')]
# The manual page's sections, in order.
MANUAL_SECTIONS = ['NAME', 'SYNOPSIS', 'DESCRIPTION', 'ARGUMENTS', 'OPTIONS', 'FORMATS', 'FILES', 'ENVIRONMENT',
                   'EXIT STATUS']


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


def rgba(path):
    """The PNG's pixels as RGBA bytes, decoded by ImageMagick."""
    return subprocess.run(['convert', path, '-depth', '8', 'rgba:-'], capture_output=True, check=True).stdout


def check_icons(icons, name, expect):
    """Each size is its own drawing on a clear background, not one picture enlarged."""
    expect(os.path.isfile(os.path.join(icons, 'scalable', 'apps', name + '.svg')), 'no scalable icon ' + name + '.svg')
    if not shutil.which('convert'):
        expect(False, 'ImageMagick\'s convert is not installed: the icons cannot be looked at')
        return
    pixels = {}
    for size in ICON_SIZES:
        icon = os.path.join(icons, '%dx%d' % (size, size), 'apps', name + '.png')
        if not os.path.isfile(icon):
            expect(False, 'no icon %s' % icon)
            continue
        expect(png_size(icon) == (size, size), '%s is %d x %d' % ((icon,) + png_size(icon)))
        pixels[size] = rgba(icon)
        expect(pixels[size][3] == 0, '%s has no clear corner' % icon)
    # Enlarged from 32 pixels, every 8 x 8 block of the 256-pixel icon would
    # be one colour; drawn at its size, its edges cross blocks.
    big = pixels.get(256)
    if big:
        mixed = 0
        for by in range(32):
            for bx in range(32):
                block = {big[((by * 8 + y) * 256 + bx * 8 + x) * 4:((by * 8 + y) * 256 + bx * 8 + x) * 4 + 4]
                         for y in range(8) for x in range(8)}
                mixed += len(block) > 1
        expect(mixed >= 40, 'the 256-pixel icon looks enlarged: only %d of its 8 x 8 blocks mix colours' % mixed)


def check_documents(root, expect):
    """Debian's copyright file carries the licence; the history is gzipped."""
    doc = os.path.join(root, 'share', 'doc', 'picture-workbench')
    with open(os.path.join(SOURCE, 'LICENSE'), encoding='utf-8') as file:
        licence = file.read()
    expect(licence.startswith('MIT License'), 'LICENSE is not the MIT licence')
    try:
        with open(os.path.join(doc, 'copyright'), encoding='utf-8') as file:
            copyright_text = file.read()
        permission = licence[licence.index('Permission'):].split()
        # Machine-readable: the text follows its short name, lines indented.
        expect(copyright_text.startswith('Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/'),
               'copyright is not in the machine-readable format')
        expect('License: Expat\n' in copyright_text, 'copyright does not name the Expat (MIT) licence')
        body = copyright_text[copyright_text.index('License: Expat'):].split()[2:]
        expect([word for word in body if word != '.'] == permission, 'copyright does not carry the licence\'s text')
    except (OSError, ValueError) as error:
        expect(False, 'copyright: %s' % error)
    try:
        with gzip.open(os.path.join(doc, 'changelog.gz'), 'rt', encoding='utf-8') as file:
            history = file.read()
        expect(history.startswith('picture-workbench (') and '\n -- ' in history,
               'changelog.gz is not a Debian changelog')
    except OSError as error:
        expect(False, 'changelog.gz: %s' % error)


def check_manual(root, expect):
    """The manual page of section 1, compressed as Debian keeps it, without a warning from groff."""
    path = os.path.join(root, 'share', 'man', 'man1', 'picture-workbench.1.gz')
    try:
        with gzip.open(path, 'rb') as file:
            source = file.read()
    except OSError as error:
        expect(False, 'manual page: %s' % error)
        return
    if not shutil.which('groff'):
        expect(False, 'groff (Debian\'s groff-base) is not installed: the manual page cannot be read')
        return
    done = subprocess.run(['groff', '-man', '-ww', '-Tutf8', '-P-cbu'], input=source, capture_output=True,
                          env=dict(os.environ, LC_ALL='C.UTF-8'))
    expect(done.returncode == 0 and not done.stderr.strip(),
           'groff warns of the manual page: ' + done.stderr.decode(errors='replace').strip())
    text = done.stdout.decode(errors='replace')
    headings = [line for line in text.splitlines() if re.fullmatch(r'[A-Z][A-Z ]+', line)]
    expect(headings == MANUAL_SECTIONS, 'the manual page\'s sections are %s, not %s' % (headings, MANUAL_SECTIONS))
    sections = dict(zip(headings, re.split(r'^[A-Z][A-Z ]+$', text, flags=re.M)[1:]))
    expect(re.search(r'picture-workbench \S+ small desktop picture workbench', sections.get('NAME', '')),
           'the manual page\'s NAME does not name the program and say what it is')
    for option in ('--help', '--version'):
        expect(option in sections.get('SYNOPSIS', '') and option in sections.get('OPTIONS', ''),
               'the manual page does not give %s' % option)
    formats = re.findall(r'^ {7}(\S+(?: \S+)?)\s+\*\.[^:]*: opened (and saved|only)', sections.get('FORMATS', ''), flags=re.M)
    expect([name for name, _ in formats] == [name for _, name in OPENED], 'the manual page lists the formats %s' % formats)
    expect([name for name, use in formats if use == 'and saved'] == SAVED,
           'the manual page says these are saved: %s' % [name for name, use in formats if use == 'and saved'])
    expect(re.search(r'^ {7}0 ', sections.get('EXIT STATUS', ''), flags=re.M), 'the manual page gives no exit status')


def check_metainfo(root, entry, expect):
    """The AppStream metainfo, which software centres list programs by: valid, and naming what is installed."""
    found = glob.glob(os.path.join(root, 'share', 'metainfo', '*.metainfo.xml'))
    if len(found) != 1:
        expect(False, 'share/metainfo holds %d metainfo files, not one' % len(found))
        return
    path = found[0]
    component = ElementTree.parse(path).getroot()
    identity = component.findtext('id')
    expect(os.path.basename(path) == '%s.metainfo.xml' % identity, '%s is not named by its id %s' % (path, identity))
    expect(component.get('type') == 'desktop-application', 'the metainfo is not of a desktop application')
    expect(component.findtext('name') == entry.get('Name'), 'the metainfo names %r' % component.findtext('name'))
    launched = component.findtext('launchable[@type="desktop-id"]')
    expect(os.path.isfile(os.path.join(root, 'share', 'applications', launched or '?')),
           'the metainfo launches %r, which is not installed' % launched)
    binary = component.findtext('provides/binary')
    expect(os.path.isfile(os.path.join(root, 'bin', binary or '?')), 'the metainfo provides %r' % binary)
    types = [element.text for element in component.findall('provides/mediatype')]
    expect(types == OPENED_TYPES, 'the metainfo provides the media types %s, not %s' % (types, OPENED_TYPES))
    expect(component.find('releases/release') is not None, 'the metainfo has no release')
    if shutil.which('appstreamcli'):
        # Notes of information are allowed; warnings and errors are not.
        done = subprocess.run(['appstreamcli', 'validate', '--no-net', '--pedantic', '--no-color', path],
                              capture_output=True, text=True)
        complaints = [line for line in done.stdout.splitlines() if re.match(r'[EWP]: ', line)]
        expect(done.returncode == 0 and not complaints, 'appstreamcli validate: ' + done.stdout.strip())
    else:
        expect(False, 'appstreamcli (Debian\'s appstream) is not installed')


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

    # A file manager's "Open with" passes the file in place of %f.
    expect(command[1:] == ['%f'], 'Exec %r does not take a file (%%f)' % entry.get('Exec'))

    check_icons(os.path.join(root, 'share', 'icons', 'hicolor'), entry.get('Icon', '?'), expect)
    check_documents(root, expect)
    check_manual(root, expect)
    check_metainfo(root, entry, expect)

    # Debian's own checker, which the installed entry must satisfy too.
    if shutil.which('desktop-file-validate'):
        done = subprocess.run(['desktop-file-validate', path], capture_output=True, text=True)
        expect(done.returncode == 0 and not done.stdout.strip(), 'desktop-file-validate: ' + done.stdout.strip())
    else:
        expect(False, 'desktop-file-validate (Debian\'s desktop-file-utils) is not installed')
    return failures


def main():
    failures = check(sys.argv[1])
    for failure in failures:
        print('FAILED: ' + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
