#!/usr/bin/python3
"""The host stand-in's pure parts: the naming rules, value normalization,
float texts and the comparison of views, each against a table of cases."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tools', 'host'))

import backends  # noqa: E402
import checks  # noqa: E402
import lists   # noqa: E402
import render  # noqa: E402
import view    # noqa: E402


class ItemLists(unittest.TestCase):
    CASES = [
        ('', []),
        ('sAnimationID', []),
        ('sAnimationID, nTime', []),
        ('nParamCount, sApiDotFunction, vParam0, vParam1, ...', []),
        ('hOptCompletionObject, bOptResetParameters, kLoopMode, tGetParamsIndexes', []),
        ('sA,nB', ['"sA,nB" is not separated by ", "']),
        ('sA,  nB', ['" nB" is not separated by ", "']),
        ('..., sA', ['"..." is not the last item']),
        ('sA, sA', ['"sA" appears twice']),
        ('animationID', ['"animationID" does not begin with a kind prefix (s n b k h t v, optionally followed by Opt)']),
        ('xFoo', ['"xFoo" does not begin with a kind prefix (s n b k h t v, optionally followed by Opt)']),
        ('sopt', ['"sopt" does not begin with a kind prefix (s n b k h t v, optionally followed by Opt)']),
        ('s', ['"s" does not begin with a kind prefix (s n b k h t v, optionally followed by Opt)']),
    ]

    def test_cases(self):
        for text, problems in self.CASES:
            with self.subTest(text=text):
                self.assertEqual(checks.item_problems(text), problems)


class Names(unittest.TestCase):
    def test_function_names(self):
        for name, ok in [('setDuration', True), ('pause', True), ('SetDuration', False),
                         ('set_duration', False), ('', False), ('3d', False)]:
            with self.subTest(name=name):
                self.assertEqual(bool(checks.FUNCTION_NAME.match(name)), ok)

    def test_constant_names(self):
        for name, ok in [('kLoopModeOnce', True), ('LoopModeOnce', False), ('kloop', False), ('k', False)]:
            with self.subTest(name=name):
                self.assertEqual(bool(checks.CONSTANT_NAME.match(name)), ok)


class Values(unittest.TestCase):
    CASES = [
        (0x01, '0000803f', {'type': 'number', 'bits': '0x3f800000', 'value': 1.0}),
        (0x01, '0000803f00000000', {'type': 'number', 'bits': '0x3f800000', 'value': 1.0}),
        (0x01, '0000803f01000000', {'type': 'number', 'bits': '0x3f800000', 'value': 1.0, 'high': '01000000'}),
        (0x01, '0000807f', {'type': 'number', 'bits': '0x7f800000', 'value': 'inf'}),
        (0x00, '0000000000000000', {'type': 'nil'}),
        (0x00, '01000000', {'type': 'nil', 'payload': '01000000'}),
        (0x03, '01000000', {'type': 'boolean', 'value': True}),
        (0x02, '00000000', {'type': 'string', 'payload_null': True}),
        (0x80, '10203040', {'type': 'handle', 'payload_null': False}),
        (0x7f, 'a5a5a5a5', {'type': '0x7f', 'payload': 'a5a5a5a5'}),
    ]

    def test_cases(self):
        for tag, payload, expected in self.CASES:
            with self.subTest(tag=tag, payload=payload):
                self.assertEqual(view.value(tag, payload), expected)

    def test_float_texts(self):
        for bits, text in [(0x7f7fffff, '3.4028235e+38'), (0x358637bd, '1e-06'), (0x40490fdb, '3.1415927'),
                           (0x45a75000, '5354'), (0xbf800000, '-1'), (0x00000000, '0'), (0x7f800000, 'inf'), (0x7fc00000, 'nan')]:
            with self.subTest(bits=hex(bits)):
                self.assertEqual(render.float_text(bits), text)


class Differences(unittest.TestCase):
    def test_cases(self):
        cases = [
            ({'a': 1}, {'a': 1}, []),
            ({'a': 1}, {'a': 2}, [('.a', 1, 2)]),
            ({'a': 1}, {'a': 1.0}, [('.a', 1, 1.0)]),
            ({'a': [1, 2]}, {'a': [1]}, [('.a[1]', 2, '<missing>')]),
            ({'a': {'b': None}}, {'a': {}}, [('.a.b', None, '<missing>')]),
            ({'a': True}, {'a': 1}, [('.a', True, 1)]),
        ]
        for left, right, expected in cases:
            with self.subTest(left=left, right=right):
                self.assertEqual(list(view.differences(left, right)), expected)


class FileKinds(unittest.TestCase):
    CASES = [
        (b'\x7fELF\x01\x01\x01', ('elf', 'ELF 32-bit')),
        (b'\x7fELF\x02\x01\x01', ('elf', 'ELF 64-bit')),
        (b'MZ\x90\x00', ('pe', 'PE')),
        (b'\xca\xfe\xba\xbe\x00\x00\x00\x02', ('macho', 'Mach-O universal')),
        (b'\xcf\xfa\xed\xfe\x07\x00\x00\x01', ('macho', 'Mach-O')),
        (b'\xce\xfa\xed\xfe\x07\x00\x00\x00', ('macho', 'Mach-O')),
        (b'#!/bin/sh\n', None),
        (b'', None),
    ]

    def test_cases(self):
        import tempfile
        for head, expected in self.CASES:
            with self.subTest(head=head), tempfile.NamedTemporaryFile() as f:
                f.write(head + b'\0' * 60)
                f.flush()
                if expected is None:
                    with self.assertRaises(backends.BackendError):
                        backends.file_kind(f.name)
                else:
                    self.assertEqual(backends.file_kind(f.name), expected)

    def test_missing_backend_is_one_line(self):
        with self.assertRaises(backends.BackendError) as e:
            backends.load('nosuchformat')
        self.assertEqual(str(e.exception), 'no backend for nosuchformat files (tools/host/backends/nosuchformat.py is missing)')


class Lists(unittest.TestCase):
    """The lists as lerpwork-host reads them agree with the library's own shape."""

    def test_shapes(self):
        self.assertEqual(len(lists.functions()), 45)
        self.assertEqual(len(lists.constants()), 8)
        objects = lists.engine_objects()
        self.assertEqual((len(objects), sum(o['count'] for o in objects)), (35, 611))
        self.assertEqual([m for o in objects for m in o['members'] if m[0] == 'nil'], [('nil', None)])
        ids = lists.identifiers()
        self.assertEqual(len({i for i, _ in ids}), lists.slot_count())
        self.assertEqual(sorted(s for _, s in ids), list(range(lists.slot_count())))
        self.assertEqual([(p['slot'], p['name']) for p in lists.packages()], [(0, 'instant'), (1, 'inst'), (2, 'Lerpwork')])

    def test_c_strings(self):
        for literal, text in [('"a" "b"', 'ab'), (r'"q\"x\\"', 'q"x\\'), (r'"\x41\t"', 'A\t'), ('""', '')]:
            with self.subTest(literal=literal):
                self.assertEqual(lists._c_string(literal), text)


if __name__ == '__main__':
    unittest.main()
