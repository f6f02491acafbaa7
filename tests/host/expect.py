#!/usr/bin/python3
"""Runs lerpwork-host on one library and requires a specific outcome.

  expect.py HOST [--probe PROBE] LIBRARY --all-pass
  expect.py HOST [--probe PROBE] LIBRARY --check NAME --result RESULT --detail REGEX
  expect.py HOST [--probe PROBE] LIBRARY --error REGEX
  ... --text PACKAGE ROW FIELD HEX

--text also requires the field of that function row in the host view to be
exactly the bytes HEX (texts in the view decode as Latin-1).

--all-pass: exit status 0 and every check passed. --check: exit status 1 and
the named check has that result with a detail matching REGEX (re.search).
--error: exit status 2 and exactly one line on stderr, matching REGEX. In
every mode the readable listing must come out too, with the same status, and
no run may end in a Python traceback.
"""

import argparse
import json
import re
import subprocess
import sys


def run(command):
    done = subprocess.run(command, capture_output=True, text=True, encoding='latin-1', timeout=600)
    if 'Traceback' in done.stderr:
        sys.exit('lerpwork-host ended in a traceback:\n' + done.stderr)
    return done


def main():
    p = argparse.ArgumentParser()
    p.add_argument('host')
    p.add_argument('library')
    p.add_argument('--probe')
    mode = p.add_mutually_exclusive_group(required=True)
    mode.add_argument('--all-pass', action='store_true')
    mode.add_argument('--check')
    mode.add_argument('--error')
    p.add_argument('--result', default='failed')
    p.add_argument('--detail', default='')
    p.add_argument('--text', nargs=4, metavar=('PACKAGE', 'ROW', 'FIELD', 'HEX'))
    a = p.parse_args()
    base = [a.host] + (['--probe', a.probe] if a.probe else [])

    listing = run(base + [a.library])
    if a.error:
        lines = listing.stderr.splitlines()
        if listing.returncode != 2 or len(lines) != 1 or not re.search(a.error, lines[0]):
            sys.exit('expected exit status 2 and one line matching %r, got status %d and:\n%s%s' % (
                a.error, listing.returncode, listing.stderr, listing.stdout))
        print(lines[0])
        return

    done = run(base + ['--json', a.library])
    if done.returncode != listing.returncode:
        sys.exit('--json exited %d, the listing %d' % (done.returncode, listing.returncode))
    try:
        document = json.loads(done.stdout)
    except ValueError:
        sys.exit('no JSON document (status %d):\n%s' % (done.returncode, done.stderr))
    checks = {c['name']: c for c in document['checks']}
    if a.text:
        package, row, field, want = a.text
        got = document['view']['packages'][int(package)]['functions'][int(row)][field]
        if got is None or got.encode('latin-1').hex() != want:
            sys.exit('function row %s of package %s: %s is %r, expected the bytes %s' % (row, package, field, got, want))

    if a.all_pass:
        bad = [c for c in document['checks'] if c['result'] != 'passed']
        if done.returncode != 0 or bad:
            sys.exit('expected every check to pass (status %d):\n%s' % (
                done.returncode, '\n'.join('%s %s: %s' % (c['result'], c['name'], c['details'][:3]) for c in bad)))
        print(listing.stdout.splitlines()[-1])
        return

    c = checks.get(a.check)
    if c is None:
        sys.exit('no check named %s' % a.check)
    if done.returncode != 1:
        sys.exit('expected exit status 1, got %d' % done.returncode)
    if c['result'] != a.result or not any(re.search(a.detail, d) for d in c['details']):
        sys.exit('expected %s %s with a detail matching %r, got %s:\n%s' % (
            a.result, a.check, a.detail, c['result'], '\n'.join(c['details'][:10])))
    print('%s %s: %s' % (c['result'], c['name'], next(d for d in c['details'] if re.search(a.detail, d))))


if __name__ == '__main__':
    main()
