#!/usr/bin/env bash
# Makes the README's screenshots of the real window (the simulated build under Wine) with
# the demo's driver: docs/screenshot-en.png and docs/screenshot-de.png (a unit ready to
# update), docs/screenshot-transfer-en.png (the progress window over the main window) and
# docs/screenshot-no-unit-en.png (no unit: the connection hint). Takes about two minutes.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$root/build/screenshots
mkdir -p "$work" "$root/docs"

# shoot LANG LOCALE SCENARIO: one demo run on a virtual display, its screenshots in work/.
shoot() {
    local dir=$work/$1-$3
    rm -rf "$dir"
    echo "== $1, scenario $3"
    # The demo drives the window on a virtual display, whether or not one is shown.
    LC_ALL=$2 ORVANTA_SIM=$3 ORV_DEMO_DIR=$dir "$root/scripts/demo" --auto >"$dir.log" 2>&1 ||
        { tail -n 20 "$dir.log"; echo "demo run failed" >&2; exit 1; }
}

shoot en en_US.UTF-8 ready
shoot de de_DE.UTF-8 ready
shoot en en_US.UTF-8 none
cp "$work/en-ready/start.png" "$root/docs/screenshot-en.png"
cp "$work/de-ready/start.png" "$root/docs/screenshot-de.png"
cp "$work/en-ready/transfer.png" "$root/docs/screenshot-transfer-en.png"
cp "$work/en-none/start.png" "$root/docs/screenshot-no-unit-en.png"
ls -l "$root"/docs/screenshot-*.png
