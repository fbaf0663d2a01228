#!/usr/bin/env python3
"""The release check: a release zip, unpacked into a Wine prefix of its own, used as the guide
says a player uses it, with the stand-in engine installed as the separately installed engine.

Usage:
  release_check.py --source ROOT --engine J2KEngine.dll --work DIR
                   (--zip ZIP | --build BUILD) [unittest arguments]
With --build the zip is made first from that win32 build, by the same list package.sh uses.
"""
import argparse
import http.client
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import zipfile
from pathlib import Path

parser = argparse.ArgumentParser()
parser.add_argument("--source", type=Path, required=True)
parser.add_argument("--engine", type=Path, required=True)
parser.add_argument("--work", type=Path, required=True)
parser.add_argument("--zip", type=Path)
parser.add_argument("--build", type=Path)
# The stand-in Textractor hosts, 32- and 64-bit (tests/win/textractor_host).
parser.add_argument("--textractor-host", type=Path, nargs=2, required=True)
ARGS, REST = parser.parse_known_args()
# No __pycache__ in the source tree: package.sh wants it clean.
sys.dont_write_bytecode = True
import guide_page  # noqa: E402

WINE_RUN = ARGS.source / "cmake/wine-run.sh"
PREFIX = (ARGS.work / "prefix").resolve()
DRIVE_C = PREFIX / "drive_c"
ENV = dict(os.environ, WINEPREFIX=str(PREFIX), WINEARCH="win32", WINEDEBUG="-all",
           WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d")

# What a player gets, as the README and the guide describe it; nothing else may be in the zip.
EXPECTED = {
    "README.txt", "사용설명서.html", "option-dialog.png", "engine-question.png",
    "workbench-live.png", "workbench-correct.png",
    "x86/Mirelo.dll", "x86/mirelo-host.exe", "x86/mirelo-server.exe",
    "x64/Mirelo.dll", "x64/mirelo-server.exe",
    "x86/Mirelo Translate.dll", "x64/Mirelo Translate.dll",
    "x86/Mirelo Translate.ini", "x64/Mirelo Translate.ini",
    "MireloDict-예시/names.txt", "MireloDict-예시/replace.txt",
}
TEXT_FILES = {"README.txt", "MireloDict-예시/names.txt", "MireloDict-예시/replace.txt",
              "x86/Mirelo Translate.ini", "x64/Mirelo Translate.ini"}
GUIDE = "사용설명서.html"
# Headless, offline, and nothing of the machine's own profile.
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update",
                  "--disable-sync"]
# Windows' own DLLs, the only ones a shipped file may import.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
    "oleaut32.dll", "comctl32.dll", "comdlg32.dll", "ws2_32.dll", "mswsock.dll", "msvcrt.dll",
    "version.dll", "shlwapi.dll", "psapi.dll", "ntdll.dll", "imm32.dll", "winmm.dll",
    "bcrypt.dll", "crypt32.dll", "secur32.dll", "iphlpapi.dll", "userenv.dll", "rpcrt4.dll",
    "winhttp.dll",
}
HERO = "勇者は魔王を倒した。"  # the stand-in's demo mode gives HERO_KO with options "11"
HERO_KO = "용사는 마왕을 쓰러뜨렸다."


def windows_path(path):
    return "C:\\" + str(Path(path).relative_to(DRIVE_C)).replace("/", "\\")


def wine(*args, timeout=120, stdin=None):
    return subprocess.run([str(WINE_RUN), str(PREFIX), *map(str, args)], input=stdin,
                          stdin=None if stdin is not None else subprocess.DEVNULL,
                          capture_output=True, timeout=timeout)


def make_zip():
    """The zip of --zip, or one made now from --build by package.sh's own list."""
    if ARGS.zip:
        return ARGS.zip
    sys.path.insert(0, str(ARGS.source / "scripts"))
    import make_release_zip as maker
    version = (ARGS.build / "generated/mirelo_version.txt").read_text().strip()
    out = ARGS.work / f"Mirelo-{version}.zip"
    maker.write_zip(out, version, maker.release_files(ARGS.source, ARGS.build), 0)
    return out


def setUpModule():
    global ZIP, VERSION, TOP
    shutil.rmtree(ARGS.work, ignore_errors=True)
    ARGS.work.mkdir(parents=True)
    ZIP = make_zip()
    VERSION = ZIP.name.removeprefix("Mirelo-").removesuffix(".zip")
    # An empty prefix of its own: nothing from the test build's prefix or registry.
    assert wine("cmd", "/c", "exit").returncode == 0, "no Wine prefix"
    with zipfile.ZipFile(ZIP) as z:
        z.extractall(DRIVE_C / "Downloads")
    TOP = DRIVE_C / "Downloads" / f"Mirelo-{VERSION}"
    # The engine, installed apart from Mirelo as its own product would be.
    engine = DRIVE_C / "Engine"
    (engine / "Dat").mkdir(parents=True)
    shutil.copy(ARGS.engine, engine / "J2KEngine.dll")


