#!/usr/bin/python3
"""Links one macOS slice of Lerpwork.dylib.

link-dylib.py --arch ARCH --linker LINKER --output DYLIB OBJECT...

There is no Apple SDK on the build machine, so the slice links against stub
libraries built here from the table below: each carries the install name and
versions the slice must record and the symbols the slice may import, and
nothing else. They live next to the output, in stubs-ARCH/, and are never
shipped. The i386 slice goes through the older linker of LLVM 13, whose
gaps fix_i386_image closes; afterwards both headers get the same flags
(set_header_flags).
"""

import argparse
import os
import struct
import subprocess
import sys

INSTALL_NAME = "/usr/local/lib/Lerpwork.dylib"
VERSION = "1.0.0"
MIN_SYSTEM, SDK = "10.4", "10.13"

# The run-time libraries, in the order the slice loads them: install name,
# current and compatibility version, the symbols each provides to the slice.
# dyld_stub_binder (no leading underscore) is the loader's lazy-binding
# helper that every image with lazy bindings refers to.
STUBS = [
    ("/usr/lib/libstdc++.6.dylib", "7.0.0", "7.0.0", [
        "__Znwm", "__ZdlPv", "__ZdlPvm",
        "___gxx_personality_v0", "___cxa_pure_virtual",
        "__ZTVN10__cxxabiv117__class_type_infoE",
        "__ZTVN10__cxxabiv120__si_class_type_infoE",
    ]),
    ("/usr/lib/libSystem.B.dylib", "1.0.0", "1.0.0", [
        "___cxa_atexit", "_strcpy", "_memcpy", "_memmove", "_memset",
        "_strtod", "_snprintf", "dyld_stub_binder",
    ]),
    ("/usr/lib/libgcc_s.1.dylib", "1.0.0", "1.0.0", [
        "__Unwind_Resume",
    ]),
]

MH_MAGIC, MH_MAGIC_64 = 0xFEEDFACE, 0xFEEDFACF
MH_WEAK_DEFINES, MH_BINDS_TO_WEAK, MH_NO_REEXPORTED_DYLIBS = 0x8000, 0x10000, 0x100000


def run(*command):
    subprocess.run(command, check=True)


def platform_flags(arch):
    if arch == "i386":
        return ["-macosx_version_min", MIN_SYSTEM, "-sdk_version", SDK]
    return ["-platform_version", "macos", MIN_SYSTEM, SDK]


def build_stub(arch, linker, stub_dir, install_name, current, compat, symbols, libraries=()):
    base = os.path.join(stub_dir, os.path.basename(install_name))
    with open(base + ".s", "w") as f:
        for name in symbols:
            f.write(f".globl {name}\n{name}:\n  .byte 0\n")
    run("clang-19", f"--target={arch}-apple-macosx{MIN_SYSTEM}", "-c", base + ".s", "-o", base + ".o")
    run(linker, "-arch", arch, "-dylib", *platform_flags(arch),
        "-install_name", install_name, "-current_version", current,
        "-compatibility_version", compat, "-o", base, base + ".o", *libraries)
    return base


def set_header_flags(path):
    """Both slices get the same flags: the weak-symbol pair, which the older
    linker leaves unset, and not the newer linker's no-re-exports mark, which
    only describes this image to newer loaders and which the older linker
    does not set."""
    with open(path, "r+b") as f:
        magic, = struct.unpack("<I", f.read(4))
        if magic not in (MH_MAGIC, MH_MAGIC_64):
            sys.exit(f"{path}: not a little-endian Mach-O file")
        f.seek(24)
        flags, = struct.unpack("<I", f.read(4))
        f.seek(24)
        flags = (flags | MH_WEAK_DEFINES | MH_BINDS_TO_WEAK) & ~MH_NO_REEXPORTED_DYLIBS
        f.write(struct.pack("<I", flags))


