#!/usr/bin/env python3
"""The main window with a picture opened through File -> Open and the pointer over it, saved as a PNG file."""

import argparse
import os
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e'))
from xsession import Display, Failure, Skip, program_environment  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--display', type=int, help='the X display number (default: a free one)')
    parser.add_argument('program')
    parser.add_argument('picture')
    parser.add_argument('output')
    options = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix='pw-screenshot-') as work:
        display = Display(work, width=1024, height=768, number=options.display)
        process = None
        try:
            with open(os.path.join(work, 'program.log'), 'wb') as log:
                process = display.start([options.program], program_environment(work), log)
            window = display.wait_for_window('Form1')
            display.choose_file(window, 'ctrl+o', 'Open', options.picture)
            # The pointer over the picture fills in the status bar and the label.
            display.focus(window)
            display.xdotool('mousemove', '--window', window, '150', '150')
            time.sleep(1)
            shot = display.grab_window(window)
            shot.save_png(options.output)
            print('%s: the %d x %d window' % (options.output, shot.width, shot.height))
        except (Failure, Skip) as reason:
            print('screenshot: %s' % reason, file=sys.stderr)
            return 1
        finally:
            if process and process.poll() is None:
                process.terminate()
                process.wait(10)
            display.close()
    return 0


if __name__ == '__main__':
    sys.exit(main())
