"""python3 -m machoemu [--loader] LIBRARY: writes the raw records of every
slice as JSON lines (a line {"slice": label} before each stream), or with
--loader the loader's facts of every slice as one JSON document."""

import json
import sys

from . import host


def main(argv):
    loader = "--loader" in argv
    paths = [a for a in argv if a != "--loader"]
    if len(paths) != 1:
        sys.stderr.write("usage: python3 -m machoemu [--loader] LIBRARY\n")
        return 2
    result = host.observe(paths[0])
    if loader:
        json.dump([{"slice": label, "loader": facts} for label, _records, facts in result], sys.stdout, indent=1)
        sys.stdout.write("\n")
        return 0
    for label, records, _facts in result:
        print(json.dumps({"slice": label}))
        for r in records:
            print(json.dumps(r))
    return 0


sys.exit(main(sys.argv[1:]))
