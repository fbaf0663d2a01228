#!/usr/bin/env bash
# Every test: the platform-free core natively under ASan and UBSan, a short fuzzing run
# of the filter chain, and the Windows side (Mirelo.dll, the stand-in engine, the host
# program) under 32-bit Wine with a virtual display, and the Textractor extension under 32-
# and 64-bit Wine. Fails when any test fails.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh" || exit 1

failed=0
step() {
    echo "== $*"
    "$@" || failed=1
}
# Quiet while it works; a build that fails shows what it printed, compiler errors included.
build() {
    local log
    log=$(mktemp)
    if cmake --preset "$1" >"$log" 2>&1 && cmake --build --preset "$1" -j2 >>"$log" 2>&1; then
        rm -f "$log"
        return 0
    fi
    cat "$log" >&2
    rm -f "$log"
    return 1
}

if build native; then
    step ctest --preset native
else
    echo "native build failed"; failed=1
fi

# Benchmarks are not tests, but they must keep building.
build bench || { echo "bench build failed"; failed=1; }

if build fuzz; then
    step ctest --preset fuzz
else
    echo "fuzz build failed"; failed=1
fi

if build win32; then
    # A server left from an earlier run may hold a desktop on a display that is gone.
    WINEPREFIX=$root/build/win32/wineprefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$root/build/win32/wineprefix64 wineserver -k 2>/dev/null || true
    step xvfb-run -a ctest --preset win32
else
    echo "win32 build failed"; failed=1
fi
# The prefix's wineserver would otherwise linger for a while after the last test.
WINEPREFIX=$root/build/win32/wineprefix wineserver -k 2>/dev/null || true

exit $failed
