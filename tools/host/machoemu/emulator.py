"""A loader stand-in and a CPU for one Mach-O image: maps the segments into a
unicorn machine of the image's width, applies the rebase and bind
information, binds the imports to stand-ins implemented here as hooks, runs
the initialisers and the image's exit handlers, and calls functions of the
image with the platform's calling convention (x86-64 System V, i386 cdecl;
Itanium C++ ABI, so `this` is the first argument on both).

Everything the image does to the outside world goes through the stand-ins,
which keep a log: allocations and releases, exit-handler registrations,
lazy bindings, and (while a watch is on) the writes made to chosen ranges.
"""

import struct

import unicorn
from unicorn import x86_const as X

from . import macho

PAGE = 0x1000

# Where things live in the emulated address space; all below 4 GiB so that
# one layout serves both widths, except the 64-bit image, which is slid above
# 4 GiB so that a pointer cut to 32 bits cannot pass unnoticed.
IMAGE_BASE = {4: 0x10000000, 8: 0x300000000}
HOST_CODE = 0x70000000      # one `ret` per function stand-in
HOST_CODE_SIZE = 0x10000
HOST_DATA = 0x70010000      # data stand-ins (type-information vtables)
HOST_DATA_SIZE = 0x10000
SENTINELS = 0x70100000      # addresses handed out by the host, never called
SENTINELS_SIZE = 0x10000
HEAP = 0x60000000
HEAP_SIZE = 0x400000
STACK = 0x68000000
STACK_SIZE = 0x100000
SCRATCH = 0x6C000000        # the host's own buffers
SCRATCH_SIZE = 0x400000
RETURN_ADDRESS = HOST_CODE  # a `hlt`: emulation stops when a call returns here

INSTRUCTION_LIMIT = 50_000_000


class LoadError(Exception):
    """The image cannot be loaded, as dyld would refuse it."""


class Fault(Exception):
    """A call into the image did not return normally."""


def _page_down(a):
    return a & ~(PAGE - 1)


def _page_up(a):
    return (a + PAGE - 1) & ~(PAGE - 1)


