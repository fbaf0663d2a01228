#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test Mirelo.
# Idempotent and quiet: does nothing (and prints nothing) when all is present.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev
  libbenchmark-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 xvfb xauth
  fonts-nanum imagemagick python3 libboost1.81-dev nlohmann-json3-dev curl wrk
  python3-markdown chromium chromium-driver python3-selenium)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
install_packages() {
  [ ${#missing[@]} -eq 0 ] && return 0

  echo "Installing: ${missing[*]}" >&2
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >/dev/null
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
install_packages

# SQLite for the 32-bit Windows build: Debian has no MinGW build of it, so its amalgamation is
# taken from one pinned npm package that carries it, outside the tree (the build's
# MIRELO_SQLITE_DIR points there).
sqlite_dir=${MIRELO_SQLITE_DIR:-/opt/mirelo-deps/sqlite-3.50.4}
sqlite_pack=better-sqlite3@12.4.1
sqlite_sha256=14398acbf00d1e8fe0a2753df7d4f15c13138e4b874f4e6e96791f65b4536d0d
if [ ! -f "$sqlite_dir/sqlite3.c" ] || [ ! -f "$sqlite_dir/sqlite3.h" ]; then
  # npm normally comes with the machine's own Node.js, which Debian's npm package would fight.
  if ! command -v npm >/dev/null; then
    missing=(nodejs npm)
    install_packages
  fi
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && npm pack --silent "$sqlite_pack" >/dev/null 2>&1) || {
    echo "install-deps: npm pack $sqlite_pack failed" >&2; exit 1; }
  tarball=$(ls "$work"/*.tgz)
  if ! echo "$sqlite_sha256  $tarball" | sha256sum -c --quiet - >/dev/null 2>&1; then
    echo "install-deps: $sqlite_pack does not have the pinned SHA-256; not used" >&2
    exit 1
  fi
  tar -xzf "$tarball" -C "$work" package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h
  $SUDO mkdir -p "$sqlite_dir"
  $SUDO cp "$work/package/deps/sqlite3/sqlite3.c" "$work/package/deps/sqlite3/sqlite3.h" "$sqlite_dir/"
fi

# The chat clients' own library, for the tests to drive the chat route with a client no one
# here wrote: one pinned npm package with no dependencies of its own, outside the tree.
openai_dir=${MIRELO_OPENAI_DIR:-/opt/mirelo-deps/node-openai-5.23.2}
openai_pack=openai@5.23.2
openai_sha512=MQBzmTulj+MM5O8SKEk/gL8a7s5mktS9zUtAkU257WjvobGc9nKcBuVwjyEEcb9SI8a8Y2G/mzn3vm9n1Jlleg==
if [ ! -f "$openai_dir/node_modules/openai/package.json" ] && command -v npm >/dev/null; then
  work_openai=$(mktemp -d)
  trap 'rm -rf "${work:-}" "$work_openai"' EXIT
  (cd "$work_openai" && npm pack --silent "$openai_pack" >/dev/null 2>&1) || {
    echo "install-deps: npm pack $openai_pack failed" >&2; exit 1; }
  tarball=$(ls "$work_openai"/*.tgz)
  if [ "$(openssl dgst -sha512 -binary "$tarball" | base64 -w0)" != "$openai_sha512" ]; then
    echo "install-deps: $openai_pack does not have the pinned SHA-512; not used" >&2
    exit 1
  fi
  $SUDO mkdir -p "$openai_dir/node_modules/openai"
  $SUDO tar -xzf "$tarball" -C "$openai_dir/node_modules/openai" --strip-components=1
fi
