#!/usr/bin/python3
"""What a macOS host sees of the built dylib, run in the emulated host.

usage: test_emulated_host.py LIBRARY [unittest arguments]

LIBRARY is a thin slice or the fat file. The Linux builds that the host
views are compared with are out/linux-x64 and out/linux-x86 of the source
tree (the presets that tools/test-all.sh runs first)."""

import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools", "host"))

from machoemu import emulator, host, macho  # noqa: E402

LIBRARY = None
LINUX_BUILD = {"x86_64": "linux-x64", "i386": "linux-x86"}
# The units, by the file whose initialiser the compiler names after it.
UNIT_OF_FILE = {"Plugin.cpp": "Plugin", "instPackage.cpp": "inst",
                "instantPackage.cpp": "instant", "LerpworkPackage.cpp": "Lerpwork"}

_observed = {}


def observed(path):
    """[(label, records, loader)] of path, emulated once per file."""
    if path not in _observed:
        _observed[path] = host.observe(path)
    return _observed[path]


def slice_label(label, records):
    if label:
        return label
    return "x86_64" if records[0]["pointer_size"] == 8 else "i386"


def unit_of(symbol):
    for file_, unit in UNIT_OF_FILE.items():
        if symbol and symbol.endswith("_" + file_):
            return unit
    return None


def patched(data, edits):
    """A copy of the thin image data with (offset, bytes) edits applied."""
    out = bytearray(data)
    for off, b in edits:
        out[off:off + len(b)] = b
    return bytes(out)


def library_bytes():
    with open(LIBRARY, "rb") as f:
        return f.read()


def thin_images():
    return [(slice_label(label, [{"pointer_size": 8 if blob[:4] == b"\xcf\xfa\xed\xfe" else 4}]), blob)
            for label, blob in macho.slices(library_bytes())]


UNIT_ORDER = ["Plugin", "inst", "instant", "Lerpwork"]


def load_order_problems(loader):
    """What is wrong with the load order that the loader facts show, one
    line per fault; [] when the order is the one the library promises."""
    problems = []
    units = [unit_of(i["symbol"]) for i in loader["initialisers"]]
    if units != UNIT_ORDER:
        problems.append("initialisers ran as %s" % units)
    w = loader["writes"]
    filled = {k: v for k, v in w.items() if k.startswith("S3DX::") and v["writes"]}
    if len(filled) != 23:
        problems.append("%d engine package objects were filled at load" % len(filled))
    for name, v in sorted(filled.items()):
        if v["initialisers"] != [0]:
            problems.append("%s was written by initialisers %s" % (name, v["initialisers"]))
    instance = w.get("Lerpwork::__oInstance", {"writes": 0})
    if not instance["writes"]:
        problems.append("the plug-in object was not built at load")
        return problems
    if instance["initialisers"] != [0]:
        problems.append("the plug-in object was written by initialisers %s" % instance["initialisers"])
    last_constant = max((v["last"] for v in filled.values()), default=0)
    if last_constant > instance["first"]:
        problems.append("an engine package object was written after the plug-in object was begun")
    table = w.get("GUID_Lerpwork::__pS3DXEAPIMI", {"writes": 0})
    if table["writes"] != 1 or table["first"] < instance["first"]:
        problems.append("the table pointer was not set once while the plug-in object was built")
    direct = w.get("Lerpwork (direct calls)", {"writes": 0})
    if direct["initialisers"] != [0] or direct["first"] < instance["first"]:
        problems.append("the direct-call object was written outside the plug-in object's construction"
                        " (initialisers %s)" % direct.get("initialisers"))
    return problems


