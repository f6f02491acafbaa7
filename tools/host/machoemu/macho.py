"""Mach-O reading for the emulated macOS host: fat and thin files, load
commands, segments and sections, the symbol table, and the dynamic loader's
information (rebase, bind, weak and lazy bind opcodes, the exports trie).

Only what a loader of a 10.4-era dylib needs; anything else in a file (a
chained-fixup image, a threaded bind) raises MachOError rather than being
misread."""

import struct

FAT_MAGIC = 0xCAFEBABE
MH_MAGIC = 0xFEEDFACE
MH_MAGIC_64 = 0xFEEDFACF
CPU_TYPE_I386 = 7
CPU_TYPE_X86_64 = 0x01000007
CPU_NAMES = {CPU_TYPE_I386: "i386", CPU_TYPE_X86_64: "x86_64"}

MH_DYLIB = 6
MH_FLAGS = {0x1: "NOUNDEFS", 0x4: "DYLDLINK", 0x80: "TWOLEVEL", 0x8000: "WEAK_DEFINES",
            0x10000: "BINDS_TO_WEAK", 0x100000: "NO_REEXPORTED_DYLIBS"}

LC_REQ_DYLD = 0x80000000
LC_SEGMENT = 0x1
LC_SYMTAB = 0x2
LC_DYSYMTAB = 0xB
LC_LOAD_DYLIB = 0xC
LC_ID_DYLIB = 0xD
LC_SEGMENT_64 = 0x19
LC_DYLD_INFO = 0x22
LC_VERSION_MIN_MACOSX = 0x24
LC_BUILD_VERSION = 0x32
LC_DYLD_EXPORTS_TRIE = 0x33 | LC_REQ_DYLD
LC_DYLD_CHAINED_FIXUPS = 0x34 | LC_REQ_DYLD

S_ZEROFILL = 0x1
S_NON_LAZY_SYMBOL_POINTERS = 0x6
S_LAZY_SYMBOL_POINTERS = 0x7
S_MOD_INIT_FUNC_POINTERS = 0x9
S_MOD_TERM_FUNC_POINTERS = 0xA

N_STAB = 0xE0
N_TYPE = 0x0E
N_EXT = 0x01
N_UNDF = 0x0
N_SECT = 0xE

POINTER_SECTION_NAMES = ("__pointers", "__nl_symbol_ptr", "__la_symbol_ptr", "__got")
INDIRECT_SYMBOL_LOCAL = 0x80000000
INDIRECT_SYMBOL_ABS = 0x40000000

BIND_SYMBOL_FLAGS_NON_WEAK_DEFINITION = 0x8
EXPORT_SYMBOL_FLAGS_REEXPORT = 0x08
EXPORT_SYMBOL_FLAGS_STUB_AND_RESOLVER = 0x10


class MachOError(Exception):
    pass


def slices(data):
    """Returns [(label, bytes)] for a fat file (label = architecture name, in
    file order) or [(None, bytes)] for a thin one."""
    if len(data) < 8:
        raise MachOError("file too short for a Mach-O header")
    (magic,) = struct.unpack_from(">I", data, 0)
    if magic == FAT_MAGIC:
        (count,) = struct.unpack_from(">I", data, 4)
        out = []
        for i in range(count):
            cpu, _sub, off, size, _align = struct.unpack_from(">iiIII", data, 8 + 20 * i)
            if off + size > len(data):
                raise MachOError("fat slice %d runs past the end of the file" % i)
            out.append((CPU_NAMES.get(cpu & 0xFFFFFFFF, "cpu-0x%x" % (cpu & 0xFFFFFFFF)), data[off:off + size]))
        return out
    (magic,) = struct.unpack_from("<I", data, 0)
    if magic in (MH_MAGIC, MH_MAGIC_64):
        return [(None, data)]
    raise MachOError("not a Mach-O file (magic 0x%08x)" % magic)


def uleb(data, pos):
    result = shift = 0
    while True:
        if pos >= len(data):
            raise MachOError("ULEB128 runs past its table")
        b = data[pos]
        pos += 1
        result |= (b & 0x7F) << shift
        shift += 7
        if not b & 0x80:
            return result, pos


def sleb(data, pos):
    result = shift = 0
    while True:
        b = data[pos]
        pos += 1
        result |= (b & 0x7F) << shift
        shift += 7
        if not b & 0x80:
            if b & 0x40:
                result -= 1 << shift
            return result, pos


