#!/usr/bin/env python3
"""The packers carry no user interface, no start-up, none of the stub's
messages and no test double.

    pack_symbols_test.py NM PACKER STUB-OBJECTS [DOUBLE-OBJECTS HOST-OBJECTS]

STUB-OBJECTS: the objects of the stub's user interface (src/ui/),
start-up (src/startup/) and messages (src/messages/), those the tree
builds; DOUBLE-OBJECTS: those of the tests' platform double
(tests/host/double/); HOST-OBJECTS: those of the real host layer
(src/platform/host/); each a CMake list, as the tree builds them. No
external symbol that the stub's objects define, nor one that the double
defines beyond the real layer (its test controls and stand-ins), may be in
PACKER, which must itself have symbols to look at (an unstripped link).
"""
import subprocess
import sys


def defined(nm, paths):
    """The external code and data symbols the files define."""
    names = set()
    for path in paths:
        out = subprocess.run([nm, "--defined-only", "--extern-only", path],
                             check=True, capture_output=True, text=True).stdout
        for line in out.splitlines():
            parts = line.split()
            # .refptr.*: mingw's pointers to data an object refers to, not
            # what it defines.
            if len(parts) == 3 and parts[1] in "TDBR" and not parts[2].startswith(".refptr."):
                names.add(parts[2])
    return names


def main():
    nm, packer = sys.argv[1], sys.argv[2]
    lists = [[path for path in arg.split(";") if path] for arg in sys.argv[3:]]
    if not lists or not lists[0]:
        sys.exit("no objects of the stub given")
    banned = defined(nm, lists[0])
    if len(lists) == 3:
        banned |= defined(nm, lists[1]) - defined(nm, lists[2])
    if not banned:
        sys.exit("the objects define nothing")
    present = defined(nm, [packer])
    if not present:
        sys.exit(f"{packer}: no symbols to look at")
    found = sorted(banned & present)
    if found:
        sys.exit(f"{packer} links the stub's user interface, start-up, messages or the test double: "
                 + ", ".join(found[:20]))
    print(f"{packer}: {len(present)} symbols, none of the {len(banned)} "
          "of the stub's own objects and the test double")


if __name__ == "__main__":
    main()
