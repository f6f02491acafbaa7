"""The emulated macOS host: takes the host's part against one slice of a
Mach-O plug-in library inside the emulator and writes the same raw records
as the native probe (tools/host/README.md), call for call and in the same
order, so that the checks and the host view are shared with the other
platforms.

Beside the records it keeps what only a loader sees (`Observer.loader`): the
initialisers and the order of their writes, the exit-handler registrations,
the binds, and the releases at unload. That part is not a record stream; the
tests of the emulated host read it."""

import os
import re
import struct

from . import emulator, macho

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))

UNKNOWN_IDENTIFIERS = (0x00000000, 0xFFFFFFFF, 0x00000001, 0x0002D228, 0xFFE11C32, 0x12345678)
MAX_PACKAGES = 64
MAX_ROWS = 4096
MAX_TEXT = 65536
RESULT_COUNT = 8
MARKER_TAG = 0x7F
PATH_CASES = (("empty", 0), ("short", -2), ("long", 300), ("max", 1023), ("over", 1024),
              ("far-over", 4096), ("null", -1), ("empty", 0))

# Virtual-table slots, Itanium layout: the complete and the deleting
# destructor come first.
PLUGIN_SLOTS = {n: i for i, n in enumerate((
    "~Plugin", "~Plugin deleting", "GetSDKVersion", "SetContentsDirectory", "GetAIEngineAPI",
    "GetAIPackageCount", "GetAIPackageAt", "SetJavaVM", "SetDirect3DDevice", "SetXAudio2",
    "OnEngineEvent", "SetNaClModuleInstance", "GetAudioBackendCount", "GetAudioBackendAt"))}
PACKAGE_SLOTS = {n: i for i, n in enumerate((
    "~AIPackage", "~AIPackage deleting", "GetName", "GetFunctionCount", "GetConstantCount",
    "GetFunctionAt", "GetConstantAt"))}
ENGINE_API_SLOTS = {"~AIEngineAPI": 0, "~AIEngineAPI deleting": 1, "RegisterCallback": 2}
SLOT_COUNT = 1622

GLOBAL_TABLE = "_ZN13GUID_Lerpwork13__pS3DXEAPIMIE"
INSTANCE = "_ZN8Lerpwork11__oInstanceE"
DIRECT_CALLS = "Lerpwork"


def _read(path):
    with open(path) as f:
        return f.read()


def identifiers(root=ROOT):
    text = _read(os.path.join(root, "sdk", "S3DXAIEngineIdentifiers.inc"))
    return [int(i, 16) for i, _s in re.findall(r"^S3DX_ENGINE_FUNCTION \( (0x[0-9a-fA-F]+), (\d+) \)", text, re.M)]


def engine_objects(root=ROOT):
    """[(type, object, count)] in list order."""
    text = _read(os.path.join(root, "sdk", "S3DXAIEngineConstants.inc"))
    out = []
    for m in re.finditer(r"^S3DX_ENGINE_(PACKAGE_BEGIN|EMPTY_PACKAGE) \( (\w+), (\w+)(?:, (\d+))? \)", text, re.M):
        out.append((m.group(2) + "Package", m.group(3), int(m.group(4) or 0)))
    return out


def itanium_object_name(type_, obj):
    return "_ZN4S3DX%d%sE" % (len(obj), obj)


def _text(b):
    return b.decode("latin-1")


