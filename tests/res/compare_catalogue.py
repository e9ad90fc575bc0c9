#!/usr/bin/env python3
"""Compares the dump of the compiled catalogue (catalogue_dump) with
res/messages.json: same ids, same texts, character for character.

usage: compare_catalogue.py DUMP messages.json
"""
import json
import sys

dump_path, source_path = sys.argv[1:3]
fields = open(dump_path, "rb").read().split(b"\0")
if fields[-1] != b"" or (len(fields) - 1) % 3:
    sys.exit(f"{dump_path}: malformed dump")
compiled = {int(fields[i]): (fields[i + 1].decode("utf-8"), fields[i + 2].decode("utf-8"))
            for i in range(0, len(fields) - 1, 3)}
source = {e["id"]: (e["en"], e["de"]) for e in json.load(open(source_path, encoding="utf-8"))}

problems = [f"id {i}: only in the source" for i in sorted(set(source) - set(compiled))]
problems += [f"id {i}: only in the compiled catalogue" for i in sorted(set(compiled) - set(source))]
for ident in sorted(set(source) & set(compiled)):
    for lang, want, got in zip(("en", "de"), source[ident], compiled[ident]):
        if want != got:
            problems.append(f"id {ident} ({lang}): compiled {got!r} != source {want!r}")
for p in problems:
    print("FAIL:", p)
print(f"{len(compiled)} entries compared, {len(problems)} differences")
sys.exit(1 if problems else 0)
