#!/usr/bin/env bash
# Runs one Windows program under 32-bit Wine in this build tree's own prefix, or with
# MIRELO_WINEARCH=win64 in a 64-bit prefix (where both 32- and 64-bit programs run).
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is made once, under a lock, on first use (test discovery runs before
# any ctest fixture could). The wineserver is started detached with every stream
# and the lock closed, so Wine's daemons never hold ctest's pipes open.
set -u
prefix=$(realpath -m "$1")
shift
arch=${MIRELO_WINEARCH:-win32}
export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.mirelo-ready" ]; then
    rm -rf "$prefix"
    (wineserver -p30 </dev/null >/dev/null 2>&1 9>&- &)
    if [ "$arch" = win64 ]; then
        # Debian keeps the 64-bit loader off the PATH; `wine` picks the 32-bit one.
        WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 9>&-
    else
        wineboot -i </dev/null >/dev/null 2>&1 9>&-
    fi
    # No window manager under Xvfb: unmanaged windows close without Wine's 2 s wait.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 9>&-
    # Wine's own font links point at fonts that are not installed; Hangul needs this.
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Microsoft Sans Serif' /d NanumGothic /f \
        </dev/null >/dev/null 2>&1 9>&-
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS Shell Dlg' /d NanumGothic /f \
        </dev/null >/dev/null 2>&1 9>&-
    wineserver -w 9>&-
    touch "$prefix/.mirelo-ready"
fi
if ! wineserver -p30 </dev/null >/dev/null 2>&1 9>&-; then :; fi
flock -u 9
exec 9>&-
# Wine starts helper processes on demand (the desktop process when a window first
# appears); they outlive the program and would hold ctest's pipes open. Let them
# inherit files instead, and pass their contents on once the program has ended.
out=$(mktemp)
err=$(mktemp)
wine "$@" >"$out" 2>"$err"
rc=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $rc