LC_SEGMENT, LC_DYLD_INFO_ONLY = 0x1, 0x80000022
REBASE_TYPE_POINTER, REBASE_TYPE_TEXT_ABSOLUTE32 = 1, 2


def uleb(data, at):
    value = shift = 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, at


def to_uleb(value):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        out.append(byte | (0x80 if value else 0))
        if not value:
            return bytes(out)


def decode_rebases(data, pointer):
    """(type, segment, offset) of every rebase of an opcode stream."""
    out, kind, segment, offset, at = [], 0, 0, 0, 0
    while at < len(data):
        opcode, imm = data[at] & 0xF0, data[at] & 0x0F
        at += 1
        if opcode == 0x00:
            break
        elif opcode == 0x10:
            kind = imm
        elif opcode == 0x20:
            segment = imm
            offset, at = uleb(data, at)
        elif opcode == 0x30:
            step, at = uleb(data, at)
            offset += step
        elif opcode == 0x40:
            offset += imm * pointer
        elif opcode in (0x50, 0x60, 0x70, 0x80):
            count, skip = imm, 0
            if opcode == 0x60:
                count, at = uleb(data, at)
            elif opcode == 0x70:
                count = 1
                skip, at = uleb(data, at)
            elif opcode == 0x80:
                count, at = uleb(data, at)
                skip, at = uleb(data, at)
            for _ in range(count):
                out.append((kind, segment, offset))
                offset += pointer + skip
        else:
            sys.exit(f"unknown rebase opcode {opcode:#x}")
    return out


def encode_rebases(rebases, pointer=4):
    """The rebases, sorted, as runs of adjacent pointers with address steps
    between them: much shorter than the older linker's one full entry per
    pointer, which leaves room in the same space for what fix_i386_image adds."""
    out, kind, segment, cursor = bytearray(), None, None, None
    items = sorted(set(rebases))
    i = 0
    while i < len(items):
        k, seg, offset = items[i]
        if k != kind:
            out.append(0x10 | k)
            kind = k
        if seg != segment or cursor is None or offset < cursor:
            out += bytes([0x20 | seg]) + to_uleb(offset)
            segment = seg
        elif offset > cursor:
            out += bytes([0x30]) + to_uleb(offset - cursor)
        run = 1
        while run < 15 and i + run < len(items) and items[i + run] == (k, seg, offset + pointer * run):
            run += 1
        out.append(0x50 | run)
        cursor = offset + pointer * run
        i += run
    return bytes(out) + b"\0"


LC_SYMTAB, LC_DYSYMTAB = 0x2, 0xB
BIND_TYPE_POINTER = 1


def parse_image(data):
    """Load commands of a 32-bit Mach-O file: segments, sections, and the
    offsets of the dyld-info, symbol-table and dynamic-symbol-table commands."""
    ncmds, = struct.unpack("<I", data[16:20])
    at, image = 28, {"segments": [], "sections": []}
    for _ in range(ncmds):
        cmd, size = struct.unpack("<II", data[at: at + 8])
        if cmd == LC_SEGMENT:
            segment = len(image["segments"])
            name = data[at + 8: at + 24].rstrip(b"\0")
            vmaddr, vmsize, fileoff, _, _, _, nsects = struct.unpack("<IIIIiiI", data[at + 24: at + 52])
            image["segments"].append((name, vmaddr, vmsize))
            for i in range(nsects):
                sect = at + 56 + 68 * i
                sectname = data[sect: sect + 16].rstrip(b"\0")
                segname = data[sect + 16: sect + 32].rstrip(b"\0")
                addr, sectsize, offset, align, _, _, _, reserved1 = struct.unpack("<IIIIIIII", data[sect + 32: sect + 64])
                image["sections"].append({"segname": segname, "sectname": sectname, "addr": addr,
                                          "size": sectsize, "offset": offset, "align": align,
                                          "reserved1": reserved1, "segment": segment})
        elif cmd == LC_DYLD_INFO_ONLY:
            image["dyld_info"] = at
        elif cmd == LC_SYMTAB:
            image["symtab"] = struct.unpack("<IIII", data[at + 8: at + 24])
        elif cmd == LC_DYSYMTAB:
            image["indirect"] = struct.unpack("<II", data[at + 56: at + 64])
        at += size
    return image


