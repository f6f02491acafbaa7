"""PE backend: runs the 32-bit Windows probe on the DLL under Wine.

The probe (lerpwork-probe.exe, tools/host/ProbeWindows.cpp) is looked for in a
tools/ directory above the library, as the ELF backend does. Wine runs it in
a prefix of the build tree (wineprefix/ next to that tools/ directory), made
on first use, so that nothing depends on a prefix set up by hand; WINEPREFIX
in the environment overrides it."""

import os
import shutil
import struct
import subprocess

from backends import BackendError
from backends.elf import parse

PROBE = 'lerpwork-probe.exe'


def _pe_facts(path):
    """(machine, characteristics, optional-header magic) of a PE file."""
    with open(path, 'rb') as f:
        data = f.read(4096)
    if len(data) < 0x40:
        raise BackendError('truncated DOS header')
    offset = struct.unpack_from('<I', data, 0x3c)[0]
    if offset + 26 > len(data) or data[offset:offset + 4] != b'PE\0\0':
        raise BackendError('no PE signature')
    machine, = struct.unpack_from('<H', data, offset + 4)
    characteristics, = struct.unpack_from('<H', data, offset + 22)
    magic, = struct.unpack_from('<H', data, offset + 24)
    return machine, characteristics, magic


def find_probe(library):
    d = os.path.dirname(os.path.abspath(library))
    while True:
        candidate = os.path.join(d, 'tools', PROBE)
        if os.path.isfile(candidate):
            return candidate
        parent = os.path.dirname(d)
        if parent == d:
            return None
        d = parent


def run(probe, library, timeout=600):
    wine = shutil.which('wine')
    if not wine:
        raise BackendError('wine is not installed (tools/install-deps.sh installs it)')
    env = dict(os.environ, WINEDEBUG='-all')
    if 'WINEPREFIX' not in env:
        env['WINEPREFIX'] = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(probe))), 'wineprefix')
        env.setdefault('WINEARCH', 'win32')
    # No desktop integration or Mono/Gecko prompts in a fresh prefix.
    env.setdefault('WINEDLLOVERRIDES', 'mscoree,mshtml=;winemenubuilder.exe=d')
    try:
        done = subprocess.run([wine, probe, os.path.abspath(library)], capture_output=True, timeout=timeout, env=env)
    except subprocess.TimeoutExpired as e:
        done, out = None, e.stdout or b''
    except OSError as e:
        raise BackendError('cannot run wine: %s' % e.strerror)
    else:
        out = done.stdout
    records = parse(out.decode('latin-1'))
    if not records:
        err = (done.stderr.decode('latin-1').strip().splitlines() or [''])[-1] if done else 'timed out'
        raise BackendError('%s under wine wrote nothing (%s)' % (probe, err or 'exit status %d' % done.returncode))
    if done is None:
        records.append({'record': 'probe-stopped', 'reason': 'timed out'})
    elif done.returncode != 0 and records[-1].get('record') != 'end':
        records.append({'record': 'probe-stopped', 'reason': 'exit status 0x%x' % (done.returncode & 0xffffffff)})
    return records


def records(path, probe=None):
    machine, characteristics, magic = _pe_facts(path)
    if not characteristics & 0x2000:
        raise BackendError('not a DLL (PE characteristics 0x%04x)' % characteristics)
    if machine != 0x14c or magic != 0x10b:
        raise BackendError('PE machine 0x%x is not i386 (only the 32-bit Windows build has a probe)' % machine)
    probe = probe or find_probe(path)
    if not probe:
        raise BackendError('no %s found in a tools/ directory above the library; pass --probe' % PROBE)
    return [(None, run(probe, path))]
