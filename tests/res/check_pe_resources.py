#!/usr/bin/env python3
"""Reads the resource section of a built Windows program and checks every
resource byte for byte: the string tables against res/messages.json, dialog 110
in both languages, logo, icon, manifest, the version resource and the firmware
images against the files the build embedded. Also checks that nothing else is
there (a second manifest from the toolchain, a stray icon group, a third language).

usage: check_pe_resources.py PROGRAM.exe messages.json manifest FIRMWARE_DIR
"""
import json
import os
import struct
import sys

RT_BITMAP, RT_ICON, RT_DIALOG, RT_STRING, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = \
    2, 3, 5, 6, 10, 14, 16, 24
ENGLISH, GERMAN, ENGLISH_US = 0x0009, 0x0407, 0x0409

FIRMWARE_SIZES = {
    119: 98304, 120: 36032, 122: 62848, 124: 65792, 125: 65792, 126: 23552, 127: 23552, 128: 23552,
    130: 23552, 131: 121856, 132: 121856, 133: 121856, 140: 97808, 141: 97760, 142: 97760, 143: 58224,
    145: 76224, 146: 97744, 147: 76320, 148: 97744, 151: 98304, 152: 64784, 153: 77088, 154: 86448,
    155: 86480, 156: 48000, 157: 98304, 158: 98304, 159: 64752, 160: 38480, 170: 57136, 171: 56528,
    172: 98304, 173: 98304, 174: 98304, 175: 96720, 176: 96736, 177: 96720, 178: 98304, 179: 98304,
    200: 63456}

DIALOG_STYLE = 0x80C808C8
DIALOG_CAPTION = {ENGLISH: "QUORVEX firmware updater", GERMAN: "QUORVEX Firmware Updater"}
BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82
# id, class, English text, German text, style, extended style, rectangle
CONTROLS = [
    (2, BUTTON, "Close", "Beenden", 0x50030001, 0, (157, 199, 50, 14)),
    (1002, BUTTON, "Update", "Update", 0x58010000, 0, (61, 199, 50, 14)),
    (40010, STATIC, "Firmware 1:", "Firmware 1:", 0x50020000, 0, (22, 24, 60, 8)),
    (1005, STATIC, "Firmware 2:", "Firmware 2:", 0x50020000, 0, (22, 37, 60, 8)),
    (40013, STATIC, "0.00.00", "0.00.00", 0x50020000, 0x1000, (90, 24, 50, 8)),
    (40014, STATIC, "0.00.00", "0.00.00", 0x50020000, 0x1000, (90, 37, 50, 8)),
    (40004, EDIT, "", "", 0x50A00844, 0, (15, 89, 271, 101)),
    (0xFFFFFFFF, STATIC, "Hint:", "Hinweisfenster:", 0x50020000, 0, (15, 79, 49, 8)),
    (40007, BUTTON, "Installed firmware version", "Installierte Firmware Versionen", 0x50020007, 0,
     (15, 10, 135, 57)),
    (40011, STATIC, "Firmware 3:", "Firmware 3:", 0x50020000, 0, (22, 50, 60, 8)),
    (40015, STATIC, "0.00.00", "0.00.00", 0x50020000, 0x1000, (90, 50, 50, 8)),
]
ICON_SIZES = {1: (16, 1128), 2: (32, 4264), 3: (48, 9640), 4: (64, 16936), 5: (128, 67624)}

