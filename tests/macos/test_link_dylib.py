#!/usr/bin/python3
"""The opcode-stream codec of build/macos/link-dylib.py, which rewrites the
i386 slice's rebase and bind information: what it decodes and re-encodes
must be the same fixups, the stream forms the older linker writes included."""

import importlib.util
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
module_source = importlib.util.spec_from_file_location(
    "link_dylib", os.path.join(HERE, "..", "..", "build", "macos", "link-dylib.py"))
link_dylib = importlib.util.module_from_spec(module_source)
module_source.loader.exec_module(link_dylib)


class Numbers(unittest.TestCase):
    def test_uleb_and_sleb_round_trip(self):
        for value in (0, 1, 0x7F, 0x80, 0x3FFF, 0x4000, 0x837DC, 0xFFFFFFFF):
            with self.subTest(value=value):
                self.assertEqual(link_dylib.uleb(link_dylib.to_uleb(value) + b"\xff", 0),
                                 (value, len(link_dylib.to_uleb(value))))
        for value in (0, 1, -1, 8, 63, 64, -64, -65, 0x7FFFFFFF, -0x80000000):
            with self.subTest(value=value):
                self.assertEqual(link_dylib.sleb(link_dylib.to_sleb(value), 0)[0], value)


class Rebases(unittest.TestCase):
    # (stream, the rebases it stands for) in the forms a linker may write.
    CASES = [
        ("one pointer", bytes([0x11, 0x21, 0x00, 0x51, 0x00]), [(1, 1, 0)]),
        ("the older linker's form, one entry per pointer",
         bytes([0x11, 0x21, 0x10, 0x51, 0x11, 0x21, 0x20, 0x51, 0x00, 0x00]), [(1, 1, 0x10), (1, 1, 0x20)]),
        ("a run of three", bytes([0x11, 0x21, 0x08, 0x53, 0x00]), [(1, 1, 8), (1, 1, 12), (1, 1, 16)]),
        ("uleb count, then skipping", bytes([0x11, 0x20, 0x00, 0x60, 0x03, 0x80, 0x02, 0x04, 0x00]),
         [(1, 0, 0), (1, 0, 4), (1, 0, 8), (1, 0, 12), (1, 0, 20)]),
        ("add address then rebase", bytes([0x11, 0x21, 0x00, 0x70, 0x04, 0x51, 0x00]), [(1, 1, 0), (1, 1, 8)]),
        ("scaled address step", bytes([0x12, 0x23, 0x00, 0x42, 0x51, 0x00]), [(2, 3, 8)]),
    ]

    def test_decode(self):
        for name, stream, rebases in self.CASES:
            with self.subTest(name):
                self.assertEqual(link_dylib.decode_rebases(stream, 4), rebases)

    def test_encode_then_decode_gives_the_same_rebases(self):
        mixed = [(2, 0, 0x4926), (2, 0, 0x492C), (1, 1, 0), (1, 1, 0x8327C), (1, 3, 0)]
        long_run = [(1, 1, 0x100 + 4 * i) for i in range(40)] + [(1, 1, 0x400)]
        for rebases in [r for _, _, r in self.CASES] + [mixed, long_run]:
            with self.subTest(rebases=rebases):
                self.assertEqual(link_dylib.decode_rebases(link_dylib.encode_rebases(rebases), 4), sorted(rebases))


class Binds(unittest.TestCase):
    def test_the_older_linkers_stream_decodes_to_its_binds(self):
        name = b"__ZTVN10__cxxabiv117__class_type_infoE"
        stream = (bytes([0x11, 0x40]) + name + b"\0" + bytes([0x51, 0x60, 0x08, 0x71, 0xCC, 0xE5, 0x20, 0x90]) +
                  bytes([0x12, 0x40]) + b"dyld_stub_binder\0" + bytes([0x51, 0x60, 0x00, 0x71, 0xD4, 0xEF, 0x20, 0x90, 0x00]))
        self.assertEqual(link_dylib.decode_binds(stream), [
            (1, name.decode(), 0, 1, 8, 1, 0x832CC),
            (2, "dyld_stub_binder", 0, 1, 0, 1, 0x837D4)])

    def test_encode_then_decode_keeps_every_bind(self):
        binds = [(1, "__ZTVN10__cxxabiv120__si_class_type_infoE", 0, 1, 8, 1, 0x832D4),
                 (1, "__ZTVN10__cxxabiv120__si_class_type_infoE", 0, 1, 8, 1, 0x832E8),
                 (1, "___gxx_personality_v0", 0, 1, 0, 3, 4),
                 (2, "dyld_stub_binder", 0, 1, 0, 1, 0x837D4),
                 (3, "_negative_addend", 0, 1, -4, 1, 0x10)]
        self.assertEqual(sorted(link_dylib.decode_binds(link_dylib.encode_binds(binds))), sorted(binds))

    def test_grouping_makes_the_stream_shorter_than_one_name_per_bind(self):
        same = [(1, "__ZTVN10__cxxabiv117__class_type_infoE", 0, 1, 8, 1, 0x100 + 8 * i) for i in range(5)]
        self.assertLess(len(link_dylib.encode_binds(same)), 2 * len(same[0][1]))


if __name__ == "__main__":
    unittest.main()
