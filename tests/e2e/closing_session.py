#!/usr/bin/env python3
"""Closing the installed program on a real X display while it saves: by a stop signal, and by the window manager's
close of its window behind the progress dialog. Either way the save is finished, whole, and then the program ends."""

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

# No compiled files in the source tree.
sys.dont_write_bytecode = True
from desktop_session import Session
from xsession import SKIP, Display, Failure, Skip, require_tools, wait_until

TOTAL_SECONDS = 150
SIDE = 300
MAGENTA = bytes((255, 0, 255))


def magenta_bmp(path):
    """A 24-bit BMP, SIDE x SIDE magenta: larger than a pipe holds, so that its save waits for the reader."""
    row = MAGENTA[::-1] * SIDE
    pixels = row * SIDE
    header = struct.pack('<2sIHHI', b'BM', 54 + len(pixels), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, SIDE, SIDE, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, 'wb') as file:
        file.write(header + info + pixels)


class _ClientMessage(ctypes.Structure):
    _fields_ = [('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
                ('display', ctypes.c_void_p), ('window', ctypes.c_ulong), ('message_type', ctypes.c_ulong),
                ('format', ctypes.c_int), ('data', ctypes.c_long * 5)]


class _Event(ctypes.Union):
    _fields_ = [('xclient', _ClientMessage), ('pad', ctypes.c_long * 24)]


def close_as_a_window_manager(display_name, window):
    """Asks a window to close as a window manager's close button does: WM_DELETE_WINDOW in a WM_PROTOCOLS message."""
    x11 = ctypes.CDLL('libX11.so.6')
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(_Event)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    connection = x11.XOpenDisplay(display_name.encode())
    if not connection:
        raise Failure('cannot connect to %s to close a window' % display_name)
    try:
        event = _Event()
        message = event.xclient
        message.type = 33  # ClientMessage
        message.window = int(window)
        message.message_type = x11.XInternAtom(connection, b'WM_PROTOCOLS', 0)
        message.format = 32
        message.data[0] = x11.XInternAtom(connection, b'WM_DELETE_WINDOW', 0)
        x11.XSendEvent(connection, int(window), 0, 0, ctypes.byref(event))
        x11.XFlush(connection)
    finally:
        x11.XCloseDisplay(connection)


def read_to_end(fd, timeout):
    """Everything written to a pipe until its writer closes it."""
    data = b''
    deadline = time.monotonic() + timeout
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            raise Failure('the save was still writing after %g s' % timeout)
        if not select.select([fd], [], [], left)[0]:
            continue
        chunk = os.read(fd, 65536)
        if not chunk:
            return data
        data += chunk


def save_into_a_pipe_and_close(display, program, folder, picture, close):
    """Saves the picture into a pipe nobody reads yet, closes the program with close(session) while the progress
    dialog is up, then reads the pipe: the program must finish the save whole and end with status 0."""
    target = os.path.join(folder, 'saved.bmp')
    os.mkfifo(target)
    reader = os.open(target, os.O_RDONLY | os.O_NONBLOCK)
    session = None
    try:
        session = Session(display, program, folder, [picture])
        session.wait_for_magenta(SIDE, SIDE)
        display.focus(session.window)
        display.keys('ctrl+s')
        dialog = display.wait_for_window('Save As')
        display.focus(dialog)
        display.keys('ctrl+a')
        display.type(target)
        display.keys('Return')
        # The pipe exists: the dialog asks whether to replace it.
        question = wait_until('the question whether to replace saved.bmp',
                              lambda: [w for w in display.visible_windows('Save As') if w != dialog], 20)[0]
        display.focus(question)
        display.keys('alt+y')
        display.wait_for_window('Picture Workbench')
        session.step('saving into a pipe nobody reads: the progress dialog is up')
        close(session)
        time.sleep(0.5)
        session.step('asked to close; still saving')
        data = read_to_end(reader, 30)
        try:
            code = session.process.wait(20)
        except subprocess.TimeoutExpired:
            raise Failure('the program is still running 20 s after its save ended')
        if code != 0:
            raise Failure('the program ended with exit code %d' % code)
        decoded = subprocess.run(['convert', 'bmp:-', '-depth', '8', 'rgb:-'], input=data, capture_output=True).stdout
        if decoded != MAGENTA * (SIDE * SIDE):
            raise Failure('the saved picture is not the whole magenta picture (%d bytes saved)' % len(data))
        session.step('the save ended whole, then the program with exit code 0', running=False)
    finally:
        os.close(reader)
        os.unlink(target)
        if session and session.process.poll() is None:
            session.process.kill()
            session.process.wait()


def run(program, folder, work):
    display = Display(work)
    try:
        picture = os.path.join(folder, 'magenta.bmp')
        magenta_bmp(picture)
        save_into_a_pipe_and_close(display, program, folder, picture,
                                   lambda session: session.process.send_signal(signal.SIGTERM))
        save_into_a_pipe_and_close(display, program, folder, picture,
                                   lambda session: close_as_a_window_manager(display.name, session.window))
    except Failure:
        print('windows at the failure:\n' + display.describe_windows(), file=sys.stderr)
        print('screen at the failure: ' + display.save_grab('failure.png'), file=sys.stderr)
        raise
    finally:
        display.close()
        log = os.path.join(work, 'program.log')
        if os.path.exists(log):
            with open(log, 'rb') as file:
                text = file.read().decode(errors='replace').strip()
            if text:
                print('the program printed:\n' + text)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--prefix', required=True, help='where the program is installed (bin/picture-workbench)')
    parser.add_argument('--work', required=True, help='a folder for logs and the screen at a failure')
    options = parser.parse_args()
    program = os.path.join(options.prefix, 'bin', 'picture-workbench')

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
    print('Closed while saving, the program finished the save whole and then ended.')
    return 0


if __name__ == '__main__':
    sys.exit(main())