# The version resource: 3.3.0.0 as file and product version, a string table per
# language (040904b0 English US, 040704b0 German, both UTF-16).
VERSION = (3, 3, 0, 0)
VERSION_STRINGS = {
    "040904b0": {
        "CompanyName": "QUORVEX",
        "FileDescription": "ORVANTA 90 firmware updater",
        "FileVersion": "3.3.0.0",
        "LegalCopyright": "Copyright \u00a9 QUORVEX",
        "ProductName": "ORVANTA 90 FW Updater",
        "ProductVersion": "3.3",
    },
    "040704b0": {
        "CompanyName": "QUORVEX",
        "FileDescription": "ORVANTA 90 Firmware-Aktualisierung",
        "FileVersion": "3.3.0.0",
        "LegalCopyright": "Copyright \u00a9 QUORVEX",
        "ProductName": "ORVANTA 90 FW Updater",
        "ProductVersion": "3.3",
    },
}
TRANSLATIONS = [(0x0409, 1200), (0x0407, 1200)]
# VS_FIXEDFILEINFO after the signature and structure version: flags mask
# (VS_FFI_FILEFLAGSMASK), flags, VOS_NT_WINDOWS32, VFT_APP, no subtype, no date.
FIXED_INFO_REST = (0x3F, 0, 0x00040004, 1, 0, 0, 0)

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def read_resources(path):
    """{type: {name: {language: bytes}}} from the PE file's resource section."""
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
    nsections, = struct.unpack_from("<H", data, pe + 6)
    opt_size, = struct.unpack_from("<H", data, pe + 20)
    opt = pe + 24
    magic, = struct.unpack_from("<H", data, opt)
    dirs = opt + (112 if magic == 0x20B else 96)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, dirs + 2 * 8)
    sections = []
    for i in range(nsections):
        s = opt + opt_size + 40 * i
        vsize, vaddr, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        sections.append((vaddr, max(vsize, rawsize), rawptr))

    def offset(rva):
        for vaddr, size, rawptr in sections:
            if vaddr <= rva < vaddr + size:
                return rawptr + rva - vaddr
        raise ValueError(f"rva {rva:#x} outside the sections")

    base = offset(rsrc_rva)

    def name_of(entry_name):
        if entry_name & 0x80000000:
            at = base + (entry_name & 0x7FFFFFFF)
            n, = struct.unpack_from("<H", data, at)
            return data[at + 2:at + 2 + 2 * n].decode("utf-16-le")
        return entry_name

    def directory(at):
        named, ids = struct.unpack_from("<HH", data, at + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, at + 16 + 8 * i)
            yield name_of(name), target

    out = {}
    for rtype, t in directory(base):
        for name, n in directory(base + (t & 0x7FFFFFFF)):
            for lang, leaf in directory(base + (n & 0x7FFFFFFF)):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                at = offset(rva)
                out.setdefault(rtype, {}).setdefault(name, {})[lang] = data[at:at + size]
    return out


def string_blocks(entries, language):
    blocks = {}
    for e in entries:
        blocks.setdefault((e["id"] >> 4) + 1, [""] * 16)[e["id"] & 15] = e[language]
    return blocks


def check_strings(res, source):
    # The terminal program's own texts are not part of the string tables.
    entries = [e for e in json.load(open(source, encoding="utf-8")) if "front" not in e]
    tables = res.get(RT_STRING, {})
    for language, key in ((ENGLISH, "en"), (GERMAN, "de")):
        expected = string_blocks(entries, key)
        check(set(tables) == set(expected), f"string blocks {sorted(tables)} != {sorted(expected)}")
        for block, texts in expected.items():
            raw = tables.get(block, {}).get(language)
            if not check(raw is not None, f"string block {block} has no language {language:#x}"):
                continue
            at = 0
            for slot in range(16):
                n, = struct.unpack_from("<H", raw, at)
                text = raw[at + 2:at + 2 + 2 * n].decode("utf-16-le")
                at += 2 + 2 * n
                ident = (block - 1) * 16 + slot
                check(text == texts[slot], f"string {ident} ({key}) differs from the source: {text!r}")
            check(at == len(raw), f"string block {block} ({key}) has {len(raw) - at} stray bytes")
    for block, langs in tables.items():
        check(set(langs) == {ENGLISH, GERMAN}, f"string block {block} languages {sorted(langs)}")


def parse_dialog(raw):
    at = 0

    def take(fmt):
        nonlocal at
        values = struct.unpack_from("<" + fmt, raw, at)
        at += struct.calcsize("<" + fmt)
        return values

    def sz_or_ord():
        nonlocal at
        first, = struct.unpack_from("<H", raw, at)
        if first == 0xFFFF:
            at += 4
            return struct.unpack_from("<H", raw, at - 2)[0]
        end = at
        while struct.unpack_from("<H", raw, end)[0]:
            end += 2
        text = raw[at:end].decode("utf-16-le")
        at = end + 2
        return text

    ver, sig, help_id, ex_style, style, count, x, y, cx, cy = take("HHIIIHhhhh")
    dialog = dict(ver=ver, sig=sig, help_id=help_id, ex_style=ex_style, style=style, rect=(x, y, cx, cy),
                  menu=sz_or_ord(), cls=sz_or_ord(), caption=sz_or_ord())
    dialog["font"] = take("HHBB") + (sz_or_ord(),)
    dialog["controls"] = []
    for _ in range(count):
        at = (at + 3) & ~3
        help_id, ex_style, style, x, y, cx, cy, ident = take("IIIhhhhI")
        cls = sz_or_ord()
        text = sz_or_ord()
        extra, = take("H")
        at += extra
        dialog["controls"].append(dict(help_id=help_id, ex_style=ex_style, style=style, rect=(x, y, cx, cy),
                                       id=ident, cls=cls, text=text, extra=extra))
    dialog["trailing"] = len(raw) - at
    return dialog


