"""A private X display for driving a program from outside: Xvfb, xdotool and screen grabs."""

import ctypes
import os
import select
import shutil
import signal
import subprocess
import time

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
    """One grab of the whole screen, as rows of RGB bytes."""

    def __init__(self, ppm):
        fields = []
        at = 0
        while len(fields) < 4:
            while ppm[at:at + 1].isspace():
                at += 1
            if ppm[at:at + 1] == b'#':
                at = ppm.index(b'\n', at)
                continue
            end = at
            while not ppm[end:end + 1].isspace():
                end += 1
            fields.append(ppm[at:end])
            at = end
        if fields[0] != b'P6' or fields[3] != b'255':
            raise Failure('unexpected screen grab format %r' % fields)
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = ppm[at + 1:]
        if len(self.pixels) < self.width * self.height * 3:
            raise Failure('short screen grab')

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
    """Xvfb on a free display number, and the X clients that talk to it."""

    def __init__(self, work, width=1280, height=1024):
        self.work = work
        if shutil.which('Xvfb') is None:
            raise Skip('Xvfb is not installed')
        read_end, write_end = os.pipe()
        try:
            # -displayfd picks a free display and says which once it accepts clients.
            self.server = subprocess.Popen(
                ['Xvfb', '-displayfd', str(write_end), '-screen', '0', '%dx%dx24' % (width, height),
                 '-nolisten', 'tcp', '-noreset'],
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
        return Screen(self.run('import', '-window', 'root', '-depth', '8', 'ppm:-').stdout)

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
        path = os.path.join(self.work, name)
        self.run('import', '-window', 'root', path, check=False)
        return path
