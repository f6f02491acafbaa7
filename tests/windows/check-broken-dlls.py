#!/usr/bin/python3
"""Makes broken copies of Lerpwork.dll, one fault each, and requires
check-dll.py to flag every one of them (and to pass the file as built), so
that a check which passes everything cannot go unnoticed.

usage: check-broken-dlls.py LERPWORK.DLL SDK_DIR SCRATCH_DIR"""

import os
import subprocess
import sys

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))


def replace_once(data, old, new):
    assert len(old) == len(new) and data.count(old) >= 1, old
    i = data.index(old)
    return data[:i] + new + data[i + len(old):]


def header_field(setter):
    def apply(path, out):
        pe = pefile.PE(path)
        setter(pe)
        pe.write(out)
    return apply


def bytes_fault(old, new):
    def apply(path, out):
        data = open(path, 'rb').read()
        open(out, 'wb').write(replace_once(data, old, new))
    return apply


def zero_object(name, size):
    def apply(path, out):
        pe = pefile.PE(path)
        rva = next(s.address for s in pe.DIRECTORY_ENTRY_EXPORT.symbols if s.name == name)
        pe.set_bytes_at_rva(rva, b'\0' * size)
        pe.write(out)
    return apply


def set_dll_characteristics(mask, on):
    def setter(pe):
        if on:
            pe.OPTIONAL_HEADER.DllCharacteristics |= mask
        else:
            pe.OPTIONAL_HEADER.DllCharacteristics &= ~mask
    return setter


FAULTS = [
    ('subsystem-console', header_field(lambda pe: setattr(pe.OPTIONAL_HEADER, 'Subsystem', 3))),
    ('subsystem-version-5.1', header_field(lambda pe: setattr(pe.OPTIONAL_HEADER, 'MinorSubsystemVersion', 1))),
    ('os-version-5', header_field(lambda pe: setattr(pe.OPTIONAL_HEADER, 'MajorOperatingSystemVersion', 5))),
    ('no-nx', header_field(set_dll_characteristics(0x0100, False))),
    ('no-seh', header_field(set_dll_characteristics(0x0400, True))),
    ('export-renamed', bytes_fault(b'?IsNil@AIVariable@S3DX@@QBE_NXZ', b'?IsNul@AIVariable@S3DX@@QBE_NXZ')),
    ('export-lost-const', bytes_fault(b'?IsNil@AIVariable@S3DX@@QBE_NXZ', b'?IsNil@AIVariable@S3DX@@QAE_NXZ')),
    ('entry-decorated', bytes_fault(b'\0GetPlugin\0', b'\0GetPlugim\0')),
    ('import-renamed', bytes_fault(b'\0strtod\0', b'\0strtol\0')),
    ('import-library-renamed', bytes_fault(b'api-ms-win-crt-convert-l1-1-0.dll', b'api-ms-win-crt-convert-l1-1-1.dll')),
    ('manifest-level', bytes_fault(b"level='asInvoker'", b"level='asInvokes'")),
    ('data-object-zero', zero_object(b'?cache@S3DX@@3UCachePackage@AIEngineAPI@1@A', 24)),
]


def run_check(path, sdk):
    return subprocess.run([sys.executable, os.path.join(HERE, 'check-dll.py'), path, sdk],
                          capture_output=True, text=True)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    dll, sdk, scratch = sys.argv[1:]
    os.makedirs(scratch, exist_ok=True)
    problems = []
    if run_check(dll, sdk).returncode != 0:
        problems.append('the file as built does not pass')
    for name, fault in FAULTS:
        out = os.path.join(scratch, name + '.dll')
        fault(dll, out)
        result = run_check(out, sdk)
        flagged = result.returncode == 1 and 'FAILED:' in result.stdout
        print('%-24s %s' % (name, 'flagged' if flagged else 'NOT FLAGGED'))
        if not flagged:
            problems.append(name + ' was not flagged')
    for p in problems:
        print('FAILED: ' + p)
    sys.exit(1 if problems else 0)


if __name__ == '__main__':
    main()
