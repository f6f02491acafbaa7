#!/usr/bin/python3
"""Checks a built Lerpwork.dylib against what the macOS deliverable must be.

check-dylib.py [--thin ARCH] [--functions LerpworkFunctions.inc] DYLIB

Without --thin the file must be universal, x86_64 slice first, then i386;
with --thin ARCH it must be that one thin slice. Each slice is checked for
its header, load commands, dependent libraries and versions, imported
symbols, exported and hidden symbols, and the order of its initialisers.
The expected lists below are written out by hand from the deliverable's
symbol families; only the 45 callback names come from the package's
function list, the one place they are kept. Exit code 1 on any failure.
"""

import argparse
import re
import struct
import subprocess
import sys

from macholib.MachO import MachO
from macholib import mach_o

CPU = {"x86_64": 0x01000007, "i386": 7}

INSTALL_NAME = "/usr/local/lib/Lerpwork.dylib"
DEPENDENT_LIBRARIES = [  # (name, current, compatibility), in load order
    ("/usr/lib/libstdc++.6.dylib", "7.0.0", "7.0.0"),
    ("/usr/lib/libSystem.B.dylib", "1.0.0", "1.0.0"),
    ("/usr/lib/libgcc_s.1.dylib", "1.0.0", "1.0.0"),
]
HEADER_FLAGS = {"MH_NOUNDEFS": 0x1, "MH_DYLDLINK": 0x4, "MH_TWOLEVEL": 0x80,
                "MH_WEAK_DEFINES": 0x8000, "MH_BINDS_TO_WEAK": 0x10000}
# The load commands a slice carries, by kind; any other kind is a fault.
LOAD_COMMANDS = {"LC_SEGMENT", "LC_SEGMENT_64", "LC_ID_DYLIB", "LC_LOAD_DYLIB",
                 "LC_DYLD_INFO_ONLY", "LC_SYMTAB", "LC_DYSYMTAB", "LC_UUID",
                 "LC_VERSION_MIN_MACOSX", "LC_SOURCE_VERSION",
                 "LC_FUNCTION_STARTS", "LC_DATA_IN_CODE"}

# Imports: each symbol with the library it must bind to. Exit-handler
# registration, unwinding and type-information support, the global new and
# delete; dyld_stub_binder is the loader's own lazy-binding helper.
REQUIRED_IMPORTS = {
    "__cxa_atexit": "libSystem",
    "dyld_stub_binder": "libSystem",
    "_Unwind_Resume": "libgcc_s",
    "__gxx_personality_v0": "libstdc++",
    "vtable for __cxxabiv1::__class_type_info": "libstdc++",
    "vtable for __cxxabiv1::__si_class_type_info": "libstdc++",
    "operator new(unsigned long)": "libstdc++",
    "operator delete(void*)": "libstdc++",
}
# Allowed but not needed: the plug-in copies its contents directory with a
# bounded loop of its own and so needs no string function.
OPTIONAL_IMPORTS = {
    "strcpy": "libSystem",
    "operator delete(void*, unsigned long)": "libstdc++",
    "__cxa_pure_virtual": "libstdc++",
}

ENGINE_PACKAGES = """animation application cache camera collider debug dynamics
    group hashtable hud input light log math mesh microphone music navigation
    network object pixelmap projector scene sensor server session sfx shape
    sound string system table user video xml""".split()
# The 23 engine packages that hold constants, alphabetical.
PACKAGES_WITH_CONSTANTS = """Animation Application Cache Camera Debug Dynamics
    Hud Input Light Math Mesh Network Object Pixelmap Projector Scene Sensor
    Server Session Sfx Shape System User""".split()

CALLBACK_ARGS = "(int, S3DX::AIVariable const*, S3DX::AIVariable*)"


def class_family(cls, members):
    return ([f"{cls}::{cls}()", f"{cls}::~{cls}()"] + [f"{cls}::{m}" for m in members] +
            [f"vtable for {cls}", f"typeinfo for {cls}", f"typeinfo name for {cls}"])