class Machine:
    def __init__(self, image):
        if image.cputype not in (macho.CPU_TYPE_X86_64, macho.CPU_TYPE_I386):
            raise LoadError("no CPU for architecture %s" % image.arch)
        if image.filetype != macho.MH_DYLIB:
            raise LoadError("not a dynamic library (file type %d)" % image.filetype)
        self.image = image
        self.P = image.pointer_size
        self.is64 = image.is64
        self.uc = unicorn.Uc(unicorn.UC_ARCH_X86, unicorn.UC_MODE_64 if self.is64 else unicorn.UC_MODE_32)
        self.slide = IMAGE_BASE[self.P]
        self.log = []                   # (event, details) in the order they happened
        self.allocations = {}           # address -> size, live blocks
        self.frees = []                 # (address, size or None) in order
        self.atexit = []                # (function, argument, owner) in registration order
        self.lazy_bound = []            # symbol names, in binding order
        self.writes = []                # (sequence, address, size) while a watch is on
        self.current_initialiser = None
        self._heap_next = HEAP
        self._scratch_next = SCRATCH
        self._stand_ins = {}            # host code address -> (name, handler)
        self._host_code_next = HOST_CODE + 16
        self._host_data_next = HOST_DATA
        self._data_stand_ins = {}
        self._fault = None
        self._watch_hook = None
        self._write_seq = 0
        self._map_host()
        self._map_image()
        self.exports = image.exports()
        self._symbols_by_name = {}
        for s in image.symbols:
            if s.defined:
                self._symbols_by_name.setdefault(s.name, s.value)
        self.misplaced_imports = set()
        self._bind_all()

    # -- address space -----------------------------------------------------

    def _map_host(self):
        uc = self.uc
        for base, size in ((HOST_CODE, HOST_CODE_SIZE), (HOST_DATA, HOST_DATA_SIZE), (SENTINELS, SENTINELS_SIZE),
                           (HEAP, HEAP_SIZE), (STACK, STACK_SIZE), (SCRATCH, SCRATCH_SIZE)):
            uc.mem_map(base, size)
        uc.mem_write(HOST_CODE, b"\xf4" * HOST_CODE_SIZE)
        uc.mem_write(SENTINELS, b"\xf4" * SENTINELS_SIZE)
        uc.hook_add(unicorn.UC_HOOK_CODE, self._on_host_code, begin=HOST_CODE, end=HOST_CODE + HOST_CODE_SIZE - 1)
        uc.hook_add(unicorn.UC_HOOK_CODE, self._on_sentinel, begin=SENTINELS, end=SENTINELS + SENTINELS_SIZE - 1)
        uc.hook_add(unicorn.UC_HOOK_MEM_INVALID, self._on_invalid)

    def _map_image(self):
        im, uc = self.image, self.uc
        for seg in im.segments:
            if seg.vmsize == 0:
                continue
            lo = _page_down(seg.vmaddr + self.slide)
            hi = _page_up(seg.vmaddr + self.slide + seg.vmsize)
            uc.mem_map(lo, hi - lo)
            body = im.file_bytes(seg.fileoff, seg.filesize) if seg.filesize else b""
            uc.mem_write(seg.vmaddr + self.slide, bytes(body))
        # Zero-fill sections carry no file bytes; the mapping is zero already.

    def image_address(self, vmaddr):
        return vmaddr + self.slide

    @property
    def header_address(self):
        text = [s for s in self.image.segments if s.fileoff == 0 and s.filesize]
        return self.image_address(text[0].vmaddr)

    # -- memory access ---------------------------------------------------------

    def read(self, addr, n):
        return bytes(self.uc.mem_read(addr, n))

    def write(self, addr, data):
        self.uc.mem_write(addr, bytes(data))

    def u32(self, addr):
        return struct.unpack("<I", self.read(addr, 4))[0]

    def ptr(self, addr):
        return struct.unpack("<Q" if self.is64 else "<I", self.read(addr, self.P))[0]

    def write_ptr(self, addr, value):
        self.write(addr, struct.pack("<Q" if self.is64 else "<I", value & ((1 << (8 * self.P)) - 1)))

    def cstring(self, addr, limit=65536):
        """Returns (bytes, truncated) of the NUL-terminated text at addr,
        reading at most limit bytes. Raises Fault for an unmapped text."""
        out = bytearray()
        try:
            while len(out) < limit:
                chunk = self.read(addr + len(out), min(256, limit - len(out)))
                i = chunk.find(b"\0")
                if i >= 0:
                    out += chunk[:i]
                    return bytes(out), False
                out += chunk
        except unicorn.UcError:
            # The chunk may run past the mapping: finish byte by byte.
            try:
                while len(out) < limit:
                    b = self.read(addr + len(out), 1)
                    if b == b"\0":
                        return bytes(out), False
                    out += b
            except unicorn.UcError:
                raise Fault("text at 0x%x runs into unmapped memory" % addr)
        return bytes(out), True

    def scratch(self, data_or_size, align=16):
        """A block of the host's own memory, zeroed or filled with data."""
        data = bytes(data_or_size)      # an int gives that many zero bytes
        addr = (self._scratch_next + align - 1) & ~(align - 1)
        if addr + len(data) > SCRATCH + SCRATCH_SIZE:
            raise Fault("host scratch memory exhausted")
        self._scratch_next = addr + max(len(data), 1)
        self.write(addr, data)
        return addr

    def sentinel(self, i):
        return SENTINELS + 8 * i

    def sentinel_index(self, addr):
        if SENTINELS <= addr < SENTINELS + SENTINELS_SIZE and (addr - SENTINELS) % 8 == 0:
            return (addr - SENTINELS) // 8
        return None

    # -- symbols -----------------------------------------------------------------

    def exported(self, name):
        """Address of an exported symbol (Mach-O name, with its underscore), or None."""
        e = self.exports.get(name)
        if e is None or e[1] is None:
            return None
        return self.header_address + e[1]

    def symbol(self, name):
        """Address of any defined symbol of the symbol table, or None."""
        v = self._symbols_by_name.get(name)
        return None if v is None else self.image_address(v)

    def symbol_at(self, addr):
        """The defined symbol whose value is exactly addr, preferring externals."""
        v = addr - self.slide
        best = None
        for s in self.image.symbols:
            if s.defined and s.value == v and not s.ntype & macho.N_STAB:
                if best is None or (s.external and not best.external):
                    best = s
        return best.name if best else None

    # -- binding ---------------------------------------------------------------

    def _bind_all(self):
        im = self.image
        for f in im.rebases():
            a = self.image_address(f.address)
            if f.type == 1:
                self.write_ptr(a, self.ptr(a) + self.slide)
            elif f.type == 2:
                self.write(a, struct.pack("<I", (self.u32(a) + self.slide) & 0xFFFFFFFF))
            else:
                raise LoadError("rebase type %d at 0x%x is not supported" % (f.type, f.address))
        missing = []
        for f in im.binds("bind"):
            target = self._resolve(f.symbol, f.ordinal)
            if target is None:
                if f.weak_import:
                    target = 0
                else:
                    missing.append(f.symbol)
                    continue
            self._store_bind(f, target)
        if missing:
            raise LoadError(self._not_found(missing))
        for f in im.binds("weak_bind"):
            if getattr(f, "flags", 0) & macho.BIND_SYMBOL_FLAGS_NON_WEAK_DEFINITION:
                continue
            # One image and a host that defines none of these: the image's
            # own definition is the one every reference coalesces to.
            target = self.exported(f.symbol)
            if target is None:
                target = self.symbol(f.symbol)
            if target is None:
                raise LoadError("weak symbol %s has no definition" % f.symbol)
            self._store_bind(f, target)
        self._lazy = {f.lazy_offset: f for f in im.binds("lazy_bind")}
        for f in self._lazy.values():
            # Resolve now, bind when first called: an unknown lazy import
            # makes the load fail here, as it would with BIND_AT_LOAD.
            if self._resolve(f.symbol, f.ordinal) is None and not f.weak_import:
                raise LoadError(self._not_found([f.symbol]))

    def _not_found(self, names):
        names = sorted(set(names))
        where = sorted({"%s (expected in: %s)" % (n, lib) for n, lib in self.misplaced_imports if n in names})
        return "Symbol not found: %s" % ", ".join(where or names)

    def _store_bind(self, f, target):
        a = self.image_address(f.address)
        if f.type == 1:
            self.write_ptr(a, target + f.addend)
        elif f.type == 2:
            self.write(a, struct.pack("<I", (target + f.addend) & 0xFFFFFFFF))
        else:
            raise LoadError("bind type %d at 0x%x is not supported" % (f.type, f.address))

    def _resolve(self, name, ordinal):
        if ordinal == 0:
            return self.exported(name) or self.symbol(name)
        if ordinal > 0:
            # Two-level namespace: the symbol must come from the library the
            # image names for it, as dyld looks it up there and nowhere else.
            if ordinal > len(self.image.dylibs):
                return None
            library = self.image.dylibs[ordinal - 1]["name"]
            if library not in PROVIDERS.get(name, ()):
                self.misplaced_imports.add((name, library))
                return None
        if name in STAND_IN_DATA:
            return self._data_stand_in(name)
        handler = STAND_INS.get(name)
        if handler is None:
            return None
        return self._function_stand_in(name, handler)

    def _function_stand_in(self, name, handler):
        for addr, (n, _h) in self._stand_ins.items():
            if n == name:
                return addr
        addr = self._host_code_next
        self._host_code_next += 16
        code = handler.code(self, addr) if hasattr(handler, "code") else b"\xc3"
        self.write(addr, code)
        self._stand_ins[addr] = (name, handler)
        return addr

    def _data_stand_in(self, name):
        if name not in self._data_stand_ins:
            addr = self._host_data_next
            self._host_data_next += 16 * self.P
            self._data_stand_ins[name] = addr
        return self._data_stand_ins[name]

    # -- calls ------------------------------------------------------------------

    def reg(self, r64, r32):
        return self.uc.reg_read(r64 if self.is64 else r32)

    def argument(self, i):
        """Argument i of the stand-in being entered (its return address on top of the stack)."""
        if self.is64:
            regs = (X.UC_X86_REG_RDI, X.UC_X86_REG_RSI, X.UC_X86_REG_RDX, X.UC_X86_REG_RCX, X.UC_X86_REG_R8, X.UC_X86_REG_R9)
            return self.uc.reg_read(regs[i])
        sp = self.uc.reg_read(X.UC_X86_REG_ESP)
        return self.u32(sp + 4 + 4 * i)

    def set_result(self, value):
        if self.is64:
            self.uc.reg_write(X.UC_X86_REG_RAX, value & (2 ** 64 - 1))
        else:
            self.uc.reg_write(X.UC_X86_REG_EAX, value & 0xFFFFFFFF)

    def call(self, function, *args):
        """Calls function(args...) of the image and returns the raw result
        register (rax or eax). Raises Fault when the call does not return."""
        if not function:
            raise Fault("call through a null pointer")
        uc = self.uc
        sp = STACK + STACK_SIZE - 0x100
        if self.is64:
            regs = (X.UC_X86_REG_RDI, X.UC_X86_REG_RSI, X.UC_X86_REG_RDX, X.UC_X86_REG_RCX, X.UC_X86_REG_R8, X.UC_X86_REG_R9)
            if len(args) > len(regs):
                raise ValueError("too many arguments")
            for r, a in zip(regs, args):
                uc.reg_write(r, a & (2 ** 64 - 1))
            sp &= ~0xF
            sp -= 8
            self.write_ptr(sp, RETURN_ADDRESS)
            uc.reg_write(X.UC_X86_REG_RSP, sp)
            uc.reg_write(X.UC_X86_REG_RAX, 0)
        else:
            sp &= ~0xF
            sp -= 4 * len(args)
            sp &= ~0xF              # Darwin i386 keeps the stack 16-aligned at call sites
            for i, a in enumerate(args):
                self.write(sp + 4 * i, struct.pack("<I", a & 0xFFFFFFFF))
            sp -= 4
            self.write_ptr(sp, RETURN_ADDRESS)
            uc.reg_write(X.UC_X86_REG_ESP, sp)
            uc.reg_write(X.UC_X86_REG_EAX, 0)
        self._fault = None
        try:
            uc.emu_start(function, RETURN_ADDRESS, count=INSTRUCTION_LIMIT)
        except unicorn.UcError as e:
            raise Fault(self._fault or "CPU fault: %s at 0x%x" % (e, self.reg(X.UC_X86_REG_RIP, X.UC_X86_REG_EIP)))
        pc = self.reg(X.UC_X86_REG_RIP, X.UC_X86_REG_EIP)
        if self._fault:
            raise Fault(self._fault)
        if pc != RETURN_ADDRESS:
            raise Fault("call did not return within %d instructions (stopped at 0x%x)" % (INSTRUCTION_LIMIT, pc))
        return self.reg(X.UC_X86_REG_RAX, X.UC_X86_REG_EAX)

    def stop(self, reason):
        self._fault = reason
        self.uc.emu_stop()

    def _on_host_code(self, uc, address, size, _user):
        entry = self._stand_ins.get(address)
        if entry is None:
            if address != RETURN_ADDRESS and (address & ~15) not in self._stand_ins:
                self.stop("jump into host memory at 0x%x" % address)
            return
        name, handler = entry
        try:
            handler(self)
        except Fault as e:
            self.stop("%s: %s" % (name, e))

    def _on_sentinel(self, uc, address, size, _user):
        self.stop("the library called host address 0x%x (sentinel %s)" % (address, self.sentinel_index(address)))

    def _on_invalid(self, uc, access, address, size, value, _user):
        kinds = {unicorn.UC_MEM_READ_UNMAPPED: "read", unicorn.UC_MEM_WRITE_UNMAPPED: "write",
                 unicorn.UC_MEM_FETCH_UNMAPPED: "fetch", unicorn.UC_MEM_WRITE_PROT: "write to protected",
                 unicorn.UC_MEM_READ_PROT: "read of protected", unicorn.UC_MEM_FETCH_PROT: "fetch of protected"}
        self._fault = "invalid %s at 0x%x" % (kinds.get(access, "access"), address)
        lo = min(s.vmaddr for s in self.image.segments)
        hi = max(s.vmaddr + s.vmsize for s in self.image.segments)
        if self.slide and lo <= address < hi:
            # dyld slides a dylib; an absolute address of the image that the
            # rebase information does not cover still points at the unslid place.
            self._fault += (" (an address of the image before sliding: a reference the rebase"
                            " information does not cover)")
        return False

    # -- heap -------------------------------------------------------------------

    def allocate(self, size):
        addr = (self._heap_next + 15) & ~15
        if addr + max(size, 1) > HEAP + HEAP_SIZE:
            return 0
        self._heap_next = addr + max(size, 1)
        self.write(addr, b"\xcd" * size)    # fresh blocks are not zero: a missed store shows
        self.allocations[addr] = size
        self.log.append(("new", addr, size))
        return addr

    def release(self, addr, size=None):
        if addr == 0:
            return
        if addr not in self.allocations:
            if any(a == addr for a, _s in self.frees):
                raise Fault("delete of 0x%x a second time" % addr)
            raise Fault("delete of 0x%x, which operator new did not return" % addr)
        known = self.allocations.pop(addr)
        self.frees.append((addr, known if size is None else size))
        self.log.append(("delete", addr, known))

    # -- load-time and unload-time code -------------------------------------

    def initialisers(self):
        """The pointers of every __mod_init_func section, in file order."""
        out = []
        for s in self.image.sections_of_type(macho.S_MOD_INIT_FUNC_POINTERS):
            for i in range(s.size // self.P):
                out.append(self.ptr(self.image_address(s.addr) + i * self.P))
        return out

    def terminators(self):
        out = []
        for s in self.image.sections_of_type(macho.S_MOD_TERM_FUNC_POINTERS):
            for i in range(s.size // self.P):
                out.append(self.ptr(self.image_address(s.addr) + i * self.P))
        return out

    def watch(self, ranges):
        """Records every write into ranges [(lo, hi)] as (sequence,
        initialiser index, address, size) until unwatch()."""
        self.unwatch()
        self._watch_hooks = []
        for lo, hi in ranges:
            if hi > lo:
                self._watch_hooks.append(self.uc.hook_add(unicorn.UC_HOOK_MEM_WRITE, self._on_write, begin=lo, end=hi - 1))

    def unwatch(self):
        for h in getattr(self, "_watch_hooks", []):
            self.uc.hook_del(h)
        self._watch_hooks = []

    def _on_write(self, uc, access, address, size, value, _user):
        self._write_seq += 1
        self.writes.append((self._write_seq, self.current_initialiser, address, size))

    def run_initialisers(self):
        """Runs the initialisers in order, as dyld does for a freshly loaded
        image. Returns their addresses; raises Fault on the first that fails."""
        inits = self.initialisers()
        for i, f in enumerate(inits):
            self.current_initialiser = i
            self.log.append(("initialiser", i, f))
            try:
                self.call(f)
            finally:
                self.current_initialiser = None
        return inits

    def unload(self):
        """What dyld does when the image goes: the exit handlers that name
        this image as their owner, last registered first, then the image's
        terminators. Handlers owned by anything else stay registered."""
        owner = self.header_address
        ran = []
        for i in range(len(self.atexit) - 1, -1, -1):
            f, arg, dso = self.atexit[i]
            if dso != owner:
                continue
            del self.atexit[i]
            ran.append((f, arg))
            self.log.append(("exit-handler", f, arg))
            self.call(f, arg)
        for f in self.terminators():
            self.log.append(("terminator", f))
            self.call(f)
        return ran


# -- stand-ins ---------------------------------------------------------------
#
# Each takes the machine, reads its arguments with m.argument(i) and sets its
# result with m.set_result; the `ret` that follows the hook returns to the
# caller (cdecl on i386: the caller pops the arguments).

def _cxa_atexit(m):
    f, arg, dso = m.argument(0), m.argument(1), m.argument(2)
    m.atexit.append((f, arg, dso))
    m.log.append(("atexit", f, arg, dso))
    m.set_result(0)


def _new(m):
    m.set_result(m.allocate(m.argument(0)))
    if m.reg(X.UC_X86_REG_RAX, X.UC_X86_REG_EAX) == 0:
        # A throwing operator new cannot return null; the emulated heap
        # being exhausted is the host's failure, not the library's.
        m.stop("operator new: emulated heap exhausted")


def _delete(m):
    m.release(m.argument(0))


def _delete_sized(m):
    m.release(m.argument(0), m.argument(1))


def _strcpy(m):
    dst, src = m.argument(0), m.argument(1)
    text, truncated = m.cstring(src, 1 << 20)
    if truncated:
        raise Fault("source text longer than 1 MiB")
    m.write(dst, text + b"\0")
    m.set_result(dst)


def _strlen(m):
    text, _ = m.cstring(m.argument(0), 1 << 20)
    m.set_result(len(text))


def _memcpy(m):
    dst, src, n = m.argument(0), m.argument(1), m.argument(2)
    if n:
        m.write(dst, m.read(src, n))
    m.set_result(dst)


def _memset(m):
    dst, c, n = m.argument(0), m.argument(1), m.argument(2)
    if n:
        m.write(dst, bytes([c & 0xFF]) * n)
    m.set_result(dst)


def _bzero(m):
    dst, n = m.argument(0), m.argument(1)
    if n:
        m.write(dst, bytes(n))


def _unwind_resume(m):
    raise Fault("an exception left the library (_Unwind_Resume)")


def _personality(m):
    raise Fault("__gxx_personality_v0 was called: an exception is being unwound")


def _stack_chk_fail(m):
    raise Fault("stack protector tripped")


def _pure_virtual(m):
    raise Fault("a pure virtual operation was called")


def _not_emulated(m):
    # Bound so that an image importing them loads, as on a Mac; no host call
    # reaches them, and a call that does is reported rather than guessed at.
    raise Fault("this run-time function has no stand-in in the emulated host")


class _StubBinder:
    """dyld_stub_binder. A lazy stub's helper pushes the offset of the
    symbol's lazy-bind opcodes and then the image-loader cache word, and
    jumps here; the hook binds the lazy pointer and leaves the target in a
    slot, and the code after the hook drops the two words and jumps there,
    so the original call proceeds with its arguments untouched."""

    def code(self, m, here):
        slot = m._data_stand_in("dyld_stub_binder target")
        if m.is64:
            # add rsp, 16 ; jmp [rip + disp32] (disp from the end of this 10-byte sequence)
            return b"\x48\x83\xc4\x10" + b"\xff\x25" + struct.pack("<i", slot - (here + 10))
        # add esp, 8 ; jmp [abs32]
        return b"\x83\xc4\x08" + b"\xff\x25" + struct.pack("<I", slot)

    def __call__(self, m):
        sp = m.reg(X.UC_X86_REG_RSP, X.UC_X86_REG_ESP)
        offset = m.ptr(sp + m.P) & 0xFFFFFFFF
        f = m._lazy.get(offset)
        if f is None:
            raise Fault("no lazy binding at opcode offset %d" % offset)
        target = m._resolve(f.symbol, f.ordinal) or 0
        m._store_bind(f, target)
        m.lazy_bound.append(f.symbol)
        m.write_ptr(m._data_stand_in("dyld_stub_binder target"), target)


STAND_INS = {
    "___cxa_atexit": _cxa_atexit,
    "__Znwm": _new, "__Znam": _new, "__Znwj": _new, "__Znaj": _new,
    "__ZdlPv": _delete, "__ZdaPv": _delete,
    "__ZdlPvm": _delete_sized, "__ZdlPvj": _delete_sized, "__ZdaPvm": _delete_sized, "__ZdaPvj": _delete_sized,
    "_strcpy": _strcpy, "_strlen": _strlen,
    "_memcpy": _memcpy, "_memmove": _memcpy, "_memset": _memset, "___bzero": _bzero, "_bzero": _bzero,
    "__Unwind_Resume": _unwind_resume, "___gxx_personality_v0": _personality,
    "___stack_chk_fail": _stack_chk_fail, "___cxa_pure_virtual": _pure_virtual,
    "_strtod": _not_emulated, "_snprintf": _not_emulated,
    "dyld_stub_binder": _StubBinder(),
}

# Which of the platform's run-time libraries provides each stand-in, by
# install name: the library an image must name for the symbol under the
# two-level namespace.
LIBSYSTEM = "/usr/lib/libSystem.B.dylib"
LIBSTDCXX = "/usr/lib/libstdc++.6.dylib"
LIBGCC = "/usr/lib/libgcc_s.1.dylib"
PROVIDERS = {}
for _names, _libraries in (
        (("___cxa_atexit", "_strcpy", "_strlen", "_memcpy", "_memmove", "_memset", "___bzero", "_bzero",
          "_strtod", "_snprintf", "dyld_stub_binder", "___stack_chk_fail", "___stack_chk_guard"), (LIBSYSTEM,)),
        (("__Unwind_Resume",), (LIBSYSTEM, LIBGCC)),
        (("__Znwm", "__Znam", "__Znwj", "__Znaj", "__ZdlPv", "__ZdaPv", "__ZdlPvm", "__ZdlPvj", "__ZdaPvm", "__ZdaPvj",
          "___gxx_personality_v0", "___cxa_pure_virtual",
          "__ZTVN10__cxxabiv117__class_type_infoE", "__ZTVN10__cxxabiv120__si_class_type_infoE",
          "__ZTVN10__cxxabiv121__vmi_class_type_infoE"), (LIBSTDCXX,))):
    for _n in _names:
        PROVIDERS[_n] = _libraries

# Data the image refers to by address only: the run time's type-information
# vtables (the image's type records point two words into them) and the
# stack guard.
STAND_IN_DATA = {
    "__ZTVN10__cxxabiv117__class_type_infoE",
    "__ZTVN10__cxxabiv120__si_class_type_infoE",
    "__ZTVN10__cxxabiv121__vmi_class_type_infoE",
    "___stack_chk_guard",
}
