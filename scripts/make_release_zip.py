#!/usr/bin/env python3
"""Writes the release zip from a win32 build: the same input files give the same bytes.

Usage: make_release_zip.py --source ROOT --build BUILD --version V --out ZIP [--epoch SECONDS]

Everything goes under Mirelo-V/. Text files become what Notepad reads well (UTF-8 with a
byte order mark, CRLF). Entries are sorted, every entry has the time --epoch (else
SOURCE_DATE_EPOCH, else 1980-01-01) and fixed permissions, and files are deflated at level 9.
"""
import argparse
import os
import sys
import time
import zipfile
from pathlib import Path

BINARY, TEXT = "binary", "text"


def release_files(source, build):
    """What ships from a win32 build tree: (file on disk, path under Mirelo-V/, kind, required).

    This is the one list of the zip's contents; package.sh and the release checks all use it.
    Nothing that exists only for tests goes in (the stand-in engine, the test programs).
    """
    bin_x86 = build / "bin"
    bin_x64 = build / "bin64"  # the inner x86_64 build's output
    files = [
        (bin_x86 / "Mirelo.dll", "x86/Mirelo.dll", BINARY, True),
        (bin_x86 / "mirelo-host.exe", "x86/mirelo-host.exe", BINARY, True),
        (bin_x86 / "mirelo-server.exe", "x86/mirelo-server.exe", BINARY, True),
        # The 64-bit extension starts the server from its own folder, and the server loads the
        # plug-in beside it; both are 32-bit and run from a 64-bit host's folder all the same.
        (bin_x86 / "mirelo-server.exe", "x64/mirelo-server.exe", BINARY, True),
        (bin_x86 / "Mirelo.dll", "x64/Mirelo.dll", BINARY, True),
        (source / "docs/release-readme.txt", "README.txt", TEXT, True),
        (source / "docs/user-guide.ko.md", "사용설명서.txt", TEXT, True),
        (source / "docs/option-dialog.png", "option-dialog.png", BINARY, True),  # the guide shows it
    ]
    sample = source / "docs/samples/MireloDict"
    files += [(p, f"MireloDict-예시/{p.name}", TEXT, True) for p in sorted(sample.iterdir())]
    # The Textractor extension, from the win32 build's inner builds, one per bitness.
    files += [
        (bin_x86 / "Mirelo Translate.dll", "x86/Mirelo Translate.dll", BINARY, True),
        (bin_x64 / "Mirelo Translate.dll", "x64/Mirelo Translate.dll", BINARY, True),
    ]
    return files


def windows_text(data, name):
    """UTF-8 with a byte order mark and CRLF line ends, whatever the source used."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        raise SystemExit(f"{name}: not UTF-8 ({e})")
    text = text.removeprefix("\ufeff").replace("\r\n", "\n").replace("\r", "\n")
    return b"\xef\xbb\xbf" + text.replace("\n", "\r\n").encode("utf-8")


def zip_time(epoch):
    # A zip holds no time zone and nothing before 1980.
    t = time.gmtime(max(epoch, 315532800))
    return (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec)


def entry(name, when, directory):
    info = zipfile.ZipInfo(name, date_time=when)
    info.create_system = 3  # Unix, so that the permissions below are read as such
    if directory:
        info.external_attr = (0o40755 << 16) | 0x10  # and the MS-DOS directory bit
        info.compress_type = zipfile.ZIP_STORED
    else:
        info.external_attr = 0o100644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
    return info


def contents(files, top):
    """{path in the zip: bytes}, and the optional files that were not there."""
    out, missing = {}, []
    for path, name, kind, required in files:
        if not path.is_file():
            if required:
                raise SystemExit(f"missing: {path} (for {name})")
            missing.append(f"{name} ({path})")
            continue
        data = path.read_bytes()
        out[f"{top}/{name}"] = windows_text(data, path) if kind == TEXT else data
    return out, missing


def write_zip(out_path, version, files, epoch):
    top = f"Mirelo-{version}"
    blobs, missing = contents(files, top)
    names = set(blobs)
    for name in blobs:  # every folder gets an entry of its own
        parts = name.split("/")
        names.update("/".join(parts[:i]) + "/" for i in range(1, len(parts)))
    when = zip_time(epoch)
    tmp = out_path.with_name(out_path.name + ".part")
    with zipfile.ZipFile(tmp, "w") as z:
        for name in sorted(names):
            directory = name.endswith("/")
            info = entry(name, when, directory)
            z.writestr(info, b"" if directory else blobs[name], compresslevel=9)
    os.replace(tmp, out_path)
    return missing


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--source", type=Path, required=True)
    p.add_argument("--build", type=Path, required=True)
    p.add_argument("--version", required=True)
    p.add_argument("--out", type=Path, required=True)
    p.add_argument("--epoch", type=int, default=int(os.environ.get("SOURCE_DATE_EPOCH", "0")))
    a = p.parse_args()
    files = release_files(a.source, a.build)
    a.out.parent.mkdir(parents=True, exist_ok=True)
    for name in write_zip(a.out, a.version, files, a.epoch):
        print(f"make_release_zip: not built, left out: {name}", file=sys.stderr)


if __name__ == "__main__":
    main()
