#!/usr/bin/env python3
"""Writes sdk/S3DXAIEngineIdentifiers.inc, the engine-function identifier list.

The host SDK's own list is not available to this project, so this generator
makes a stand-in with the properties the library relies on: 1622 pairwise
distinct 32-bit identifiers, one slot each, the rows the host interface fixes
in their test positions, and the stated extremes. It is deterministic (fixed
seed): running it again writes the same file. A real list replaces the
generated file one for one.
"""
import random
import sys

COUNT = 1622
SMALLEST, LARGEST = 0x0002D229, 0xFFE11C31
MOVED = 1059  # test positions whose slot differs from the position

# test position -> (identifier, slot) rows that the host interface fixes
FIXED_ROWS = {
    0: (0x0C0B94C3, 0), 1: (0x731527B4, 1), 2: (0xB3FBBF64, 2),
    3: (0x81EDCD7D, 3), 4: (0x26378D81, 4),
    12: (0x12F66939, 27), 13: (0xBCDD2945, 28), 14: (0xDBC245A7, 12),
    1615: (0x01532FFF, 1621), 1616: (0x14EB8309, 1615), 1617: (0x32060199, 1616),
    1618: (0xDD3484F3, 1617), 1619: (0xD748C5B1, 1618), 1620: (0xFF6B159B, 1619),
    1621: (0xFE220246, 1620),
}


def build(seed=0x53334458):
    rng = random.Random(seed)
    slot_of = [None] * COUNT
    for p in range(12):
        slot_of[p] = p
    for p, (_, s) in FIXED_ROWS.items():
        slot_of[p] = s
    # The remaining positions take the remaining slots in order, which moves
    # the slots 13 to 26 up by two behind the early test of 27 and 28 ...
    free_pos = [p for p in range(COUNT) if slot_of[p] is None]
    free_slots = sorted(set(range(COUNT)) - set(s for s in slot_of if s is not None))
    for p, s in zip(free_pos, free_slots):
        slot_of[p] = s
    # ... and a seeded shuffle of chosen fixed points makes up the rest.
    moved = sum(1 for p in range(COUNT) if slot_of[p] != p)
    fixed = [p for p in free_pos if slot_of[p] == p]
    chosen = sorted(rng.sample(fixed, MOVED - moved))
    rotated = chosen[1:] + chosen[:1]
    for p, s in zip(chosen, rotated):
        slot_of[p] = s

    ids = [None] * COUNT
    for p, (i, _) in FIXED_ROWS.items():
        ids[p] = i
    open_pos = [p for p in range(COUNT) if ids[p] is None]
    lo_pos, hi_pos = rng.sample(open_pos, 2)
    ids[lo_pos], ids[hi_pos] = SMALLEST, LARGEST
    used = set(i for i in ids if i is not None)
    for p in range(COUNT):
        while ids[p] is None:
            i = rng.randrange(SMALLEST + 1, LARGEST)
            if i not in used:
                used.add(i)
                ids[p] = i
    return ids, slot_of


def check(ids, slot_of):
    assert len(set(ids)) == COUNT and sorted(slot_of) == list(range(COUNT))
    assert min(ids) == SMALLEST and max(ids) == LARGEST
    assert sum(1 for p in range(COUNT) if slot_of[p] != p) == MOVED
    for p, (i, s) in FIXED_ROWS.items():
        assert ids[p] == i and slot_of[p] == s


def main(path):
    ids, slot_of = build()
    check(ids, slot_of)
    lines = [
        "// Engine-function identifiers and their callback slots, one row per",
        "// identifier, in the order RegisterCallback tests them. Written by",
        "// tools/gen-engine-identifiers.py; a host SDK's own list replaces this",
        "// file row for row.",
        "//",
        "//   S3DX_ENGINE_FUNCTION ( identifier, slot )",
        "",
    ]
    lines += ["S3DX_ENGINE_FUNCTION ( 0x%08x, %d )" % (i, s) for i, s in zip(ids, slot_of)]
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "sdk/S3DXAIEngineIdentifiers.inc")