def check_dialog(res):
    langs = res.get(RT_DIALOG, {}).get(110, {})
    check(set(res.get(RT_DIALOG, {})) == {110}, f"dialogs {sorted(res.get(RT_DIALOG, {}))}")
    check(set(langs) == {ENGLISH, GERMAN}, f"dialog 110 languages {sorted(langs)}")
    for language in (ENGLISH, GERMAN):
        if language not in langs:
            continue
        d = parse_dialog(langs[language])
        tag = f"dialog 110 ({language:#x})"
        check((d["ver"], d["sig"], d["help_id"], d["ex_style"]) == (1, 0xFFFF, 0, 0), f"{tag} header")
        check(d["style"] == DIALOG_STYLE, f"{tag} style {d['style']:#x}")
        check(d["rect"] == (0, 0, 300, 228), f"{tag} rectangle {d['rect']}")
        check(d["menu"] == "" and d["cls"] == "", f"{tag} menu/class")
        check(d["caption"] == DIALOG_CAPTION[language], f"{tag} caption {d['caption']!r}")
        check(d["font"] == (8, 0, 0, 1, "MS Shell Dlg"), f"{tag} font {d['font']}")
        check(0 <= d["trailing"] < 4, f"{tag} has {d['trailing']} stray bytes")
        if not check(len(d["controls"]) == len(CONTROLS), f"{tag} has {len(d['controls'])} controls"):
            continue
        for n, (c, want) in enumerate(zip(d["controls"], CONTROLS), 1):
            ident, cls, en, de, style, ex_style, rect = want
            got = (c["id"], c["cls"], c["text"], c["style"], c["ex_style"], c["rect"], c["help_id"], c["extra"])
            exp = (ident, cls, en if language == ENGLISH else de, style, ex_style, rect, 0, 0)
            check(got == exp, f"{tag} control {n}: {got} != {exp}")


def check_artwork(res):
    bitmaps = res.get(RT_BITMAP, {})
    check(set(bitmaps) == {121} and set(bitmaps.get(121, {})) == {GERMAN}, f"bitmaps {bitmaps.keys()}")
    raw = bitmaps.get(121, {}).get(GERMAN, b"")
    if check(len(raw) == 1398148, f"bitmap 121 is {len(raw)} bytes"):
        header = struct.unpack_from("<IiiHHIIiiII", raw, 0)
        check(header == (40, 1772, 263, 1, 24, 0, 1398108, 0, 0, 0, 0), f"bitmap header {header}")
        green = sum(1 for i in range(40, len(raw), 3) if raw[i:i + 3] == b"\x00\xff\x00")
        check(green * 5 > 466036, f"bitmap 121: only {green} key-green pixels around the artwork")
        check(raw[40:43] == b"\x00\xff\x00", "bitmap 121: corner pixel is not the key colour")

    groups = res.get(RT_GROUP_ICON, {})
    check(set(groups) == {123} and set(groups.get(123, {})) == {GERMAN}, f"icon groups {groups.keys()}")
    icons = res.get(RT_ICON, {})
    check(set(icons) == set(ICON_SIZES), f"icon images {sorted(icons)}")
    group = groups.get(123, {}).get(GERMAN, b"")
    if check(len(group) == 6 + 14 * 5, f"icon group 123 is {len(group)} bytes"):
        check(struct.unpack_from("<HHH", group, 0) == (0, 1, 5), "icon group header")
        for i in range(5):
            w, h, colours, _, planes, bits, size, ident = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            px, nbytes = ICON_SIZES.get(ident, (0, 0))
            check((w, h, colours, planes, bits, size) == (px % 256, px % 256, 0, 1, 32, nbytes),
                  f"icon group entry {i}: {(w, h, colours, planes, bits, size, ident)}")
    for ident, (px, nbytes) in ICON_SIZES.items():
        langs = icons.get(ident, {})
        check(set(langs) == {GERMAN}, f"icon {ident} languages {sorted(langs)}")
        raw = langs.get(GERMAN, b"")
        if check(len(raw) == nbytes, f"icon {ident} is {len(raw)} bytes, not {nbytes}"):
            header = struct.unpack_from("<IiiHHI", raw, 0)
            check(header == (40, px, 2 * px, 1, 32, 0), f"icon {ident} header {header}")


def check_manifest(res, manifest_path):
    manifests = res.get(RT_MANIFEST, {})
    check(set(manifests) == {1} and set(manifests.get(1, {})) == {ENGLISH_US},
          f"manifests {[(n, sorted(l)) for n, l in manifests.items()]}")
    raw = manifests.get(1, {}).get(ENGLISH_US, b"")
    check(len(raw) == 381, f"manifest is {len(raw)} bytes")
    check(raw == open(manifest_path, "rb").read(), "manifest differs from res/orvanta.manifest")


