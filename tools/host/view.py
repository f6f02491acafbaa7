"""The normalized host view: what a host sees of a library, free of anything
build-specific, so that the views of different builds compare equal; and the
comparison of views."""

import math
import struct

TAG_NAMES = {0x00: 'nil', 0x01: 'number', 0x02: 'string', 0x03: 'boolean', 0x80: 'handle'}


class Stream:
    """The raw records of one probe run, indexed by kind."""

    def __init__(self, records):
        self.records = records
        self.by_kind = {}
        for r in records:
            self.by_kind.setdefault(r.get('record'), []).append(r)

    def all(self, kind):
        return self.by_kind.get(kind, [])

    def one(self, kind):
        found = self.all(kind)
        return found[0] if found else None

    @property
    def complete(self):
        return bool(self.all('end')) and not self.all('probe-stopped')

    @property
    def last(self):
        """The last record the probe itself wrote."""
        written = [r for r in self.records if r.get('record') != 'probe-stopped']
        return written[-1] if written else None

    def facts(self):
        p = self.one('probe') or {}
        return {'platform': p.get('platform'), 'pointer_size': p.get('pointer_size'),
                'variable_size': p.get('variable_size')}


def value(tag, payload):
    """A variable as a platform-neutral value, from its tag and payload hex."""
    b = bytes.fromhex(payload or '')
    if tag == 0x01:
        bits = int.from_bytes(b[:4], 'little')
        f = struct.unpack('<f', b[:4])[0] if len(b) >= 4 else 0.0
        v = {'type': 'number', 'bits': '0x%08x' % bits, 'value': f if math.isfinite(f) else repr(f)}
        if any(b[4:]):
            v['high'] = b[4:].hex()
        return v
    if tag == 0x00:
        v = {'type': 'nil'}
        if any(b):
            v['payload'] = b.hex()
        return v
    if tag == 0x03:
        v = {'type': 'boolean', 'value': bool(b[:1] and b[0])}
        if any(b[1:]):
            v['payload'] = b.hex()
        return v
    if tag in (0x02, 0x80):
        return {'type': TAG_NAMES[tag], 'payload_null': not any(b)}
    return {'type': '0x%02x' % tag, 'payload': b.hex()}


def function_row(r):
    return {k: r.get(k) for k in ('index', 'name', 'callback', 'outputs', 'inputs', 'help', 'flags')}


def constant_row(r):
    row = {k: r.get(k) for k in ('index', 'name', 'help', 'flags')}
    row['value'] = value(r.get('tag'), r.get('payload')) if 'tag' in r else None
    return row


def _crash(r):
    return {'index': r.get('index'), 'crashed': True}