class Loading(unittest.TestCase):
    """Load order and exit handling, as the dynamic loader would see them."""

    def loaders(self):
        """[(slice, loader facts)]; every slice must have loaded."""
        out = []
        for label, records, loader in observed(LIBRARY):
            self.assertEqual(records[1], {"record": "load", "ok": True}, (label, records[1]))
            out.append((slice_label(label, records), loader))
        return out

    def test_initialisers_run_in_unit_order_and_engine_objects_are_complete_before_the_plugin_object(self):
        for arch, loader in self.loaders():
            with self.subTest(slice=arch):
                self.assertEqual(load_order_problems(loader), [])

    def test_the_destructor_is_registered_once_with_the_instance_and_the_image_as_owner(self):
        for arch, loader in self.loaders():
            with self.subTest(slice=arch):
                self.assertEqual(len(loader["atexit"]), 1, loader["atexit"])
                self.assertEqual(loader["atexit"], [{"function": loader["atexit"][0]["function"],
                                                     "argument_is_instance": True, "owner_is_image": True}])
                self.assertIn("LerpworkD", loader["atexit"][0]["function"] or "")

    def test_after_load_the_direct_call_object_holds_the_rows_callbacks_and_values(self):
        for arch, blob in thin_images():
            with self.subTest(slice=arch):
                image = macho.Image(blob)
                o = host.Observer(image, ROOT)
                o.m = m = emulator.Machine(image)
                m.run_initialisers()
                P, V = m.P, 2 * m.P
                direct = m.exported("_Lerpwork")
                plugin = m.call(m.exported("_GetPlugin"))
                package = o.pointer(o.vcall(plugin, host.PLUGIN_SLOTS["GetAIPackageAt"], 2))
                rows = [o.pointer(o.vcall(package, host.PACKAGE_SLOTS["GetFunctionAt"], i)) for i in range(45)]
                self.assertEqual([m.ptr(direct + i * P) for i in range(45)], [m.ptr(r + P) for r in rows])
                constants = [o.pointer(o.vcall(package, host.PACKAGE_SLOTS["GetConstantAt"], i)) for i in range(8)]
                members = [m.read(direct + 45 * P + i * V, V) for i in range(8)]
                values = [m.read(r + P, V) for r in constants]
                self.assertEqual([(v[0], v[P:]) for v in members], [(v[0], v[P:]) for v in values])
                self.assertEqual([v[0] for v in values], [1] * 8)

    def test_every_pointer_slot_is_written_by_a_rebase_or_a_bind(self):
        for arch, loader in self.loaders():
            with self.subTest(slice=arch):
                # A slot no fix-up writes keeps what the linker left there,
                # typically 0: a null owner for the exit handler, say.
                self.assertEqual(loader["unfixed_pointers"], [])

    def test_load_allocates_the_three_packages_and_nothing_else(self):
        for arch, loader in self.loaders():
            with self.subTest(slice=arch):
                self.assertEqual(len(loader["allocations_at_load"]), 3, loader["allocations_at_load"])

    def test_unload_runs_the_exit_handler_which_deletes_the_packages_once_in_slot_order(self):
        for label, records, loader in observed(LIBRARY):
            with self.subTest(slice=slice_label(label, records)):
                unload = [r for r in records if r["record"] == "unload"]
                self.assertEqual(len(unload), 1, records[-3:])
                self.assertEqual(unload[0]["frees"], [{"package": 0}, {"package": 1}, {"package": 2}])
                self.assertTrue(unload[0]["ordered"])
                self.assertEqual(len(loader["exit_handlers_run"]), 1)
                self.assertEqual(loader["atexit_left"], 0)
                self.assertEqual(loader["slots_after_unload"], [0, 0, 0])
                self.assertEqual(records[-1], {"record": "end"})


class Host(unittest.TestCase):
    """The shared host checks and the host view against the Linux builds."""

    def host_json(self, path):
        out = subprocess.run([os.path.join(ROOT, "tools", "lerpwork-host"), "--json", path],
                             capture_output=True, text=True)
        self.assertIn(out.returncode, (0, 1), out.stderr)
        doc = json.loads(out.stdout)
        return doc if isinstance(doc, list) else [doc]

    def test_every_check_passes_for_every_slice(self):
        for view in self.host_json(LIBRARY):
            with self.subTest(slice=view["build"].get("slice")):
                bad = [c for c in view["checks"] if c["result"] not in ("passed",)]
                self.assertEqual(bad, [])
                self.assertTrue(view["view"]["complete"])

    def test_the_view_of_each_slice_equals_the_view_of_the_linux_build_of_its_width(self):
        views = self.host_json(LIBRARY)
        for view in views:
            arch = "x86_64" if view["build"]["pointer_size"] == 8 else "i386"
            linux = os.path.join(ROOT, "out", LINUX_BUILD[arch], "Lerpwork.so")
            with self.subTest(slice=arch):
                self.assertTrue(os.path.exists(linux), "build the %s preset first" % LINUX_BUILD[arch])
                with tempfile.TemporaryDirectory() as d:
                    a, b = os.path.join(d, "macos.json"), os.path.join(d, "linux.json")
                    for path, doc in ((a, view), (b, self.host_json(linux)[0])):
                        with open(path, "w") as f:
                            json.dump(doc, f)
                    out = subprocess.run([os.path.join(ROOT, "tools", "host", "compare-views"), a, b],
                                         capture_output=True, text=True)
                    self.assertEqual(out.returncode, 0, out.stdout + out.stderr)