def expected_exports(callbacks):
    package_ops = ["GetName() const", "GetFunctionCount() const", "GetConstantCount() const",
                   "GetFunctionAt(unsigned int) const", "GetConstantAt(unsigned int) const"]
    names = ["GetPlugin"]
    names += class_family("Lerpwork", [
        "GetAIEngineAPI()", "GetSDKVersion() const", "SetContentsDirectory(char const*)",
        "GetAIPackageCount() const", "GetAIPackageAt(unsigned int) const", "__oInstance"])
    names += ["Lerpwork::__AIEngineAPI::__AIEngineAPI()",
              "Lerpwork::__AIEngineAPI::RegisterCallback(unsigned int, int (*)" + CALLBACK_ARGS + ")",
              "vtable for Lerpwork::__AIEngineAPI", "typeinfo for Lerpwork::__AIEngineAPI",
              "typeinfo name for Lerpwork::__AIEngineAPI"]
    for cls in ("instPackage", "instantPackage", "LerpworkPackage"):
        names += class_family(cls, package_ops)
    names += [f"Callback_Lerpwork_{n}{CALLBACK_ARGS}" for n in callbacks]
    names += [f"{kind} for S3DX::{cls}" for cls in ("AIEngineAPI", "Plugin", "AIPackage")
              for kind in ("typeinfo", "typeinfo name")]
    names += ["S3DX::AIVariable::GetStringPoolBuffer(unsigned int)", "S3DX::AIVariable::pStringPool",
              "S3DX::AIVariable::iStringPoolSize", "S3DX::AIVariable::iStringPoolCursor"]
    names += ["GUID_Lerpwork::__pS3DXEAPIMI", "Lerpwork", "inst", "instant"]
    names += [f"S3DX::{p}" for p in ENGINE_PACKAGES]
    return set(names)


EXPECTED_WEAK_EXPORTS = {f"{kind} for S3DX::{cls}" for cls in ("AIEngineAPI", "Plugin", "AIPackage")
                         for kind in ("typeinfo", "typeinfo name")}

EXPECTED_HIDDEN = (
    {"Lerpwork::__AIEngineAPI::~__AIEngineAPI()"} |
    {f"S3DX::Plugin::{m}" for m in (
        "SetJavaVM(void*)", "SetDirect3DDevice(void*)", "SetXAudio2(void*)",
        "OnEngineEvent(unsigned int, unsigned int, S3DX::AIVariable*)",
        "SetNaClModuleInstance(void*)", "GetAudioBackendCount() const",
        "GetAudioBackendAt(unsigned int)")} |
    {f"S3DX::AIEngineAPI::{p}Package::{p}Package()" for p in PACKAGES_WITH_CONSTANTS})

# Virtual tables: the functions their slots must hold, in slot order.
PACKAGE_SLOTS = ["~{0}()", "~{0}()", "GetName() const", "GetFunctionCount() const", "GetConstantCount() const",
                 "GetFunctionAt(unsigned int) const", "GetConstantAt(unsigned int) const"]
VTABLES = {
    "Lerpwork": ["Lerpwork::~Lerpwork()", "Lerpwork::~Lerpwork()", "Lerpwork::GetSDKVersion() const",
                 "Lerpwork::SetContentsDirectory(char const*)", "Lerpwork::GetAIEngineAPI()",
                 "Lerpwork::GetAIPackageCount() const", "Lerpwork::GetAIPackageAt(unsigned int) const"] +
                [f"S3DX::Plugin::{m}" for m in (
                    "SetJavaVM(void*)", "SetDirect3DDevice(void*)", "SetXAudio2(void*)",
                    "OnEngineEvent(unsigned int, unsigned int, S3DX::AIVariable*)", "SetNaClModuleInstance(void*)",
                    "GetAudioBackendCount() const", "GetAudioBackendAt(unsigned int)")],
    "Lerpwork::__AIEngineAPI": ["Lerpwork::__AIEngineAPI::~__AIEngineAPI()"] * 2 +
                               ["Lerpwork::__AIEngineAPI::RegisterCallback(unsigned int, int (*)" + CALLBACK_ARGS + ")"],
}
for _cls in ("instPackage", "instantPackage", "LerpworkPackage"):
    VTABLES[_cls] = [f"{_cls}::" + m.format(_cls) for m in PACKAGE_SLOTS]

# The four units' initialisers, in link order.
INITIALISERS = ["_GLOBAL__sub_I_Plugin.cpp", "_GLOBAL__sub_I_instPackage.cpp",
                "_GLOBAL__sub_I_instantPackage.cpp", "_GLOBAL__sub_I_LerpworkPackage.cpp"]
