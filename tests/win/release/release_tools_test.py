#!/usr/bin/env python3
"""The release's two tools on their own, without a build: the version that write_version.cmake
makes of git's state, and make_release_zip.py's text conversion and zip bytes.

Usage: release_tools_test.py SOURCE_DIR [unittest arguments]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

SOURCE = Path(sys.argv[1]).resolve()
# No __pycache__ in the source tree: package.sh wants it clean.
sys.dont_write_bytecode = True
sys.path.insert(0, str(SOURCE / "scripts"))
import make_release_zip as maker  # noqa: E402
GIT_ENV = dict(os.environ, GIT_AUTHOR_NAME="t", GIT_AUTHOR_EMAIL="t@t", GIT_COMMITTER_NAME="t",
               GIT_COMMITTER_EMAIL="t@t", GIT_CONFIG_GLOBAL="/dev/null", GIT_CONFIG_NOSYSTEM="1")


class Version(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="mirelo-version-"))
        self.repo = self.dir / "repo"
        self.repo.mkdir()

    def tearDown(self):
        shutil.rmtree(self.dir)

    def git(self, *args):
        return subprocess.run(["git", "-C", str(self.repo), *args], env=GIT_ENV, check=True,
                              capture_output=True, text=True).stdout.strip()

    def write_version(self, version="1.2.0", out="out"):
        r = subprocess.run(["cmake", f"-DSOURCE_DIR={self.repo}", f"-DOUT_DIR={self.dir / out}",
                            f"-DVERSION={version}", "-P",
                            str(SOURCE / "cmake/write_version.cmake")],
                           capture_output=True, text=True)
        return r

    def version(self, **kw):
        r = self.write_version(**kw)
        self.assertEqual(0, r.returncode, r.stderr)
        return (self.dir / "out/mirelo_version.txt").read_text()

    def test_what_git_says_goes_into_the_version(self):
        self.assertEqual("1.2.0\n", self.version())  # no repository: the number alone
        self.git("init", "-q")
        (self.repo / "a.txt").write_text("a\n")
        self.git("add", "a.txt")
        self.git("commit", "-qm", "a")
        commit = self.git("rev-parse", "--short=7", "HEAD")
        cases = [
            ("untagged", [], f"1.2.0+{commit}\n"),
            ("another version's tag", [("tag", "v1.1.0")], f"1.2.0+{commit}\n"),
            ("its own tag", [("tag", "v1.2.0")], "1.2.0\n"),
            ("tracked file changed", [("write", "b\n")], "1.2.0+dirty\n"),
            ("changed, not tagged", [("tag", "-d", "v1.2.0")], f"1.2.0+{commit}.dirty\n"),
            ("changed back", [("write", "a\n")], f"1.2.0+{commit}\n"),
            ("an untracked file", [("new",)], f"1.2.0+{commit}\n"),
            ("tag without v", [("tag", "1.2.0")], "1.2.0\n"),
        ]
        for what, steps, expected in cases:
            for step in steps:
                if step[0] == "write":
                    (self.repo / "a.txt").write_text(step[1])
                elif step[0] == "new":
                    (self.repo / "new.txt").write_text("n\n")
                else:
                    self.git(*step)
            self.assertEqual(expected, self.version(), what)
        header = (self.dir / "out/mirelo_version.h").read_text()
        for line in ['#define MIRELO_VERSION "1.2.0"', "#define MIRELO_VERSION_NUMBERS 1, 2, 0, 0",
                     f'#define MIRELO_COMMIT "{commit}"']:
            self.assertIn(line, header)

    def test_an_unchanged_version_leaves_the_files_alone(self):
        self.version()
        header = self.dir / "out/mirelo_version.h"
        os.utime(header, (1, 1))
        self.version()
        self.assertEqual(1, header.stat().st_mtime)  # so nothing that includes it rebuilds
        self.version(version="1.2.1")
        self.assertNotEqual(1, header.stat().st_mtime)

    def test_a_version_not_of_three_numbers_is_refused(self):
        for bad in ["1.2", "1.2.0-beta", "v1.2.0", ""]:
            self.assertNotEqual(0, self.write_version(version=bad).returncode, bad)


class Zip(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="mirelo-zip-"))

    def tearDown(self):
        shutil.rmtree(self.dir)

    def test_text_becomes_utf8_with_a_mark_and_crlf(self):
        bom = b"\xef\xbb\xbf"
        cases = [
            (b"a\nb\n", bom + b"a\r\nb\r\n"),
            (b"a\r\nb", bom + b"a\r\nb"),
            (b"a\rb\r\n\n", bom + b"a\r\nb\r\n\r\n"),
            (bom + b"\xed\x95\x9c\n", bom + b"\xed\x95\x9c\r\n"),  # one mark, never two
            (b"", bom),
        ]
        for source, expected in cases:
            self.assertEqual(expected, maker.windows_text(source, "t"), source)
        with self.assertRaises(SystemExit):
            maker.windows_text(b"\xb0\xa1\n", "cp949.txt")  # CP949 is not passed on as UTF-8

    def files(self, folder, order, mtime):
        folder.mkdir()
        made = []
        for name, data in order:
            (folder / name).write_bytes(data)
            os.utime(folder / name, (mtime, mtime))
            made.append((folder / name, f"d/{name}", maker.TEXT if name.endswith(".txt")
                         else maker.BINARY, True))
        return made

    def test_the_bytes_depend_on_the_contents_alone(self):
        content = [("b.dll", bytes(range(256)) * 40), ("a.txt", "한국어\n".encode())]
        one = self.files(self.dir / "one", content, 1_000_000_000)
        two = self.files(self.dir / "two", content[::-1], 1_700_000_000)
        os.chmod(two[0][0], 0o755)
        maker.write_zip(self.dir / "1.zip", "9.9.9", one, 1_600_000_000)
        maker.write_zip(self.dir / "2.zip", "9.9.9", two, 1_600_000_000)
        self.assertEqual((self.dir / "1.zip").read_bytes(), (self.dir / "2.zip").read_bytes())
        with zipfile.ZipFile(self.dir / "1.zip") as z:
            self.assertEqual(["Mirelo-9.9.9/", "Mirelo-9.9.9/d/", "Mirelo-9.9.9/d/a.txt",
                              "Mirelo-9.9.9/d/b.dll"], z.namelist())
            self.assertEqual((2020, 9, 13, 12, 26, 40), z.getinfo("Mirelo-9.9.9/d/a.txt").date_time)
            self.assertEqual(content[0][1], z.read("Mirelo-9.9.9/d/b.dll"))
        maker.write_zip(self.dir / "3.zip", "9.9.9", one, 1_600_000_002)
        self.assertNotEqual((self.dir / "1.zip").read_bytes(), (self.dir / "3.zip").read_bytes())

    def test_a_missing_file_stops_the_zip_unless_it_may_be_missing(self):
        present = self.files(self.dir / "in", [("a.dll", b"x")], 0)
        absent = (self.dir / "in/none.dll", "d/none.dll", maker.BINARY)
        self.assertEqual(["d/none.dll (%s)" % absent[0]],
                         maker.write_zip(self.dir / "ok.zip", "1.0.0", present + [(*absent, False)],
                                         0))
        with self.assertRaises(SystemExit):
            maker.write_zip(self.dir / "no.zip", "1.0.0", present + [(*absent, True)], 0)
        self.assertFalse((self.dir / "no.zip").exists())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[2:]], verbosity=2)
