#!/usr/bin/env bash
# scripts/package --check-reproducible [--firmware DIR] [--build-number N]
#
# Builds the packages of the commit checked out twice, each in a fresh clone: the second
# in a folder of another name and depth, later, cloned under another umask, built in
# another time zone, locale and temporary folder. Both take their time stamps from the commit (SOURCE_DATE_EPOCH from
# the caller is not passed on). Compares the two .deb, the two zips and the four programs
# byte for byte and names what differs; on a difference the two builds are kept.
# Uncommitted changes are not built: the check is of the commit.
# Exits 0 when all are identical, 1 when one differs or a build fails.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

commit=$(git -C "$root" rev-parse HEAD 2>/dev/null) ||
    { echo "error: the check needs a git checkout: it builds the commit checked out" >&2; exit 1; }
if [ -n "$(git -C "$root" status --porcelain 2>/dev/null)" ]; then
    echo "note: changes and files not committed are not part of the check; it builds commit $commit"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/orvanta-reproducible.XXXXXX") || exit 1
keep=0
trap '[ "$keep" -eq 1 ] || rm -rf "$work"' EXIT
first="$work/first"
second="$work/second/in/another/folder"

# build_in DIR UMASK TZ LOCALE ARGS...: clone the commit into DIR under the umask given
# (scripts/package then builds under its own) and make its packages there in the time
# zone and locale given, with a temporary folder of its own.
build_in() {
    local dir=$1 mask=$2 zone=$3 locale=$4
    shift 4
    echo "== building $commit in $dir (umask $mask, TZ=$zone, LC_ALL=$locale)"
    mkdir -p "$dir.tmp" || return 1
    if ! (umask "$mask" &&
          env -u SOURCE_DATE_EPOCH LC_ALL="$locale" TZ="$zone" TMPDIR="$dir.tmp" bash -c '
            dir=$1 root=$2 commit=$3
            shift 3
            git clone -q --no-checkout "$root" "$dir" && git -C "$dir" checkout -q --detach "$commit" ||
                { echo "error: could not clone the commit into $dir"; exit 1; }
            cd "$dir" && scripts/package "$@"' build "$dir" "$root" "$commit" "$@") >"$dir.log" 2>&1; then
        tail -n 30 "$dir.log"
        echo "error: the packages did not build in $dir (log: $dir.log)" >&2
        return 1
    fi
}
build_in "$first" 022 UTC C.UTF-8 "$@" || { keep=1; echo "kept: $work"; exit 1; }
build_in "$second" 077 Pacific/Kiritimati C "$@" || { keep=1; echo "kept: $work"; exit 1; }

# One .deb and one zip each, of the same names, and the same bytes.
differ=0
first_files=$(cd "$first/build/packages" && ls)
second_files=$(cd "$second/build/packages" && ls)
for files in "$first_files" "$second_files"; do
    if [ "$(grep -c '\.deb$' <<<"$files")" -ne 1 ] || [ "$(grep -c '\.zip$' <<<"$files")" -ne 1 ]; then
        echo "NOT one .deb and one .zip: ${files//$'\n'/ }"
        differ=1
    fi
done
if [ "$first_files" != "$second_files" ]; then
    echo "DIFFERENT package names:"
    diff <(echo "$first_files") <(echo "$second_files")
    differ=1
fi
compared=()
for f in $first_files; do compared+=("build/packages/$f"); done
compared+=(build/linux/orvanta-updater build/linux/orvanta-cli
           build/windows/orvanta-updater.exe build/windows/orvanta-cli.exe)
for f in "${compared[@]}"; do
    if [ ! -f "$first/$f" ] || [ ! -f "$second/$f" ]; then
        echo "MISSING $f"
        differ=1
    elif cmp -s "$first/$f" "$second/$f"; then
        echo "identical  $(sha256sum "$first/$f" | cut -d' ' -f1)  $f"
    else
        echo "DIFFERENT  $f"
        differ=1
        case "$f" in
            *.deb)
                # Which files: their checksums, then the listing with modes and times.
                diff <(dpkg-deb -I "$first/$f" md5sums) <(dpkg-deb -I "$second/$f" md5sums)
                diff <(dpkg-deb -c "$first/$f") <(dpkg-deb -c "$second/$f") | head -n 20 ;;
            *.zip)
                diff <(unzip -Zl "$first/$f" | tail -n +2) <(unzip -Zl "$second/$f" | tail -n +2) | head -n 20
                diff <(unzip -lv "$first/$f") <(unzip -lv "$second/$f") | head -n 20 ;;
            *) cmp -l "$first/$f" "$second/$f" | head -n 5 ;;
        esac
    fi
done
if [ "$differ" -ne 0 ]; then
    keep=1
    echo "both builds kept: $first, $second"
    echo "reproducible packages: FAILED (two builds of $commit differ)"
    exit 1
fi
echo "reproducible packages: passed (two builds of $commit are identical)"
