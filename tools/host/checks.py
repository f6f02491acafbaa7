"""The checks of the host-visible contract, run on one record stream.

Each check has a short kebab-case name and a one-line description; its
result is passed, failed, crashed, skipped or warning, with details that name
the package, function and row where it happened. The expectations come from
lists.py, which reads the files the library is built from.
"""

import json
import re

import lists
from view import value

CHECKS = []

ITEM = re.compile(r'^[snbkhtv](Opt)?[A-Z][A-Za-z0-9]*$')
FUNCTION_NAME = re.compile(r'^[a-z][A-Za-z0-9]*$')
CONSTANT_NAME = re.compile(r'^k[A-Z][A-Za-z0-9]*$')
RESULT_COUNT = 8          # the probe's result array
MARKER = 0x7f


def check(name, description):
    def register(fn):
        CHECKS.append((name, description, fn))
        return fn
    return register


class Outcome:
    """What one check found: failures, crashes, warnings, or a reason to skip."""

    def __init__(self):
        self.failed, self.crashed, self.warnings, self.skipped = [], [], [], None

    def fail(self, text):
        self.failed.append(text)

    def crash(self, text):
        self.crashed.append(text)

    def warn(self, text):
        self.warnings.append(text)

    def skip(self, text):
        self.skipped = text
        return self

    def result(self):
        if self.crashed:
            return 'crashed', self.crashed + self.failed
        if self.failed:
            return 'failed', self.failed
        if self.skipped:
            return 'skipped', [self.skipped]
        if self.warnings:
            return 'warning', self.warnings
        return 'passed', []


class Context:
    """The stream, its view and the expectations, shared by every check."""

    def __init__(self, stream, view):
        self.s, self.v = stream, view
        self.expected_packages = lists.packages()
        self.identifiers = lists.identifiers()
        self.slot_count = lists.slot_count()

    def package_label(self, slot):
        for p in self.v['packages']:
            if p['slot'] == slot and p.get('name'):
                return '"%s"' % p['name']
        return 'package %d' % slot

    def row_label(self, slot, kind, row):
        name = row.get('name')
        return '%s %s row %d%s' % (self.package_label(slot), kind, row.get('index'),
                                   ' (%s)' % name if name else '')

    def published(self):
        """(package view, expected package or None) for every non-null package in slot order."""
        for p in self.v['packages']:
            if p['null'] or p['crashed']:
                continue
            expected = next((e for e in self.expected_packages if e['name'] == p['name']), None)
            yield p, expected


def number(bits):
    """The normalized value of a number variable with these float bits."""
    return value(1, bits.to_bytes(4, 'little').hex())


def hexid(i):
    return '0x%08x' % i


@check('stream-complete', 'the probe got through every step and closed its stream')
def _(c):
    o = Outcome()
    if not c.s.complete:
        last = c.s.last or {}
        steps = c.s.all('step')
        where = steps[-1]['name'] if steps else 'start'
        stopped = c.s.one('probe-stopped')
        keys = ', '.join('%s %s' % (k, json.dumps(last[k])) for k in ('case', 'stage', 'package', 'index', 'function', 'name', 'arguments', 'operation', 'object')
                         if k in last)
        o.crash('the probe stopped in step "%s" after a "%s" record%s%s' % (
            where, last.get('record'), ' (%s)' % keys if keys else '', ' (%s)' % stopped['reason'] if stopped else ''))
    return o


@check('get-plugin', 'GetPlugin returns the same non-null plug-in object on every call')
def _(c):
    o, r = Outcome(), c.s.one('get-plugin')
    if r is None:
        return o.skip('GetPlugin was not called')
    if r.get('crashed'):
        o.crash('GetPlugin crashed')
    elif r.get('null'):
        o.fail('GetPlugin returned null')
    elif not r.get('same'):
        o.fail('two calls of GetPlugin returned different pointers')
    return o


@check('sdk-version', 'GetSDKVersion reports the SDK version the headers describe')
def _(c):
    o, r = Outcome(), c.s.one('sdk-version')
    if r is None:
        return o.skip('no plug-in object')
    if r.get('crashed'):
        o.crash('GetSDKVersion crashed')
    elif r.get('value') != lists.sdk_version():
        o.fail('GetSDKVersion returned 0x%08x, expected 0x%08x' % (r.get('value'), lists.sdk_version()))
    return o


