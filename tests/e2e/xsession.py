#!/usr/bin/env python3
"""A private X display for driving a program from outside: Xvfb, xdotool and screen grabs.

The one place that drives an X display: the end-to-end tests import it, and
scripts run it (`xsession.py show-window --help`) to see a program's window.
"""

import argparse
import ctypes
import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

# CTest's code for a test that could not run here.
SKIP = 77


class Skip(Exception):
    """No X server can be started on this machine."""


class Failure(Exception):
    """What the program showed or did was not what a user expects."""


def _die_with_parent():
    # Children must not outlive the test, even if it is killed outright.
    libc = ctypes.CDLL(None, use_errno=True)
    PR_SET_PDEATHSIG = 1
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def require_tools(*names):
    missing = [name for name in names if shutil.which(name) is None]
    if missing:
        raise Failure('missing tools: ' + ', '.join(missing) + ' (scripts/install-dependencies.sh installs them)')


def wait_until(what, check, timeout, interval=0.05):
    """Polls check() until it returns something true; fails after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        result = check()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure('timed out after %g s waiting for %s' % (timeout, what))
        time.sleep(interval)


class Screen:
    """One grab of the screen, or of a part of it, as rows of RGB bytes."""

    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, bytes(pixels)

    @classmethod
    def from_xwd(cls, dump):
        """The screen from the framebuffer Xvfb keeps as an X window dump (-fbdir): 32-bit pixels, blue first."""
        if len(dump) < 100:
            raise Failure('short screen dump')
        header = struct.unpack('>25I', dump[:100])
        header_size, depth, width, height = header[0], header[3], header[4], header[5]
        byte_order, bits_per_pixel, bytes_per_line, masks, colours = header[7], header[11], header[12], header[14:17], header[19]
        if depth != 24 or bits_per_pixel != 32 or byte_order != 0 or masks != (0xFF0000, 0xFF00, 0xFF):
            raise Failure('unexpected screen dump: depth %d, %d bits a pixel, byte order %d, masks %s'
                          % (depth, bits_per_pixel, byte_order, masks))
        start = header_size + colours * 12
        if len(dump) < start + bytes_per_line * height:
            raise Failure('short screen dump')
        rows = b''.join(dump[start + y * bytes_per_line:start + y * bytes_per_line + width * 4] for y in range(height))
        pixels = bytearray(width * height * 3)
        pixels[0::3], pixels[1::3], pixels[2::3] = rows[2::4], rows[1::4], rows[0::4]
        return cls(width, height, pixels)

    def crop(self, left, top, width, height):
        """The part of the screen in a box, which must lie within it."""
        if left < 0 or top < 0 or left + width > self.width or top + height > self.height:
            raise Failure('%d x %d at %d,%d is not within the %d x %d screen'
                          % (width, height, left, top, self.width, self.height))
        return Screen(width, height, b''.join(self.row(left, y, width) for y in range(top, top + height)))

    def colours(self):
        """How many different colours it shows."""
        return len({self.pixels[at:at + 3] for at in range(0, len(self.pixels), 3)})

    def count(self, rgb):
        """How many pixels are exactly rgb."""
        return self.box_of(rgb, 0, 0, self.width, self.height)[1]

    def save_png(self, path):
        def chunk(kind, data):
            return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
        stride = self.width * 3
        rows = b''.join(b'\0' + self.pixels[y * stride:(y + 1) * stride] for y in range(self.height))
        with open(path, 'wb') as file:
            file.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', self.width, self.height, 8, 2, 0, 0, 0))
                       + chunk(b'IDAT', zlib.compress(rows, 6)) + chunk(b'IEND', b''))
        return path

    def row(self, x, y, count):
        start = (y * self.width + x) * 3
        return self.pixels[start:start + count * 3]

    def box_of(self, rgb, left, top, width, height):
        """Bounding box (x, y, width, height) and count of pixels exactly rgb in a region."""
        needle = bytes(rgb)
        xs, ys, count = [], [], 0
        for y in range(top, min(top + height, self.height)):
            line = self.row(left, y, min(width, self.width - left))
            at = line.find(needle)
            while at >= 0:
                if at % 3 == 0:
                    xs.append(left + at // 3)
                    ys.append(y)
                    count += 1
                    at = line.find(needle, at + 3)
                else:
                    at = line.find(needle, at + 1)
        if not count:
            return None, 0
        return (min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1), count


class Display:
    """Xvfb on a free display number (or the one given), and the X clients that talk to it."""

    def __init__(self, work, width=1280, height=1024, number=None):
        self.work = work
        if shutil.which('Xvfb') is None:
            raise Skip('Xvfb is not installed')
        read_end, write_end = os.pipe()
        try:
            # -displayfd says which display once it accepts clients, and
            # without a number picks a free one. The screen is kept as a
            # file in the work folder, which grabs read; without a pointer
            # drawn into it, which would hide what lies beneath.
            self.server = subprocess.Popen(
                ['Xvfb'] + ([':%d' % number] if number is not None else [])
                + ['-displayfd', str(write_end), '-screen', '0', '%dx%dx24' % (width, height),
                   '-fbdir', work, '-nocursor', '-nolisten', 'tcp', '-noreset'],
                pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, 'xvfb.log'), 'wb'),
                preexec_fn=_die_with_parent)
        except OSError as error:
            raise Skip('cannot run Xvfb: %s' % error)
        finally:
            os.close(write_end)
        number = b''
        deadline = time.monotonic() + 20
        while not number.endswith(b'\n'):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                break
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            self.close()
            raise Skip('Xvfb did not start (see %s)' % os.path.join(work, 'xvfb.log'))
        self.name = ':' + number.strip().decode()
        self.environment = dict(os.environ, DISPLAY=self.name)
        self.environment.pop('XAUTHORITY', None)

    def close(self):
        if self.server.poll() is None:
            self.server.terminate()
            try:
                self.server.wait(5)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()

    def start(self, command, environment, log):
        return subprocess.Popen(command, env=dict(environment, DISPLAY=self.name), stdin=subprocess.DEVNULL,
                                stdout=log, stderr=subprocess.STDOUT, preexec_fn=_die_with_parent)

    def run(self, *arguments, check=True):
        done = subprocess.run(arguments, env=self.environment, stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        if check and done.returncode != 0:
            raise Failure('%s failed: %s' % (' '.join(arguments), done.stderr.decode(errors='replace').strip()))
        return done

    def xdotool(self, *arguments):
        return self.run('xdotool', *arguments).stdout.decode().strip()

    # Windows, found by their exact title.
    def visible_windows(self, title):
        done = self.run('xdotool', 'search', '--onlyvisible', '--name', '^%s$' % title, check=False)
        return done.stdout.decode().split()

    def wait_for_window(self, title, timeout=20):
        return wait_until('a window titled "%s"' % title, lambda: self.visible_windows(title), timeout)[0]

    def wait_for_no_window(self, title, timeout=20):
        wait_until('the window titled "%s" to close' % title, lambda: not self.visible_windows(title), timeout)

    def geometry(self, window):
        values = dict(line.split('=', 1) for line in self.xdotool('getwindowgeometry', '--shell', window).split())
        return int(values['X']), int(values['Y']), int(values['WIDTH']), int(values['HEIGHT'])

    def focus(self, window):
        # Without a window manager nobody else gives a window the keyboard.
        def focused():
            # While the pointer's window has the keyboard xdotool cannot say which.
            done = self.run('xdotool', 'getwindowfocus', check=False)
            if done.returncode == 0 and done.stdout.decode().strip() == window:
                return True
            self.run('xdotool', 'windowfocus', window, check=False)
            return False
        wait_until('keyboard focus on window %s' % window, focused, 10, interval=0.1)

    # Input, as the X server delivers a person's.
    def keys(self, *names):
        self.xdotool('key', '--delay', '40', *names)

    def type(self, text):
        self.xdotool('type', '--delay', '20', text)

    def click(self, x, y):
        self.xdotool('mousemove', str(x), str(y), 'click', '1')

    def grab(self):
        with open(os.path.join(self.work, 'Xvfb_screen0'), 'rb') as file:
            return Screen.from_xwd(file.read())

    def grab_window(self, window):
        return self.grab().crop(*self.geometry(window))

    def choose_file(self, window, shortcut, title, path):
        """Opens a file dialog with a shortcut in a window, types a path into it and waits for it to close."""
        self.focus(window)
        self.keys(shortcut)
        dialog = self.wait_for_window(title)
        self.focus(dialog)
        # The file name box has the keyboard; whatever it holds is replaced.
        self.keys('ctrl+a')
        self.type(path)
        self.keys('Return')
        self.wait_for_no_window(title)

    def describe_windows(self):
        """Every visible window's id, title and geometry, for a failure's report."""
        lines = []
        for window in self.run('xdotool', 'search', '--onlyvisible', '--name', '', check=False).stdout.decode().split():
            name = self.run('xdotool', 'getwindowname', window, check=False).stdout.decode().strip()
            try:
                lines.append('  %s "%s" at %d,%d, %d x %d' % ((window, name) + self.geometry(window)))
            except Failure:
                lines.append('  %s "%s"' % (window, name))
        return '\n'.join(lines)

    def save_grab(self, name):
        try:
            return self.grab().save_png(os.path.join(self.work, name))
        except (OSError, Failure) as error:
            return 'none (%s)' % error


def program_environment(folder, base=None):
    """The environment a program on the display runs in: Qt on X, and folders of its own under `folder` for its
    runtime files and settings, without the desktop's accessibility or session bus."""
    home, runtime = os.path.join(folder, 'home'), os.path.join(folder, 'runtime')
    os.makedirs(home, exist_ok=True)
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    environment = {key: value for key, value in (base or os.environ).items() if not key.startswith(('QT_', 'XDG_'))}
    environment.update(HOME=home, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=os.path.join(home, '.config'),
                       QT_QPA_PLATFORM='xcb', NO_AT_BRIDGE='1', DBUS_SESSION_BUS_ADDRESS='disabled:',
                       LANG='C.UTF-8', LC_ALL='C.UTF-8')
    return environment