def build_view(stream):
    """The host view of one record stream (tools/host/README.md, "The host view")."""
    v = {'complete': stream.complete}
    gp = stream.one('get-plugin')
    v['get_plugin'] = None if gp is None else {'null': gp.get('null'), 'same': gp.get('same'), 'crashed': gp.get('crashed', False)}
    sv = stream.one('sdk-version')
    v['sdk_version'] = None if sv is None else sv.get('value', 'crashed')
    # "changed" is an optional observation: it enters the view only when
    # something did change, so views of backends without it still compare.
    v['contents_directory'] = [dict({'case': r.get('case'), 'crashed': r.get('crashed', False)},
                                    **({'changed': True} if r.get('changed') else {}))
                               for r in stream.all('contents-directory')]

    ea = stream.one('engine-api')
    v['engine_api'] = None if ea is None else {k: ea.get(k) for k in ('null', 'same', 'equals_global')}
    slots = {r.get('stage'): r.get('slots') for r in stream.all('engine-slots')}
    regs = stream.all('register')
    v['registration'] = {
        'slots_before_non_null': [i for i, s in enumerate(slots.get('before') or []) if s is not None],
        'calls': [{k: r.get(k) for k in ('case', 'position', 'identifier', 'sentinel', 'changed', 'crashed')} for r in regs if r.get('case') != 'known'],
        'known_changes': [r.get('changed', 'crashed') for r in regs if r.get('case') == 'known'],
        'slots_after': slots.get('after'),
    }

    pc = stream.one('package-count')
    v['package_count'] = None if pc is None else pc.get('value', 'crashed')
    packages, outside = [], {}
    count = v['package_count'] if isinstance(v['package_count'], int) else 0
    for r in stream.all('package'):
        idx = r.get('index')
        if idx >= count or idx >= 64:
            outside[str(idx)] = 'crashed' if r.get('crashed') else ('null' if r.get('null') else 'non-null')
            continue
        p = {'slot': idx, 'null': r.get('null'), 'crashed': r.get('crashed', False), 'name': r.get('name'),
             'function_count': r.get('function_count'), 'constant_count': r.get('constant_count'),
             'functions': [], 'constants': [], 'filler_function': None, 'filler_constant': None}
        for f in stream.all('function'):
            if f.get('package') == idx:
                row = _crash(f) if f.get('crashed') else function_row(f)
                if f.get('filler'):
                    p['filler_function'] = row
                else:
                    p['functions'].append(row)
        for c in stream.all('constant'):
            if c.get('package') == idx:
                row = _crash(c) if c.get('crashed') else constant_row(c)
                if c.get('filler'):
                    p['filler_constant'] = row
                else:
                    p['constants'].append(row)
        packages.append(p)
    v['packages'] = packages
    v['out_of_range_packages'] = outside

    for r in stream.all('call'):
        p = next((p for p in packages if p['slot'] == r.get('package')), None)
        row = next((f for f in p['functions'] if f.get('index') == r.get('function')), None) if p else None
        if row is None:
            continue
        if r.get('crashed'):
            outcome = {'crashed': True}
        else:
            outcome = {'returned': r.get('returned'),
                       'changed': [{'slot': c['slot'], 'value': value(c['tag'], c['payload'])} for c in r.get('changed', [])],
                       'arguments_changed': r.get('arguments_changed')}
        row.setdefault('calls', {})[str(r.get('arguments'))] = outcome

    inherited = {}
    for r in stream.all('inherited'):
        key = r['operation'] + ('(%d)' % r['index'] if 'index' in r else '')
        inherited[key] = {k: x for k, x in r.items() if k not in ('record', 'operation', 'index')}
    v['inherited'] = inherited

    objects = {}
    for r in stream.all('engine-object'):
        if not r.get('found'):
            objects[r['object']] = None
        elif r.get('crashed'):
            objects[r['object']] = 'crashed'
        else:
            objects[r['object']] = [value(m['tag'], m['payload']) for m in r.get('members', [])]
    v['engine_objects'] = objects

    u = stream.one('unload')
    v['unload'] = None if u is None else {k: x for k, x in u.items() if k != 'record'}
    return v


def differences(a, b, path=''):
    """Yields (path, left, right) for every difference between two JSON values."""
    if isinstance(a, dict) and isinstance(b, dict):
        for k in list(a) + [k for k in b if k not in a]:
            if k not in a or k not in b:
                yield path + '.' + k, a.get(k, '<missing>'), b.get(k, '<missing>')
            else:
                yield from differences(a[k], b[k], path + '.' + k)
    elif isinstance(a, list) and isinstance(b, list):
        for i in range(max(len(a), len(b))):
            if i >= len(a) or i >= len(b):
                yield '%s[%d]' % (path, i), a[i] if i < len(a) else '<missing>', b[i] if i < len(b) else '<missing>'
            else:
                yield from differences(a[i], b[i], '%s[%d]' % (path, i))
    elif a != b or type(a) is not type(b):
        yield path, a, b


def views_of(document):
    """The views in a --json document: one per stream (a fat file's document is a list)."""
    items = document if isinstance(document, list) else [document]
    return [(i.get('build', {}).get('slice'), i['view']) for i in items]
