#!/usr/bin/python3
"""Reads Lerpwork.dll as the host's loader does and compares it with what the
Windows deliverable must be: format and headers, imports, the manifest, the
engine package objects laid down in the file, and the export table, whose
names are compared as demangled signatures (llvm-undname) with the list below,
written from the export families of the class declarations.

usage: check-dll.py LERPWORK.DLL SDK_DIR
Prints one line per failed check; exit status 1 when any failed."""

import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

import pefile

# ---------------------------------------------------------------------------
# The expected export table, as llvm-undname writes the signatures.

V = 'class S3DX::AIVariable'
SCALARS = ['signed char', 'unsigned char', 'short', 'unsigned short', 'int', 'unsigned int', 'float']
OPERANDS = [V + ' const &'] + SCALARS                 # the eight right operands
CONSTRUCTED = SCALARS + ['char const *', 'void const *', 'bool']


def member(access, result, name, params, const=False, static=False, virtual=False, cls='S3DX::AIVariable'):
    convention = '__cdecl' if static else '__thiscall'
    prefix = access + ': ' + ('static ' if static else '') + ('virtual ' if virtual else '')
    return (prefix + (result + ' ' if result else '') + convention + ' ' + cls + '::' + name
            + '(' + (', '.join(params) if params else 'void') + ')' + (' const' if const else ''))


