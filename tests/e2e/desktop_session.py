#!/usr/bin/env python3
"""The installed program on a real X display, driven by keyboard and mouse from outside like a person would."""

import argparse
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

# No compiled files in the source tree.
sys.dont_write_bytecode = True
from xsession import SKIP, Display, Failure, Skip, program_environment, require_tools, wait_until

MAGENTA = (255, 0, 255)
MENUS = ['File', 'Edit', 'View', 'Image Processing', 'Help']
# Image1 stands at (16, 32) in the client area, below the menu bar; the
# zoom box at (16, 8), 145 x 21.
IMAGE_LEFT, IMAGE_TOP = 16, 32
ZOOM_BOX_ARROW = (16 + 145 - 8, 8 + 10)
TOTAL_SECONDS = 150


def grey_bmp(width, height, rows):
    """An 8-bit BMP whose palette index i is grey i, bottom-up rows padded to 4 bytes."""
    stride = (width + 3) // 4 * 4
    palette = b''.join(bytes((i, i, i, 0)) for i in range(256))
    pixels = b''.join(bytes(rows[y]) + bytes(stride - width) for y in reversed(range(height)))
    offset = 14 + 40 + len(palette)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 8, 0, len(pixels), 2835, 2835, 256, 256)
    return header + info + palette + pixels


def bmp_bits_per_pixel(path):
    with open(path, 'rb') as file:
        head = file.read(30)
    if head[:2] != b'BM' or len(head) < 30:
        raise Failure('%s is not a BMP file' % path)
    return struct.unpack_from('<H', head, 28)[0]


# What each command does to the row bytes of an 8-bit picture.
def complement(rows):
    return [[255 - v for v in row] for row in rows]


def edge_detection(rows):
    height, width = len(rows), len(rows[0])
    out = []
    for y in range(height):
        line = []
        for x in range(width):
            block = sum(rows[(y + dy) % height][(x + dx) % width] for dy in (-1, 0, 1) for dx in (-1, 0, 1))
            line.append(min(255, max(0, 9 * rows[y][x] - block)))
        out.append(line)
    return out


def mirror(rows):
    return [list(reversed(row)) for row in rows]


# The board transparent pixels are drawn over: squares of 8 pixels fixed to
# the image control, light where (x // 8 + y // 8) is even.
CHECKER_SIDE, CHECKER_LIGHT, CHECKER_DARK = 8, 0xCC, 0x99


