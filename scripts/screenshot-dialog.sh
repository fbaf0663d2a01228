#!/usr/bin/env bash
# Screenshots of the plug-in's windows as Mirelo.dll shows them under Wine, through the host
# program on a virtual display.
# Usage: scripts/screenshot-dialog.sh OUT.png [option string, default empty]
#            the options dialog, opened through OnPluginOption
#        scripts/screenshot-dialog.sh --engine-question OUT.png
#            the question the plug-in asks when no engine folder is recorded
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/win32
if [ "${1:-}" = --engine-question ]; then
    out=$(realpath -m "$2")
    title="Mirelo Plugin"
    "$here/scripts/install-deps.sh"
    cmake --preset win32 >/dev/null
    cmake --build --preset win32 --target Mirelo mirelo-host >/dev/null
    # A prefix of its own, where no engine folder was ever recorded.
    prefix=$build/screenshot-prefix
    # Wine labels the buttons in the language of the locale it is given (예/아니오).
    wine_locale=ko_KR.UTF-8
    host_args=(--plugin "$(WINEPREFIX=$build/wineprefix WINEDEBUG=-all winepath -w \
        "$build/bin/Mirelo.dll" 2>/dev/null || echo "Z:$build/bin/Mirelo.dll")")
else
    out=$(realpath -m "$1")
    title="Mirelo Option"
    # Builds what is needed and points the plug-in at the demo engine in the build's prefix.
    "$here/scripts/demo.sh" </dev/null >/dev/null
    prefix=$build/wineprefix
    host_args=(--options "${2:-}" --dialog)
    wine_locale=
fi

export build out here prefix title wine_locale
xvfb-run -a -s "-screen 0 800x600x24" bash -c '
    env ${wine_locale:+LC_ALL=$wine_locale} "$here/cmake/wine-run.sh" "$prefix" \
        "$build/bin/mirelo-host.exe" "$@" </dev/null >/dev/null 2>&1 &
    host=$!
    for _ in $(seq 1 150); do
        id=$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$title\"" "index(\$0, t) {print \$1; exit}")
        [ -n "$id" ] && break
        sleep 0.2
    done
    [ -n "$id" ] || { echo "no \"$title\" window appeared" >&2; kill "$host"; exit 1; }
    sleep 1  # let it paint
    import -window "$id" "$out"
    WINEPREFIX="$prefix" wineserver -k
    wait "$host" || true
' bash "${host_args[@]}"
echo "$out"
