#!/usr/bin/env bash
# Screenshot of the options dialog as Wine shows it on a virtual display.
# Usage: scripts/screenshot-dialog.sh BUILD_DIR OUT.png [brackets 0|1] [spaces 0|1]
# BUILD_DIR is a win32 build with option_dialog_demo built; its Wine prefix
# (with the Hangul font replacement) is used, and made on first use.
set -euo pipefail
build=$(cd "$1" && pwd)
out=$(realpath -m "$2")
brackets=${3:-1}
spaces=${4:-0}
here=$(cd "$(dirname "$0")/.." && pwd)

export build out brackets spaces here
xvfb-run -a -s "-screen 0 800x600x24" bash -c '
    "$here/cmake/wine-run.sh" "$build/wineprefix" "$build/bin/option_dialog_demo.exe" \
        "$brackets" "$spaces" 5000 </dev/null >/dev/null 2>&1 &
    demo=$!
    for _ in $(seq 1 100); do
        id=$(xwininfo -root -tree 2>/dev/null | awk "/\"Mirelo Option\"/ {print \$1; exit}")
        [ -n "$id" ] && break
        sleep 0.2
    done
    [ -n "$id" ] || { echo "the dialog did not appear" >&2; kill "$demo"; exit 1; }
    sleep 1  # let it paint
    import -window "$id" "$out"
    wait "$demo" || true
'
echo "$out"