def parse_version_node(raw, at):
    """One VS_VERSIONINFO / StringFileInfo / String / Var node at <at>:
    (key, value bytes, text?, children, end). A text value's length counts UTF-16
    units, a binary one's bytes; children start on the next 4-byte boundary."""
    length, value_length, value_type = struct.unpack_from("<HHH", raw, at)
    end = at + length
    if length < 6 or end > len(raw):
        raise ValueError(f"node at {at} has length {length}")
    key_end = at + 6
    while struct.unpack_from("<H", raw, key_end)[0]:
        key_end += 2
    key = raw[at + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if value_type == 1 else value_length
    value = raw[value_at:value_at + value_size]
    children = []
    child = (value_at + value_size + 3) & ~3
    while child < end:
        node = parse_version_node(raw, child)
        children.append(node)
        child = (node[4] + 3) & ~3
    return key, value, value_type == 1, children, end


def check_version(res):
    versions = res.get(RT_VERSION, {})
    check(set(versions) == {1} and set(versions.get(1, {})) == {ENGLISH_US},
          f"version resources {[(n, sorted(l)) for n, l in versions.items()]}")
    raw = versions.get(1, {}).get(ENGLISH_US)
    if raw is None:
        return
    try:
        key, fixed, text, children, end = parse_version_node(raw, 0)
    except (ValueError, struct.error) as e:
        check(False, f"version resource does not parse: {e}")
        return
    check(key == "VS_VERSION_INFO" and not text, f"version resource root {key!r}")
    check(0 <= len(raw) - end < 4, f"version resource has {len(raw) - end} stray bytes")
    if check(len(fixed) == 52, f"VS_FIXEDFILEINFO is {len(fixed)} bytes"):
        info = struct.unpack("<13I", fixed)
        check(info[0] == 0xFEEF04BD, f"VS_FIXEDFILEINFO signature {info[0]:#x}")
        check(info[1] == 0x00010000, f"VS_FIXEDFILEINFO structure version {info[1]:#x}")
        want = ((VERSION[0] << 16) | VERSION[1], (VERSION[2] << 16) | VERSION[3])
        check(info[2:4] == want, f"file version {info[2]:#010x} {info[3]:#010x}")
        check(info[4:6] == want, f"product version {info[4]:#010x} {info[5]:#010x}")
        check(info[6:] == FIXED_INFO_REST, f"VS_FIXEDFILEINFO flags, OS, type, date {info[6:]}")

    blocks = {k: c for k, _, _, c, _ in children}
    check(sorted(blocks) == ["StringFileInfo", "VarFileInfo"], f"version blocks {sorted(blocks)}")
    tables = {k: c for k, _, _, c, _ in blocks.get("StringFileInfo", [])}
    check(set(tables) == set(VERSION_STRINGS), f"version string tables {sorted(tables)}")
    for table, want in VERSION_STRINGS.items():
        if table not in tables:
            continue
        got = []
        for name, value, is_text, _, _ in tables[table]:
            check(is_text, f"version string {table}/{name} is not text")
            got.append((name, value.decode("utf-16-le").rstrip("\0")))
        # Sorted lists rather than dicts, so a name given twice shows.
        check(sorted(got) == sorted(want.items()), f"version strings {table}: {got}")
    var = [(k, v) for k, v, _, _, _ in blocks.get("VarFileInfo", [])]
    translation = b"".join(struct.pack("<HH", *t) for t in TRANSLATIONS)
    check(var == [("Translation", translation)], f"VarFileInfo {var}")


def check_images(res, firmware_dir):
    images = res.get(RT_RCDATA, {})
    check(set(images) == set(FIRMWARE_SIZES), f"raw-data ids {sorted(images)}")
    for ident, size in FIRMWARE_SIZES.items():
        langs = images.get(ident, {})
        check(set(langs) == {GERMAN}, f"image {ident} languages {sorted(langs)}")
        raw = langs.get(GERMAN, b"")
        check(len(raw) == size, f"image {ident} is {len(raw)} bytes, not {size}")
        with open(os.path.join(firmware_dir, f"{ident}.bin"), "rb") as f:
            check(raw == f.read(), f"image {ident} differs from {ident}.bin")


def main():
    program, source, manifest, firmware_dir = sys.argv[1:5]
    res = read_resources(program)
    check(set(res) == {RT_BITMAP, RT_ICON, RT_DIALOG, RT_STRING, RT_RCDATA, RT_GROUP_ICON, RT_VERSION,
                       RT_MANIFEST},
          f"resource types {sorted(res)}")
    check_strings(res, source)
    check_dialog(res)
    check_artwork(res)
    check_manifest(res, manifest)
    check_version(res)
    check_images(res, firmware_dir)
    for f in failures:
        print("FAIL:", f)
    print(f"{program}: {'all resources in place' if not failures else f'{len(failures)} problems'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