class Observer:
    """Runs one slice. `records` is the raw stream, `loader` the loader's facts."""

    def __init__(self, image, root=ROOT):
        self.image = image
        self.root = root
        self.records = []
        self.loader = {}
        self.m = None

    # -- helpers ---------------------------------------------------------------

    def emit(self, kind, **members):
        r = {"record": kind}
        r.update(members)
        self.records.append(r)
        return r

    def step(self, name):
        self.emit("step", name=name)

    def symbol(self, name):
        """An exported symbol, by its decorated name without the platform's underscore."""
        return self.m.exported("_" + name)

    def vcall(self, obj, slot, *args):
        m = self.m
        vtable = m.ptr(obj)
        return m.call(m.ptr(vtable + slot * m.P), obj, *args)

    def u32(self, v):
        return v & 0xFFFFFFFF

    def pointer(self, v):
        return v & ((1 << (8 * self.m.P)) - 1)

    def text(self, addr):
        """(text or None, truncated); raises Fault on a bad pointer."""
        if addr == 0:
            return None, False
        b, truncated = self.m.cstring(addr, MAX_TEXT)
        return _text(b), truncated

    def guarded(self, f):
        """Runs f(); returns (True, value) or (False, fault text)."""
        try:
            return True, f()
        except emulator.Fault as e:
            return False, str(e)

    def variable_bytes(self, addr):
        return self.m.read(addr, 2 * self.m.P)

    def payload_hex(self, var):
        P = self.m.P
        return var[P:2 * P].hex()

    def fill_marker(self, addr, n):
        V = 2 * self.m.P
        block = bytearray(b"\xa5" * (V * n))
        for i in range(n):
            block[i * V] = MARKER_TAG
        self.m.write(addr, block)

    def is_marker(self, var):
        return var[0] == MARKER_TAG and var[self.m.P:] == b"\xa5" * self.m.P

    # -- the stream -------------------------------------------------------------

    def run(self):
        im = self.image
        P = im.pointer_size
        self.emit("probe", format=1, platform="macos-emulated", pointer_size=P, variable_size=2 * P)
        try:
            self.m = emulator.Machine(im)
            self.load()
        except (emulator.LoadError, emulator.Fault, macho.MachOError) as e:
            self.emit("load", ok=False, error=str(e))
            self.emit("end")
            return self.records
        self.emit("load", ok=True)
        entry = self.symbol("GetPlugin") is not None
        self.emit("entry", name="GetPlugin", found=entry)
        if entry and self.plugin_phase():
            self.engine_api_phase()
            self.packages_phase()
            self.callbacks_phase()
            self.inherited_phase()
            self.engine_objects_phase()
            self.unload_phase()
        self.emit("end")
        return self.records

    def load(self):
        """Loads the slice in the machine: binds, watches and runs the
        initialisers, and fills self.loader; raises as Machine does."""
        m, im = self.m, self.image
        V = 2 * m.P
        watched = {}
        for type_, obj, count in engine_objects(self.root):
            a = self.symbol(itanium_object_name(type_, obj))
            if a is not None:
                watched["S3DX::" + obj] = (a, a + max(count * V, 1))
        inst = self.symbol(INSTANCE)
        if inst is not None:
            watched["Lerpwork::__oInstance"] = (inst, inst + m.P * (1 + 1 + SLOT_COUNT + 3) + 1024)
        direct = self.symbol(DIRECT_CALLS)
        if direct is not None:
            watched["Lerpwork (direct calls)"] = (direct, direct + 45 * m.P + 8 * V)
        gt = self.symbol(GLOBAL_TABLE)
        if gt is not None:
            watched["GUID_Lerpwork::__pS3DXEAPIMI"] = (gt, gt + m.P)
        m.watch(list(watched.values()))
        self.loader.update({
            "arch": im.arch, "flags": im.flag_names(), "install_name": im.install_name,
            "dylibs": im.dylibs, "min_os": im.min_os,
            "imports": sorted({(f.symbol, f.ordinal) for w in ("bind", "lazy_bind") for f in im.binds(w) if f.ordinal > 0}),
            "lazy_imports": sorted({f.symbol for f in im.binds("lazy_bind")}),
            "weak_binds": sorted({f.symbol for f in im.binds("weak_bind")}),
            "unfixed_pointers": ["%s,%s+%d" % p for p in im.unfixed_pointers()],
        })
        try:
            inits = m.run_initialisers()
        finally:
            m.unwatch()
        self.loader["initialisers"] = [{"index": i, "symbol": m.symbol_at(f)} for i, f in enumerate(inits)]
        self.loader["terminators"] = len(m.terminators())
        regions = {}
        for name, (lo, hi) in watched.items():
            seqs = [(s, i) for s, i, a, n in m.writes if a < hi and a + n > lo]
            regions[name] = {
                "writes": len(seqs),
                "first": seqs[0][0] if seqs else None,
                "last": seqs[-1][0] if seqs else None,
                "initialisers": sorted({i for _s, i in seqs if i is not None}),
            }
        self.loader["writes"] = regions
        self.loader["atexit"] = [{
            "function": m.symbol_at(f),
            "argument_is_instance": inst is not None and arg == inst,
            "owner_is_image": dso == m.header_address,
        } for f, arg, dso in m.atexit]
        self.loader["allocations_at_load"] = [size for ev, _a, size in (e for e in m.log if e[0] == "new")]

    def plugin_phase(self):
        m = self.m
        self.step("plugin")
        get_plugin = self.symbol("GetPlugin")
        ok, v = self.guarded(lambda: (self.pointer(m.call(get_plugin)), self.pointer(m.call(get_plugin))))
        if not ok:
            self.emit("get-plugin", crashed=True)
            return False
        self.plugin, second = v
        self.emit("get-plugin", null=self.plugin == 0, same=self.plugin == second)
        if not self.plugin:
            return False
        ok, v = self.guarded(lambda: self.u32(self.vcall(self.plugin, PLUGIN_SLOTS["GetSDKVersion"])))
        self.emit("sdk-version", **({"value": v} if ok else {"crashed": True}))
        for name, length in PATH_CASES:
            if length == -1:
                arg, shown = 0, None
            elif length == -2:
                arg, shown = m.scratch(b"/contents\0"), 9
            else:
                path = bytes(ord("/") if i == 0 else ord("a") + i % 26 for i in range(length))
                arg, shown = m.scratch(path + b"\0"), length
            r = {"case": name, "length": shown}
            ok, _ = self.guarded(lambda: self.vcall(self.plugin, PLUGIN_SLOTS["SetContentsDirectory"], arg))
            if not ok:
                r["crashed"] = True
            self.emit("contents-directory", **r)
        return True

    # -- engine callback table -------------------------------------------------

    def slot_value(self, p):
        if p == 0:
            return None
        i = self.m.sentinel_index(p)
        return i if i is not None and i < self.sentinel_count else "foreign"

    def read_slots(self):
        m = self.m
        raw = m.read(self.engine_api + m.P, SLOT_COUNT * m.P)
        vals = struct.unpack("<%d%s" % (SLOT_COUNT, "Q" if m.is64 else "I"), raw)
        return [self.slot_value(p) for p in vals]

    def register(self, case, position, identifier, sentinel):
        m = self.m
        r = {"case": case, "position": position, "identifier": identifier, "sentinel": sentinel}
        address = 0 if sentinel is None else m.sentinel(sentinel)
        ok, _ = self.guarded(lambda: self.vcall(self.engine_api, ENGINE_API_SLOTS["RegisterCallback"], identifier, address))
        if ok:
            ok, after = self.guarded(self.read_slots)
        if not ok:
            r["crashed"] = True
            self.emit("register", **r)
            ok, v = self.guarded(self.read_slots)
            if ok:
                self.slots_before = v
            return
        r["changed"] = [{"slot": i, "from": b, "to": a} for i, (b, a) in enumerate(zip(self.slots_before, after)) if a != b]
        self.slots_before = after
        self.emit("register", **r)

    def slots_record(self, stage):
        ok, v = self.guarded(self.read_slots)
        if ok:
            self.emit("engine-slots", stage=stage, slots=v)
        else:
            self.emit("engine-slots", stage=stage, crashed=True)

    def engine_api_phase(self):
        m = self.m
        ids = identifiers(self.root)
        self.sentinel_count = len(ids) + len(UNKNOWN_IDENTIFIERS) + 1
        self.step("engine-api")
        get = lambda: self.pointer(self.vcall(self.plugin, PLUGIN_SLOTS["GetAIEngineAPI"]))
        ok, v = self.guarded(lambda: (get(), get()))
        if not ok:
            self.engine_api = 0
            self.emit("engine-api", crashed=True)
            return
        self.engine_api, second = v
        glob = self.symbol(GLOBAL_TABLE)
        self.emit("engine-api", null=self.engine_api == 0, same=self.engine_api == second,
                  global_found=glob is not None,
                  equals_global=(m.ptr(glob) == self.engine_api) if glob is not None else None)
        if not self.engine_api:
            return
        self.slots_record("before")
        ok, v = self.guarded(self.read_slots)
        if not ok:
            return
        self.slots_before = v
        for i, ident in enumerate(ids):
            self.register("known", i, ident, i)
        for i, ident in enumerate(UNKNOWN_IDENTIFIERS):
            self.register("unknown", None, ident, len(ids) + i)
        repeat = len(ids) + len(UNKNOWN_IDENTIFIERS)
        self.register("repeat", 0, ids[0], repeat)
        self.register("null", 0, ids[0], None)
        self.register("restore", 0, ids[0], 0)
        self.slots_record("after")

    # -- packages -------------------------------------------------------------

    def function_record(self, k, index, filler):
        m, P = self.m, self.m.P
        r = {"package": k, "index": index, "filler": filler}

        def read():
            pkg = self.packages[k]
            row = self.pointer(self.vcall(pkg, PACKAGE_SLOTS["GetFunctionAt"], index))
            again = self.pointer(self.vcall(pkg, PACKAGE_SLOTS["GetFunctionAt"], index))
            texts = [self.text(m.ptr(row + o * P)) for o in (0, 2, 3, 4)]
            return row, again, texts, m.ptr(row + P) != 0, m.u32(row + 5 * P)

        ok, v = self.guarded(read)
        if not ok:
            r["crashed"] = True
            return self.emit("function", **r)
        row, again, texts, callback, flags = v
        (name, t0), (outputs, t1), (inputs, t2), (help_, t3) = texts
        r.update(name=name, callback=callback, outputs=outputs, inputs=inputs, help=help_, flags=flags, same=row == again)
        if t0 or t1 or t2 or t3:
            r["truncated"] = True
        return self.emit("function", **r)

    def constant_record(self, k, index, filler):
        m, P = self.m, self.m.P
        r = {"package": k, "index": index, "filler": filler}

        def read():
            pkg = self.packages[k]
            row = self.pointer(self.vcall(pkg, PACKAGE_SLOTS["GetConstantAt"], index))
            again = self.pointer(self.vcall(pkg, PACKAGE_SLOTS["GetConstantAt"], index))
            name = self.text(m.ptr(row))
            var = self.variable_bytes(row + P)
            help_ = self.text(m.ptr(row + 3 * P))
            return row, again, name, var, help_, m.u32(row + 4 * P)

        ok, v = self.guarded(read)
        if not ok:
            r["crashed"] = True
            return self.emit("constant", **r)
        row, again, (name, t0), var, (help_, t1), flags = v
        r.update(name=name, tag=var[0], payload=self.payload_hex(var), help=help_, flags=flags, same=row == again)
        if t0 or t1:
            r["truncated"] = True
        return self.emit("constant", **r)

    def packages_phase(self):
        self.step("packages")
        self.package_count = 0
        ok, v = self.guarded(lambda: self.u32(self.vcall(self.plugin, PLUGIN_SLOTS["GetAIPackageCount"])))
        if ok:
            self.package_count = v
            self.emit("package-count", value=v)
        else:
            self.emit("package-count", crashed=True)
        listed = min(self.package_count, MAX_PACKAGES)
        self.packages = [0] * listed
        self.function_counts = [0] * listed
        outside = (self.package_count, 0xFFFFFFFF)
        for k in range(listed + 2):
            index = k if k < listed else outside[k - listed]

            def read():
                at = lambda: self.pointer(self.vcall(self.plugin, PLUGIN_SLOTS["GetAIPackageAt"], index))
                pkg, again = at(), at()
                if not pkg:
                    return pkg, again, None
                name = self.text(self.pointer(self.vcall(pkg, PACKAGE_SLOTS["GetName"])))
                nf = self.u32(self.vcall(pkg, PACKAGE_SLOTS["GetFunctionCount"]))
                nc = self.u32(self.vcall(pkg, PACKAGE_SLOTS["GetConstantCount"]))
                return pkg, again, (name, nf, nc)

            ok, v = self.guarded(read)
            if not ok:
                self.emit("package", index=index, crashed=True)
                continue
            pkg, again, facts = v
            r = {"index": index, "null": pkg == 0, "same": pkg == again}
            if facts:
                (name, truncated), nf, nc = facts
                r.update(name=name, function_count=nf, constant_count=nc)
                if truncated:
                    r["truncated"] = True
            self.emit("package", **r)
            if k >= listed or not pkg:
                continue
            self.packages[k] = pkg
            nf, nc = facts[1], facts[2]
            self.function_counts[k] = min(nf, MAX_ROWS)
            if nf == 0:
                self.function_record(k, 0, True)
            for i in range(self.function_counts[k]):
                self.function_record(k, i, False)
            if nc == 0:
                self.constant_record(k, 0, True)
            for i in range(min(nc, MAX_ROWS)):
                self.constant_record(k, i, False)

    # -- callbacks --------------------------------------------------------------

    def arguments_block(self):
        P = self.m.P
        V = 2 * P
        probe = self.m.scratch(b"probe\0")
        block = bytearray(3 * V)
        block[0] = 1
        block[P:P + 4] = struct.pack("<f", 1.5)
        block[V] = 2
        block[V + P:V + 2 * P] = probe.to_bytes(P, "little")
        block[2 * V] = 3
        block[2 * V + P] = 1
        return bytes(block)

    def call_record(self, k, index, callback, name, arguments):
        m = self.m
        V = 2 * m.P
        args_bytes = self.arguments_block()
        args = m.scratch(args_bytes)
        results = m.scratch(V * RESULT_COUNT)
        self.fill_marker(results, RESULT_COUNT)
        r = {"package": k, "function": index, "name": name, "arguments": arguments}
        ok, v = self.guarded(lambda: m.call(callback, arguments, args, results))
        if not ok:
            r["crashed"] = True
            return self.emit("call", **r)
        returned = v & 0xFFFFFFFF
        r["returned"] = returned - (1 << 32) if returned & 0x80000000 else returned
        changed = []
        for i in range(RESULT_COUNT):
            var = m.read(results + i * V, V)
            if not self.is_marker(var):
                changed.append({"slot": i, "tag": var[0], "payload": self.payload_hex(var)})
        r["changed"] = changed
        r["arguments_changed"] = m.read(args, len(args_bytes)) != args_bytes
        return self.emit("call", **r)

    def callbacks_phase(self):
        m, P = self.m, self.m.P
        self.step("callbacks")
        for k, pkg in enumerate(self.packages):
            if not pkg:
                continue
            for i in range(self.function_counts[k]):
                def read():
                    row = self.pointer(self.vcall(pkg, PACKAGE_SLOTS["GetFunctionAt"], i))
                    return m.ptr(row + P), self.text(m.ptr(row))[0]
                ok, v = self.guarded(read)
                if not ok or not v[0]:
                    continue
                callback, name = v
                self.call_record(k, i, callback, name, 0)
                self.call_record(k, i, callback, name, 3)

    # -- inherited operations -----------------------------------------------------

    def observe(self):
        def read():
            version = self.u32(self.vcall(self.plugin, PLUGIN_SLOTS["GetSDKVersion"]))
            count = self.u32(self.vcall(self.plugin, PLUGIN_SLOTS["GetAIPackageCount"]))
            pkgs = []
            for i in range(min(count, MAX_PACKAGES)):
                p = self.pointer(self.vcall(self.plugin, PLUGIN_SLOTS["GetAIPackageAt"], i))
                name = self.pointer(self.vcall(p, PACKAGE_SLOTS["GetName"])) if p else 0
                pkgs.append((p, name))
            api = self.pointer(self.vcall(self.plugin, PLUGIN_SLOTS["GetAIEngineAPI"]))
            slots = self.read_slots() if api == self.engine_api and self.engine_api else None
            return (version, count, tuple(pkgs), api, tuple(slots) if slots else None)
        ok, v = self.guarded(read)
        return v if ok else None

    def inherited_phase(self):
        m = self.m
        self.step("inherited")
        hand_over = m.scratch(64)
        for name in ("SetJavaVM", "SetDirect3DDevice", "SetXAudio2", "SetNaClModuleInstance"):
            before = self.observe()
            ok, _ = self.guarded(lambda: self.vcall(self.plugin, PLUGIN_SLOTS[name], hand_over))
            if not ok:
                self.emit("inherited", operation=name, crashed=True)
                continue
            after = self.observe()
            self.emit("inherited", operation=name, changed=before is None or after is None or before != after)

        V = 2 * m.P
        values = m.scratch(4 * V)
        self.fill_marker(values, 4)
        before = self.observe()
        ok, _ = self.guarded(lambda: self.vcall(self.plugin, PLUGIN_SLOTS["OnEngineEvent"], 1, 2, values))
        if not ok:
            self.emit("inherited", operation="OnEngineEvent", crashed=True)
        else:
            after = self.observe()
            touched = [i for i in range(4) if not self.is_marker(m.read(values + i * V, V))]
            self.emit("inherited", operation="OnEngineEvent",
                      changed=before is None or after is None or before != after, touched=touched)

        ok, v = self.guarded(lambda: self.u32(self.vcall(self.plugin, PLUGIN_SLOTS["GetAudioBackendCount"])))
        self.emit("inherited", operation="GetAudioBackendCount", **({"value": v} if ok else {"crashed": True}))
        for index in (0, 1, 0xFFFFFFFF):
            ok, v = self.guarded(lambda: self.pointer(self.vcall(self.plugin, PLUGIN_SLOTS["GetAudioBackendAt"], index)))
            r = {"operation": "GetAudioBackendAt", "index": index}
            r.update({"null": v == 0} if ok else {"crashed": True})
            self.emit("inherited", **r)

    # -- engine package objects ------------------------------------------------------

    def engine_objects_phase(self):
        m = self.m
        V = 2 * m.P
        self.step("engine-objects")
        for type_, obj, count in engine_objects(self.root):
            a = self.symbol(itanium_object_name(type_, obj))
            r = {"object": obj, "type": type_, "found": a is not None}
            if a is not None:
                ok, members = self.guarded(lambda: [m.read(a + i * V, V) for i in range(min(count, 1024))])
                if ok:
                    r["members"] = [{"tag": v[0], "payload": self.payload_hex(v)} for v in members]
                else:
                    r["crashed"] = True
            self.emit("engine-object", **r)

    # -- unload ----------------------------------------------------------------------

    def unload_phase(self):
        m = self.m
        self.step("unload")
        first = len(m.frees)
        ok, v = self.guarded(m.unload)
        if not ok:
            self.loader["unload_error"] = v
            self.emit("unload", ok=False, error=v, ordered=True, frees=self._frees(first))
            return
        self.loader["exit_handlers_run"] = [m.symbol_at(f) for f, _arg in v]
        inst = self.symbol(INSTANCE)
        if inst is not None:
            self.loader["slots_after_unload"] = [m.ptr(inst + m.P * (2 + SLOT_COUNT) + i * m.P) for i in range(3)]
        self.loader["atexit_left"] = len(m.atexit)
        self.emit("unload", ok=True, ordered=True, frees=self._frees(first))

    def _frees(self, first):
        out = []
        for addr, size in self.m.frees[first:]:
            if addr in self.packages:
                out.append({"package": self.packages.index(addr)})
            else:
                out.append({"package": None, "size": size})
        return out


def observe(path, root=ROOT):
    """[(label, records, loader facts)] for every slice of the file at path."""
    with open(path, "rb") as f:
        data = f.read()
    out = []
    for label, blob in macho.slices(data):
        try:
            image = macho.Image(blob)
        except macho.MachOError as e:
            P = 8 if struct.unpack_from("<I", blob, 0)[0] == macho.MH_MAGIC_64 else 4
            out.append((label, [{"record": "probe", "format": 1, "platform": "macos-emulated", "pointer_size": P,
                                 "variable_size": 2 * P},
                                {"record": "load", "ok": False, "error": str(e)}, {"record": "end"}], {}))
            continue
        o = Observer(image, root)
        o.run()
        out.append((label, o.records, o.loader))
    return out
