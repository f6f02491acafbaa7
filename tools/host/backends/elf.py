"""ELF backend: runs the Linux probe of the library's width on it."""

import json
import os
import struct
import subprocess

from backends import BackendError

PROBE = 'lerpwork-probe'


def _elf_facts(path):
    """(class bits, file type, machine) of an ELF file."""
    with open(path, 'rb') as f:
        head = f.read(20)
    if len(head) < 20:
        raise BackendError('truncated ELF header')
    bits = 32 if head[4] == 1 else 64
    endian = '<' if head[5] == 1 else '>'
    e_type, e_machine = struct.unpack(endian + 'HH', head[16:20])
    return bits, e_type, e_machine


def find_probe(library, bits):
    """The probe of the given width next to the library's build tree: the
    nearest parent directory holding tools/lerpwork-probe of that width."""
    d = os.path.dirname(os.path.abspath(library))
    while True:
        candidate = os.path.join(d, 'tools', PROBE)
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            try:
                if _elf_facts(candidate)[0] == bits:
                    return candidate
            except (OSError, BackendError):
                pass
        parent = os.path.dirname(d)
        if parent == d:
            return None
        d = parent


def parse(text):
    """Records of a probe's output; a last line cut short by a dying probe is dropped."""
    records = []
    for line in text.splitlines():
        line = line.strip()
        if not line:
            continue
        try:
            records.append(json.loads(line))
        except ValueError:
            break
    return records


def run(probe, library, timeout=300):
    """Runs a probe on a library and returns its records; raises BackendError when it wrote none."""
    try:
        done = subprocess.run([probe, os.path.abspath(library)], capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired as e:
        done = None
        out = e.stdout or b''
    except OSError as e:
        raise BackendError('cannot run %s: %s' % (probe, e.strerror))
    else:
        out = done.stdout
    records = parse(out.decode('latin-1'))
    if not records:
        err = (done.stderr.decode('latin-1').strip().splitlines() or [''])[-1] if done else 'timed out'
        raise BackendError('%s wrote nothing (%s)' % (probe, err or 'exit status %d' % done.returncode))
    if done is None:
        records.append({'record': 'probe-stopped', 'reason': 'timed out'})
    elif done.returncode < 0:
        records.append({'record': 'probe-stopped', 'reason': 'signal %d' % -done.returncode})
    elif done.returncode != 0 and records[-1].get('record') != 'end':
        records.append({'record': 'probe-stopped', 'reason': 'exit status %d' % done.returncode})
    return records


def records(path, probe=None):
    bits, e_type, machine = _elf_facts(path)
    if e_type != 3:
        raise BackendError('not a shared library (ELF type %d)' % e_type)
    if machine not in (3, 62):
        raise BackendError('ELF machine %d is not x86 or x86-64' % machine)
    probe = probe or find_probe(path, bits)
    if not probe:
        raise BackendError('no %d-bit %s found in a tools/ directory above the library; pass --probe' % (bits, PROBE))
    return [(None, run(probe, path))]