def cstring(data, pos):
    end = data.index(b"\0", pos)
    return data[pos:end].decode("latin-1"), end + 1


def _name16(raw):
    return raw.split(b"\0", 1)[0].decode("latin-1")


class Segment:
    def __init__(self, name, vmaddr, vmsize, fileoff, filesize, initprot):
        self.name, self.vmaddr, self.vmsize = name, vmaddr, vmsize
        self.fileoff, self.filesize, self.initprot = fileoff, filesize, initprot
        self.sections = []


class Section:
    def __init__(self, segname, name, addr, size, offset, flags, reserved1):
        self.segname, self.name, self.addr, self.size = segname, name, addr, size
        self.offset, self.flags, self.reserved1 = offset, flags, reserved1

    @property
    def type(self):
        return self.flags & 0xFF


class Symbol:
    def __init__(self, name, ntype, sect, desc, value):
        self.name, self.ntype, self.sect, self.desc, self.value = name, ntype, sect, desc, value

    @property
    def external(self):
        return bool(self.ntype & N_EXT)

    @property
    def defined(self):
        return (self.ntype & N_TYPE) == N_SECT

    @property
    def library_ordinal(self):
        return (self.desc >> 8) & 0xFF


class Fixup:
    """One pointer the loader writes: a rebase (symbol None) or a bind."""

    def __init__(self, kind, segment, address, type_, symbol=None, ordinal=0, addend=0, weak_import=False):
        self.kind, self.segment, self.address, self.type = kind, segment, address, type_
        self.symbol, self.ordinal, self.addend, self.weak_import = symbol, ordinal, addend, weak_import
        self.lazy_offset = None