# Objects that must be zero storage with no initialiser writing them.
DIRECT_CALL_OBJECTS = ["Lerpwork", "inst", "instant"]


class Report:
    def __init__(self):
        self.failures = 0

    def check(self, name, ok, detail=""):
        print(f"{'passed' if ok else 'FAILED'}  {name}" + (f": {detail}" if detail and not ok else ""))
        if not ok:
            self.failures += 1


def version(v):
    v = int(getattr(v, "_version", v))
    return f"{v >> 16}.{(v >> 8) & 0xff}.{v & 0xff}"


def demangle(names):
    """Mach-O names carry a leading underscore; dyld_stub_binder does not."""
    stripped = [n[1:] if n.startswith("_") else n for n in names]
    out = subprocess.run(["llvm-cxxfilt-19"], input="\n".join(stripped), capture_output=True,
                         text=True, check=True).stdout.split("\n")
    return dict(zip(names, out))


def symbols(path, arch):
    """(name, kind, library) for every symbol of the slice, from llvm-nm -m."""
    out = subprocess.run(["llvm-nm-19", "-m", f"--arch={arch}", path], capture_output=True,
                         text=True, check=True).stdout
    rows = []
    for line in out.splitlines():
        m = re.match(r"^\s*(?:[0-9a-f]+\s+)?\((\S+?)(?:,(\S+))?\)\s+(.*?)\s+(\S+)(?:\s+\(from (\S+)\))?$", line)
        if m:
            section, _, kind, name, library = m.groups()
            rows.append((name, "undefined" if section == "undefined" else kind, library))
    return rows


