#!/usr/bin/env bash
# The main job: builds Mirelo.dll, the stand-in engine and the host program, points the
# plug-in at the stand-in (inside this build tree's own Wine prefix, never yours) and
# translates the sample Japanese lines, printing Korean. Extra arguments go to the host
# program, e.g. --stats or --options 00; a file of your own lines, given last, replaces
# the samples ("-" reads standard input).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/install-deps.sh"
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target Mirelo J2KEngine mirelo-host >/dev/null

build=$root/build/win32
prefix=$build/wineprefix
run=(cmake/wine-run.sh "$prefix")
engine_dir=$(WINEPREFIX=$prefix WINEDEBUG=-all winepath -w "$build/engine" 2>/dev/null || true)
if [ -z "$engine_dir" ]; then
    "${run[@]}" cmd /c exit >/dev/null  # makes the prefix on first use
    engine_dir=$(WINEPREFIX=$prefix WINEDEBUG=-all winepath -w "$build/engine")
fi
"${run[@]}" reg add 'HKCU\Software\Kestrow\Mirelo' /v FilePath /d "$engine_dir" /f >/dev/null

# The demo's own copy of the plug-in, with the sample dictionary beside it (names kept
# whole, a replacement before and after the engine); bin/ stays without one for the tests.
demo=$build/demo
rm -rf "$demo"
mkdir -p "$demo"
cp "$build/bin/Mirelo.dll" "$demo/"
cp -r docs/samples/MireloDict "$demo/"

args=("$@")
last=""
[ $# -eq 0 ] || last=${!#}
if [ "$last" != "-" ] && [ ! -f "$last" ]; then
    args+=(stand_in_engine/samples/lines-ja.txt)
fi
host=("${run[@]}" "$build/bin/mirelo-host.exe" --plugin "$(WINEPREFIX=$prefix WINEDEBUG=-all winepath -w "$demo/Mirelo.dll")" "${args[@]}")
# The plug-in may need to show a message box: give Wine a display when there is none.
if [ -z "${DISPLAY:-}" ]; then
    rc=0
    xvfb-run -a "${host[@]}" || rc=$?
    # Wine's desktop process belongs to that display, which is gone now: stop the prefix's
    # server so the next program starts a desktop on its own display.
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    exit $rc
else
    "${host[@]}"
fi