def show_window(options):
    """Runs a command on a display of its own until a window with the title shows something; saves its pictures."""
    work = options.work or tempfile.mkdtemp(prefix='pw-xsession-')
    try:
        show_window_in(work, options)
    finally:
        if not options.work:
            shutil.rmtree(work, ignore_errors=True)


def show_window_in(work, options):
    display = Display(work, number=options.display)
    print('Xvfb on %s; the command\'s output goes to %s' % (display.name, options.log), flush=True)
    process = None
    try:
        with open(options.log, 'ab') as log:
            process = display.start(options.command, program_environment(work), log)

        def window():
            # A launcher ends once it has started the program; anything else must run on.
            if not options.launcher and process.poll() is not None:
                raise Failure('%s ended with exit code %d before a window titled "%s" showed'
                              % (options.command[0], process.returncode, options.title))
            found = display.visible_windows(options.title)
            return found[0] if found else None
        shown = wait_until('a window titled "%s"' % options.title, window, options.timeout, interval=1)
        left, top, width, height = display.geometry(shown)
        print('window %s "%s": %d x %d at %d,%d' % (shown, options.title, width, height, left, top), flush=True)

        # Drawn once it shows more than a few colours, and the colour asked for.
        def drawn():
            grab = display.grab_window(shown)
            coloured = not options.colour or grab.count(options.colour) >= options.at_least
            return grab if coloured and grab.colours() >= 8 else None
        try:
            grab = wait_until('the window to show its contents', drawn, 30, interval=0.5)
        finally:
            if options.screen:
                display.grab().save_png(options.screen)
        if options.window_picture:
            grab.save_png(options.window_picture)
        print('it shows %d colours%s' % (grab.colours(), ', %d pixels of #%02x%02x%02x'
                                         % ((grab.count(options.colour),) + tuple(options.colour))
                                         if options.colour else ''))
    finally:
        if process and process.poll() is None:
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        display.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest='action', required=True)
    show = commands.add_parser('show-window', help=show_window.__doc__)
    show.add_argument('--title', default='Form1', help='the window\'s exact title (default: %(default)s)')
    show.add_argument('--timeout', type=float, default=60, help='seconds to wait for the window (default: %(default)s)')
    show.add_argument('--launcher', action='store_true', help='the command ends once it has started the program')
    show.add_argument('--log', default=os.devnull, help='where the command\'s output goes')
    show.add_argument('--work', help='a folder for the display\'s files (default: a new one)')
    show.add_argument('--display', type=int, help='the display number (default: a free one)')
    show.add_argument('--screen', help='a PNG file for the whole screen')
    show.add_argument('--window-picture', help='a PNG file for the window')
    show.add_argument('--colour', type=lambda text: tuple(bytes.fromhex(text)), help='RRGGBB: a colour the window '
                      'must show, at least --at-least pixels of it')
    show.add_argument('--at-least', type=int, default=1)
    show.add_argument('command', nargs='+', help='the command, after --')
    options = parser.parse_args()
    try:
        show_window(options)
    except (Failure, Skip) as reason:
        print('xsession: %s' % reason, file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