def check_slice(r, path, macho_header, arch, callbacks):
    p = f"{arch}: "
    h = macho_header.header
    r.check(p + "cpu-type", h.cputype == CPU[arch], f"cputype {h.cputype:#x}")
    r.check(p + "file-type-dylib", h.filetype == mach_o.MH_DYLIB, f"filetype {h.filetype}")
    want = sum(HEADER_FLAGS.values())
    r.check(p + "header-flags", h.flags == want, f"flags {h.flags:#x}, want {want:#x}")

    kinds, dylibs, ident, minimum = [], [], None, None
    for lc, cmd, data in macho_header.commands:
        kind = mach_o.LC_NAMES.get(lc.cmd, f"{lc.cmd:#x}")
        kinds.append(kind)
        if lc.cmd in (mach_o.LC_LOAD_DYLIB, mach_o.LC_ID_DYLIB):
            entry = (data.rstrip(b"\0").decode(), version(cmd.current_version),
                     version(cmd.compatibility_version))
            if lc.cmd == mach_o.LC_ID_DYLIB:
                ident = entry
            else:
                dylibs.append(entry)
        elif lc.cmd == mach_o.LC_VERSION_MIN_MACOSX:
            minimum = (version(cmd.version), version(cmd.sdk))
    unknown = sorted(set(kinds) - LOAD_COMMANDS)
    r.check(p + "load-command-kinds", not unknown, f"unexpected {unknown}")
    r.check(p + "install-name", ident == (INSTALL_NAME, "1.0.0", "1.0.0"), f"got {ident}")
    r.check(p + "minimum-system", minimum == ("10.4.0", "10.13.0") and kinds.count("LC_VERSION_MIN_MACOSX") == 1,
            f"got {minimum}")
    r.check(p + "dependent-libraries", dylibs == DEPENDENT_LIBRARIES, f"got {dylibs}")
    r.check(p + "no-build-version", "LC_BUILD_VERSION" not in kinds)

    rows = symbols(path, arch)
    names = demangle([n for n, _, _ in rows])
    imports = {names[n]: lib for n, kind, lib in rows if kind == "undefined"}
    allowed = dict(OPTIONAL_IMPORTS, **REQUIRED_IMPORTS)
    wrong = {n: lib for n, lib in imports.items() if allowed.get(n) != lib}
    missing = sorted(set(REQUIRED_IMPORTS) - set(imports))
    r.check(p + "imports", not wrong and not missing, f"unexpected {wrong}, missing {missing}")
    # The contents directory is copied with a bounded loop of the plug-in's
    # own; an imported strcpy would mean an unbounded copy into the member.
    r.check(p + "contents-directory-copy-bounded", "strcpy" not in imports, "strcpy is imported")

    exported = {names[n] for n, kind, _ in rows if kind in ("external", "weak external")}
    weak = {names[n] for n, kind, _ in rows if kind == "weak external"}
    hidden = {names[n] for n, kind, _ in rows if kind == "non-external (was a private external)"}
    # Every reference to the SDK's weak type information is a weak bind, so
    # the loader can make the host's and the library's copies one.
    table = subprocess.run(["llvm-objdump-19", "--macho", f"--arch={arch}", "--weak-bind", path],
                           capture_output=True, text=True).stdout
    bound = {line.split()[-1] for line in table.splitlines() if line.startswith("__DATA")}
    bound = set(demangle(sorted(bound)).values())
    r.check(p + "weak-binds", bound == EXPECTED_WEAK_EXPORTS, f"weak binds to {sorted(bound)}")
    want_exports = expected_exports(callbacks)
    r.check(p + "exports", exported == want_exports,
            f"extra {sorted(exported - want_exports)}, missing {sorted(want_exports - exported)}")
    r.check(p + "weak-exports", weak == EXPECTED_WEAK_EXPORTS,
            f"extra {sorted(weak - EXPECTED_WEAK_EXPORTS)}, missing {sorted(EXPECTED_WEAK_EXPORTS - weak)}")
    r.check(p + "hidden-members", hidden >= EXPECTED_HIDDEN and not (hidden & want_exports),
            f"missing {sorted(EXPECTED_HIDDEN - hidden)}")
    # No other member of the SDK classes may exist, hidden or not.
    sdk_members = {n for n in names.values()
                   if re.match(r"^(?:(?:vtable|typeinfo|typeinfo name) for )?S3DX::(AIVariable|Plugin|AIEngineAPI|AIPackage)\b", n)}
    stray = sorted(sdk_members - want_exports - EXPECTED_HIDDEN)
    r.check(p + "no-other-sdk-members", not stray, f"stray {stray}")

    check_storage(r, p, path, arch)

    # Initialisers: the __mod_init_func pointers, mapped to the units'
    # initialiser functions, must be the four units in link order.
    pointer = 8 if arch == "x86_64" else 4
    by_address, address_of = {}, {}
    for line in subprocess.run(["llvm-nm-19", f"--arch={arch}", "--defined-only", path],
                               capture_output=True, text=True, check=True).stdout.splitlines():
        address, _, name = line.split(None, 2)
        by_address.setdefault(int(address, 16), name)
        address_of[name] = int(address, 16)
    init = section(path, macho_header, "__DATA", "__mod_init_func")
    entries = [] if init is None else list(struct.unpack(f"<{len(init) // pointer}{'Q' if pointer == 8 else 'I'}", init))
    order = [by_address.get(a, hex(a)).lstrip("_") for a in entries]
    r.check(p + "initialiser-order", order == [n.lstrip("_") for n in INITIALISERS], f"got {order}")

    names_at = {}
    for name, address in address_of.items():
        names_at.setdefault(address, set()).add(name)
    demangled_at = {a: {names.get(n) or demangle([n])[n] for n in ns} for a, ns in names_at.items()}
    check_vtables(r, p, path, macho_header, arch, address_of, demangled_at)
    text = subprocess.run(["llvm-objdump-19", "--macho", f"--arch={arch}", "-d", "--no-show-raw-insn", path],
                          capture_output=True, text=True, check=True).stdout
    check_plugin_initialiser(r, p, text, by_address, entries)
    if arch == "x86_64":
        check_no_direct_call_stores(r, p, path, arch, by_address, address_of, entries)


def read_word(path, macho_header, arch, address):
    """The pointer-sized word at a virtual address of the slice, as stored in
    the file (before any slide)."""
    size = 8 if arch == "x86_64" else 4
    for lc, cmd, _ in macho_header.commands:
        if lc.cmd in (mach_o.LC_SEGMENT, mach_o.LC_SEGMENT_64) and cmd.filesize and \
                cmd.vmaddr <= address < cmd.vmaddr + cmd.filesize:
            with open(path, "rb") as f:
                f.seek(macho_header.offset + cmd.fileoff + address - cmd.vmaddr)
                return struct.unpack("<Q" if size == 8 else "<I", f.read(size))[0]
    return None