def expected_exports():
    e = ['GetPlugin']
    # S3DX::AIVariable: constructors, assignments, operators, conversions.
    e += [member('public', '', 'AIVariable', [])]
    e += [member('public', '', 'AIVariable', [t]) for t in CONSTRUCTED]
    e += [member('public', V + ' &', 'operator=', [t]) for t in [V + ' const &'] + CONSTRUCTED]
    for op in ['<<', '+', '-', '*', '/']:
        e += [member('public', V, 'operator' + op, [t], const=True) for t in OPERANDS]
    for op in ['<', '<=', '>', '>=']:
        e += [member('public', 'bool', 'operator' + op, [t], const=True) for t in OPERANDS]
    for op in ['+=', '-=', '*=', '/=']:
        e += [member('public', V + ' &', 'operator' + op, [t]) for t in OPERANDS]
    for op in ['==', '!=']:
        e += [member('public', 'bool', 'operator' + op, [t], const=True) for t in OPERANDS + ['char const *', 'bool']]
    e += [member('public', V, 'operator-', [], const=True),
          member('public', V, 'operator+', [], const=True),
          member('public', 'bool', 'operator!', [], const=True)]
    e += [member('public', t, 'operator ' + t, [], const=True) for t in SCALARS + ['bool']]
    # Named members of S3DX::AIVariable.
    T = 'enum S3DX::AIVariable::Type'
    e += [member('public', 'bool', 'CanConvertToNumber', [], const=True),
          member('public', 'bool', 'CanConvertToString', [], const=True),
          member('public', 'bool', 'CheckType', [T], const=True),
          member('public', V, 'Concat', [V + ' const &', V + ' const &'], static=True),
          member('private', 'char const *', 'FloatToString', ['float'], const=True),
          member('public', 'bool', 'GetBooleanValue', [], const=True),
          member('public', 'void const *', 'GetHandleValue', [], const=True),
          member('public', 'float', 'GetNumberValue', [], const=True),
          member('public', 'char *', 'GetStringPoolBuffer', ['unsigned int'], static=True),
          member('public', 'char const *', 'GetStringValue', [], const=True),
          member('public', T, 'GetType', [], const=True)]
    e += [member('public', 'bool', 'Is' + n, [], const=True) for n in ['Boolean', 'Handle', 'Nil', 'Number', 'String']]
    e += [member('public', 'void', 'SetBooleanValue', ['bool']),
          member('public', 'void', 'SetHandleValue', ['void const *']),
          member('public', 'void', 'SetNil', []),
          member('public', 'void', 'SetNumberValue', ['float']),
          member('public', 'void', 'SetStringValue', ['char const *']),
          member('private', 'void', 'SetType', [T]),
          member('private', 'float', 'StringToFloat', ['char const *'], const=True),
          member('private', 'bool', 'StringToFloat', ['char const *', 'float *'], const=True)]
    e += ['private: static char *S3DX::AIVariable::pStringPool',
          'private: static unsigned int S3DX::AIVariable::iStringPoolSize',
          'private: static unsigned int S3DX::AIVariable::iStringPoolCursor']
    # S3DX::Plugin.
    P, PC = 'class S3DX::Plugin', 'S3DX::Plugin'
    e += [member('public', '', 'Plugin', [], cls=PC),
          member('public', '', 'Plugin', [P + ' const &'], cls=PC),
          member('public', '', '~Plugin', [], virtual=True, cls=PC),
          member('public', P + ' &', 'operator=', [P + ' const &'], cls=PC),
          "const S3DX::Plugin::`vftable'"]
    e += [member('public', 'void', n, ['void *'], virtual=True, cls=PC)
          for n in ['SetJavaVM', 'SetDirect3DDevice', 'SetXAudio2', 'SetNaClModuleInstance']]
    e += [member('public', 'void', 'OnEngineEvent', ['unsigned int', 'unsigned int', V + ' *'], virtual=True, cls=PC),
          member('public', 'unsigned int', 'GetAudioBackendCount', [], const=True, virtual=True, cls=PC),
          member('public', 'class S3DX::AudioBackend *', 'GetAudioBackendAt', ['unsigned int'], virtual=True, cls=PC)]
    # S3DX::AIEngineAPI and Lerpwork::__AIEngineAPI.
    A, AC = 'class S3DX::AIEngineAPI', 'S3DX::AIEngineAPI'
    e += [member('public', '', 'AIEngineAPI', [], cls=AC),
          member('public', '', 'AIEngineAPI', [A + ' const &'], cls=AC),
          member('public', '', '~AIEngineAPI', [], virtual=True, cls=AC),
          member('public', A + ' &', 'operator=', [A + ' const &'], cls=AC),
          "const S3DX::AIEngineAPI::`vftable'"]
    L, LC = 'class Lerpwork::__AIEngineAPI', 'Lerpwork::__AIEngineAPI'
    callback = 'int (__cdecl *)(int, class S3DX::AIVariable const *, class S3DX::AIVariable *)'
    e += [member('public', '', '__AIEngineAPI', [], cls=LC),
          member('public', '', '__AIEngineAPI', [L + ' const &'], cls=LC),
          member('public', '', '__AIEngineAPI', [L + ' &&'], cls=LC),
          member('public', '', '~__AIEngineAPI', [], virtual=True, cls=LC),
          member('public', L + ' &', 'operator=', [L + ' const &'], cls=LC),
          member('public', L + ' &', 'operator=', [L + ' &&'], cls=LC),
          member('public', 'void', 'RegisterCallback', ['unsigned int', callback], virtual=True, cls=LC),
          "const Lerpwork::__AIEngineAPI::`vftable'"]
    e += ['class S3DX::AIEngineAPI *GUID_Lerpwork::__pS3DXEAPIMI']
    e += ['struct S3DX::AIEngineAPI::%sPackage S3DX::%s' % (o[0].upper() + o[1:], o) for o in ENGINE_OBJECTS]
    return e


ENGINE_OBJECTS = ['animation', 'application', 'cache', 'camera', 'collider', 'debug', 'dynamics', 'group',
                  'hashtable', 'hud', 'input', 'light', 'log', 'math', 'mesh', 'microphone', 'music',
                  'navigation', 'network', 'object', 'pixelmap', 'projector', 'scene', 'sensor', 'server',
                  'session', 'sfx', 'shape', 'sound', 'string', 'system', 'table', 'user', 'video', 'xml']

# Laid down as initialised data in the file; the others are filled at load.
DATA_OBJECTS = {'cache', 'camera', 'debug', 'light', 'math', 'mesh', 'projector', 'sensor', 'server',
                'session', 'sfx'}
FILLED_AT_LOAD = ['animation', 'application', 'dynamics', 'hud', 'input', 'network', 'object', 'pixelmap',
                  'scene', 'shape', 'system', 'user']