def find_section(image, segname, sectname):
    return next((s for s in image["sections"] if (s["segname"], s["sectname"]) == (segname, sectname)), None)


def symbols_of(data, image):
    """name -> (n_type, n_desc, n_value), and the list of names by index."""
    symoff, nsyms, stroff, _ = image["symtab"]
    table, names = {}, []
    for i in range(nsyms):
        e = symoff + 12 * i
        strx, n_type, _, n_desc, n_value = struct.unpack("<IBBHI", data[e: e + 12])
        name = data[stroff + strx: data.index(b"\0", stroff + strx)].decode()
        names.append(name)
        table.setdefault(name, (n_type, n_desc, n_value))
    return table, names


def decode_binds(data):
    """(ordinal, name, flags, type, addend, segment, offset) of every bind."""
    out, at = [], 0
    ordinal = name = None
    flags = kind = addend = segment = offset = 0
    while at < len(data):
        opcode, imm = data[at] & 0xF0, data[at] & 0x0F
        at += 1
        if opcode == 0x00:
            break
        elif opcode == 0x10:
            ordinal = imm
        elif opcode == 0x20:
            ordinal, at = uleb(data, at)
        elif opcode == 0x40:
            end = data.index(b"\0", at)
            name, flags, at = data[at: end].decode(), imm, end + 1
        elif opcode == 0x50:
            kind = imm
        elif opcode == 0x60:
            addend, at = sleb(data, at)
        elif opcode == 0x70:
            segment = imm
            offset, at = uleb(data, at)
        elif opcode == 0x80:
            step, at = uleb(data, at)
            offset = (offset + step) & 0xFFFFFFFF
        elif opcode == 0x90:
            out.append((ordinal, name, flags, kind, addend, segment, offset))
            offset += 4
        else:
            sys.exit(f"unexpected bind opcode {opcode:#x}")
    return out


def sleb(data, at):
    value = shift = 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return (value - (1 << shift) if byte & 0x40 else value), at


def to_sleb(value):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        if (value == 0 and not byte & 0x40) or (value == -1 and byte & 0x40):
            return bytes(out + bytes([byte]))
        out.append(byte | 0x80)


def encode_binds(binds):
    out, state = bytearray(), None
    for ordinal, name, flags, kind, addend, segment, offset in sorted(binds, key=lambda b: b[:5] + (b[5], b[6])):
        if (ordinal, name, flags, kind, addend) != state:
            out.append(0x20)
            out += to_uleb(ordinal)
            out += bytes([0x40 | flags]) + name.encode() + b"\0"
            out += bytes([0x50 | kind, 0x60]) + to_sleb(addend)
            state = (ordinal, name, flags, kind, addend)
        out += bytes([0x70 | segment]) + to_uleb(offset) + bytes([0x90])
    return bytes(out) + b"\0"


def rewrite_stream(data, at, size, stream, what, path):
    if len(stream) > size:
        sys.exit(f"{path}: no room for the {what} stream")
    data[at: at + size] = stream + bytes(size - len(stream))


