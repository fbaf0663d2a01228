#!/usr/bin/env bash
# Builds Mirelo.dll a second time, as the win32 build's inner build does, but from the same
# sources seen under another path, into another build folder, at another time, and compares it
# with the DLL of the build under test byte for byte: a time stamp or a build path that reaches
# the binaries shows as a difference. (The programs are built with the same flags.)
# Usage: same_bytes.sh SOURCE_DIR BUILT_DLL WORK_DIR
set -euo pipefail
source_dir=$(realpath "$1")
built=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
ln -s "$source_dir" "$work/the-same-sources"
src=$work/the-same-sources
cmake -S "$src" -B "$work/another-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DMIRELO_THREAD_MODEL=win32 -DMIRELO_PLUGIN_ONLY=ON \
    -DMIRELO_PLUGIN_OUTPUT_DIR="$work/bin" -DMIRELO_TESTS=OFF -DMIRELO_BENCH=OFF >/dev/null
cmake --build "$work/another-build" --parallel 2 >/dev/null
first=$(sha256sum <"$built" | cut -d' ' -f1)
second=$(sha256sum <"$work/bin/Mirelo.dll" | cut -d' ' -f1)
echo "build under test: $first"
echo "second build:     $second"
if [ "$first" != "$second" ]; then
    # The usual cause besides a leak: the sources or the commit changed since the first build.
    echo "version of each: $(cat "$(dirname "$built")/../plugin-win32/generated/mirelo_version.txt" 2>/dev/null)" \
        "/ $(cat "$work/another-build/generated/mirelo_version.txt")"
    cmp -l "$built" "$work/bin/Mirelo.dll" | head -20
    exit 1
fi
rm -rf "$work"
