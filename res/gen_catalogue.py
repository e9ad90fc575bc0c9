#!/usr/bin/env python3
"""Turns the message catalogue (messages.json) into the two string tables of the
resource script and the table behind the native CatalogueText lookup. Entries marked
"front": "terminal" are the terminal program's own texts: they go into a table of their
own (TerminalText) and never into the resource script.

The JSON file is the only place where the texts are written down; everything the
build compiles is produced from it here, so the two languages and the two
platforms cannot drift apart.
"""
import argparse
import json
import sys

# LoadStringW callers hand in a 2048-character buffer; a longer text would be cut.
MAX_TEXT_LENGTH = 2047
LANGUAGES = ("en", "de")


def load(path):
    with open(path, encoding="utf-8") as f:
        entries = json.load(f)
    seen = set()
    for e in entries:
        ident = e.get("id")
        if not isinstance(ident, int) or not 0 <= ident <= 0xFFFF:
            sys.exit(f"{path}: bad string id {ident!r}")
        if ident in seen:
            sys.exit(f"{path}: string id {ident} appears twice")
        seen.add(ident)
        for lang in LANGUAGES:
            text = e.get(lang)
            if not isinstance(text, str) or not text:
                sys.exit(f"{path}: id {ident} has no '{lang}' text")
            if len(text) > MAX_TEXT_LENGTH:
                sys.exit(f"{path}: id {ident} '{lang}' is longer than {MAX_TEXT_LENGTH} characters")
            if any(ord(c) > 0xFFFF for c in text):
                sys.exit(f"{path}: id {ident} '{lang}' has a character outside UTF-16's basic plane")
        if e.get("front", "terminal") != "terminal":
            sys.exit(f"{path}: id {ident} names an unknown front {e['front']!r}")
        if set(e) - {"id", "front", *LANGUAGES}:
            sys.exit(f"{path}: id {ident} has unknown fields {sorted(set(e) - {'id', 'front', *LANGUAGES})}")
    return sorted(entries, key=lambda e: e["id"])


def wide_literal(text, quote, wide_escape):
    # Pure ASCII output, so neither script depends on a code page; quote is how the
    # language writes a double quote, wide_escape its escape for one UTF-16 unit.
    out = []
    for c in text:
        if c == '"':
            out.append(quote)
        elif c == "\\":
            out.append("\\\\")
        elif c == "\r":
            out.append("\\r")
        elif c == "\n":
            out.append("\\n")
        elif " " <= c <= "~":
            out.append(c)
        else:
            out.append(f"{wide_escape}{ord(c):04x}")
    return 'L"' + "".join(out) + '"'


def rc_literal(text):
    # windres reads \xHHHH in a wide string as one UTF-16 unit (at most four digits),
    # so a following hex letter cannot be swallowed.
    return wide_literal(text, '""', "\\x")


def cpp_literal(text):
    # \u escapes rather than \x: C++ hex escapes run on over following hex letters.
    return wide_literal(text, '\\"', "\\u")


def write(path, content):
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write(content)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--source", required=True)
    p.add_argument("--cpp", required=True, help="C++ table for the native lookup")
    p.add_argument("--rc-en", required=True, help="English string table")
    p.add_argument("--rc-de", required=True, help="German string table")
    args = p.parse_args()
    everything = load(args.source)
    entries = [e for e in everything if "front" not in e]
    terminal = [e for e in everything if "front" in e]

    banner = "Generated from res/messages.json by res/gen_catalogue.py; do not edit."
    for lang, path in (("en", args.rc_en), ("de", args.rc_de)):
        lines = [f"// {banner}", "// The including script sets the language.", "STRINGTABLE", "BEGIN"]
        lines += [f"    {e['id']} {rc_literal(e[lang])}" for e in entries]
        lines += ["END", ""]
        write(path, "\n".join(lines))

    lines = [f"// {banner}", '#include "res/catalogue.h"', ""]
    for name, table in (("catalogue", entries), ("terminalCatalogue", terminal)):
        lines.append(f"extern const CatalogueEntry {name}Entries[] = {{")
        for e in table:
            lines.append(f"    {{{e['id']},")
            lines.append(f"     {cpp_literal(e['en'])},")
            lines.append(f"     {cpp_literal(e['de'])}}},")
        lines += ["};", f"extern const std::size_t {name}EntryCount = {len(table)};", ""]
    write(args.cpp, "\n".join(lines))


if __name__ == "__main__":
    main()