@check('contents-directory', 'SetContentsDirectory takes empty, long, over-long and null paths and changes nothing else')
def _(c):
    o, rs = Outcome(), c.s.all('contents-directory')
    if not rs:
        return o.skip('no plug-in object')
    for r in rs:
        if r.get('crashed'):
            o.crash('SetContentsDirectory crashed on the %s path (length %s)' % (r.get('case'), r.get('length')))
        elif r.get('changed'):
            o.fail('SetContentsDirectory with the %s path (length %s) changed what a host observes of the library' % (
                r.get('case'), r.get('length')))
    return o


@check('engine-api', 'GetAIEngineAPI returns one table, the one GUID_Lerpwork::__pS3DXEAPIMI designates')
def _(c):
    o, r = Outcome(), c.s.one('engine-api')
    if r is None:
        return o.skip('no plug-in object')
    if r.get('crashed'):
        o.crash('GetAIEngineAPI crashed')
        return o
    if r.get('null'):
        o.fail('GetAIEngineAPI returned null')
    if not r.get('same'):
        o.fail('two calls of GetAIEngineAPI returned different tables')
    if not r.get('global_found'):
        o.fail('GUID_Lerpwork::__pS3DXEAPIMI is not exported')
    elif not r.get('equals_global'):
        o.fail('GUID_Lerpwork::__pS3DXEAPIMI does not hold the table that GetAIEngineAPI returns')
    return o


def _slot_text(s):
    return 'null' if s is None else ('a foreign address' if s == 'foreign' else 'sentinel %d' % s)


@check('engine-slots-initial', 'every slot of the engine table is null before registration')
def _(c):
    o, r = Outcome(), next((x for x in c.s.all('engine-slots') if x.get('stage') == 'before'), None)
    if r is None:
        return o.skip('no engine table')
    if r.get('crashed'):
        o.crash('reading the engine table crashed')
        return o
    slots = r.get('slots') or []
    if len(slots) != c.slot_count:
        o.fail('the probe read %d slots, expected %d' % (len(slots), c.slot_count))
    for i, s in enumerate(slots):
        if s is not None:
            o.fail('slot %d holds %s before any registration' % (i, _slot_text(s)))
    return o


def _change_text(ch):
    return 'slot %d: %s -> %s' % (ch['slot'], _slot_text(ch['from']), _slot_text(ch['to']))


@check('register-known', 'RegisterCallback puts every identifier into its own slot and changes nothing else')
def _(c):
    o = Outcome()
    known = [r for r in c.s.all('register') if r.get('case') == 'known']
    if not known:
        return o.skip('no engine table')
    if len(known) != len(c.identifiers):
        o.fail('%d identifiers registered, the list has %d' % (len(known), len(c.identifiers)))
    for r in known:
        identifier, slot = c.identifiers[r['position']]
        label = 'identifier %s (test position %d)' % (hexid(identifier), r['position'])
        if r.get('crashed'):
            o.crash('RegisterCallback crashed on %s' % label)
            continue
        expected = [{'slot': slot, 'from': None, 'to': r['sentinel']}]
        if r.get('changed') != expected:
            got = ', '.join(_change_text(ch) for ch in r.get('changed', [])) or 'no slot changed'
            o.fail('%s: expected slot %d to take sentinel %d, got %s' % (label, slot, r['sentinel'], got))
    return o


@check('register-unknown', 'RegisterCallback with an identifier outside the list changes no slot')
def _(c):
    o = Outcome()
    unknown = [r for r in c.s.all('register') if r.get('case') == 'unknown']
    if not unknown:
        return o.skip('no engine table')
    for r in unknown:
        if r.get('crashed'):
            o.crash('RegisterCallback crashed on unknown identifier %s' % hexid(r['identifier']))
        elif r.get('changed'):
            o.fail('unknown identifier %s changed %s' % (hexid(r['identifier']),
                                                        ', '.join(_change_text(ch) for ch in r['changed'])))
    return o


