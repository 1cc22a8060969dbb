#!/usr/bin/env python3
"""Checks that code and data defined in one shared library are not also
defined in others: usage: check-one-copy.py OWNER OTHER...

A C++ function or variable of OWNER's own (a strong definition, local or global)
that another library defines as well means that library carries a copy of
OWNER's code and state. Weak definitions (inline functions, templates) are
shared by the loader and do not count, and neither do the standard library's
templates that a library instantiated for itself (with hidden visibility they
end up as local definitions in each library that uses them)."""
import re
import subprocess
import sys

STRONG = set("TtDdBbRr")
# Names in namespace std: _ZSt..., _ZNSt..., _ZNKSt... (after qualifiers).
STANDARD = re.compile(r"^_ZN?[rVK]*St")


def definitions(path):
    listing = subprocess.run(["nm", "--defined-only", path], capture_output=True, text=True, check=True).stdout
    names = set()
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[1] in STRONG and fields[2].startswith("_Z") and not STANDARD.match(fields[2]):
            names.add(fields[2])
    return names


def main(owner, others):
    own = definitions(owner)
    if not own:
        sys.exit(f"{owner} defines nothing: is it stripped?")
    failed = False
    for other in others:
        copied = sorted(own & definitions(other))
        if copied:
            failed = True
            print(f"{other} holds {len(copied)} definitions of {owner}, for example {copied[0]}")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
