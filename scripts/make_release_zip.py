#!/usr/bin/env python3
"""Writes the release zip from a win32 build: the same input files give the same bytes.

Usage: make_release_zip.py --source ROOT --build BUILD --version V --out ZIP [--epoch SECONDS]

Everything goes under Mirelo-V/. Text files become what Notepad reads well (UTF-8 with a
byte order mark, CRLF); the Korean guide becomes one HTML page, made by Python-Markdown.
Entries are sorted, every entry has the time --epoch (else SOURCE_DATE_EPOCH, else
1980-01-01) and fixed permissions, and files are deflated at level 9.
"""
import argparse
import html
import os
import re
import sys
import time
import zipfile
from pathlib import Path

BINARY, TEXT, GUIDE = "binary", "text", "guide"
GUIDE_NAME = "사용설명서.html"


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
        (source / "docs/user-guide.ko.md", GUIDE_NAME, GUIDE, True),
        # The page shows these beside it.
        (source / "docs/option-dialog.png", "option-dialog.png", BINARY, True),
        (source / "docs/engine-question.png", "engine-question.png", BINARY, True),
        (source / "docs/workbench-live.png", "workbench-live.png", BINARY, True),
        (source / "docs/workbench-correct.png", "workbench-correct.png", BINARY, True),
        # Beside each extension, so that a bitness's folder copied whole is ready to use.
        (source / "docs/samples/Mirelo Translate.ini", "x86/Mirelo Translate.ini", TEXT, True),
        (source / "docs/samples/Mirelo Translate.ini", "x64/Mirelo Translate.ini", TEXT, True),
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


def github_slug(text, separator):
    """The anchor GitHub gives a heading, so that one link works there and in the page."""
    return re.sub(r"[^\w\- ]", "", text.strip().lower()).replace(" ", "-")


def markdown_module():
    try:
        import markdown
    except ImportError:
        # Debian's python3-markdown, when the python3 on the PATH is not Debian's own.
        sys.path.append("/usr/lib/python3/dist-packages")
        try:
            import markdown
        except ImportError:
            raise SystemExit("the guide needs Python-Markdown: apt-get install python3-markdown")
    return markdown


STYLE = """
body { margin: 0; background: #fff; color: #1b1b1b;
  font-family: "Malgun Gothic", "맑은 고딕", "Apple SD Gothic Neo", NanumGothic,
    "Noto Sans CJK KR", sans-serif;
  font-size: 16px; line-height: 1.7; word-break: keep-all; overflow-wrap: break-word; }
main { max-width: 52em; margin: 0 auto; padding: 1.5em 1.5em 4em; }
h1 { font-size: 1.9em; margin: 0.2em 0 0.1em; }
h2 { font-size: 1.45em; margin-top: 2.2em; padding-bottom: 0.2em; border-bottom: 2px solid #d0d7de; }
h3 { font-size: 1.15em; margin-top: 1.8em; }
.version { color: #57606a; margin-top: 0; }
nav.toc { background: #f6f8fa; border: 1px solid #d0d7de; border-radius: 6px;
  padding: 0.6em 1.2em; margin: 1.5em 0; }
nav.toc h2 { font-size: 1.1em; margin: 0.3em 0; border: 0; }
nav.toc ul { margin: 0.2em 0; padding-left: 1.4em; }
nav.toc > ul > li { margin: 0.25em 0; }
nav.toc ul ul { font-size: 0.93em; }
a { color: #0a58ca; }
code, pre { font-family: Consolas, "D2Coding", NanumGothicCoding, "Malgun Gothic", "맑은 고딕",
  NanumGothic, monospace; font-size: 0.92em; }
code { background: #f0f2f4; padding: 0.1em 0.3em; border-radius: 4px; }
pre { background: #f6f8fa; border: 1px solid #d0d7de; border-radius: 6px; padding: 0.8em 1em;
  white-space: pre-wrap; overflow-wrap: anywhere; }
pre code { background: none; padding: 0; }
table { border-collapse: collapse; margin: 1em 0; width: 100%; }
th, td { border: 1px solid #d0d7de; padding: 0.4em 0.6em; vertical-align: top; text-align: left; }
th { background: #f6f8fa; }
img { max-width: 100%; border: 1px solid #d0d7de; }
@media print { nav.toc { break-after: page; } a { color: inherit; } }
"""


def guide_html(markdown_text, version):
    """The guide as one page: a table of contents after the opening, anchors as on GitHub."""
    markdown = markdown_module()
    md = markdown.Markdown(
        extensions=["toc", "tables", "fenced_code", "sane_lists"],
        extension_configs={"toc": {"slugify": github_slug, "toc_depth": "2-3"}},
        output_format="html")
    body = md.convert(markdown_text)
    title = next((t["name"] for t in md.toc_tokens), "Mirelo")
    toc = md.toc.strip()
    toc = toc.removeprefix('<div class="toc">').removesuffix("</div>").strip()
    nav = f'<nav class="toc">\n<h2>차례</h2>\n{toc}\n</nav>\n'
    # The heading of the page, then what it says before the first chapter, then the contents.
    first = body.find("<h2")
    if first < 0:
        first = len(body)
    head, rest = body[:first], body[first:]
    head = head.replace("</h1>", f'</h1>\n<p class="version">버전 {html.escape(version)}</p>', 1)
    page = (
        "<!DOCTYPE html>\n"
        '<html lang="ko">\n<head>\n<meta charset="utf-8">\n'
        '<meta name="viewport" content="width=device-width, initial-scale=1">\n'
        f"<title>{html.escape(title)} {html.escape(version)}</title>\n"
        f"<style>{STYLE}</style>\n</head>\n<body>\n<main>\n"
        f"{head}{nav}{rest}\n</main>\n</body>\n</html>\n")
    return page.replace("\n", "\r\n").encode("utf-8")


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


def contents(files, top, version):
    """{path in the zip: bytes}, and the optional files that were not there."""
    out, missing = {}, []
    for path, name, kind, required in files:
        if not path.is_file():
            if required:
                raise SystemExit(f"missing: {path} (for {name})")
            missing.append(f"{name} ({path})")
            continue
        data = path.read_bytes()
        if kind == GUIDE:
            data = guide_html(windows_text(data, path)[3:].decode().replace("\r\n", "\n"), version)
        elif kind == TEXT:
            data = windows_text(data, path)
        out[f"{top}/{name}"] = data
    return out, missing


def write_zip(out_path, version, files, epoch):
    top = f"Mirelo-{version}"
    blobs, missing = contents(files, top, version)
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