@check('register-again', 'a second address for an identifier replaces the first, a null address clears the slot')
def _(c):
    o = Outcome()
    calls = {r.get('case'): r for r in c.s.all('register') if r.get('case') in ('repeat', 'null', 'restore')}
    if not calls:
        return o.skip('no engine table')
    slot = c.identifiers[0][1]
    previous = 0
    for case in ('repeat', 'null', 'restore'):
        r = calls.get(case)
        if r is None:
            continue
        if r.get('crashed'):
            o.crash('RegisterCallback crashed on the %s registration of %s' % (case, hexid(r['identifier'])))
            continue
        expected = [{'slot': slot, 'from': previous, 'to': r['sentinel']}]
        if r.get('changed') != expected:
            got = ', '.join(_change_text(ch) for ch in r.get('changed', [])) or 'no slot changed'
            o.fail('%s registration of %s: expected slot %d: %s -> %s, got %s' % (
                case, hexid(r['identifier']), slot, _slot_text(previous), _slot_text(r['sentinel']), got))
        previous = r['sentinel']
    return o


@check('engine-slots-final', 'after registration every slot holds the address of its own identifier')
def _(c):
    o, r = Outcome(), next((x for x in c.s.all('engine-slots') if x.get('stage') == 'after'), None)
    if r is None:
        return o.skip('no engine table')
    if r.get('crashed'):
        o.crash('reading the engine table crashed')
        return o
    slots = r.get('slots') or []
    expected = [None] * c.slot_count
    for position, (identifier, slot) in enumerate(c.identifiers):
        expected[slot] = position
    for i in range(max(len(slots), len(expected))):
        got = slots[i] if i < len(slots) else '<missing>'
        want = expected[i] if i < len(expected) else '<missing>'
        if got != want:
            o.fail('slot %d holds %s, expected %s' % (i, _slot_text(got) if got != '<missing>' else got,
                                                      _slot_text(want) if want != '<missing>' else want))
    return o


@check('package-count', 'GetAIPackageCount reports the plug-in\'s packages')
def _(c):
    o, n = Outcome(), c.v['package_count']
    if n is None:
        return o.skip('no plug-in object')
    if n == 'crashed':
        o.crash('GetAIPackageCount crashed')
    elif n != len(c.expected_packages):
        o.fail('GetAIPackageCount returned %d, expected %d' % (n, len(c.expected_packages)))
    return o


@check('package-names', 'GetAIPackageAt gives the packages by name, in slot order, the same pointer every time')
def _(c):
    o = Outcome()
    if c.v['package_count'] is None:
        return o.skip('no plug-in object')
    got = {p['slot']: p for p in c.v['packages']}
    for r in c.s.all('package'):
        if r.get('index', 0) < 64 and not r.get('null') and not r.get('crashed') and not r.get('same'):
            o.fail('package %d: two calls of GetAIPackageAt returned different pointers' % r['index'])
    for e in c.expected_packages:
        p = got.get(e['slot'])
        if p is None:
            o.fail('package %d ("%s") is missing' % (e['slot'], e['name']))
        elif p['crashed']:
            o.crash('package %d: GetAIPackageAt or GetName crashed' % e['slot'])
        elif p['null']:
            o.fail('package %d is null, expected "%s"' % (e['slot'], e['name']))
        elif p['name'] != e['name']:
            o.fail('package %d is named %s, expected "%s"' % (e['slot'], 'null' if p['name'] is None else '"%s"' % p['name'], e['name']))
    for slot, p in got.items():
        if slot >= len(c.expected_packages) and not p['null']:
            o.fail('package %d ("%s") is not one of the plug-in\'s packages' % (slot, p['name']))
    return o


@check('package-out-of-range', 'GetAIPackageAt with an index of the count or more returns null')
def _(c):
    o = Outcome()
    if not c.v['out_of_range_packages']:
        return o.skip('no plug-in object')
    for index, state in c.v['out_of_range_packages'].items():
        if state == 'crashed':
            o.crash('GetAIPackageAt(%s) crashed' % index)
        elif state != 'null':
            o.fail('GetAIPackageAt(%s) returned a package' % index)
    return o


def _rows_crashed(o, c, p):
    for kind, rows in (('function', p['functions']), ('constant', p['constants'])):
        for row in rows:
            if row.get('crashed'):
                o.crash('%s: reading the row crashed' % c.row_label(p['slot'], kind, row))
    for kind in ('function', 'constant'):
        f = p['filler_' + kind]
        if f and f.get('crashed'):
            o.crash('%s: reading the filler row crashed' % c.row_label(p['slot'], kind, f))