EXPECTED_IMPORTS = {
    'VCRUNTIME140.dll': {'memcpy', 'memmove', '_purecall', '__CxxFrameHandler3', '_CxxThrowException'},
    'api-ms-win-crt-runtime-l1-1-0.dll': {'_initialize_onexit_table', '_register_onexit_function',
                                          '_execute_onexit_table'},
    'api-ms-win-crt-heap-l1-1-0.dll': {'malloc', 'free'},
    'api-ms-win-crt-stdio-l1-1-0.dll': {'__stdio_common_vsprintf'},
    'api-ms-win-crt-convert-l1-1-0.dll': {'strtod'},
    'KERNEL32.dll': {'GetSystemTimeAsFileTime', 'GetCurrentProcessId', 'GetCurrentThreadId',
                     'QueryPerformanceCounter'},
}


def demangle(names):
    """The names as llvm-undname writes them; a plain name stays as it is, a
    name it cannot read becomes None."""
    mangled = [n for n in names if n.startswith('?')]
    out = subprocess.run(['llvm-undname-19'] + mangled, capture_output=True, text=True).stdout.split('\n')
    # For each name: the name itself, its demangled form (empty on error), a blank line.
    readable = {}
    i = 0
    for n in mangled:
        while i < len(out) and out[i] != n:
            i += 1
        readable[n] = out[i + 1] if i + 1 < len(out) and out[i + 1] else None
        i += 1
    return [readable[n] if n.startswith('?') else n for n in names]


def engine_values(sdk_dir):
    """The members of every engine package object, from the SDK's list: a
    float for a number, None for nil."""
    values = {}
    text = open(sdk_dir + '/S3DXAIEngineConstants.inc').read()
    for m in re.finditer(r'^\s*S3DX_ENGINE_(NUMBER|NIL)\s*\(\s*(\w+)\s*,\s*(\d+)\s*(?:,\s*([^)]+?))?\s*\)', text, re.M):
        kind, type_name, position, value = m.groups()
        obj = type_name[0].lower() + type_name[1:]
        members = values.setdefault(obj, [])
        assert int(position) == len(members), (obj, position)
        members.append(None if kind == 'NIL' else float(value.rstrip('f')))
    return values


