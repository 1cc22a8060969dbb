#!/usr/bin/env python3
"""Finds text pointers kept from a temporary TnString: usage:
check-temporary-text.py FOLDER...

GetAscii and GetUnicode point into their TnString. A TnString that a call
returns (GetDescription(), GetCodeString(), ...) ends with the statement, so a
pointer taken from it and kept in a variable points to freed memory once the
statement is over. Using such a pointer within one statement is sound; this
check lists every statement that keeps one (`p = f().GetAscii();`). Keep the
TnString in a variable of its own, or copy the text with tn::ToString."""
import pathlib
import re
import sys

KEPT = re.compile(r"[\w\]]\s*=\s*[^;=]*\)\s*\.\s*Get(?:Ascii|Unicode)\s*\(\s*\)\s*;", re.S)


def statements(text):
    """The statements of a file, with the line each begins on; comments and
    string literals are blanked first."""
    text = re.sub(r"//[^\n]*|/\*.*?\*/", lambda m: re.sub(r"[^\n]", " ", m.group()), text, flags=re.S)
    text = re.sub(r'"(?:\\.|[^"\\\n])*"', '""', text)
    start = 0
    for index, char in enumerate(text):
        if char in ";{}":
            statement = text[start:index + 1]
            begin = start + len(statement) - len(statement.lstrip())
            yield text.count("\n", 0, begin) + 1, statement
            start = index + 1


def main(folders):
    found = []
    for folder in folders:
        for path in sorted(pathlib.Path(folder).rglob("*")):
            if path.suffix not in (".cpp", ".h", ".i"):
                continue
            for line, statement in statements(path.read_text(errors="replace")):
                if KEPT.search(statement):
                    found.append(f"{path}:{line}: {' '.join(statement.split())}")
    for place in found:
        print(place)
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main(sys.argv[1:])
