#!/usr/bin/env bash
# Builds what ships a second time, as package.sh does (the release preset's settings), from
# the same sources seen under another path, into another build folder, at another time, and
# compares every DLL and EXE it made with the build under test's, then the zips made from
# each: a time stamp or a build path that reaches a binary, or a file's time or order that
# reaches the zip, shows as a difference.
# Usage: same_bytes.sh SOURCE_DIR BUILD_DIR_UNDER_TEST WORK_DIR
set -euo pipefail
source_dir=$(realpath "$1")
first=$(realpath "$2")
work=$(realpath -m "$3")
rm -rf "$work"
mkdir -p "$work"
ln -s "$source_dir" "$work/the-same-sources"
src=$work/the-same-sources
second=$work/another-build
cmake -S "$src" -B "$second" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DMIRELO_TESTS=OFF -DMIRELO_BENCH=OFF >/dev/null
cmake --build "$second" --parallel 2 >/dev/null

version_a=$(cat "$first/generated/mirelo_version.txt")
version_b=$(cat "$second/generated/mirelo_version.txt")
if [ "$version_a" != "$version_b" ]; then
    echo "the sources changed since the build under test ($version_a, now $version_b): build again"
    exit 1
fi
failed=0
compared=0
while IFS= read -r -d '' file; do
    name=${file#"$second/"}
    if [ ! -f "$first/$name" ]; then
        echo "$name: not in the build under test (build every target of the win32 preset)"
        failed=1
        continue
    fi
    a=$(sha256sum <"$first/$name" | cut -d' ' -f1)
    b=$(sha256sum <"$file" | cut -d' ' -f1)
    echo "$name: $a $b"
    compared=$((compared + 1))
    if [ "$a" != "$b" ]; then
        failed=1
        cmp -l "$first/$name" "$file" | head -5 || true
    fi
done < <(find "$second/bin" "$second/bin64" \( -name '*.dll' -o -name '*.exe' \) -print0 \
    2>/dev/null | sort -z)
if [ $compared -lt 3 ]; then
    echo "only $compared binaries built"
    exit 1
fi
for build in "$first" "$second"; do
    python3 "$source_dir/scripts/make_release_zip.py" --source "$src" --build "$build" \
        --version "$version_a" --epoch 1700000000 --out "$build-release.zip" 2>/dev/null
done
a=$(sha256sum <"$first-release.zip" | cut -d' ' -f1)
b=$(sha256sum <"$second-release.zip" | cut -d' ' -f1)
echo "zip: $a $b"
[ "$a" = "$b" ] || failed=1
rm -f "$first-release.zip"
[ $failed = 0 ] && rm -rf "$work"
exit $failed
