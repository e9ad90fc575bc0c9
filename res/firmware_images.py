#!/usr/bin/env python3
"""Puts the firmware images into the build tree, one <id>.bin per image.

With --source (the release directory) each image is checked against its size and
copied. Without it, placeholder images of the exact sizes are made: pseudo-random
bytes derived from the id, so every build produces the same bytes and a fill
pattern (0xFF) in a transfer stays distinguishable from image content.
"""
import argparse
import hashlib
import os
import shutil
import sys


def placeholder(ident, size):
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(f"orvanta placeholder image {ident} block {counter}".encode()).digest()
        counter += 1
    return bytes(out[:size])


def write_if_changed(path, data):
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                os.utime(path)
                return
    except FileNotFoundError:
        pass
    with open(path, "wb") as f:
        f.write(data)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--out", required=True)
    p.add_argument("--source", default="")
    p.add_argument("images", nargs="+", help="id:size")
    args = p.parse_args()
    images = [tuple(int(x) for x in item.split(":")) for item in args.images]
    os.makedirs(args.out, exist_ok=True)

    if args.source:
        problems = []
        for ident, size in images:
            path = os.path.join(args.source, f"{ident}.bin")
            if not os.path.isfile(path):
                problems.append(f"  {ident}.bin: missing")
            elif os.path.getsize(path) != size:
                problems.append(f"  {ident}.bin: {os.path.getsize(path)} bytes, "
                                f"but image {ident} must have {size} bytes")
        if problems:
            print(f"error: ORV_FIRMWARE_DIR '{args.source}' does not hold the firmware release:",
                  *problems, sep="\n", file=sys.stderr)
            return 1
        for ident, _ in images:
            out = os.path.join(args.out, f"{ident}.bin")
            shutil.copyfile(os.path.join(args.source, f"{ident}.bin"), out)
    else:
        for ident, size in images:
            write_if_changed(os.path.join(args.out, f"{ident}.bin"), placeholder(ident, size))
    return 0


if __name__ == "__main__":
    sys.exit(main())