def check_vtables(r, p, path, macho_header, arch, address_of, demangled_at):
    """Each virtual-table slot holds the function the class's declaration
    puts there (a linker that resolves a reference wrongly fills slots with
    unrelated addresses)."""
    size = 8 if arch == "x86_64" else 4
    wrong = []
    for cls, slots in VTABLES.items():
        mangled = "__ZTV" + "".join(f"{len(part)}{part}" for part in cls.split("::"))
        if "::" in cls:
            mangled = "__ZTVN" + mangled[5:] + "E"
        start = address_of.get(mangled)
        if start is None:
            wrong.append(f"no vtable for {cls}")
            continue
        for i, want in enumerate(slots):
            value = read_word(path, macho_header, arch, start + (2 + i) * size)
            got = demangled_at.get(value, {hex(value) if value is not None else "unreadable"})
            if want not in got:
                wrong.append(f"{cls} slot {i}: {sorted(got)}")
    r.check(p + "virtual-table-slots", not wrong, "; ".join(wrong))


def check_plugin_initialiser(r, p, text, by_address, entries):
    """The Plugin unit's initialiser builds the 23 engine package objects in
    alphabetical order, then the plug-in object, and last registers its
    destructor through __cxa_atexit, once."""
    name = by_address.get(entries[0]) if entries else None
    calls, inside = [], False
    for line in text.splitlines():
        if re.match(r"^\S+:$", line):
            inside = line[:-1] == name
        elif inside:
            m = re.match(r"^\s*[0-9a-f]+:\s+call[lq]\s+(\S+)(?:\s+## (.*))?$", line)
            if m:
                calls.append(m.group(2) or m.group(1))
    packages = [c for c in calls if re.fullmatch(r"S3DX::AIEngineAPI::(\w+)Package::\1Package\(\)", c)]
    want = [f"S3DX::AIEngineAPI::{n}Package::{n}Package()" for n in PACKAGES_WITH_CONSTANTS]
    r.check(p + "engine-objects-in-order", packages == want, f"got {packages}")
    atexit = [i for i, c in enumerate(calls) if c.endswith("___cxa_atexit")]
    plugin = [i for i, c in enumerate(calls) if c in ("Lerpwork::Lerpwork()", "symbol stub for: __Znwm")]
    last_package = max((i for i, c in enumerate(calls) if c in packages), default=-1)
    r.check(p + "plugin-object-after-engine-objects", plugin and min(plugin) > last_package, f"calls {calls}")
    r.check(p + "destructor-registered-last-once", len(atexit) == 1 and atexit[0] == len(calls) - 1 and
            plugin and atexit[0] > max(plugin), f"calls {calls}")


def check_storage(r, p, path, arch):
    """What the initialisers fill starts as zero storage: the engine package
    objects, the three constant tables and the direct-call objects; the main
    package's function table is initialised data."""
    out = subprocess.run(["llvm-nm-19", "-m", f"--arch={arch}", "--defined-only", path],
                         capture_output=True, text=True, check=True).stdout
    sections = {}
    for line in out.splitlines():
        m = re.match(r"^[0-9a-f]+ \((\S+),(\S+)\) .* (\S+)$", line)
        if m:
            sections.setdefault(m.group(3), []).append(m.group(2))
    zero = ["_" + n for n in DIRECT_CALL_OBJECTS] + [
        "__ZN4S3DX" + f"{len(n)}{n}" + "E" for n in ENGINE_PACKAGES]
    wrong = [f"{n} in {sections.get(n)}" for n in zero if sections.get(n) not in (["__bss"], ["__common"])]
    tables = sections.get("__ZL12aMyConstants", [])
    if len(tables) != 3 or any(t not in ("__bss", "__common") for t in tables):
        wrong.append(f"constant tables in {tables}")
    if sections.get("__ZL12aMyFunctions", []).count("__const") < 1:
        wrong.append(f"function tables in {sections.get('__ZL12aMyFunctions')}")
    r.check(p + "zero-storage-filled-at-load", not wrong, "; ".join(wrong))


