"""Renderings of a host view: the readable listing and the script-API reference."""

import struct


def float_text(bits):
    """The shortest decimal text that reads back as the same 32-bit float."""
    f = struct.unpack('<f', struct.pack('<I', bits))[0]
    for p in range(1, 10):
        t = '%.*g' % (p, f)
        try:
            if struct.unpack('<I', struct.pack('<f', float(t)))[0] == bits:
                return t
        except OverflowError:
            continue
    return repr(f)


def value_text(v):
    if v is None:
        return '?'
    if v.get('crashed'):
        return 'crashed'
    if v['type'] == 'number':
        t = float_text(int(v['bits'], 16))
        return t + (' (high payload %s)' % v['high'] if 'high' in v else '')
    if v['type'] == 'nil':
        return 'nil' + (' (payload %s)' % v['payload'] if 'payload' in v else '')
    if v['type'] == 'boolean':
        return 'true' if v['value'] else 'false'
    return '%s %s' % (v['type'], v.get('payload', 'null' if v.get('payload_null') else 'non-null'))


def signature(package, row):
    outputs = row.get('outputs') or ''
    inputs = row.get('inputs') or ''
    call = '%s.%s ( %s )' % (package, row.get('name'), inputs) if inputs else '%s.%s ( )' % (package, row.get('name'))
    return '%s = %s' % (outputs, call) if outputs else call


def _result_text(calls):
    texts = set()
    for outcome in calls.values():
        if outcome.get('crashed'):
            texts.add('crashed')
        elif outcome['returned'] == 0:
            texts.add('no result')
        else:
            texts.add('%d result%s: %s' % (outcome['returned'], '' if outcome['returned'] == 1 else 's',
                                           ', '.join(value_text(ch['value']) for ch in outcome['changed'])))
    return '; '.join(sorted(texts))


def listing(document, label):
    """The readable listing of one stream's --json document."""
    v, b = document['view'], document['build']
    out = ['%s (%s%s, %s, %s-byte pointers, %s-byte variables)' % (
        label, b.get('file'), ', slice %s' % b['slice'] if b.get('slice') else '',
        b.get('platform'), b.get('pointer_size'), b.get('variable_size'))]
    if v['sdk_version'] is not None:
        out.append('SDK version: %s' % (v['sdk_version'] if isinstance(v['sdk_version'], str) else '0x%08x' % v['sdk_version']))
    reg = v['registration']
    if reg['slots_after'] is not None:
        held = sum(1 for s in reg['slots_after'] if isinstance(s, int))
        out.append('Engine table: %d slots, %d hold a registered address after registration' % (len(reg['slots_after']), held))
    if v['package_count'] is not None:
        out.append('Packages: %s' % v['package_count'])
    for p in v['packages']:
        if p['null'] or p['crashed']:
            out.append('  %d: %s' % (p['slot'], 'null' if p['null'] else 'crashed'))
            continue
        out.append('  %d "%s": %s functions, %s constants' % (p['slot'], p['name'], p['function_count'], p['constant_count']))
        if p['functions']:
            out.append('    functions:')
        for row in p['functions']:
            if row.get('crashed'):
                out.append('    function %d: crashed' % row['index'])
                continue
            calls = row.get('calls', {})
            out.append('    %2d %s    [%s]' % (row['index'], signature(p['name'], row), _result_text(calls) or 'not called'))
            if row.get('help'):
                out.append('         %s' % row['help'])
        if p['constants']:
            out.append('    constants:')
        for row in p['constants']:
            if row.get('crashed'):
                out.append('    constant %d: crashed' % row['index'])
                continue
            out.append('    %2d %s.%s = %s' % (row['index'], p['name'], row['name'], value_text(row['value'])))
            if row.get('help'):
                out.append('         %s' % row['help'])
    objects = v['engine_objects']
    if objects:
        found = [o for o in objects.values() if isinstance(o, list)]
        out.append('Engine package objects: %d found of %d, %d with constants, %d members' % (
            len(found), len(objects), sum(1 for o in found if o), sum(len(o) for o in found)))
    if v['unload'] is not None:
        u = v['unload']
        if u.get('crashed'):
            out.append('Unload: crashed')
        else:
            frees = ', '.join('package %d' % f['package'] if f.get('package') is not None else 'a block of %s bytes' % f.get('size')
                              for f in u.get('frees', []))
            out.append('Unload: %s; released %s' % ('ok' if u.get('ok') else 'failed', frees or 'nothing'))
    out.append('')
    out.append('Checks:')
    width = max(len(c['name']) for c in document['checks'])
    for c in document['checks']:
        out.append('  %-8s %-*s  %s' % (c['result'], width, c['name'], c['description']))
        for d in c['details'][:20]:
            out.append('  %-8s %-*s  - %s' % ('', width, '', d))
        if len(c['details']) > 20:
            out.append('  %-8s %-*s  - ... and %d more' % ('', width, '', len(c['details']) - 20))
    s = document['summary']
    out.append('%d checks: %s' % (sum(s.values()), ', '.join('%d %s' % (n, k) for k, n in s.items())))
    return '\n'.join(out)


def _md(text):
    return (text or '').replace('|', '\\|')


def markdown(document, label):
    """The script-API reference of one stream's --json document."""
    v = document['view']
    out = ['# Script API of %s' % label, '']
    out.append('The packages a script reaches by name, with their functions and constants, as the host reads them from the library.')
    out.append('')
    for p in v['packages']:
        if p['null'] or p['crashed']:
            continue
        out.append('## Package `%s`' % p['name'])
        out.append('')
        functions = [r for r in p['functions'] if not r.get('crashed')]
        constants = [r for r in p['constants'] if not r.get('crashed')]
        if not functions and not constants:
            out.append('No functions and no constants.')
            out.append('')
            continue
        if functions:
            out.append('### Functions')
            out.append('')
            for row in functions:
                out.append('#### `%s`' % signature(p['name'], row))
                out.append('')
                out.append('- Parameters: %s' % (', '.join('`%s`' % i for i in row['inputs'].split(', ')) if row.get('inputs') else 'none'))
                out.append('- Results: %s' % (', '.join('`%s`' % i for i in row['outputs'].split(', ')) if row.get('outputs') else 'none'))
                out.append('')
                if row.get('help'):
                    out.append(row['help'])
                    out.append('')
        if constants:
            out.append('### Constants')
            out.append('')
            out.append('| Name | Value | Help |')
            out.append('|---|---|---|')
            for row in constants:
                out.append('| `%s.%s` | %s | %s |' % (p['name'], row['name'], value_text(row['value']), _md(row.get('help'))))
            out.append('')
    return '\n'.join(out).rstrip() + '\n'