def checker(x, y):
    return CHECKER_DARK if (x // CHECKER_SIDE + y // CHECKER_SIDE) % 2 else CHECKER_LIGHT


def over(colour, alpha, board):
    return tuple((c * alpha + board * (255 - alpha) + 127) // 255 for c in colour)


def transparent_png(path, width, height):
    """A picture whose top 8 rows are opaque magenta; below, the left half is clear (storing green), the right half
    half-clear red. Gives the rows the screen should show at its own size."""
    pixels, shown = bytearray(), []
    for y in range(height):
        line = []
        for x in range(width):
            if y < 8:
                rgba, seen = MAGENTA + (255,), MAGENTA
            elif x < width // 2:
                rgba, seen = (0, 255, 0, 0), (checker(x, y),) * 3
            else:
                rgba, seen = (255, 0, 0, 128), over((255, 0, 0), 128, checker(x, y))
            pixels += bytes(rgba)
            line.append(seen)
        shown.append(line)
    subprocess.run(['convert', '-size', '%dx%d' % (width, height), '-depth', '8', 'rgba:-', 'png32:' + path],
                   input=bytes(pixels), check=True)
    return shown


def launcher_command(prefix, path):
    """The installed desktop entry's Exec line with %f replaced by path, as a desktop's "Open with" runs it."""
    entry = os.path.join(prefix, 'share', 'applications', 'picture-workbench.desktop')
    with open(entry, encoding='utf-8') as file:
        execs = [line.strip()[len('Exec='):] for line in file if line.startswith('Exec=')]
    if len(execs) != 1 or '%f' not in execs[0].split():
        raise Failure('the desktop entry\'s Exec %r does not take a file' % execs)
    command = [path if word == '%f' else word for word in execs[0].split()]
    # Found on the PATH, as the launcher finds it.
    command[0] = shutil.which(command[0], path=os.path.join(prefix, 'bin')) or command[0]
    return command


class Session:
    def __init__(self, display, program, folder, arguments=()):
        self.display = display
        self.folder = folder
        self.log_path = os.path.join(display.work, 'program.log')
        self.process = display.start([program] + list(arguments), program_environment(folder),
                                     open(self.log_path, 'ab'))
        self.window = display.wait_for_window('Form1')
        self.left, self.top, self.width, self.height = display.geometry(self.window)
        self.origin = None
        self.menus = None

    def alive(self):
        if self.process.poll() is not None:
            raise Failure('the program ended early with exit code %d' % self.process.returncode)

    def step(self, text, running=True):
        if running:
            self.alive()
        print('%7.2f s  %s' % (time.monotonic() - STARTED, text), flush=True)

    def choose_file(self, shortcut, title, path):
        self.display.choose_file(self.window, shortcut, title, path)

    def popups(self):
        # Menus and lists pop up as windows of the program's class, untitled
        # but for the name Qt gives them: the program's.
        windows = self.display.run('xdotool', 'search', '--onlyvisible', '--classname', '^picture-workbench$',
                                   check=False).stdout.decode().split()
        return [window for window in windows
                if self.display.run('xdotool', 'getwindowname', window, check=False).stdout.decode().strip()
                == 'Picture Workbench']

    def wait_for_popups(self, count):
        wait_until('%d pop-up window(s)' % count, lambda: len(self.popups()) == count, 20)

    def menu(self, title, *keys):
        """Clicks a title on the menu bar, then types keys into the menu once it is up."""
        self.display.focus(self.window)
        self.display.click(self.menus[title], self.top + self.menu_bar_height // 2)
        if keys:
            # Keys typed before the menu is up would go to the window beneath.
            self.wait_for_popups(1)
            self.display.keys(*keys)

    def wait_for_picture(self, what, rows, timeout=20, scale=1):
        """Waits until the screen shows rows (grey levels or RGB triples) at the picture's place, pixel for pixel,
        each pixel as a scale x scale square."""
        def rgb(v):
            return bytes(v) if isinstance(v, tuple) else bytes((v, v, v))
        expected = [b''.join(rgb(v) * scale for v in row) for row in rows for _ in range(scale)]
        width = len(rows[0]) * scale

        def shown():
            screen = self.display.grab()
            x, y = self.origin
            return all(screen.row(x, y + i, width) == line for i, line in enumerate(expected))
        wait_until('the picture to show ' + what, shown, timeout, interval=0.1)

    def wait_for_magenta(self, width, height, timeout=20):
        """Waits until a magenta box of the given size is in the window; returns its top-left corner."""
        def found():
            box, count = self.display.grab().box_of(MAGENTA, self.left, self.top, self.width, self.height)
            if box and box[2:] == (width, height) and count == width * height:
                return box[:2]
            return None
        return wait_until('a %d x %d magenta picture' % (width, height), found, timeout, interval=0.1)

    def choose_zoom(self, *keys):
        """Opens the zoom box's list with the mouse, then types keys into it."""
        self.display.focus(self.window)
        self.display.click(self.origin[0] - IMAGE_LEFT + ZOOM_BOX_ARROW[0],
                           self.origin[1] - IMAGE_TOP + ZOOM_BOX_ARROW[1])
        self.wait_for_popups(1)
        self.display.keys(*keys)
        self.wait_for_popups(0)

    def find_menus(self):
        """The menu bar's titles: runs of dark text pixels in the strip above the client area."""
        screen = self.display.grab()
        columns = []
        for x in range(self.left, self.left + self.width):
            for y in range(self.top, self.top + self.menu_bar_height):
                if max(screen.row(x, y, 1)) < 110:
                    columns.append(x)
                    break
        runs = []
        for x in columns:
            if runs and x - runs[-1][1] <= 8:
                runs[-1][1] = x
            else:
                runs.append([x, x])
        if len(runs) != len(MENUS):
            raise Failure('expected the menu bar to show %d titles, found %d text runs at %s'
                          % (len(MENUS), len(runs), runs))
        return {title: (start + end) // 2 for title, (start, end) in zip(MENUS, runs)}


def run(program, folder, work):
    display = Display(work)
    session = None
    try:
        session = Session(display, program, folder)
        s = session
        s.step('main window is up at %d,%d, %d x %d' % (s.left, s.top, s.width, s.height))

        # A magenta picture first: easy to find, so it tells where the image control is.
        subprocess.run(['convert', '-size', '60x40', 'xc:#ff00ff', os.path.join(folder, 'magenta.png')], check=True)
        s.choose_file('ctrl+o', 'Open', os.path.join(folder, 'magenta.png'))
        s.origin = s.wait_for_magenta(60, 40)
        s.step('opened magenta.png with Ctrl+O: shown 60 x 40 at %d,%d' % s.origin)
        if s.origin[0] - s.left != IMAGE_LEFT:
            raise Failure('the picture starts %d pixels from the window\'s left, not %d'
                          % (s.origin[0] - s.left, IMAGE_LEFT))
        s.menu_bar_height = s.origin[1] - s.top - IMAGE_TOP
        if not 10 <= s.menu_bar_height <= 60:
            raise Failure('the picture starts %d pixels from the window\'s top' % (s.origin[1] - s.top))
        s.menus = s.find_menus()

        # The zoom box: its list opened with the mouse, 200% two entries below 100%.
        s.choose_zoom('Down', 'Down', 'Return')
        at = s.wait_for_magenta(120, 80)
        if at != s.origin:
            raise Failure('at 200%% the picture moved from %s to %s' % (s.origin, at))
        s.step('chose 200% in the zoom box: shown 120 x 80')

        # An 8-bit grey picture through the processing commands.
        rng = random.Random(20240607)
        width, height = 37, 23
        picture = [[min(255, max(0, 96 + 2 * x + y + rng.randint(-24, 24))) for x in range(width)]
                   for y in range(height)]
        source = os.path.join(folder, 'grey.bmp')
        with open(source, 'wb') as file:
            file.write(grey_bmp(width, height, picture))
        source_bytes = open(source, 'rb').read()
        s.choose_file('ctrl+o', 'Open', source)
        s.wait_for_picture('grey.bmp at its own size', picture)
        s.step('opened grey.bmp with Ctrl+O: shown at its own size')

        # The box still reads 200%: choosing it again applies it; 100% goes back.
        s.choose_zoom('Return')
        s.wait_for_picture('grey.bmp at 200%', picture, scale=2)
        s.step('chose 200% again in the zoom box: shown at twice its size')
        s.choose_zoom('Up', 'Up', 'Return')
        s.wait_for_picture('grey.bmp at 100%', picture)
        s.step('chose 100%: shown at its own size')

        expected = complement(picture)
        s.menu('Image Processing', 'Down', 'Return')
        s.wait_for_picture('its complement', expected)
        s.step('Image Processing -> Complement')

        expected = edge_detection(expected)
        s.menu('Image Processing', 'Down', 'Down', 'Down', 'Return')
        s.wait_for_picture('its edges', expected)
        s.step('Image Processing -> Edge Detection')

        expected = mirror(expected)
        s.menu('View', 'Down', 'Return')
        s.wait_for_picture('its mirror image', expected)
        s.step('View -> Flip/Rotate')

        saved = os.path.join(folder, 'result.bmp')
        s.choose_file('ctrl+s', 'Save As', saved)
        wait_until('result.bmp to be written', lambda: os.path.exists(saved), 20)
        if bmp_bits_per_pixel(saved) != 8:
            raise Failure('result.bmp has %d bits a pixel, not 8' % bmp_bits_per_pixel(saved))
        # ImageMagick reads the file back, independently of the program.
        decoded = subprocess.run(['convert', saved, '-depth', '8', 'rgb:-'], capture_output=True, check=True).stdout
        if len(decoded) != width * height * 3:
            raise Failure('result.bmp does not hold a %d x %d picture' % (width, height))
        for y in range(height):
            for x in range(width):
                got = tuple(decoded[(y * width + x) * 3:(y * width + x) * 3 + 3])
                if got != (expected[y][x],) * 3:
                    raise Failure('result.bmp at (%d, %d) is %s, not grey %d' % (x, y, got, expected[y][x]))
        if open(source, 'rb').read() != source_bytes:
            raise Failure('grey.bmp was changed')
        s.step('saved result.bmp with Ctrl+S: every pixel as expected')

        s.menu('Help')
        dialog = s.display.wait_for_window('Dialog')
        size = s.display.geometry(dialog)[2:]
        if size != (384, 179):
            raise Failure('the help dialog is %d x %d, not 384 x 179' % size)
        s.display.focus(dialog)
        s.display.keys('Return')
        s.display.wait_for_no_window('Dialog')
        s.step('Help shows "Dialog"; Enter closes it')

        # File: Open, Close (disabled, skipped), Save, Exit; then its submenu.
        s.menu('File', 'Down', 'Down', 'Down', 'Right')
        s.wait_for_popups(2)
        s.display.keys('Down', 'Return')
        try:
            code = s.process.wait(20)
        except subprocess.TimeoutExpired:
            raise Failure('the program is still running 20 s after File -> Exit -> Exit without Saving')
        if code != 0:
            raise Failure('the program ended with exit code %d' % code)
        s.step('File -> Exit -> Exit without Saving: ended with exit code 0', running=False)

        # "Open with": the desktop entry's command with a transparent picture.
        clear = os.path.join(folder, 'clear.png')
        shown = transparent_png(clear, 48, 32)
        command = launcher_command(PREFIX, clear)
        session = Session(display, command[0], folder, command[1:])
        s = session
        s.step('started as "Open with" does: %s' % ' '.join(command))
        s.origin = s.wait_for_magenta(48, 8)
        if s.origin[0] - s.left != IMAGE_LEFT:
            raise Failure('the picture starts %d pixels from the window\'s left, not %d'
                          % (s.origin[0] - s.left, IMAGE_LEFT))
        s.wait_for_picture('clear.png over the checkerboard', shown)
        s.step('clear.png is shown at its own size, clear pixels over the checkerboard, half-clear ones blended')
        s.process.terminate()
        s.process.wait(20)
    except Failure:
        print('windows at the failure:\n' + display.describe_windows(), file=sys.stderr)
        print('screen at the failure: ' + display.save_grab('failure.png'), file=sys.stderr)
        raise
    finally:
        if session and session.process.poll() is None:
            session.process.kill()
            session.process.wait()
        display.close()
        if session:
            with open(session.log_path, 'rb') as log:
                text = log.read().decode(errors='replace').strip()
            if text:
                print('the program printed:\n' + text)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--prefix', required=True, help='where the program is installed (bin/picture-workbench)')
    parser.add_argument('--work', required=True, help='a folder for logs and the screen at a failure')
    options = parser.parse_args()
    program = os.path.join(options.prefix, 'bin', 'picture-workbench')
    global PREFIX
    PREFIX = options.prefix

    def out_of_time(*_):
        raise Failure('the whole session took longer than %d s' % TOTAL_SECONDS)
    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(TOTAL_SECONDS)

    shutil.rmtree(options.work, ignore_errors=True)
    os.makedirs(options.work)
    try:
        require_tools('xdotool', 'convert')
        if not os.access(program, os.X_OK):
            raise Failure('%s is not an installed program' % program)
        # Short paths without odd characters: they are typed into the file dialog.
        with tempfile.TemporaryDirectory(prefix='pw-e2e-') as folder:
            run(program, folder, options.work)
    except Skip as reason:
        print('SKIP: no X server can be started here: %s' % reason)
        return SKIP
    except Failure as reason:
        print('FAILED: %s' % reason, file=sys.stderr)
        return 1
    print('The desktop session went as a person would expect.')
    return 0


STARTED = time.monotonic()
PREFIX = None

if __name__ == '__main__':
    sys.exit(main())