class Image:
    """One thin Mach-O image, parsed; nothing is mapped."""

    def __init__(self, data):
        self.data = data
        if len(data) < 32:
            raise MachOError("image too short for a Mach-O header")
        (magic,) = struct.unpack_from("<I", data, 0)
        if magic not in (MH_MAGIC, MH_MAGIC_64):
            raise MachOError("not a thin Mach-O image")
        self.is64 = magic == MH_MAGIC_64
        self.pointer_size = 8 if self.is64 else 4
        (_m, self.cputype, _sub, self.filetype, ncmds, _sizeofcmds, self.flags) = struct.unpack_from("<IiiIIII", data, 0)
        self.cputype &= 0xFFFFFFFF
        self.arch = CPU_NAMES.get(self.cputype, "cpu-0x%x" % self.cputype)
        self.segments, self.sections, self.dylibs = [], [], []
        self.install_name = None
        self.dyld_info = None
        self.exports_trie = None
        self.symbols = []
        self.indirect = []
        self.min_os = None
        pos = 32 if self.is64 else 28
        try:
            for _ in range(ncmds):
                cmd, cmdsize = struct.unpack_from("<II", data, pos)
                if cmdsize < 8:
                    raise MachOError("load command of %d bytes" % cmdsize)
                self._load_command(cmd, pos, cmdsize)
                pos += cmdsize
        except (struct.error, ValueError, IndexError) as e:
            raise MachOError("truncated or malformed load commands (%s)" % e)
        if self.dyld_info is None:
            raise MachOError("no LC_DYLD_INFO: the loader stand-in reads only opcode-based fix-ups")

    def _load_command(self, cmd, pos, size):
        d = self.data
        if cmd in (LC_SEGMENT, LC_SEGMENT_64):
            if cmd == LC_SEGMENT_64:
                name, vmaddr, vmsize, fileoff, filesize, _maxp, initp, nsects, _fl = struct.unpack_from("<16sQQQQiiII", d, pos + 8)
                sp, ssize, fmt = pos + 72, 80, "<16s16sQQIIIIIII"
            else:
                name, vmaddr, vmsize, fileoff, filesize, _maxp, initp, nsects, _fl = struct.unpack_from("<16sIIIIiiII", d, pos + 8)
                sp, ssize, fmt = pos + 56, 68, "<16s16sIIIIIIIII"
            seg = Segment(_name16(name), vmaddr, vmsize, fileoff, filesize, initp)
            for i in range(nsects):
                f = struct.unpack_from(fmt, d, sp + ssize * i)
                sec = Section(_name16(f[1]), _name16(f[0]), f[2], f[3], f[4], f[8], f[9])
                seg.sections.append(sec)
                self.sections.append(sec)
            self.segments.append(seg)
        elif cmd == LC_SYMTAB:
            symoff, nsyms, stroff, _strsize = struct.unpack_from("<IIII", d, pos + 8)
            esize = 16 if self.is64 else 12
            fmt = "<IBBHQ" if self.is64 else "<IBBHI"
            for i in range(nsyms):
                strx, ntype, sect, desc, value = struct.unpack_from(fmt, d, symoff + esize * i)
                name, _ = cstring(d, stroff + strx)
                self.symbols.append(Symbol(name, ntype, sect, desc, value))
        elif cmd == LC_DYSYMTAB:
            f = struct.unpack_from("<18I", d, pos + 8)
            off, count = f[12], f[13]
            self.indirect = list(struct.unpack_from("<%dI" % count, d, off)) if count else []
        elif cmd in (LC_LOAD_DYLIB, LC_ID_DYLIB):
            off, _ts, cur, compat = struct.unpack_from("<IIII", d, pos + 8)
            name, _ = cstring(d, pos + off)
            entry = {"name": name, "current": _version(cur), "compatibility": _version(compat)}
            if cmd == LC_ID_DYLIB:
                self.install_name = entry
            else:
                self.dylibs.append(entry)
        elif cmd in (LC_DYLD_INFO, LC_DYLD_INFO | LC_REQ_DYLD):
            f = struct.unpack_from("<10I", d, pos + 8)
            self.dyld_info = {"rebase": f[0:2], "bind": f[2:4], "weak_bind": f[4:6], "lazy_bind": f[6:8], "export": f[8:10]}
        elif cmd == LC_DYLD_EXPORTS_TRIE:
            self.exports_trie = struct.unpack_from("<II", d, pos + 8)
        elif cmd == LC_DYLD_CHAINED_FIXUPS:
            raise MachOError("chained fix-ups are not read by the loader stand-in")
        elif cmd == LC_VERSION_MIN_MACOSX:
            ver, sdk = struct.unpack_from("<II", d, pos + 8)
            self.min_os = {"minimum": _version(ver), "sdk": _version(sdk)}

    # -- views ---------------------------------------------------------------

    def flag_names(self):
        return [n for bit, n in sorted(MH_FLAGS.items()) if self.flags & bit]

    def segment_at(self, index):
        return self.segments[index]

    def section(self, segname, name):
        for s in self.sections:
            if s.segname == segname and s.name == name:
                return s
        return None

    def sections_of_type(self, t):
        return [s for s in self.sections if s.type == t]

    def file_bytes(self, off, size):
        return self.data[off:off + size]

    def _opcodes(self, which):
        off, size = self.dyld_info[which]
        return self.data[off:off + size]

    # -- fix-ups ------------------------------------------------------------

    def rebases(self):
        d = self._opcodes("rebase")
        out, pos, type_, seg, off = [], 0, 0, 0, 0
        P = self.pointer_size

        def emit():
            out.append(Fixup("rebase", seg, self.segments[seg].vmaddr + off, type_))

        while pos < len(d):
            b = d[pos]
            pos += 1
            op, imm = b & 0xF0, b & 0x0F
            if op == 0x00:
                break
            elif op == 0x10:
                type_ = imm
            elif op == 0x20:
                seg = imm
                off, pos = uleb(d, pos)
            elif op == 0x30:
                n, pos = uleb(d, pos)
                off += n
            elif op == 0x40:
                off += imm * P
            elif op == 0x50:
                for _ in range(imm):
                    emit()
                    off += P
            elif op == 0x60:
                n, pos = uleb(d, pos)
                for _ in range(n):
                    emit()
                    off += P
            elif op == 0x70:
                emit()
                n, pos = uleb(d, pos)
                off += n + P
            elif op == 0x80:
                n, pos = uleb(d, pos)
                skip, pos = uleb(d, pos)
                for _ in range(n):
                    emit()
                    off += skip + P
            else:
                raise MachOError("unknown rebase opcode 0x%02x" % b)
        return out

    def binds(self, which):
        """Binds of "bind", "weak_bind" or "lazy_bind". Lazy entries carry
        the offset of their opcodes, which is what a stub helper pushes."""
        d = self._opcodes(which)
        out, pos = [], 0
        ordinal, symbol, flags, type_, addend, seg, off = 0, None, 0, 1, 0, 0, 0
        P = self.pointer_size
        entry_start = 0

        def emit():
            f = Fixup(which, seg, self.segments[seg].vmaddr + off, type_, symbol, ordinal, addend, bool(flags & 1))
            f.flags = flags
            if which == "lazy_bind":
                f.lazy_offset = entry_start
            out.append(f)

        while pos < len(d):
            b = d[pos]
            pos += 1
            op, imm = b & 0xF0, b & 0x0F
            if op == 0x00:
                if which != "lazy_bind":
                    break
                entry_start = pos
            elif op == 0x10:
                ordinal = imm
            elif op == 0x20:
                ordinal, pos = uleb(d, pos)
            elif op == 0x30:
                ordinal = -((0x10 - imm) & 0xF) if imm else 0
            elif op == 0x40:
                flags = imm
                symbol, pos = cstring(d, pos)
            elif op == 0x50:
                type_ = imm
            elif op == 0x60:
                addend, pos = sleb(d, pos)
            elif op == 0x70:
                seg = imm
                off, pos = uleb(d, pos)
            elif op == 0x80:
                n, pos = uleb(d, pos)
                off = (off + n) & ((1 << 64) - 1)
            elif op == 0x90:
                emit()
                off += P
            elif op == 0xA0:
                emit()
                n, pos = uleb(d, pos)
                off = (off + n + P) & ((1 << 64) - 1)
            elif op == 0xB0:
                emit()
                off += imm * P + P
            elif op == 0xC0:
                n, pos = uleb(d, pos)
                skip, pos = uleb(d, pos)
                for _ in range(n):
                    emit()
                    off += skip + P
            else:
                raise MachOError("unsupported %s opcode 0x%02x" % (which, b))
        return out

    def unfixed_pointers(self):
        """Slots of the pointer sections (by type, or by one of the names the
        linkers give them whatever the type) that neither a rebase nor
        a bind writes, although something must: dyld leaves them as the
        linker wrote them. A slot whose indirect entry is absolute is the
        loader's own and is not counted. [(segment, section, offset)]"""
        # A lazy pointer is bound on its first call only; until then it must
        # have been rebased to point at its stub helper.
        fixed = {f.address for f in self.rebases()}
        for w in ("bind", "weak_bind"):
            fixed.update(f.address for f in self.binds(w))
        lazy = {f.address for f in self.binds("lazy_bind")}
        out = []
        for s in self.sections:
            typed = s.type in (S_NON_LAZY_SYMBOL_POINTERS, S_LAZY_SYMBOL_POINTERS)
            if not typed and s.name not in POINTER_SECTION_NAMES:
                continue
            for i in range(s.size // self.pointer_size):
                a = s.addr + i * self.pointer_size
                if a in fixed:
                    continue
                if a in lazy:
                    out.append((s.segname, s.name, i * self.pointer_size))
                    continue
                if typed and s.reserved1 + i < len(self.indirect) and self.indirect[s.reserved1 + i] & INDIRECT_SYMBOL_ABS:
                    continue
                out.append((s.segname, s.name, i * self.pointer_size))
        return out

    def exports(self):
        """The exports trie as {name: (flags, offset from the image's base)}."""
        if self.exports_trie:
            off, size = self.exports_trie
        else:
            off, size = self.dyld_info["export"]
        d = self.data[off:off + size]
        out = {}
        if not d:
            return out
        stack, seen = [(0, "")], set()
        while stack:
            node, prefix = stack.pop()
            if node in seen or node >= len(d):
                raise MachOError("exports trie has a loop or a node past its end")
            seen.add(node)
            term, pos = uleb(d, node)
            if term:
                p = pos
                flags, p = uleb(d, p)
                if flags & EXPORT_SYMBOL_FLAGS_REEXPORT:
                    out[prefix] = (flags, None)
                else:
                    addr, p = uleb(d, p)
                    out[prefix] = (flags, addr)
            pos += term
            count = d[pos]
            pos += 1
            for _ in range(count):
                edge, pos = cstring(d, pos)
                child, pos = uleb(d, pos)
                stack.append((child, prefix + edge))
        return out


def _version(v):
    return "%d.%d.%d" % (v >> 16, (v >> 8) & 0xFF, v & 0xFF)