@check('count-rule', 'a table reports its full length or 0, decided by its first row\'s name')
def _(c):
    o = Outcome()
    for p, e in c.published():
        for kind in ('function', 'constant'):
            count = p[kind + '_count']
            rows = p[kind + 's']
            filler = p['filler_' + kind]
            label = c.package_label(p['slot'])
            if count == 0:
                if filler and not filler.get('crashed') and filler.get('name') is not None:
                    o.fail('%s reports 0 %ss but its first %s row is named "%s"' % (label, kind, kind, filler['name']))
            elif rows and not rows[0].get('crashed') and rows[0].get('name') is None:
                o.fail('%s reports %d %ss but its first %s row has a null name' % (label, count, kind, kind))
            if e is not None and count != len(e[kind + 's']):
                o.fail('%s reports %d %ss, its list has %d' % (label, count, kind, len(e[kind + 's'])))
    return o


def _text(t):
    return 'null' if t is None else '"%s"' % t


@check('function-rows', 'every function row carries the name, lists, help, flags and callback of its list entry')
def _(c):
    o = Outcome()
    for p, e in c.published():
        _rows_crashed(o, c, p)
        if e is None:
            continue
        for i, want in enumerate(e['functions']):
            if i >= len(p['functions']):
                break
            row = p['functions'][i]
            if row.get('crashed'):
                continue
            label = c.row_label(p['slot'], 'function', row)
            for field in ('name', 'inputs', 'outputs', 'help'):
                if row[field] != want[field]:
                    o.fail('%s: %s is %s, expected %s' % (label, field, _text(row[field]), _text(want[field])))
            if row['flags'] != 0:
                o.fail('%s: flags are 0x%x, expected 0' % (label, row['flags']))
            if not row['callback']:
                o.fail('%s: the callback is null' % label)
    for r in c.s.all('function'):
        if not r.get('crashed') and not r.get('same'):
            o.fail('%s: two calls of GetFunctionAt(%d) returned different rows' % (
                c.row_label(r['package'], 'function', r), r['index']))
    return o


@check('constant-rows', 'every constant row carries the name, value (bit for bit), help and flags of its list entry')
def _(c):
    o = Outcome()
    for p, e in c.published():
        if e is None:
            continue
        for i, want in enumerate(e['constants']):
            if i >= len(p['constants']):
                break
            row = p['constants'][i]
            if row.get('crashed'):
                continue
            label = c.row_label(p['slot'], 'constant', row)
            for field in ('name', 'help'):
                if row[field] != want[field]:
                    o.fail('%s: %s is %s, expected %s' % (label, field, _text(row[field]), _text(want[field])))
            expected = number(want['bits'])
            if row['value'] != expected:
                o.fail('%s: value is %s, expected %s' % (label, row['value'], expected))
            if row['flags'] != 0:
                o.fail('%s: flags are 0x%x, expected 0' % (label, row['flags']))
    for r in c.s.all('constant'):
        if not r.get('crashed') and not r.get('same'):
            o.fail('%s: two calls of GetConstantAt(%d) returned different rows' % (
                c.row_label(r['package'], 'constant', r), r['index']))
    return o


@check('texts-non-null', 'every published row\'s texts are non-null; the filler rows of empty tables are null')
def _(c):
    o = Outcome()
    for p, _e in c.published():
        for kind, fields in (('function', ('name', 'outputs', 'inputs', 'help')), ('constant', ('name', 'help'))):
            for row in p[kind + 's']:
                if row.get('crashed'):
                    continue
                for field in fields:
                    if row[field] is None:
                        o.fail('%s: %s is null' % (c.row_label(p['slot'], kind, row), field))
            f = p['filler_' + kind]
            if f and not f.get('crashed'):
                label = '%s %s filler row' % (c.package_label(p['slot']), kind)
                for field in fields:
                    if f[field] is not None:
                        o.fail('%s: %s is %s, expected null' % (label, field, _text(f[field])))
                if kind == 'function' and f['callback']:
                    o.fail('%s: the callback is not null' % label)
                if kind == 'constant' and f['value'] != number(0):
                    o.fail('%s: value is %s, expected the number 0' % (label, f['value']))
                if f['flags'] != 0:
                    o.fail('%s: flags are 0x%x, expected 0' % (label, f['flags']))
    return o