class OrderCheck(unittest.TestCase):
    """The load-order check flags each fault planted in real loader facts."""

    PLANTED = [
        ("initialisers swapped", lambda l: l["initialisers"].reverse(), "initialisers ran as"),
        ("an engine object filled late", lambda l: l["writes"]["S3DX::hud"].update(last=10 ** 9),
         "written after the plug-in object"),
        ("an engine object filled by another unit", lambda l: l["writes"]["S3DX::math"].update(initialisers=[0, 2]),
         "S3DX::math was written by initialisers"),
        ("an engine object left empty", lambda l: l["writes"]["S3DX::user"].update(writes=0),
         "22 engine package objects"),
        ("the direct-call object reset by its own unit",
         lambda l: l["writes"]["Lerpwork (direct calls)"].update(initialisers=[0, 3]), "direct-call object"),
        ("the table pointer set twice", lambda l: l["writes"]["GUID_Lerpwork::__pS3DXEAPIMI"].update(writes=2),
         "table pointer"),
        ("no plug-in object", lambda l: l["writes"]["Lerpwork::__oInstance"].update(writes=0), "not built"),
    ]

    def test_planted_faults_are_flagged(self):
        import copy
        label, records, loader = observed(LIBRARY)[0]
        self.assertEqual(records[1], {"record": "load", "ok": True})
        self.assertEqual(load_order_problems(loader), [])
        for name, plant, expected in self.PLANTED:
            with self.subTest(fault=name):
                broken = copy.deepcopy(loader)
                plant(broken)
                problems = load_order_problems(broken)
                self.assertTrue(any(expected in p for p in problems), problems)


