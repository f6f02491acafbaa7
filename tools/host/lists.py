"""The project's own lists, read from the files the library is built from.

The host stand-in's expectations come from here and nowhere else: the
function and constant lists of the "Lerpwork" package, the engine package
constants, the engine-function identifiers, the SDK version and the
plug-in's package slots.
"""

import os
import re
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def _read(relative):
    with open(os.path.join(ROOT, relative), encoding='latin-1') as f:
        return f.read()


def _strip_comments(text):
    return re.sub(r'//[^\n]*', '', text)


def _c_string(literal):
    """Decodes a sequence of adjacent C string literals into its bytes as a str (Latin-1)."""
    out = []
    for part in re.findall(r'"((?:[^"\\]|\\.)*)"', literal, re.S):
        i = 0
        while i < len(part):
            c = part[i]
            if c != '\\':
                out.append(c)
                i += 1
                continue
            e = part[i + 1]
            simple = {'n': '\n', 't': '\t', 'r': '\r', '\\': '\\', '"': '"', "'": "'", '0': '\0'}
            if e == 'x':
                m = re.match(r'[0-9a-fA-F]+', part[i + 2:])
                out.append(chr(int(m.group(0), 16) & 0xff))
                i += 2 + len(m.group(0))
            elif e in simple:
                out.append(simple[e])
                i += 2
            else:
                raise ValueError('unsupported escape \\' + e)
    return ''.join(out)


def float_bits(value):
    """The bits of a value rounded to a 32-bit float, as an integer."""
    return struct.unpack('<I', struct.pack('<f', value))[0]


def _macro_calls(text, macro):
    """Yields the argument text of every call of macro in text (balanced parentheses, strings respected)."""
    text = _strip_comments(text)
    for m in re.finditer(r'\b' + macro + r'\s*\(', text):
        depth, i, in_string = 1, m.end(), False
        while depth:
            c = text[i]
            if in_string:
                if c == '\\':
                    i += 1
                elif c == '"':
                    in_string = False
            elif c == '"':
                in_string = True
            elif c == '(':
                depth += 1
            elif c == ')':
                depth -= 1
            i += 1
        yield text[m.end():i - 1]


def _split_arguments(arguments, count):
    """Splits macro arguments at top-level commas into at most count parts."""
    parts, current, in_string, i = [], [], False, 0
    while i < len(arguments):
        c = arguments[i]
        if in_string:
            current.append(c)
            if c == '\\':
                current.append(arguments[i + 1])
                i += 1
            elif c == '"':
                in_string = False
        elif c == '"':
            in_string = True
            current.append(c)
        elif c == ',' and len(parts) < count - 1:
            parts.append(''.join(current).strip())
            current = []
        else:
            current.append(c)
        i += 1
    parts.append(''.join(current).strip())
    return parts


def functions():
    """The "Lerpwork" function rows: dicts of name, inputs, outputs, result ('Nil' or 'None'), help."""
    rows = []
    for args in _macro_calls(_read('src/Lerpwork/LerpworkFunctions.inc'), 'LERPWORK_FUNCTION'):
        name, inputs, outputs, result, help_text = _split_arguments(args, 5)
        rows.append({'name': name, 'inputs': _c_string(inputs), 'outputs': _c_string(outputs),
                     'result': result, 'help': _c_string(help_text)})
    return rows


def constants():
    """The "Lerpwork" constant rows: dicts of name, bits (of the float value), value, help."""
    rows = []
    for args in _macro_calls(_read('src/Lerpwork/LerpworkConstants.inc'), 'LERPWORK_CONSTANT'):
        name, value, help_text = _split_arguments(args, 3)
        number = float(value.rstrip('fF'))
        rows.append({'name': name, 'value': number, 'bits': float_bits(number), 'help': _c_string(help_text)})
    return rows


def engine_objects():
    """The engine package objects in list order: dicts of object, type, members.

    A member is ('number', bits) or ('nil', None).
    """
    objects = []
    text = _strip_comments(_read('sdk/S3DXAIEngineConstants.inc'))
    pattern = re.compile(r'S3DX_ENGINE_(PACKAGE_BEGIN|NUMBER|NIL|PACKAGE_END|EMPTY_PACKAGE)\s*\(([^)]*)\)')
    current = None
    for kind, args in pattern.findall(text):
        parts = [p.strip() for p in args.split(',')]
        if kind == 'PACKAGE_BEGIN':
            current = {'type': parts[0] + 'Package', 'object': parts[1], 'count': int(parts[2]), 'members': []}
        elif kind == 'NUMBER':
            if int(parts[1]) != len(current['members']):
                raise ValueError('engine constant %s position %s out of order' % (current['object'], parts[1]))
            current['members'].append(('number', float_bits(float(parts[2].rstrip('fF')))))
        elif kind == 'NIL':
            current['members'].append(('nil', None))
        elif kind == 'PACKAGE_END':
            if len(current['members']) != current['count']:
                raise ValueError('engine object %s: %d members, count %d' % (current['object'], len(current['members']), current['count']))
            objects.append(current)
            current = None
        else:
            objects.append({'type': parts[0] + 'Package', 'object': parts[1], 'count': 0, 'members': []})
    return objects


def identifiers():
    """The engine-function identifiers in test order: (identifier, slot) pairs."""
    text = _strip_comments(_read('sdk/S3DXAIEngineIdentifiers.inc'))
    return [(int(i, 0), int(s, 0)) for i, s in
            re.findall(r'S3DX_ENGINE_FUNCTION\s*\(\s*(\w+)\s*,\s*(\w+)\s*\)', text)]


def slot_count():
    return int(re.search(r'kCallbackCount\s*=\s*(\d+)', _read('sdk/S3DXAIEngineAPI.h')).group(1))


def sdk_version():
    return int(re.search(r'kSDKVersion\s*=\s*(0x[0-9a-fA-F]+|\d+)', _read('sdk/S3DXPlugin.h')).group(1), 0)


def packages():
    """The published packages in slot order: dicts of slot, class, name, functions, constants.

    The slots come from the plug-in object's constructor, the names from each
    package's definition; "Lerpwork" carries the two lists, the others none.
    """
    plugin = _strip_comments(_read('src/Plugin/Plugin.cpp'))
    slots = sorted((int(s), c) for s, c in re.findall(r'aAIPackages\s*\[\s*(\d+)\s*\]\s*=\s*new\s+(\w+)', plugin))
    result = []
    for slot, cls in slots:
        name = None
        for unit in ('src/Lerpwork', 'src/instant', 'src/inst'):
            for f in os.listdir(os.path.join(ROOT, unit)):
                if f.endswith('.cpp'):
                    m = re.search(r'S3DX_AIPACKAGE_DEFINE_OPERATIONS\s*\(\s*' + cls + r'\s*,\s*("[^"]*")\s*\)',
                                  _read(os.path.join(unit, f)))
                    if m:
                        name = _c_string(m.group(1))
        main = name == 'Lerpwork'
        result.append({'slot': slot, 'class': cls, 'name': name,
                       'functions': functions() if main else [], 'constants': constants() if main else []})
    return result