def stub_text_rebases(data, image, path):
    """The older linker's i386 stubs and stub helper address their lazy
    pointers absolutely from __TEXT but record no rebase for those words, so
    a slid image would jump through unslid addresses."""
    text = next(i for i, s in enumerate(image["segments"]) if s[0] == b"__TEXT")
    _, data_start, data_size = next(s for s in image["segments"] if s[0] == b"__DATA")
    words = []
    for sectname in (b"__stubs", b"__stub_helper"):
        sect = find_section(image, b"__TEXT", sectname)
        if not sect:
            continue
        body = data[sect["offset"]: sect["offset"] + sect["size"]]
        if sectname == b"__stubs":  # jmp *abs32, 6 bytes a stub
            places = [i + 2 for i in range(0, sect["size"], 6) if body[i: i + 2] == b"\xff\x25"]
            if len(places) * 6 != sect["size"]:
                sys.exit(f"{path}: unexpected i386 stub code")
        else:  # pushl $abs32; jmp *abs32; then the per-symbol entries
            if body[0:1] != b"\x68" or body[5:7] != b"\xff\x25":
                sys.exit(f"{path}: unexpected i386 stub helper code")
            places = [1, 7]
        for place in places:
            value, = struct.unpack("<I", body[place: place + 4])
            if not data_start <= value < data_start + data_size:
                sys.exit(f"{path}: stub word {value:#x} outside __DATA")
            words.append((REBASE_TYPE_TEXT_ABSOLUTE32, text, sect["addr"] + place - image["segments"][text][1]))
    return words


