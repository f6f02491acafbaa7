#!/usr/bin/python3
"""Runs the start-up of Lerpwork.dll in a CPU emulator (python3-unicorn) and
checks the order of what it does at process attach and detach, which no
loader shows from outside:

- attach: the twelve engine package objects filled at load are written one
  after the other, in list order, and nothing else writes them after; the
  initialised-data objects are not written at all; then the plug-in object is
  built (the global table pointer is set, the three packages are allocated);
  then one destructor goes on the module's exit list; the entry succeeds;
- detach: the exit list runs that destructor once, which frees the three
  packages in slot order and nothing else and leaves the slots null, and the
  global pointer keeps its value.

The image is mapped at its preferred base; every import is bound to a
stand-in of this script (the heap, the exit list, the memory functions, the
clock of the stack cookie). Any other import that the start-up calls fails
the check.

usage: check-load-order.py LERPWORK.DLL SDK_DIR"""

import re
import struct
import sys

import pefile
from unicorn import Uc, UcError, UC_ARCH_X86, UC_MODE_32, UC_HOOK_CODE, UC_HOOK_MEM_WRITE
from unicorn.x86_const import UC_X86_REG_EAX, UC_X86_REG_ESP, UC_X86_REG_EIP

FILLED_AT_LOAD = ['animation', 'application', 'dynamics', 'hud', 'input', 'network', 'object', 'pixelmap',
                  'scene', 'shape', 'system', 'user']
DATA_OBJECTS = ['cache', 'camera', 'debug', 'light', 'math', 'mesh', 'projector', 'sensor', 'server',
                'session', 'sfx']
GLOBAL_TABLE = '?__pS3DXEAPIMI@GUID_Lerpwork@@3PAVAIEngineAPI@S3DX@@A'

STUBS, STUB_SIZE = 0x70000000, 16
HEAP, HEAP_SIZE = 0x20000000, 0x100000
STACK, STACK_SIZE = 0x00800000, 0x100000
STOP = 0x6fff0000                     # return address of the outermost call
STDCALL_ARGUMENTS = {'GetSystemTimeAsFileTime': 4, 'QueryPerformanceCounter': 4,
                     'GetCurrentProcessId': 0, 'GetCurrentThreadId': 0}


class Emulation:
    def __init__(self, path, counts):
        self.counts = counts
        self.pe = pefile.PE(path)
        self.base = self.pe.OPTIONAL_HEADER.ImageBase
        self.uc = Uc(UC_ARCH_X86, UC_MODE_32)
        image = self.pe.get_memory_mapped_image()
        size = (len(image) + 0xfff) & ~0xfff
        self.uc.mem_map(self.base, size)
        self.uc.mem_write(self.base, image)
        # Page 0 stands in for the thread information block: FS is flat, and
        # fs:[0], the head of the exception-registration chain, is its end.
        self.uc.mem_map(0, 0x1000)
        self.uc.mem_write(0, struct.pack('<I', 0xffffffff))
        self.uc.mem_map(STACK, STACK_SIZE)
        self.uc.mem_map(HEAP, HEAP_SIZE)
        self.uc.mem_map(STOP, 0x1000)
        self.heap_top = HEAP
        self.events = []
        self.unexpected = []
        self.exit_list = []
        self.bind_imports()
        self.exports = {s.name.decode(): self.base + s.address for s in self.pe.DIRECTORY_ENTRY_EXPORT.symbols if s.name}
        self.watch = []               # (low, high, label)
        for obj in FILLED_AT_LOAD + DATA_OBJECTS:
            name = '?%s@S3DX@@3U%sPackage@AIEngineAPI@1@A' % (obj, obj[0].upper() + obj[1:])
            self.watch.append((self.exports[name], self.exports[name] + 8 * self.count(obj), 'object:' + obj))
        self.watch.append((self.exports[GLOBAL_TABLE], self.exports[GLOBAL_TABLE] + 4, 'global-table'))
        self.uc.hook_add(UC_HOOK_MEM_WRITE, self.on_write)

    def count(self, obj):
        return self.counts[obj]

    def bind_imports(self):
        self.stubs = {}
        n = 0
        for entry in self.pe.DIRECTORY_ENTRY_IMPORT:
            for imp in entry.imports:
                address = STUBS + STUB_SIZE * n
                self.stubs[address] = imp.name.decode()
                self.uc.mem_write(imp.address, struct.pack('<I', address))
                n += 1
        self.uc.mem_map(STUBS, (STUB_SIZE * n + 0xfff) & ~0xfff)
        self.uc.hook_add(UC_HOOK_CODE, self.on_stub, begin=STUBS, end=STUBS + STUB_SIZE * n)

    # -- memory helpers ----------------------------------------------------
    def u32(self, address):
        return struct.unpack('<I', self.uc.mem_read(address, 4))[0]

    def argument(self, i):
        return self.u32(self.uc.reg_read(UC_X86_REG_ESP) + 4 + 4 * i)

    def on_write(self, uc, access, address, size, value, data):
        for low, high, label in self.watch:
            if low <= address < high:
                self.events.append(label)

    # -- the imports -------------------------------------------------------
    def on_stub(self, uc, address, size, data):
        name = self.stubs[address]
        esp = uc.reg_read(UC_X86_REG_ESP)
        ret = self.u32(esp)
        result = 0
        if name == 'malloc':
            n = self.argument(0)
            result = self.heap_top
            self.heap_top += (max(n, 1) + 15) & ~15
            self.events.append('malloc')
            self.blocks = getattr(self, 'blocks', []) + [result]
        elif name == 'free':
            self.events.append(('free', self.argument(0)))
        elif name in ('memcpy', 'memmove'):
            d, s, n = self.argument(0), self.argument(1), self.argument(2)
            uc.mem_write(d, bytes(uc.mem_read(s, n)))
            result = d
        elif name == '_initialize_onexit_table':
            uc.mem_write(self.argument(0), b'\0' * 12)
        elif name == '_register_onexit_function':
            self.exit_list.append(self.argument(1))
            self.events.append('register-exit')
        elif name == '_execute_onexit_table':
            # Runs the list, last registered first: each function returns into
            # the next, the last into our caller.
            functions = list(reversed(self.exit_list))
            self.exit_list = []
            self.events.append('execute-exit-list')
            if functions:
                frames = functions[1:] + [ret]
                esp = esp + 4 - 4 * len(frames)
                uc.mem_write(esp, b''.join(struct.pack('<I', f) for f in frames))
                uc.reg_write(UC_X86_REG_ESP, esp)
                uc.reg_write(UC_X86_REG_EIP, functions[0])
                return
        elif name in STDCALL_ARGUMENTS:
            if name == 'GetSystemTimeAsFileTime':
                uc.mem_write(self.argument(0), struct.pack('<II', 0x12345678, 0x01d00000))
            elif name == 'QueryPerformanceCounter':
                uc.mem_write(self.argument(0), struct.pack('<Q', 0x1122334455))
                result = 1
            else:
                result = 0x42
        else:
            self.unexpected.append(name)
            uc.emu_stop()
            return
        uc.reg_write(UC_X86_REG_EAX, result & 0xffffffff)
        uc.reg_write(UC_X86_REG_ESP, esp + 4 + STDCALL_ARGUMENTS.get(name, 0))
        uc.reg_write(UC_X86_REG_EIP, ret)

    def call_entry(self, reason):
        esp = STACK + STACK_SIZE - 0x100
        esp -= 16
        self.uc.mem_write(esp, struct.pack('<IIII', STOP, self.base, reason, 0))
        self.uc.reg_write(UC_X86_REG_ESP, esp)
        entry = self.base + self.pe.OPTIONAL_HEADER.AddressOfEntryPoint
        self.uc.emu_start(entry, STOP, count=50_000_000)
        return self.uc.reg_read(UC_X86_REG_EAX), self.uc.reg_read(UC_X86_REG_EIP) == STOP


