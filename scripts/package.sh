#!/usr/bin/env bash
# Builds the release from this commit in a fresh build tree and writes
# dist/Mirelo-<version>.zip with dist/SHA256SUMS beside it. Every run on the same commit, from
# any clone in any folder, gives the same bytes. The tree must be clean: what is not committed
# does not go into a release.
#   scripts/package.sh            build and pack
#   scripts/package.sh --check    then run the release check on the zip (Wine, a display)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

check=0
for arg in "$@"; do
    case $arg in
        --check) check=1 ;;
        *) echo "usage: scripts/package.sh [--check]" >&2; exit 1 ;;
    esac
done

"$root/scripts/install-deps.sh"
if [ -n "$(git status --porcelain)" ]; then
    echo "package.sh: the tree has changes or files git does not track; commit or remove them:" >&2
    git status --short >&2
    exit 1
fi

build=$root/build/release
rm -rf "$build"
# Quiet while it works; a build that fails shows what it printed, compiler errors included.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake --preset release >"$log" 2>&1 && cmake --build --preset release -j2 >>"$log" 2>&1; }; then
    cat "$log" >&2
    echo "package.sh: the build failed" >&2
    exit 1
fi
version=$(cat "$build/generated/mirelo_version.txt")

# The commit's own time, so that the zip's entries say when this source was made.
epoch=$(git log -1 --format=%ct HEAD)
mkdir -p dist
zip=dist/Mirelo-$version.zip
python3 scripts/make_release_zip.py --source "$root" --build "$build" --version "$version" --epoch "$epoch" --out "$zip"
(cd dist && sha256sum "Mirelo-$version.zip" >SHA256SUMS)
cat dist/SHA256SUMS

if [ $check = 1 ]; then
    # The stand-in engine of this same build stands for the separately installed engine.
    xvfb-run -a python3 tests/win/release/release_check.py --zip "$root/$zip" \
        --engine "$build/bin/J2KEngine.dll" --work "$build/release-check" --source "$root" \
        --textractor-host "$build/bin/textractor_host.exe" "$build/bin64/textractor_host.exe"
fi
