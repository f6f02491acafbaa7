"""Backend for Mach-O files, thin or fat: no Mach-O runs here, so each slice
is loaded and driven by the emulated macOS host (tools/host/machoemu), which
writes the same raw records as the native probes."""

import os
import sys

from . import BackendError

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def records(path, probe=None):
    """[(label, records)]: one stream per slice, labelled by architecture
    for a fat file and None for a thin one. `probe` is not used: the
    emulator is the probe."""
    try:
        from machoemu import host, macho
    except ImportError as e:  # unicorn missing: Debian's python3-unicorn
        raise BackendError("the emulated macOS host needs python3-unicorn (%s)" % e)
    try:
        return [(label, recs) for label, recs, _loader in host.observe(path)]
    except macho.MachOError as e:
        raise BackendError("not a readable Mach-O file: %s" % e)
    except OSError as e:
        raise BackendError("cannot read %s: %s" % (path, e.strerror))