def tearDownModule():
    subprocess.run(["wineserver", "-k"], env=ENV, stderr=subprocess.DEVNULL)


def pe_version(path):
    """The version resource of a PE file: (file type, fixed file version, {string: value})."""
    data = path.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from(
        "<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    if rsrc_rva == 0:
        raise ValueError(f"{path.name}: no resources")
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            size, va, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            if va <= rva < va + max(size, raw_size):
                return raw + rva - va
        raise ValueError(f"RVA {rva:#x} in no section")

    base = offset(rsrc_rva)

    def entries(at):
        named, ids = struct.unpack_from("<HH", data, base + at + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", data, base + at + 16 + 8 * i)

    def child(at, wanted=None):
        for name, target in entries(at):
            if wanted is None or name == wanted:
                return target & 0x7FFFFFFF
        raise ValueError("no version resource")

    leaf = child(child(child(0, 16)))  # RT_VERSION, its one name, its one language
    rva, size = struct.unpack_from("<II", data, base + leaf)
    block = data[offset(rva):offset(rva) + size]

    def node(pos):
        length, value_length, kind = struct.unpack_from("<HHH", block, pos)
        end, key_at = pos + length, pos + 6
        key_end = key_at
        while block[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = block[key_at:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        if kind == 1:
            text = block[value_at:end].decode("utf-16-le")
            value, value_end = text.split("\0")[0], value_at + 2 * value_length
        else:
            value, value_end = block[value_at:value_at + value_length], value_at + value_length
        children, at = [], (value_end + 3) & ~3
        while at < end:
            children.append(node(at))
            at = (at + children[-1][3] + 3) & ~3
        return key, value, children, length

    key, fixed, children, _ = node(0)
    assert key == "VS_VERSION_INFO"
    signature, _, ms, ls, _, _, _, _, _, file_type = struct.unpack_from("<10I", fixed)
    assert signature == 0xFEEF04BD
    strings = {}
    for k, _, tables, _ in children:
        if k == "StringFileInfo":
            for _, _, values, _ in tables:
                strings.update({name: value for name, value, _, _ in values})
    numbers = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    return file_type, numbers, strings


def chromium(page, *args):
    """Headless Chromium on a page, with a profile of its own made afresh."""
    browser = shutil.which("chromium")
    assert browser, "no chromium: scripts/install-deps.sh installs it"
    profile = tempfile.mkdtemp(prefix="chromium-", dir=ARGS.work)
    return subprocess.run([browser, *CHROMIUM_FLAGS, f"--user-data-dir={profile}", *args,
                           page.as_uri()], stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=120)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Zip(unittest.TestCase):
    def test_holds_what_a_player_needs_and_nothing_else(self):
        with zipfile.ZipFile(ZIP) as z:
            infos = z.infolist()
        top = f"Mirelo-{VERSION}/"
        names = [i.filename for i in infos]
        self.assertEqual(names, sorted(names), "entries in a fixed order")
        self.assertTrue(all(n.startswith(top) for n in names), names)
        files = {n[len(top):] for n in names if not n.endswith("/")}
        self.assertEqual(EXPECTED, files)
        for name in files:
            self.assertNotRegex(name.lower(), r"j2kengine|test|fake|stand")
        # Nothing that tells one build from another: one time, fixed permissions.
        self.assertEqual(1, len({i.date_time for i in infos}))
        for i in infos:
            mode = 0o40755 if i.filename.endswith("/") else 0o100644
            self.assertEqual(mode, i.external_attr >> 16, i.filename)
            self.assertEqual(b"", i.extra, i.filename)

    def test_text_files_are_for_notepad(self):
        for name in TEXT_FILES:
            data = (TOP / name).read_bytes()
            self.assertTrue(data.startswith(b"\xef\xbb\xbf"), f"{name}: no byte order mark")
            self.assertEqual(data.count(b"\n"), data.count(b"\r\n"), f"{name}: a bare LF")
            self.assertGreater(data.count(b"\r\n"), 0, name)
            data.decode("utf-8")

    def binaries(self):
        found = sorted(p for p in TOP.rglob("*") if p.suffix.lower() in (".dll", ".exe"))
        self.assertGreaterEqual(len(found), 5)
        return found

    def test_binaries_import_only_windows_dlls(self):
        objdump = shutil.which("x86_64-w64-mingw32-objdump") or "objdump"
        for path in self.binaries():
            out = subprocess.run([objdump, "-p", str(path)], capture_output=True, text=True,
                                 check=True).stdout
            imported = {line.split(":", 1)[1].strip().lower()
                        for line in out.splitlines() if "DLL Name:" in line}
            self.assertTrue(imported, f"{path.name}: no imports read")
            self.assertEqual(set(), imported - SYSTEM_DLLS, path.relative_to(TOP))

    def test_every_binary_carries_the_version(self):
        numbers = tuple(int(n) for n in VERSION.split("+")[0].split(".")) + (0,)
        for path in self.binaries():
            with self.subTest(path.relative_to(TOP)):
                file_type, fixed, strings = pe_version(path)
                self.assertEqual(1 if path.suffix == ".exe" else 2, file_type)  # VFT_APP, VFT_DLL
                self.assertEqual(numbers, fixed)
                self.assertEqual(VERSION, strings.get("ProductVersion"))
                self.assertEqual(VERSION, strings.get("FileVersion"))
                self.assertEqual("Mirelo", strings.get("ProductName"))
                self.assertEqual(path.name, strings.get("OriginalFilename"))
                self.assertTrue(strings.get("FileDescription"))
        for program in ("x86/mirelo-host.exe", "x86/mirelo-server.exe", "x64/mirelo-server.exe"):
            r = wine(TOP / program, "--version")
            self.assertEqual(0, r.returncode, r.stderr)
            self.assertEqual(f"{Path(program).stem} {VERSION}\n", r.stdout.decode())


class Player(unittest.TestCase):
    """What the guide has a player do."""

    def test_copy_the_plugin_and_translate_through_the_host(self):
        host = TOP / "x86/mirelo-host.exe"
        # A copied engine folder is recorded with the host program (guide, installing).
        r = wine(host, "--set-engine-folder", "C:\\Engine", "--lang", "en")
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        plugins = DRIVE_C / "Host" / "Plugins"
        plugins.mkdir(parents=True)
        shutil.copy(TOP / "x86/Mirelo.dll", plugins)
        shutil.copytree(TOP / "MireloDict-예시", plugins / "MireloDict")
        # The guide has a player check a dictionary before use; the sample has no fault.
        r = wine(host, "--check-dict", windows_path(plugins / "MireloDict"))
        self.assertEqual(0, r.returncode, (r.stdout + r.stderr).decode(errors="replace"))
        lines = (ARGS.source / "stand_in_engine/samples/lines-ja.txt").read_bytes()
        r = wine(host, "--plugin", windows_path(plugins / "Mirelo.dll"), stdin=lines)
        self.assertEqual(0, r.returncode, r.stderr.decode())
        # The README's demo: the sample lines with the sample dictionary beside the plug-in.
        readme = (ARGS.source / "README.md").read_text()
        start = readme.index("```text\n", readme.index("./scripts/demo.sh")) + len("```text\n")
        self.assertEqual(readme[start:readme.index("```", start)], r.stdout.decode())

    def test_start_the_server_and_ask_it_for_a_line(self):
        # The registry value comes from the host test; record it here too when run alone.
        self.assertEqual(0, wine(TOP / "x86/mirelo-host.exe", "--set-engine-folder",
                                 "C:\\Engine").returncode)
        port = free_port()
        with open(ARGS.work / "server.out", "w+b") as out:
            server = subprocess.Popen(
                ["wine", str(TOP / "x86/mirelo-server.exe"), "--port", str(port), "--workers", "1",
                 "--options", "11"], env=ENV, stdin=subprocess.DEVNULL, stdout=out,
                stderr=subprocess.STDOUT, start_new_session=True)
            try:
                status = self.wait_ready(port, server)
                self.assertEqual(VERSION, status["version"])
                commit = VERSION.partition("+")[2].split(".")[0]
                if commit:
                    self.assertEqual(commit, status["commit"])
                c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
                c.request("GET", "/translate?text=" + urllib.parse.quote(HERO))
                answer = c.getresponse()
                self.assertEqual(200, answer.status)
                self.assertEqual(HERO_KO, answer.read().decode())
                self.assertEqual(f"mirelo-server/{VERSION}", answer.getheader("Server"))
                c.close()
            except BaseException:
                out.seek(0)
                print(out.read().decode(errors="replace"), file=sys.stderr)
                raise
            finally:
                os.killpg(server.pid, signal.SIGINT)
                try:
                    server.wait(timeout=15)
                except subprocess.TimeoutExpired:
                    os.killpg(server.pid, signal.SIGKILL)
                    server.wait()

    def wait_ready(self, port, server):
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and server.poll() is None:
            try:
                c = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
                try:
                    c.request("GET", "/status")
                    status = json.loads(c.getresponse().read())
                finally:
                    c.close()
                if status["engine_ready"]:
                    return status
            except (OSError, http.client.HTTPException, ValueError):
                pass
            time.sleep(0.2)
        self.fail("the server did not become ready")

    def test_the_x64_folder_runs_its_own_server_and_plugin(self):
        # What the 64-bit extension starts: the server with the Mirelo.dll beside it.
        self.assertEqual(0, wine(TOP / "x86/mirelo-host.exe", "--set-engine-folder",
                                 "C:\\Engine").returncode)
        source = DRIVE_C / "lines.txt"
        source.write_text(HERO + "\n", encoding="utf-8")
        r = wine(TOP / "x64/mirelo-server.exe", "--translate-file", windows_path(source),
                 "--workers", "1", "--options", "11")
        self.assertEqual(0, r.returncode, r.stderr.decode())
        self.assertEqual(HERO_KO + "\n", r.stdout.decode())

    def test_load_the_extension_in_the_stand_in_textractor_host(self):
        # As the guide has it: a bitness's folder copied into Textractor's, the extension
        # starting the server beside it. The 64-bit one in a fresh win64 prefix of its own,
        # where it drives the 32-bit server.
        for host, bits in zip(ARGS.textractor_host, ("x86", "x64")):
            with self.subTest(bits):
                prefix = ARGS.work / f"prefix-{bits}"
                textractor = prefix / "drive_c/Textractor"
                env = dict(ENV, WINEPREFIX=str(prefix.resolve()),
                           WINEARCH="win64" if bits == "x64" else "win32",
                           MIRELO_WINEARCH="win64" if bits == "x64" else "win32")
                run = lambda *args: subprocess.run(
                    [str(WINE_RUN), str(prefix.resolve()), *map(str, args)], env=env,
                    stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
                try:
                    self.assertEqual(0, run("cmd", "/c", "exit").returncode)
                    shutil.copytree(TOP / bits, textractor)
                    r = run(host, "contract", textractor / "Mirelo Translate.dll", textractor,
                            ARGS.engine.parent, prefix / "drive_c/work")
                    out = r.stdout.decode("utf-8", "replace")
                    self.assertEqual(0, r.returncode, out + r.stderr.decode("utf-8", "replace"))
                    self.assertIn(VERSION, out)
                finally:
                    subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)

class Guide(unittest.TestCase):
    """The guide as a player opens it from the unpacked zip, in a real browser."""

    def test_the_page_shows_in_a_browser(self):
        shot = ARGS.work / "guide.png"
        r = chromium(TOP / GUIDE, f"--screenshot={shot}", "--window-size=1280,900")
        self.assertTrue(shot.is_file(), r.stderr.decode(errors="replace")[-3000:])
        measure = subprocess.run(
            ["convert", str(shot), "-colorspace", "Gray", "-format",
             "%w %h %[fx:standard_deviation] %[fx:mean]", "info:"],
            capture_output=True, text=True, check=True).stdout.split()
        width, height, spread, mean = int(measure[0]), int(measure[1]), *map(float, measure[2:])
        self.assertEqual((1280, 900), (width, height))
        self.assertGreater(spread, 0.03, f"a blank page: {shot}")  # one colour is 0
        self.assertGreater(mean, 0.6, f"not a light page of dark text: {shot}")

    def test_the_browser_finds_the_headings_contents_and_pictures(self):
        # A copy beside the page, with a script that marks the pictures the browser loaded.
        probe = TOP / "guide-probe.html"
        text = (TOP / GUIDE).read_text(encoding="utf-8")
        probe.write_text(text.replace("</body>", "<script>addEventListener('load', () => { "
                                      "for (const i of document.images) i.dataset.loaded = "
                                      "i.complete && i.naturalWidth > 0; });</script></body>"),
                         encoding="utf-8")
        try:
            r = chromium(probe, "--dump-dom")
        finally:
            probe.unlink()
        self.assertEqual(0, r.returncode, r.stderr.decode(errors="replace")[-3000:])
        page = guide_page.Page(r.stdout.decode("utf-8"))
        self.assertEqual("utf-8", page.charset)
        self.assertIn(VERSION, page.title)
        chapters = page.chapters()
        self.assertEqual("h1", chapters[0][0])
        numbered = [text.split(" ")[0] for tag, _, text, _ in chapters if tag == "h2"]
        self.assertEqual([f"{n}." for n in range(1, 10)], numbered)
        anchors = [anchor for tag, anchor, _, _ in chapters if tag in ("h2", "h3")]
        self.assertEqual(anchors, page.contents)
        for target in page.links:
            self.assertIn(target, page.ids)
        self.assertEqual({"option-dialog.png", "engine-question.png", "workbench-live.png",
                          "workbench-correct.png"},
                         {image["src"] for image in page.images})
        for image in page.images:
            self.assertEqual("true", image.get("data-loaded"), image["src"])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *REST], verbosity=2)
