# Sourced by the benchmarks that drive mirelo-server under Wine. Sets root and bin (the win32
# build's), the Wine prefix, and tmp: a folder holding the stand-in engine, recorded as the
# engine's folder while the benchmark runs and handed back to the build's own on exit, when
# tmp goes. Exports BIN and TMPDIR_FIGURES for the Python that follows; its rules go in
# $tmp/Dat/standin.txt.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=$root/build/win32/bin
export WINEPREFIX=$root/build/win32/wineprefix WINEARCH=win32 WINEDEBUG=-all
export BIN=$bin
tmp=$(mktemp -d)
export TMPDIR_FIGURES=$tmp
record_engine_folder() {
    "$root/cmake/wine-run.sh" "$WINEPREFIX" reg add 'HKCU\Software\Kestrow\Mirelo' /v FilePath \
        /d "Z:$(echo "$1" | tr / '\\')" /f >/dev/null
}
reset() {
    record_engine_folder "$root/build/win32/engine"
    rm -rf "$tmp"
}
trap reset EXIT
cp "$bin/J2KEngine.dll" "$tmp/"
mkdir -p "$tmp/Dat"
record_engine_folder "$tmp"
export PYTHONPATH=$root/bench${PYTHONPATH:+:$PYTHONPATH}
