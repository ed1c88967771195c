#!/usr/bin/env python3
"""Resets a reader, runs an EPC inventory and reads the first tag's user memory.

usage: inventory.py READER.INI SECTION
(bindings/run_tests.sh runs it against the simulator; set ZR_LIBRARY to libzr.so's path.)
"""

import sys

import zr


def main(path: str, section: str) -> int:
    try:
        with zr.Reader.open(path, section) as reader:
            reader.reset()
            print("power bytes:", reader.power_query(2).hex(" "))
            tags = list(reader.inventory(antenna=1, quiet=0.3))
            for epc in tags:
                print("EPC", epc.hex(" "))
            print(f"{len(tags)} tag(s)")  # an empty field is 0 tags; a silent reader raises
            if tags:
                words = reader.read_words(bytes(4), address=0, word_count=2)
                print("user words 0-1:", words.hex(" "))
    except zr.Error as e:
        print(f"failed: {e}", file=sys.stderr)  # the function, the result, its text and the cause
        return 1
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