def check(path, sdk_dir):
    failures = []

    def expect(ok, what):
        if not ok:
            failures.append(what)

    pe = pefile.PE(path)
    fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER

    # Format and headers.
    expect(fh.Machine == 0x14c, 'machine is i386 (0x14c), not 0x%x' % fh.Machine)
    expect(oh.Magic == 0x10b, 'optional header is PE32 (0x10b), not 0x%x' % oh.Magic)
    expect(fh.Characteristics & 0x2000, 'file is a DLL')
    expect(fh.Characteristics & 0x0100, 'file is marked for a 32-bit machine')
    expect(not fh.Characteristics & 0x0001, 'relocations are not stripped')
    expect(oh.Subsystem == 2, 'subsystem is Windows GUI (2), not %d' % oh.Subsystem)
    expect((oh.MajorSubsystemVersion, oh.MinorSubsystemVersion) == (6, 0),
           'subsystem version is 6.0, not %d.%d' % (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion))
    expect((oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion) == (6, 0),
           'operating-system version is 6.0, not %d.%d' % (oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion))
    expect(oh.DllCharacteristics & 0x0100, 'DLL is NX-compatible')
    expect(not oh.DllCharacteristics & 0x0400, 'DLL does not claim to have no exception handlers')
    reloc = oh.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_BASERELOC']]
    expect(reloc.VirtualAddress and reloc.Size, 'a base relocation table is present')

    # Imports.
    imports = {}
    for entry in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', []):
        imports[entry.dll.decode()] = {i.name.decode() if i.name else '#%d' % i.ordinal for i in entry.imports}
    expect(set(imports) == set(EXPECTED_IMPORTS),
           'imported libraries are %s, not %s' % (sorted(EXPECTED_IMPORTS), sorted(imports)))
    for dll in sorted(set(imports) | set(EXPECTED_IMPORTS)):
        got, want = imports.get(dll, set()), EXPECTED_IMPORTS.get(dll, set())
        expect(got == want, 'imports of %s: missing %s, unexpected %s' % (dll, sorted(want - got), sorted(got - want)))

    # Resources: one manifest (type 24, id 2, language 1033), nothing else.
    leaves = []
    resources = pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, 'DIRECTORY_ENTRY_RESOURCE') else []
    for rtype in resources:
        for rid in rtype.directory.entries:
            for lang in rid.directory.entries:
                leaves.append((rtype.id, rid.id, lang.id, pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)))
    expect([l[:3] for l in leaves] == [(24, 2, 1033)],
           'resources are one manifest (24, 2, 1033), not %s' % [l[:3] for l in leaves])
    manifests = [l[3] for l in leaves if l[0] == 24]
    if manifests:
        levels = [el.attrib for el in ElementTree.fromstring(manifests[0]).iter()
                  if el.tag.endswith('requestedExecutionLevel')]
        expect(levels == [{'level': 'asInvoker', 'uiAccess': 'false'}],
               'manifest requests asInvoker without uiAccess, not %s' % levels)

    # Export directory.
    exports = pe.DIRECTORY_ENTRY_EXPORT
    expect(pe.get_string_at_rva(exports.struct.Name) == b'Lerpwork.dll',
           'export directory names "Lerpwork.dll", not %r' % pe.get_string_at_rva(exports.struct.Name))
    symbols = list(exports.symbols)
    names = [s.name.decode() if s.name else None for s in symbols]
    expect(None not in names, 'every export has a name')
    expect(not any(s.forwarder for s in symbols), 'no export is a forwarder')
    expect(exports.struct.Base == 1 and exports.struct.NumberOfFunctions == len(symbols) == exports.struct.NumberOfNames,
           'ordinals start at 1 and every ordinal has its name')
    by_ordinal = [s.name for s in sorted(symbols, key=lambda s: s.ordinal)]
    expect([s.ordinal for s in sorted(symbols, key=lambda s: s.ordinal)] == list(range(1, len(symbols) + 1)),
           'ordinals are 1 to %d without gaps' % len(symbols))
    expect(by_ordinal == sorted(by_ordinal), 'ordinals follow the ascending order of the names')
    expect('GetPlugin' in names, 'GetPlugin is exported under its plain name')

    decorated = [n for n in names if n]
    signatures = demangle(decorated)
    want = expected_exports()
    expect(len(want) == len(set(want)) == 246, 'the expected list holds 246 distinct signatures, not %d' % len(set(want)))
    expect(None not in signatures, 'every export name demangles')
    missing, extra = sorted(set(want) - set(signatures)), sorted(set(signatures) - set(want))
    for s in missing:
        failures.append('missing export: ' + s)
    for s in extra:
        failures.append('unexpected export: ' + s)

    # The engine package objects in the file: the data ones hold their values,
    # the others are zero storage that the initialiser fills.
    values = engine_values(sdk_dir)
    address = {s.name.decode(): s.address for s in symbols if s.name}
    for obj in ENGINE_OBJECTS:
        name = '?%s@S3DX@@3U%sPackage@AIEngineAPI@1@A' % (obj, obj[0].upper() + obj[1:])
        if name not in address:
            continue
        members = values.get(obj, [])
        raw = pe.get_data(address[name], max(8 * len(members), 1)) if members else b''
        file_image = bytes(raw) + b'\0' * (8 * len(members) - len(raw))
        if obj in DATA_OBJECTS:
            want_bytes = b''.join(b'\x01\0\0\0' + struct.pack('<f', v) if v is not None else b'\0' * 8
                                  for v in members)
            expect(file_image == want_bytes, 'S3DX::%s is initialised data holding its constants' % obj)
        elif members:
            expect(not any(file_image), 'S3DX::%s is zero storage, filled at load' % obj)
    expect(set(values) == DATA_OBJECTS | set(FILLED_AT_LOAD),
           'the packages with constants are the data ones and the ones filled at load')
    return failures


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    failures = check(sys.argv[1], sys.argv[2])
    for f in failures:
        print('FAILED: ' + f)
    print('%s: %s' % (sys.argv[1], 'failed %d checks' % len(failures) if failures else 'all checks passed'))
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