def member_counts(sdk_dir):
    """Object -> number of members, from the SDK's list of engine constants."""
    text = open(sdk_dir + '/S3DXAIEngineConstants.inc').read()
    return {m.group(1): int(m.group(2))
            for m in re.finditer(r'^S3DX_ENGINE_PACKAGE_BEGIN\s*\(\s*\w+\s*,\s*(\w+)\s*,\s*(\d+)\s*\)', text, re.M)}


def runs(events):
    """The events with the repeated writes of one object folded into one."""
    out = []
    for e in events:
        if not (out and out[-1] == e and e.startswith('object:')):
            out.append(e)
    return out


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    emu = Emulation(sys.argv[1], member_counts(sys.argv[2]))
    failures = []

    try:
        result, returned = emu.call_entry(1)
    except UcError as e:
        print('FAILED: the start-up faulted at attach: %s at 0x%x' % (e, emu.uc.reg_read(UC_X86_REG_EIP)))
        return 1
    if emu.unexpected:
        failures.append('attach called %s, which the start-up has no use for' % emu.unexpected)
    if not returned or result != 1:
        failures.append('attach returned %s (returned to its caller: %s), not success' % (result, returned))
    attach = runs(emu.events)
    want = ['object:' + o for o in FILLED_AT_LOAD] + ['global-table', 'malloc', 'malloc', 'malloc', 'register-exit']
    print('attach: ' + ', '.join(attach))
    if attach != want:
        failures.append('attach order is\n  %s\nnot\n  %s' % (attach, want))
    written_data = sorted({e for e in emu.events if e in ['object:' + o for o in DATA_OBJECTS]})
    if written_data:
        failures.append('initialised-data objects written at load: %s' % written_data)
    # The plug-in object's package slots follow its virtual-table pointer and
    # its engine callback table (a virtual-table pointer and 1622 slots), at
    # which the global table pointer points.
    global_table = emu.u32(emu.exports[GLOBAL_TABLE])
    slots = global_table + 4 + 4 * 1622
    packages = [emu.u32(slots + 4 * i) for i in range(3)]
    if packages != list(getattr(emu, 'blocks', [])):
        failures.append('the package slots hold %s, not the three blocks allocated in order' % [hex(p) for p in packages])

    emu.events = []
    try:
        result, returned = emu.call_entry(0)
    except UcError as e:
        print('FAILED: the start-up faulted at detach: %s at 0x%x' % (e, emu.uc.reg_read(UC_X86_REG_EIP)))
        return 1
    if emu.unexpected:
        failures.append('detach called %s, which the start-up has no use for' % emu.unexpected)
    if not returned or result != 1:
        failures.append('detach returned %s (returned to its caller: %s), not success' % (result, returned))
    names = {b: 'package %d' % i for i, b in enumerate(packages)}
    detach = [e if isinstance(e, str) else 'free ' + names.get(e[1], '0x%x' % e[1]) for e in emu.events]
    print('detach: ' + ', '.join(detach))
    want = ['execute-exit-list', 'free package 0', 'free package 1', 'free package 2']
    if detach != want:
        failures.append('detach order is %s, not %s' % (detach, want))
    if emu.u32(emu.exports[GLOBAL_TABLE]) != global_table:
        failures.append('the global table pointer changed at detach')
    if [emu.u32(slots + 4 * i) for i in range(3)] != [0, 0, 0]:
        failures.append('the package slots are not null after detach')

    for f in failures:
        print('FAILED: ' + f)
    print('load and unload order: %s' % ('failed' if failures else 'as expected'))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
