#!/usr/bin/env python3
"""Checks of the Debian package that `cpack -G DEB` makes from a build tree.

    check_deb.py make     --build-dir B --cpack CPACK --out DIR   cpack into DIR (emptied first)
    check_deb.py contents --out DIR --source S --cache C --project-version V
    check_deb.py control  --out DIR --cache C --project-version V
    check_deb.py scripts  --out DIR
    check_deb.py lintian  --out DIR

Each check prints what it found wrong and exits 1 (lintian: on an error or a warning);
the lintian check exits 77 (skipped) when lintian is not installed.
"""
import argparse
import gzip
import io
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile

RELEASE_PACKAGE = "orvanta-updater"
DEVELOPMENT_PACKAGE = "orvanta-updater-development"


def fail(problems):
    for problem in problems:
        print(f"FAIL: {problem}")
    sys.exit(1 if problems else 0)


def cache_value(cache_path, name):
    """The value of one entry of CMakeCache.txt, '' when it is not there."""
    pattern = re.compile(rf"^{re.escape(name)}(?::[A-Z]+)?=(.*)$")
    for line in pathlib.Path(cache_path).read_text().splitlines():
        match = pattern.match(line)
        if match:
            return match.group(1)
    return ""


def expected_identity(args):
    """Package name, version and file name this build must give, from its cache."""
    release = cache_value(args.cache, "ORV_FIRMWARE_DIR") != ""
    number = cache_value(args.cache, "ORV_BUILD_NUMBER")
    name = RELEASE_PACKAGE if release else DEVELOPMENT_PACKAGE
    version = f"{args.project_version}.{number}"
    return release, name, version, f"{name}_{version}_{architecture()}.deb"


def architecture():
    return subprocess.run(["dpkg", "--print-architecture"], stdout=subprocess.PIPE,
                          check=True, text=True).stdout.strip()


def the_deb(out_dir):
    debs = sorted(pathlib.Path(out_dir).glob("*.deb"))
    if len(debs) != 1:
        fail([f"expected one .deb in {out_dir}, found {[d.name for d in debs]}"
              " (did the package test that makes it pass?)"])
    return debs[0]