def _names_outcome(c, kind, pattern, rule):
    """Each published row of `kind` has a name matching `pattern` and unique in its package."""
    o = Outcome()
    for p, _e in c.published():
        seen = {}
        for row in p[kind + 's']:
            name = row.get('name')
            if row.get('crashed') or name is None:
                continue
            label = c.row_label(p['slot'], kind, row)
            if not pattern.match(name):
                o.fail('%s: "%s" %s' % (label, name, rule))
            if name in seen:
                o.fail('%s: "%s" is also the name of row %d' % (label, name, seen[name]))
            seen.setdefault(name, row['index'])
    return o


@check('function-names', 'function names are lowerCamelCase and unique within their package')
def _(c):
    return _names_outcome(c, 'function', FUNCTION_NAME, 'is not lowerCamelCase')


@check('constant-names', 'constant names begin with k and are unique within their package')
def _(c):
    return _names_outcome(c, 'constant', CONSTANT_NAME, 'does not begin with k and a capital letter')


def item_problems(text):
    """What is wrong with a parameter or result list, as a list of texts."""
    if text is None or text == '':
        return []
    problems = []
    items = text.split(', ')
    seen = set()
    for i, item in enumerate(items):
        if item == '...':
            if i != len(items) - 1:
                problems.append('"..." is not the last item')
            continue
        if item != item.strip() or ',' in item:
            problems.append('"%s" is not separated by ", "' % item)
        elif not ITEM.match(item):
            problems.append('"%s" does not begin with a kind prefix (s n b k h t v, optionally followed by Opt)' % item)
        if item in seen:
            problems.append('"%s" appears twice' % item)
        seen.add(item)
    return problems


@check('item-lists', 'parameter and result lists are kind-prefixed names separated by ", ", "..." only last, no duplicates')
def _(c):
    o = Outcome()
    for p, _e in c.published():
        for row in p['functions']:
            if row.get('crashed'):
                continue
            for field, what in (('inputs', 'parameter'), ('outputs', 'result')):
                for problem in item_problems(row.get(field)):
                    o.fail('%s: %s list: %s' % (c.row_label(p['slot'], 'function', row), what, problem))
    return o


def _expected_results(e, name):
    for f in (e or {}).get('functions', []):
        if f['name'] == name:
            return f['result']
    return None


@check('callback-results', 'each callback returns its list\'s fixed result, writes nothing beyond it, and a nil result is a clean nil')
def _(c):
    o = Outcome()
    calls = c.s.all('call')
    if not calls and not c.v['packages']:
        return o.skip('no packages')
    names = {p['slot']: p for p in c.v['packages']}
    for r in calls:
        p = names.get(r['package'])
        row = {'index': r['function'], 'name': r.get('name')}
        label = '%s, called with %d arguments' % (c.row_label(r['package'], 'function', row), r['arguments'])
        if r.get('crashed'):
            o.crash('%s: the callback crashed' % label)
            continue
        n = r.get('returned')
        changed = {ch['slot']: ch for ch in r.get('changed', [])}
        if n < 0 or n > RESULT_COUNT:
            o.fail('%s: returned %d results, outside 0..%d' % (label, n, RESULT_COUNT))
        for slot, ch in sorted(changed.items()):
            if slot >= max(n, 0):
                o.fail('%s: returned %d but wrote result %d (%s)' % (label, n, slot, value(ch['tag'], ch['payload'])))
        for slot in range(min(max(n, 0), RESULT_COUNT)):
            ch = changed.get(slot)
            if ch is None:
                o.fail('%s: returned %d but left result %d untouched' % (label, n, slot))
            elif ch['tag'] == 0 and value(0, ch['payload']) != {'type': 'nil'}:
                o.fail('%s: result %d is nil with a payload of %s' % (label, slot, ch['payload']))
        expected = _expected_results(next((e for e in c.expected_packages if p and e['name'] == p['name']), None), r.get('name'))
        if expected == 'Nil':
            if n != 1 or slot_value(changed.get(0)) != {'type': 'nil'}:
                o.fail('%s: expected one nil result, got %d result%s%s' % (
                    label, n, '' if n == 1 else 's',
                    ' with result 0 %s' % slot_value(changed.get(0)) if changed.get(0) and n >= 1 else ''))
        elif expected == 'None' and n != 0:
            o.fail('%s: expected no result, got %d' % (label, n))
    return o


