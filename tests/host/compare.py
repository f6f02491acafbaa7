#!/usr/bin/python3
"""Compares the host views of libraries with compare-views.

  compare.py HOST COMPARE LIBRARY OTHER... [--expect-difference REGEX]

The first library must exist; of the others, those that are missing (a
preset not built yet) are left out, and with none left the test is skipped
(exit status 77). Without --expect-difference every view must equal the
first; with it compare-views must report a difference matching REGEX.
"""

import os
import re
import subprocess
import sys
import tempfile


def main(argv):
    expect = None
    if '--expect-difference' in argv:
        i = argv.index('--expect-difference')
        expect = argv[i + 1]
        argv = argv[:i] + argv[i + 2:]
    host, compare, first, others = argv[0], argv[1], argv[2], [p for p in argv[3:] if os.path.exists(p)]
    if not others:
        print('no other build to compare with')
        return 77
    with tempfile.TemporaryDirectory() as d:
        views = []
        for n, library in enumerate([first] + others):
            done = subprocess.run([host, '--json', library], capture_output=True, text=True)
            if done.returncode not in (0, 1) or not done.stdout:
                print('lerpwork-host failed on %s: %s' % (library, done.stderr))
                return 1
            views.append(os.path.join(d, '%d.json' % n))
            with open(views[-1], 'w') as f:
                f.write(done.stdout)
        done = subprocess.run([compare] + views, capture_output=True, text=True)
    sys.stdout.write(done.stdout + done.stderr)
    if expect is None:
        return done.returncode
    if done.returncode == 1 and re.search(expect, done.stdout):
        return 0
    print('expected a difference matching %r' % expect)
    return 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