class BrokenImages(unittest.TestCase):
    """Faults planted in a copy of each slice; the emulated host must show each."""

    def loads_clean(self, arch):
        """The unplanted slice must load and unload cleanly, or a planted fault proves nothing."""
        records = [r for label, r, _l in observed(LIBRARY) if slice_label(label, r) == arch][0]
        self.assertEqual(records[1], {"record": "load", "ok": True})
        self.assertEqual(records[-1], {"record": "end"})
        self.assertFalse([r for r in records if r.get("crashed")])

    def run_image(self, data):
        o = host.Observer(macho.Image(data), ROOT)
        o.run()
        return o

    @staticmethod
    def rename_atexit(blob, im):
        off, size = im.dyld_info["lazy_bind"]
        at = blob.index(b"___cxa_atexit\0", off, off + size)
        return [(at, b"___cxa_atexiX")]

    @staticmethod
    def atexit_from_libstdcxx(blob, im):
        off, size = im.dyld_info["lazy_bind"]
        at = blob.index(b"___cxa_atexit\0", off, off + size)
        assert blob[at - 1] & 0xF0 == 0x40 and blob[at - 2] & 0xF0 == 0x10, "ordinal opcode not where expected"
        ordinal = [d["name"] for d in im.dylibs].index("/usr/lib/libstdc++.6.dylib") + 1
        return [(at - 2, bytes([0x10 | ordinal]))]

    def test_an_import_the_platform_does_not_provide_fails_the_load(self):
        cases = [
            ("an unknown name", self.rename_atexit, "Symbol not found: ___cxa_atexiX"),
            ("the wrong library", self.atexit_from_libstdcxx,
             "___cxa_atexit (expected in: /usr/lib/libstdc++.6.dylib)"),
        ]
        for arch, blob in thin_images():
            for name, plant, error in cases:
                with self.subTest(slice=arch, fault=name):
                    self.loads_clean(arch)
                    o = self.run_image(patched(blob, plant(blob, macho.Image(blob))))
                    self.assertEqual(o.records[1]["ok"], False)
                    self.assertIn(error, o.records[1]["error"])

    def test_initialisers_out_of_order_are_seen(self):
        for arch, blob in thin_images():
            with self.subTest(slice=arch):
                self.loads_clean(arch)
                im = macho.Image(blob)
                sec = im.sections_of_type(macho.S_MOD_INIT_FUNC_POINTERS)[0]
                P = im.pointer_size
                first = blob[sec.offset:sec.offset + P]
                last = blob[sec.offset + sec.size - P:sec.offset + sec.size]
                image = macho.Image(patched(blob, [(sec.offset, last), (sec.offset + sec.size - P, first)]))
                o = host.Observer(image, ROOT)
                o.m = emulator.Machine(image)
                o.load()
                self.assertIn("initialisers ran as ['Lerpwork', 'inst', 'instant', 'Plugin']",
                              load_order_problems(o.loader))

    def test_a_pointer_left_unrebased_is_caught(self):
        for arch, blob in thin_images():
            with self.subTest(slice=arch):
                self.loads_clean(arch)
                im = macho.Image(blob)
                # Drop every rebase: the first pointer the image follows still
                # holds its unslid address.
                off, _size = im.dyld_info["rebase"]
                broken = patched(blob, [(off, b"\x00")])
                self.assertTrue(macho.Image(broken).unfixed_pointers())
                o = self.run_image(broken)
                failed = [r for r in o.records if r.get("crashed") or r.get("ok") is False]
                self.assertTrue(failed, "an image without its rebases ran clean")

    def test_a_delete_of_memory_new_did_not_return_is_caught(self):
        for arch, blob in thin_images():
            with self.subTest(slice=arch):
                self.loads_clean(arch)
                image = macho.Image(blob)
                o = host.Observer(image, ROOT)
                o.m = m = emulator.Machine(image)
                m.run_initialisers()
                plugin = m.call(m.exported("_GetPlugin"))
                packages = [o.pointer(o.vcall(plugin, host.PLUGIN_SLOTS["GetAIPackageAt"], i)) for i in range(3)]
                # The deleting destructor of the static plug-in object releases
                # the packages, then hands operator delete a block the heap
                # never gave out.
                with self.assertRaises(emulator.Fault) as caught:
                    o.vcall(plugin, host.PLUGIN_SLOTS["~Plugin deleting"])
                self.assertIn("which operator new did not return", str(caught.exception))
                self.assertEqual([a for a, _s in m.frees], packages)

    def test_an_exit_handler_owned_by_another_image_is_not_run_at_unload(self):
        for arch, blob in thin_images():
            with self.subTest(slice=arch):
                self.loads_clean(arch)
                m = emulator.Machine(macho.Image(blob))
                m.run_initialisers()
                f, arg, _dso = m.atexit[0]
                m.atexit[0] = (f, arg, m.header_address + 0x1000)
                self.assertEqual(m.unload(), [])
                self.assertEqual(m.frees, [])


class Reading(unittest.TestCase):
    """The Mach-O reader on its own."""

    def test_leb128(self):
        cases = [(b"\x00", 0, 0), (b"\x7f", 127, -1), (b"\x80\x01", 128, 128), (b"\xe5\x8e\x26", 624485, 624485),
                 (b"\xc0\xbb\x78", 1973696, -123456)]
        for raw, u, s in cases:
            with self.subTest(raw=raw.hex()):
                self.assertEqual(macho.uleb(raw, 0), (u, len(raw)))
                self.assertEqual(macho.sleb(raw, 0), (s, len(raw)))
        with self.assertRaises(macho.MachOError):
            macho.uleb(b"\x80\x80", 0)

    def test_fat_file_slices_and_their_exports(self):
        labels = [label for label, _ in macho.slices(library_bytes())]
        self.assertIn(labels, ([None], ["x86_64", "i386"]))
        for arch, blob in thin_images():
            with self.subTest(slice=arch):
                exports = macho.Image(blob).exports()
                for name in ("_GetPlugin", "__ZN8Lerpwork11__oInstanceE", "__ZN4S3DX3hudE",
                             "__ZN13GUID_Lerpwork13__pS3DXEAPIMIE"):
                    self.assertIn(name, exports)

    def test_not_macho(self):
        for data in (b"", b"\x7fELF" + bytes(60), struct.pack(">II", macho.FAT_MAGIC, 1) + bytes(20)):
            with self.subTest(data=data[:8].hex()):
                with self.assertRaises(macho.MachOError):
                    [macho.Image(b) for _l, b in macho.slices(data)]


if __name__ == "__main__":
    LIBRARY = os.path.abspath(sys.argv.pop(1))
    unittest.main()
