#!/usr/bin/env bash
# Screenshot of the options dialog as Mirelo.dll shows it under Wine, opened through
# OnPluginOption by the host program on a virtual display.
# Usage: scripts/screenshot-dialog.sh OUT.png [option string, default empty]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "$1")
options=${2:-}
build=$here/build/win32

# Builds what is needed and points the plug-in at the demo engine in the build's prefix.
"$here/scripts/demo.sh" </dev/null >/dev/null

export build out options here
xvfb-run -a -s "-screen 0 800x600x24" bash -c '
    "$here/cmake/wine-run.sh" "$build/wineprefix" "$build/bin/mirelo-host.exe" \
        --options "$options" --dialog </dev/null >/dev/null 2>&1 &
    host=$!
    for _ in $(seq 1 100); do
        id=$(xwininfo -root -tree 2>/dev/null | awk "/\"Mirelo Option\"/ {print \$1; exit}")
        [ -n "$id" ] && break
        sleep 0.2
    done
    [ -n "$id" ] || { echo "the dialog did not appear" >&2; kill "$host"; exit 1; }
    sleep 1  # let it paint
    import -window "$id" "$out"
    WINEPREFIX="$build/wineprefix" wineserver -k
    wait "$host" || true
'
echo "$out"