def import_pointer_fixups(data, image, objects, path):
    """clang's i386 code reaches undefined symbols through non-lazy pointers
    in __IMPORT,__pointers; the older linker copies that section as plain
    zeros, neither bound nor rebased. Fills it from the objects' indirect
    symbol tables: the image handle ___dso_handle and symbols defined in the
    image get their address and a rebase, imported ones a bind."""
    sect = find_section(image, b"__IMPORT", b"__pointers")
    if not sect:
        return [], []
    slots, size = [], 0
    for path_o in objects:
        with open(path_o, "rb") as f:
            obj = f.read()
        oimage = parse_image(obj)
        osect = find_section(oimage, b"__IMPORT", b"__pointers")
        if not osect:
            continue
        _, onames = symbols_of(obj, oimage)
        indirectsymoff, _ = oimage["indirect"]
        size = -(-size // (1 << osect["align"])) * (1 << osect["align"])
        for i in range(osect["size"] // 4):
            index, = struct.unpack("<I", obj[indirectsymoff + 4 * (osect["reserved1"] + i): indirectsymoff + 4 * (osect["reserved1"] + i) + 4])
            slots.append((size + 4 * i, onames[index]))
        size += osect["size"]
    if size != sect["size"]:
        sys.exit(f"{path}: __IMPORT,__pointers is {sect['size']} bytes, the objects give {size}")
    table, _ = symbols_of(data, image)
    base = image["segments"][sect["segment"]][1]
    header = next(s for s in image["segments"] if s[0] == b"__TEXT")[1]
    rebases, binds = [], []
    for offset, name in slots:
        at = sect["offset"] + offset
        seg_offset = sect["addr"] + offset - base
        n_type, n_desc, n_value = table.get(name, (0, 0, 0))
        if name == "___dso_handle":
            value = header
        elif n_type & 0x0E == 0x0E:  # N_SECT: defined in the image
            value = n_value
        elif n_type & 0x01:  # undefined external: bind it
            binds.append(((n_desc >> 8) & 0xFF, name, 0, BIND_TYPE_POINTER, 0, sect["segment"], seg_offset))
            continue
        else:
            sys.exit(f"{path}: no symbol {name} for a non-lazy pointer")
        data[at: at + 4] = struct.pack("<I", value)
        rebases.append((REBASE_TYPE_POINTER, sect["segment"], seg_offset))
    return rebases, binds


def weak_binds(data, image, rebases):
    """Weak binds for every pointer of __DATA that holds the address of one
    of the image's weak definitions, so that the loader can coalesce them
    with other images' copies; the older linker writes none."""
    table, _ = symbols_of(data, image)
    weak = {value: name for name, (n_type, n_desc, value) in table.items()
            if n_type & 0x0E == 0x0E and n_type & 0x01 and n_desc & 0x80}
    segment = next(i for i, s in enumerate(image["segments"]) if s[0] == b"__DATA")
    vmaddr = image["segments"][segment][1]
    fileoff = next(s["offset"] - (s["addr"] - vmaddr) for s in image["sections"] if s["segment"] == segment and s["offset"])
    out = []
    for kind, seg, offset in rebases:
        if kind == REBASE_TYPE_POINTER and seg == segment:
            value, = struct.unpack("<I", data[fileoff + offset: fileoff + offset + 4])
            if value in weak:
                out.append((weak[value], segment, offset))
    return out


def encode_weak_binds(binds):
    out = bytearray()
    for name, segment, offset in sorted(binds):
        out += bytes([0x40]) + name.encode() + b"\0" + bytes([0x50 | BIND_TYPE_POINTER, 0x60, 0x00])
        out += bytes([0x70 | segment]) + to_uleb(offset) + bytes([0x90])
    return bytes(out) + b"\0"


def fix_i386_image(path, objects):
    """Adds what the older linker leaves out of an i386 image: rebases for
    the absolute words of its stubs, the binds and rebases of clang's
    non-lazy pointers, and the weak binds. The streams are re-encoded in the
    space the linker gave the rebase and bind streams."""
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        image = parse_image(data)
        extra_rebases = stub_text_rebases(data, image, path)
        pointer_rebases, extra_binds = import_pointer_fixups(data, image, objects, path)
        extra_rebases += pointer_rebases

        info = image["dyld_info"]
        rebase_off, rebase_size, bind_off, bind_size = struct.unpack("<IIII", data[info + 8: info + 24])
        rebases = decode_rebases(data[rebase_off: rebase_off + rebase_size], 4)
        known = {(seg, off) for _, seg, off in rebases}
        rebases = [r for r in extra_rebases if (r[1], r[2]) not in known] + rebases
        # The weak binds go in the room the shorter rebase stream leaves.
        stream = encode_rebases(rebases)
        used = -(-len(stream) // 4) * 4
        weak = encode_weak_binds(weak_binds(data, image, rebases))
        if struct.unpack("<I", data[info + 28: info + 32])[0]:
            sys.exit(f"{path}: the linker wrote weak binds after all")
        rewrite_stream(data, rebase_off, rebase_size, stream + bytes(used - len(stream)) + weak, "rebase", path)
        data[info + 12: info + 16] = struct.pack("<I", used)
        data[info + 24: info + 32] = struct.pack("<II", rebase_off + used, rebase_size - used)
        if extra_binds:
            binds = decode_binds(data[bind_off: bind_off + bind_size]) + extra_binds
            rewrite_stream(data, bind_off, bind_size, encode_binds(binds), "bind", path)
        f.seek(0)
        f.write(data)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--arch", required=True, choices=["x86_64", "i386"])
    p.add_argument("--linker", required=True)
    p.add_argument("--output", required=True)
    p.add_argument("objects", nargs="+")
    a = p.parse_args()

    stub_dir = os.path.join(os.path.dirname(os.path.abspath(a.output)), f"stubs-{a.arch}")
    os.makedirs(stub_dir, exist_ok=True)
    # The older linker wants dyld_stub_binder even in an image without
    # imports, so the other stubs link against the libSystem stub.
    system = build_stub(a.arch, a.linker, stub_dir, *STUBS[1])
    stubs = [build_stub(a.arch, a.linker, stub_dir, *s, libraries=[system]) if s is not STUBS[1] else system
             for s in STUBS]

    # -S leaves the debug map out: it would record object paths and times.
    run(a.linker, "-arch", a.arch, "-dylib", *platform_flags(a.arch),
        "-install_name", INSTALL_NAME, "-current_version", VERSION,
        "-compatibility_version", VERSION, "-S",
        "-o", a.output, *a.objects, *stubs)
    if a.arch == "i386":
        fix_i386_image(a.output, a.objects)
    set_header_flags(a.output)


if __name__ == "__main__":
    main()