# ---- make
def make(args):
    out = pathlib.Path(args.out)
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    result = subprocess.run(
        [args.cpack, "-G", "DEB", "--config", str(pathlib.Path(args.build_dir) / "CPackConfig.cmake"),
         "-B", str(out)],
        cwd=args.build_dir, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    print(result.stdout)
    if result.returncode != 0:
        fail([f"cpack exited with {result.returncode}"])
    print(f"made {the_deb(out).name}")


# ---- contents
def elf_section_names(data):
    """Names of an ELF64 little-endian file's sections."""
    if data[:4] != b"\x7fELF" or data[4] != 2 or data[5] != 1:
        raise ValueError("not a 64-bit little-endian ELF file")
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum, shstrndx = struct.unpack_from("<HHH", data, 0x3A)
    def header(i):
        # sh_name, then sh_offset and sh_size
        name, = struct.unpack_from("<I", data, shoff + i * shentsize)
        offset, size = struct.unpack_from("<QQ", data, shoff + i * shentsize + 0x18)
        return name, offset, size
    _, str_offset, str_size = header(shstrndx)
    strings = data[str_offset:str_offset + str_size]
    names = []
    for i in range(shnum):
        name = header(i)[0]
        names.append(strings[name:strings.index(b"\0", name)].decode())
    return names


def check_program(data, _source):
    try:
        sections = elf_section_names(data)
    except ValueError as error:
        return [str(error)]
    # Stripped of symbols, debugging data and the compiler's notes, as lintian expects.
    return [f"has section {s}" for s in sections
            if s in (".symtab", ".comment") or s.startswith(".debug")]


def same_as(relative):
    def check(data, source):
        expected = (source / relative).read_bytes()
        return [] if data == expected else [f"differs from {relative}"]
    return check


def gzip_of(relative):
    def check(data, source):
        problems = []
        if data[:2] != b"\x1f\x8b":
            return ["not gzip-compressed"]
        # gzip -9n: no name or time stamp in the header, highest compression
        flags, mtime, extra = data[3], struct.unpack_from("<I", data, 4)[0], data[8]
        if flags & 0x08 or mtime != 0:
            problems.append("gzip header keeps a name or a time stamp (want gzip -n)")
        if extra != 2:
            problems.append("not compressed at the highest level (want gzip -9)")
        if gzip.decompress(data) != (source / relative).read_bytes():
            problems.append(f"does not unpack to {relative}")
        return problems
    return check


# The sizes of the icon theme's icons the package carries.
ICON_SIZES = (16, 32, 48, 64, 128)


def png_of_size(size):
    def check(data, _source):
        if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
            return ["not a PNG image"]
        width, height = struct.unpack_from(">II", data, 16)
        return [] if (width, height) == (size, size) else [f"{width}x{height}, want {size}x{size}"]
    return check


def changelog_of(name, version):
    def check(data, _source):
        if data[:2] != b"\x1f\x8b":
            return ["not gzip-compressed"]
        first = gzip.decompress(data).decode().splitlines()[0]
        want = f"{name} ({version}) "
        return [] if first.startswith(want) else [f"first line {first!r}, want {want!r}..."]
    return check


def contents(args):
    _, name, version, _ = expected_identity(args)
    source = pathlib.Path(args.source)
    doc = f"usr/share/doc/{name}"
    # path: mode, check of the file's bytes
    expected = {
        "usr/bin/orvanta-cli": (0o755, check_program),
        "usr/bin/orvanta-updater": (0o755, check_program),
        "usr/share/applications/orvanta-updater.desktop":
            (0o644, same_as("packaging/linux/orvanta-updater.desktop")),
        "usr/share/metainfo/com.quorvex.orvanta_updater.metainfo.xml":
            (0o644, same_as("packaging/linux/orvanta-updater.metainfo.xml")),
        "usr/share/man/man1/orvanta-updater.1.gz": (0o644, gzip_of("packaging/linux/orvanta-updater.1")),
        "usr/lib/udev/rules.d/70-orvanta-updater.rules":
            (0o644, same_as("packaging/linux/70-orvanta-updater.rules")),
        "usr/share/man/man1/orvanta-cli.1.gz": (0o644, gzip_of("packaging/linux/orvanta-cli.1")),
        f"{doc}/README.md": (0o644, same_as("README.md")),
        f"{doc}/copyright": (0o644, same_as("packaging/linux/copyright")),
        f"{doc}/changelog.gz": (0o644, changelog_of(name, version)),
    }
    for size in ICON_SIZES:
        expected[f"usr/share/icons/hicolor/{size}x{size}/apps/orvanta-updater.png"] = (0o644, png_of_size(size))
    directories = {str(p) for path in expected for p in pathlib.PurePosixPath(path).parents
                   if str(p) != "."}

    deb = the_deb(args.out)
    tar_bytes = subprocess.run(["dpkg-deb", "--fsys-tarfile", str(deb)],
                               stdout=subprocess.PIPE, check=True).stdout
    problems = []
    seen = set()
    with tarfile.open(fileobj=io.BytesIO(tar_bytes)) as tar:
        for member in tar.getmembers():
            path = member.name.removeprefix("./").rstrip("/")
            if path == "":
                continue
            seen.add(path)
            mode = member.mode & 0o7777
            if (member.uid, member.gid, member.uname, member.gname) != (0, 0, "root", "root"):
                problems.append(f"{path}: owner {member.uname}:{member.gname} "
                                f"({member.uid}:{member.gid}), want root:root")
            if member.isdir():
                if path not in directories:
                    problems.append(f"{path}/: a directory the package should not have")
                elif mode != 0o755:
                    problems.append(f"{path}/: mode {mode:o}, want 755")
            elif member.isfile():
                if path not in expected:
                    problems.append(f"{path}: a file the package should not have")
                    continue
                want_mode, check = expected[path]
                if mode != want_mode:
                    problems.append(f"{path}: mode {mode:o}, want {want_mode:o}")
                data = tar.extractfile(member).read()
                problems += [f"{path}: {p}" for p in check(data, source)]
            else:
                problems.append(f"{path}: neither a file nor a directory")
    for path in sorted(set(expected) | directories):
        if path not in seen:
            problems.append(f"{path}: missing")

    # The control files: name: mode, check of the file's bytes (None: dpkg's own files,
    # whose fields and sums the other checks read)
    expected_control = {
        "control": (0o644, None),
        "md5sums": (0o644, None),
        "postinst": (0o755, same_as("packaging/linux/postinst")),
        "postrm": (0o755, same_as("packaging/linux/postrm")),
    }
    seen_control = set()
    for member, data in control_files(deb):
        seen_control.add(member.name)
        where = f"control file {member.name}"
        if (member.uid, member.gid) != (0, 0):
            problems.append(f"{where}: owner {member.uid}:{member.gid}, want root:root")
        if member.name not in expected_control:
            problems.append(f"{where}: a control file the package should not have")
            continue
        want_mode, check = expected_control[member.name]
        mode = member.mode & 0o7777
        if mode != want_mode:
            problems.append(f"{where}: mode {mode:o}, want {want_mode:o}")
        if check is not None:
            problems += [f"{where}: {p}" for p in check(data, source)]
    for name in sorted(set(expected_control) - seen_control):
        problems.append(f"control file {name}: missing")

    # The pages must render without a complaint from groff, as lintian renders them.
    for name in ("orvanta-cli.1", "orvanta-updater.1"):
        page = subprocess.run(
            ["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", str(source / "packaging/linux" / name)],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
            env={"LC_ALL": "C.UTF-8", "MANWIDTH": "80", "PATH": "/usr/bin:/bin"})
        if page.returncode != 0 or page.stderr.strip():
            problems.append(f"{name} does not render cleanly: {page.stderr.strip()}")
    fail(problems)


# ---- the desktop's view of the window
def desktop(args):
    """The desktop entry and the AppStream metadata as the desktop's tools judge them."""
    source = pathlib.Path(args.source)
    problems = []
    for command in (["desktop-file-validate", str(source / "packaging/linux/orvanta-updater.desktop")],
                    ["appstreamcli", "validate", "--no-net", "--pedantic",
                     str(source / "packaging/linux/orvanta-updater.metainfo.xml")]):
        if shutil.which(command[0]) is None:
            problems.append(f"{command[0]} is not installed (scripts/setup installs it)")
            continue
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        print(result.stdout)
        if result.returncode != 0 or (command[0] == "desktop-file-validate" and result.stdout.strip()):
            problems.append(f"{command[0]}: {result.stdout.strip() or f'exit {result.returncode}'}")
    fail(problems)


def control_files(deb):
    """(tar member, bytes) of each file of the package's control part."""
    tar_bytes = subprocess.run(["dpkg-deb", "--ctrl-tarfile", str(deb)],
                               stdout=subprocess.PIPE, check=True).stdout
    with tarfile.open(fileobj=io.BytesIO(tar_bytes)) as tar:
        for member in tar.getmembers():
            member.name = member.name.removeprefix("./")
            if member.isfile():
                yield member, tar.extractfile(member).read()


# ---- control
def control_fields(deb):
    text = subprocess.run(["dpkg-deb", "-f", str(deb)], stdout=subprocess.PIPE,
                          check=True, text=True).stdout
    fields = {}
    key = None
    for line in text.splitlines():
        if line[:1] in (" ", "\t") and key:
            fields[key] += "\n" + line
        else:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return fields


def relations(value):
    """{package: version constraint or ''} of a Depends-like field."""
    found = {}
    for item in filter(None, (i.strip() for i in value.split(","))):
        match = re.fullmatch(r"([a-z0-9][a-z0-9+.-]+)(?:\s*\((.*)\))?", item)
        if match:
            found[match.group(1)] = match.group(2) or ""
        else:
            found[item] = "?"
    return found


def control(args):
    release, name, version, file_name = expected_identity(args)
    deb = the_deb(args.out)
    fields = control_fields(deb)
    problems = []
    if deb.name != file_name:
        problems.append(f"file name {deb.name}, want {file_name}")

    other = DEVELOPMENT_PACKAGE if release else RELEASE_PACKAGE
    # field: the value it must have, or a test of the value and what it should be
    wanted = {
        "Package": name,
        "Version": version,
        "Architecture": architecture(),
        "Section": "utils",
        "Priority": "optional",
        "Maintainer": (lambda v: re.fullmatch(r"[^<>]+ <[^@<>\s]+@[^@<>\s]+\.[^@<>\s]+>", v),
                       "a name and an address"),
        "Installed-Size": (lambda v: v.isdigit() and int(v) > 0, "a number of KiB"),
        "Conflicts": other,
        "Replaces": other,
    }
    for field, want in wanted.items():
        value = fields.get(field)
        if value is None:
            problems.append(f"{field}: missing")
        elif isinstance(want, str):
            if value != want:
                problems.append(f"{field}: {value!r}, want {want!r}")
        elif not want[0](value):
            problems.append(f"{field}: {value!r}, want {want[1]}")

    # The libraries the program links, as dpkg-shlibdeps names them, each with the
    # least version the program's symbols need.
    depends = relations(fields.get("Depends", ""))
    for library in ("libc6", "libstdc++6", "libudev1", "libqt6widgets6"):
        constraint = depends.get(library)
        if constraint is None:
            problems.append(f"Depends: no {library} in {fields.get('Depends', '')!r}"
                            " (is dpkg-shlibdeps installed?)")
        elif not constraint.startswith(">="):
            problems.append(f"Depends: {library} without a least version ({constraint!r})")

    # What the window needs that no symbol tells: Qt's platform plugins, to draw at all;
    # and, recommended, Qt's translations for the German buttons of its boxes.
    if "qt6-qpa-plugins" not in depends:
        problems.append(f"Depends: no qt6-qpa-plugins in {fields.get('Depends', '')!r}")
    if "qt6-translations-l10n" not in relations(fields.get("Recommends", "")):
        problems.append(f"Recommends: no qt6-translations-l10n in {fields.get('Recommends', '')!r}")

    description = fields.get("Description", "")
    summary, _, long_text = description.partition("\n")
    marked = "development" in summary.lower()
    if not release and not (marked and "DEVELOPMENT BUILD" in long_text):
        problems.append("Description: a development build must say so in its summary and text")
    if release and (marked or "DEVELOPMENT" in long_text):
        problems.append("Description: a release build calls itself a development build")
    if not long_text.strip():
        problems.append("Description: no long description")
    fail(problems)


# ---- scripts
RULES_RELOADED = ["control --reload-rules", "trigger --subsystem-match=hidraw --action=change"]

# The maintainer scripts as dpkg runs them: script, its argument, the udevadm on the
# PATH (none, one that fails, as in a container without udev, or one that works), and
# the udevadm calls wanted. Every run must end with 0: udev never stops dpkg.
SCRIPT_CASES = [
    ("postinst", "configure", "works", RULES_RELOADED),
    ("postinst", "configure", "fails", RULES_RELOADED),
    ("postinst", "configure", "none", []),
    ("postinst", "abort-upgrade", "works", []),
    ("postinst", "abort-remove", "works", []),
    ("postrm", "remove", "works", RULES_RELOADED),
    ("postrm", "remove", "fails", RULES_RELOADED),
    ("postrm", "remove", "none", []),
    ("postrm", "purge", "works", RULES_RELOADED),
    ("postrm", "purge", "fails", RULES_RELOADED),
    ("postrm", "upgrade", "works", []),
    ("postrm", "failed-upgrade", "works", []),
    ("postrm", "abort-install", "works", []),
]

# Notes its arguments, one call a line, and ends with the status it is given.
FAKE_UDEVADM = """#!/bin/sh
echo "$*" >> "$UDEVADM_CALLS"
[ "$UDEVADM_STATUS" = 0 ] || echo "udevadm: no udev here" >&2
exit "$UDEVADM_STATUS"
"""


def scripts(args):
    deb = the_deb(args.out)
    problems = []
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        for member, data in control_files(deb):
            if member.name in ("postinst", "postrm"):
                (work / member.name).write_bytes(data)
                (work / member.name).chmod(member.mode & 0o7777)
        for script, argument, udevadm, wanted in SCRIPT_CASES:
            where = f"{script} {argument} with udevadm {udevadm}"
            if not (work / script).exists():
                problems.append(f"{where}: the package has no {script}")
                continue
            # Nothing else on the PATH: the scripts need nothing but the shell and udevadm.
            path = work / f"path-{udevadm}"
            path.mkdir(exist_ok=True)
            if udevadm != "none":
                (path / "udevadm").write_text(FAKE_UDEVADM)
                (path / "udevadm").chmod(0o755)
            calls = work / "calls"
            calls.write_text("")
            result = subprocess.run(
                [str(work / script), argument], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                text=True, env={"PATH": str(path), "UDEVADM_CALLS": str(calls),
                                "UDEVADM_STATUS": "1" if udevadm == "fails" else "0"})
            if result.returncode != 0:
                problems.append(f"{where}: exited with {result.returncode}: {result.stdout.strip()}")
            elif udevadm != "fails" and result.stdout.strip():
                # Only a failing udevadm has something to tell; a missing one is no fault.
                problems.append(f"{where}: printed {result.stdout.strip()!r}")
            made = calls.read_text().splitlines()
            if made != wanted:
                problems.append(f"{where}: udevadm called as {made}, want {wanted}")
    fail(problems)


# ---- lintian
def lintian(args):
    if shutil.which("lintian") is None:
        print("lintian is not installed (scripts/setup installs it)")
        sys.exit(77)
    deb = the_deb(args.out)
    result = subprocess.run(["lintian", "--fail-on", "error,warning", "--info", str(deb)],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    print(result.stdout)
    errors = [line for line in result.stdout.splitlines() if line.startswith(("E:", "W:"))]
    if result.returncode != 0 or errors:
        fail(errors or [f"lintian exited with {result.returncode}"])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("step", choices=["make", "contents", "control", "scripts", "lintian", "desktop"])
    parser.add_argument("--out", required=True)
    parser.add_argument("--build-dir")
    parser.add_argument("--cpack", default="cpack")
    parser.add_argument("--source")
    parser.add_argument("--cache")
    parser.add_argument("--project-version")
    args = parser.parse_args()
    {"make": make, "contents": contents, "control": control, "scripts": scripts,
     "lintian": lintian, "desktop": desktop}[args.step](args)


if __name__ == "__main__":
    main()