def section(path, macho_header, segname, sectname):
    for lc, cmd, data in macho_header.commands:
        if lc.cmd in (mach_o.LC_SEGMENT, mach_o.LC_SEGMENT_64):
            for s in data:
                if s.segname.rstrip(b"\0").decode() == segname and s.sectname.rstrip(b"\0").decode() == sectname:
                    with open(path, "rb") as f:
                        f.seek(macho_header.offset + s.offset)
                        return f.read(s.size)
    return None


def check_no_direct_call_stores(r, p, path, arch, by_address, address_of, entries):
    """No initialiser writes into a direct-call object: what the plug-in
    object's construction puts there must stay. Read from the x86_64 code,
    where every store to a global is RIP-relative."""
    # Mach-O records no sizes: an object ends where the next symbol starts.
    starts = sorted(by_address)
    ranges = {}
    for name in DIRECT_CALL_OBJECTS:
        if "_" + name in address_of:
            start = address_of["_" + name]
            later = [a for a in starts if a > start]
            ranges[name] = (start, later[0] if later else start + 4096)
    r.check(p + "direct-call-objects-present", set(ranges) == set(DIRECT_CALL_OBJECTS), f"got {sorted(ranges)}")

    # The whole __text, cut into functions at their labels.
    text = subprocess.run(["llvm-objdump-19", "--macho", f"--arch={arch}", "-d", "--no-show-raw-insn", path],
                          capture_output=True, text=True, check=True).stdout
    functions, current = {}, None
    for line in text.splitlines():
        label = re.match(r"^(\S+):$", line)
        insn = re.match(r"^\s*([0-9a-f]+):\t(\S+)\t?([^#]*)", line)
        if label:
            current = functions.setdefault(label.group(1), [])
        elif insn and current is not None:
            current.append((int(insn.group(1), 16), insn.group(2), insn.group(3).strip()))

    bad, stores = [], 0
    for address in entries:
        name = by_address.get(address, hex(address))
        insns = functions.get(name, [])
        for i, (at, mnemonic, operands) in enumerate(insns):
            destination = operands.rsplit(",", 1)[-1].strip()
            m = re.fullmatch(r"(-?0x[0-9a-f]+|[\w.$]+(?:[+-]0x[0-9a-f]+)?)\(%rip\)", destination)
            if not mnemonic.startswith("mov") or "," not in operands or not m:
                continue
            stores += 1
            base = m.group(1)
            if re.fullmatch(r"-?0x[0-9a-f]+", base):
                following = insns[i + 1][0] if i + 1 < len(insns) else at
                target = following + int(base, 16)
            else:
                sym, _, offset = re.match(r"([\w.$]+)(?:([+-])(0x[0-9a-f]+))?", base).group(1, 2, 3)
                target = address_of.get(sym, -1) + (int(offset, 16) if offset else 0)
            bad += [f"{name} writes {o}" for o, (lo, hi) in ranges.items() if lo <= target < hi]
    # The initialisers do store (the constant tables), so a reader that saw
    # no store at all would prove nothing.
    r.check(p + "initialiser-stores-read", stores > 0, "no store found in the initialisers")
    r.check(p + "direct-call-objects-not-initialised", not bad, "; ".join(sorted(set(bad))))


def read_callbacks(path):
    with open(path) as f:
        return re.findall(r"^LERPWORK_FUNCTION \( (\w+),", f.read(), re.M)


def main():
    a = argparse.ArgumentParser()
    a.add_argument("--thin", choices=sorted(CPU))
    a.add_argument("--functions", required=True)
    a.add_argument("dylib")
    args = a.parse_args()

    r = Report()
    callbacks = read_callbacks(args.functions)
    r.check("callback-list", len(callbacks) == 45 and len(set(callbacks)) == 45, f"{len(callbacks)} names")

    m = MachO(args.dylib)
    arches = [args.thin] if args.thin else ["x86_64", "i386"]
    r.check("universal" if not args.thin else "thin", bool(m.fat) != bool(args.thin),
            "fat file" if m.fat else "thin file")
    got = [next((k for k, v in CPU.items() if v == h.header.cputype), hex(h.header.cputype)) for h in m.headers]
    r.check("slice-order", got == arches, f"got {got}")
    if got == arches:
        for h, arch in zip(m.headers, arches):
            check_slice(r, args.dylib, h, arch, callbacks)

    print(f"{r.failures} failed")
    return 1 if r.failures else 0


if __name__ == "__main__":
    sys.exit(main())
