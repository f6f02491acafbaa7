#!/usr/bin/python3
"""Feeds the file check broken copies of a good universal Lerpwork.dylib.

check-rejects-faults.py --check CHECK --functions LIST --work DIR DYLIB

Each fault is a small patch of the kind a wrong link or build step leaves
behind; the check must fail on every one of them and name the check that
caught it. The good file itself must pass, or the faults prove nothing.
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys

LC_SYMTAB, LC_ID_DYLIB, LC_LOAD_DYLIB = 0x2, 0xD, 0xC
LC_SEGMENT, LC_SEGMENT_64, LC_DYLD_INFO_ONLY = 0x1, 0x19, 0x80000022
N_EXT = 0x01
MH_WEAK_DEFINES, MH_BINDS_TO_WEAK = 0x8000, 0x10000


def slices(data):
    """(arch name, offset) of each slice of a fat file."""
    magic, count = struct.unpack(">II", data[:8])
    assert magic == 0xCAFEBABE, "not a fat file"
    out = []
    for i in range(count):
        cputype, _, offset, _, _ = struct.unpack(">iiIII", data[8 + 20 * i: 28 + 20 * i])
        out.append(({0x01000007: "x86_64", 7: "i386"}[cputype], offset))
    return out


def slice_at(data, arch):
    return dict(slices(data))[arch]


def commands(data, base):
    """(cmd, file offset, size) of every load command of the slice at base."""
    magic, _, _, _, ncmds = struct.unpack("<IiiII", data[base: base + 20])
    at = base + (32 if magic == 0xFEEDFACF else 28)
    for _ in range(ncmds):
        cmd, size = struct.unpack("<II", data[at: at + 8])
        yield cmd, at, size
        at += size


def clear_weak_flags(data, arch):
    base = slice_at(data, arch)
    flags, = struct.unpack("<I", data[base + 24: base + 28])
    data[base + 24: base + 28] = struct.pack("<I", flags & ~(MH_WEAK_DEFINES | MH_BINDS_TO_WEAK))


def rename_install_name(data, arch):
    base = slice_at(data, arch)
    for cmd, at, size in commands(data, base):
        if cmd == LC_ID_DYLIB:
            region = bytes(data[at: at + size])
            data[at: at + size] = region.replace(b"Lerpwork.dylib", b"Lerpwerk.dylib")
            return
    raise AssertionError("no LC_ID_DYLIB")


def lower_libstdcxx_compatibility(data, arch):
    base = slice_at(data, arch)
    for cmd, at, size in commands(data, base):
        if cmd == LC_LOAD_DYLIB and b"libstdc++" in data[at: at + size]:
            # dylib_command: cmd, cmdsize, name offset, timestamp, current, compatibility.
            data[at + 20: at + 24] = struct.pack("<I", 6 << 16)
            return
    raise AssertionError("no libstdc++ load command")


def swap_first_initialisers(data, arch):
    base = slice_at(data, arch)
    wide = arch == "x86_64"
    for cmd, at, size in commands(data, base):
        if cmd not in (LC_SEGMENT, LC_SEGMENT_64):
            continue
        header, section = (72, 80) if wide else (56, 68)
        nsects, = struct.unpack("<I", data[at + header - 8: at + header - 4])
        for i in range(nsects):
            s = at + header + i * section
            if data[s: s + 16].rstrip(b"\0") == b"__mod_init_func":
                offset, = struct.unpack("<I", data[s + (48 if wide else 40): s + (52 if wide else 44)])
                p = 8 if wide else 4
                o = base + offset
                first, second = bytes(data[o: o + p]), bytes(data[o + p: o + 2 * p])
                data[o: o + p], data[o + p: o + 2 * p] = second, first
                return
    raise AssertionError("no __mod_init_func")


def unexport(name):
    def patch(data, arch):
        base = slice_at(data, arch)
        entry = 16 if arch == "x86_64" else 12
        for cmd, at, _ in commands(data, base):
            if cmd == LC_SYMTAB:
                symoff, nsyms, stroff, _ = struct.unpack("<IIII", data[at + 8: at + 24])
                for i in range(nsyms):
                    e = base + symoff + i * entry
                    strx, = struct.unpack("<I", data[e: e + 4])
                    s = base + stroff + strx
                    if bytes(data[s: s + len(name) + 1]) == name + b"\0":
                        data[e + 4] &= ~N_EXT
                        return
        raise AssertionError(f"no symbol {name!r}")
    return patch


def swap_vtable_slots(symbol, first, second):
    """Swaps two function slots of a virtual table, as a linker that
    resolves a reference to the wrong function would leave it."""
    def patch(data, arch):
        base = slice_at(data, arch)
        wide = arch == "x86_64"
        out = subprocess.run(["llvm-nm-19", f"--arch={arch}", "--defined-only", "-"], input=bytes(data),
                             capture_output=True, check=True).stdout.decode()
        address = next(int(line.split()[0], 16) for line in out.splitlines() if line.split()[-1] == symbol)
        for cmd, at, _ in commands(data, base):
            if cmd in (LC_SEGMENT, LC_SEGMENT_64):
                if wide:
                    vmaddr, _, fileoff, filesize = struct.unpack("<QQQQ", data[at + 24: at + 56])
                else:
                    vmaddr, _, fileoff, filesize = struct.unpack("<IIII", data[at + 24: at + 40])
                if filesize and vmaddr <= address < vmaddr + filesize:
                    p = 8 if wide else 4
                    a = base + fileoff + address - vmaddr + (2 + first) * p
                    b = base + fileoff + address - vmaddr + (2 + second) * p
                    data[a: a + p], data[b: b + p] = bytes(data[b: b + p]), bytes(data[a: a + p])
                    return
        raise AssertionError(f"{symbol} not in a segment")
    return patch


def drop_weak_binds(data, arch):
    """Empties the weak-bind stream, as the older linker leaves it."""
    base = slice_at(data, arch)
    for cmd, at, _ in commands(data, base):
        if cmd == LC_DYLD_INFO_ONLY:
            data[at + 28: at + 32] = struct.pack("<I", 0)
            return
    raise AssertionError("no LC_DYLD_INFO_ONLY")


# name, patch, arch it is applied to, the check that must fail.
FAULTS = [
    ("weak-flags-left-unset", clear_weak_flags, "i386", "i386: header-flags"),
    ("install-name-changed", rename_install_name, "x86_64", "x86_64: install-name"),
    ("libstdc++-compatibility-lowered", lower_libstdcxx_compatibility, "i386", "i386: dependent-libraries"),
    ("initialisers-out-of-order", swap_first_initialisers, "i386", "i386: initialiser-order"),
    ("initialisers-out-of-order", swap_first_initialisers, "x86_64", "x86_64: initialiser-order"),
    ("entry-point-not-exported", unexport(b"_GetPlugin"), "x86_64", "x86_64: exports"),
    ("sdk-type-information-not-exported", unexport(b"__ZTIN4S3DX6PluginE"), "i386", "i386: exports"),
    ("weak-binds-missing", drop_weak_binds, "i386", "i386: weak-binds"),
    ("plugin-slots-swapped", swap_vtable_slots("__ZTV8Lerpwork", 7, 8), "i386", "i386: virtual-table-slots"),
    ("package-slots-swapped", swap_vtable_slots("__ZTV11instPackage", 3, 4), "x86_64", "x86_64: virtual-table-slots"),
]


def run_check(args, path, *extra):
    return subprocess.run(["/usr/bin/python3", args.check, "--functions", args.functions, *extra, path],
                          capture_output=True, text=True)


def main():
    a = argparse.ArgumentParser()
    a.add_argument("--check", required=True)
    a.add_argument("--functions", required=True)
    a.add_argument("--work", required=True)
    a.add_argument("dylib")
    args = a.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)

    failures = 0

    def report(name, ok, detail):
        nonlocal failures
        print(f"{'passed' if ok else 'FAILED'}  {name}" + ("" if ok else f": {detail}"))
        failures += not ok

    good = run_check(args, args.dylib)
    report("good-file-passes", good.returncode == 0, good.stdout)

    with open(args.dylib, "rb") as f:
        original = f.read()
    for name, patch, arch, caught_by in FAULTS:
        data = bytearray(original)
        patch(data, arch)
        path = os.path.join(args.work, f"{name}-{arch}.dylib")
        with open(path, "wb") as f:
            f.write(data)
        result = run_check(args, path)
        caught = result.returncode != 0 and f"FAILED  {caught_by}" in result.stdout
        report(f"{name} ({arch})", caught, f"want a failure of {caught_by!r}, got:\n{result.stdout}{result.stderr}")

    # A thin slice handed over as the universal file.
    thin = os.path.join(args.work, "thin-as-universal.dylib")
    subprocess.run(["llvm-lipo-19", args.dylib, "-thin", "x86_64", "-output", thin], check=True)
    result = run_check(args, thin)
    report("thin-as-universal", result.returncode != 0 and "FAILED  universal" in result.stdout, result.stdout)

    print(f"{failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
