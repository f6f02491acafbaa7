"""Backends: each turns a library file into raw probe records (tools/host/README.md).

A backend module has one function, records(path, probe=None), returning a
list of (label, records) pairs, one per loaded image; label names the slice
of a fat file and is None otherwise. It raises BackendError with one line
when it cannot run.
"""

import importlib


class BackendError(Exception):
    """A one-line reason why a library could not be observed."""


def file_kind(path):
    """Returns ('elf' | 'pe' | 'macho', description) from the file's magic, or raises BackendError."""
    with open(path, 'rb') as f:
        head = f.read(64)
    if head[:4] == b'\x7fELF':
        return 'elf', 'ELF %d-bit' % (32 if head[4:5] == b'\x01' else 64)
    if head[:2] == b'MZ':
        return 'pe', 'PE'
    magic = int.from_bytes(head[:4], 'big') if len(head) >= 4 else 0
    if magic in (0xcafebabe, 0xcafebabf):
        return 'macho', 'Mach-O universal'
    if magic in (0xfeedface, 0xfeedfacf, 0xcefaedfe, 0xcffaedfe):
        return 'macho', 'Mach-O'
    raise BackendError('not a shared library (no ELF, PE or Mach-O header)')


def load(kind):
    """Imports the backend module for a file kind, or raises BackendError."""
    try:
        return importlib.import_module('backends.' + kind)
    except ModuleNotFoundError as e:
        if e.name in ('backends.' + kind,):
            raise BackendError('no backend for %s files (tools/host/backends/%s.py is missing)' % (kind, kind))
        raise
