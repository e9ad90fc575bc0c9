#!/usr/bin/env python3
"""Puts the firmware images into the build tree, one <id>.bin per image.

With --source (the release directory) each image is checked against its size and
its line in the directory's SHA256SUMS, then copied. This repeats the configure-time
check (orv_check_firmware_dir in res/firmware_images.cmake) for files changed after
configuring; the two report the same problems in the same words. Without --source,
placeholder images of the exact sizes are made: pseudo-random bytes derived from
the id, so every build produces the same bytes and a fill pattern (0xFF) in a
transfer stays distinguishable from image content.
"""
import argparse
import hashlib
import os
import re
import sys

# As sha256sum writes it: two spaces, or " *" for a file read in binary mode.
SUM_LINE = re.compile(r"([0-9a-fA-F]{64}) [ *](.+)")
IMAGE_NAME = re.compile(r"([0-9]+)\.bin")


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


def read_sums(path):
    """{image id: lower-case hex digest} from SHA256SUMS, and the problems found.
    Lines for other files are allowed and skipped."""
    sums, problems = {}, []
    with open(path, encoding="utf-8", errors="replace", newline="") as f:
        lines = f.read().split("\n")
    for number, line in enumerate(lines, 1):
        line = line.removesuffix("\r")
        if not line.strip():
            continue
        m = SUM_LINE.fullmatch(line)
        if not m:
            problems.append(f"  SHA256SUMS line {number}: not a checksum line;"
                            " each line must be '<64 hex digits>  <file name>'")
            continue
        image = IMAGE_NAME.fullmatch(m.group(2))
        if not image:
            continue
        if image.group(1) in sums:
            problems.append(f"  SHA256SUMS line {number}: {m.group(2)} is listed a second time")
        else:
            sums[image.group(1)] = m.group(1).lower()
    return sums, problems


def read_release(source, images):
    """The images' bytes by id, and the problems that make the directory no release."""
    sums_path = os.path.join(source, "SHA256SUMS")
    if os.path.isfile(sums_path):
        sums, problems = read_sums(sums_path)
    else:
        sums, problems = None, ["  SHA256SUMS: missing; make it in the release folder with:"
                                " sha256sum *.bin > SHA256SUMS"]
    found = {}
    for ident, size in images:
        path = os.path.join(source, f"{ident}.bin")
        if not os.path.isfile(path):
            problems.append(f"  {ident}.bin: missing")
            continue
        with open(path, "rb") as f:
            data = f.read()
        found[ident] = data
        if len(data) != size:
            problems.append(f"  {ident}.bin: {len(data)} bytes, but image {ident} must have {size} bytes")
        if sums is None:
            continue
        if str(ident) not in sums:
            problems.append(f"  {ident}.bin: not listed in SHA256SUMS")
        elif len(data) == size and hashlib.sha256(data).hexdigest() != sums[str(ident)]:
            problems.append(f"  {ident}.bin: SHA-256 differs from SHA256SUMS")
    return found, problems


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--out", required=True)
    p.add_argument("--source", default="")
    p.add_argument("images", nargs="+", help="id:size")
    args = p.parse_args()
    images = [tuple(int(x) for x in item.split(":")) for item in args.images]
    os.makedirs(args.out, exist_ok=True)

    if args.source:
        if not os.path.isdir(args.source):
            print(f"error: ORV_FIRMWARE_DIR: '{args.source}' is not a directory", file=sys.stderr)
            return 1
        images_data, problems = read_release(args.source, images)
        if problems:
            print(f"error: ORV_FIRMWARE_DIR '{args.source}' does not hold the firmware release:",
                  *problems, sep="\n", file=sys.stderr)
            return 1
        for ident, data in images_data.items():
            write_if_changed(os.path.join(args.out, f"{ident}.bin"), data)
    else:
        for ident, size in images:
            write_if_changed(os.path.join(args.out, f"{ident}.bin"), placeholder(ident, size))
    return 0


if __name__ == "__main__":
    sys.exit(main())