def slot_value(ch):
    return None if ch is None else value(ch['tag'], ch['payload'])


@check('callback-arguments', 'callbacks leave their read-only arguments untouched')
def _(c):
    o = Outcome()
    for r in c.s.all('call'):
        if r.get('arguments_changed'):
            row = {'index': r['function'], 'name': r.get('name')}
            o.fail('%s: the callback wrote to its arguments' % c.row_label(r['package'], 'function', row))
    return o


@check('inherited-operations', 'the platform hand-overs and OnEngineEvent change nothing; no audio back-ends')
def _(c):
    o, rs = Outcome(), c.s.all('inherited')
    if not rs:
        return o.skip('no plug-in object')
    for r in rs:
        op = r['operation'] + ('(%d)' % r['index'] if 'index' in r else '')
        if r.get('crashed'):
            o.crash('%s crashed' % op)
        elif r.get('changed'):
            o.fail('%s changed what a host observes of the plug-in' % op)
        elif r.get('touched'):
            o.fail('%s wrote to the event values %s' % (op, ', '.join(str(i) for i in r['touched'])))
        elif 'value' in r and r['value'] != 0:
            o.fail('%s returned %d, expected 0' % (op, r['value']))
        elif r['operation'] == 'GetAudioBackendAt' and not r.get('null'):
            o.fail('%s returned a back-end, expected null' % op)
    return o


@check('engine-constants', 'the engine package objects hold the listed constants, value for value and bit for bit')
def _(c):
    o = Outcome()
    got = {r['object']: r for r in c.s.all('engine-object')}
    if not got:
        return o.skip('the probe did not reach the engine package objects')
    for e in lists.engine_objects():
        r = got.get(e['object'])
        label = 'S3DX::%s' % e['object']
        if r is None:
            o.fail('%s was not read' % label)
            continue
        if not r.get('found'):
            o.fail('%s is not exported' % label)
            continue
        if r.get('crashed'):
            o.crash('reading %s crashed' % label)
            continue
        members = r.get('members', [])
        for i, (kind, bits) in enumerate(e['members']):
            if i >= len(members):
                o.fail('%s: member %d was not read' % (label, i))
                break
            got_value = value(members[i]['tag'], members[i]['payload'])
            want = {'type': 'nil'} if kind == 'nil' else number(bits)
            if got_value != want:
                o.fail('%s position %d is %s, expected %s' % (label, i, got_value, want))
    return o


@check('unload', 'unloading destroys the three packages once each, in slot order, and releases nothing else')
def _(c):
    o, r = Outcome(), c.s.one('unload')
    if r is None:
        return o.skip('the probe did not unload the library')
    if r.get('crashed'):
        o.crash('unloading the library crashed')
        return o
    if not r.get('ok'):
        o.fail('the loader failed to unload the library: %s' % r.get('error'))
        return o
    frees = r.get('frees', [])
    want = [{'package': e['slot']} for e in c.expected_packages]
    got = frees if r.get('ordered', True) else sorted(frees, key=lambda f: (f.get('package') is None, f.get('package') or 0))
    if got != want:
        def text(f):
            return 'package %d' % f['package'] if f.get('package') is not None else 'a block of %s bytes' % f.get('size')
        o.fail('released %s; expected %s' % (', '.join(text(f) for f in frees) or 'nothing',
                                           ', '.join(text(f) for f in want)))
    if not r.get('ordered', True):
        o.warn('the platform does not report the order of the releases')
    return o


def run(stream, view):
    """Runs every check; returns a list of {name, description, result, details}."""
    c = Context(stream, view)
    results = []
    for name, description, fn in CHECKS:
        try:
            outcome = fn(c)
            result, details = outcome.result()
        except (KeyError, TypeError, IndexError, ValueError, AttributeError) as e:
            result, details = 'failed', ['the records are not in the documented form (%s: %s)' % (type(e).__name__, e)]
        results.append({'name': name, 'description': description, 'result': result, 'details': details})
    return results


def summary(results):
    counts = {k: 0 for k in ('passed', 'failed', 'crashed', 'skipped', 'warning')}
    for r in results:
        counts[r['result']] += 1
    return counts
