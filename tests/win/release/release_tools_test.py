#!/usr/bin/env python3
"""The release's two tools on their own, without a build: the version that write_version.cmake
makes of git's state, and make_release_zip.py's text conversion, zip bytes and guide page, with
the texts that ship beside the page.

Usage: release_tools_test.py SOURCE_DIR [unittest arguments]
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unicodedata
import unittest
import zipfile
from pathlib import Path

SOURCE = Path(sys.argv[1]).resolve()
# No __pycache__ in the source tree: package.sh wants it clean.
sys.dont_write_bytecode = True
sys.path.insert(0, str(SOURCE / "scripts"))
import make_release_zip as maker  # noqa: E402
import guide_page  # noqa: E402
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


class Guide(unittest.TestCase):
    """The guide's page as the zip writer makes it from docs/, and the texts that ship with it."""

    @classmethod
    def setUpClass(cls):
        cls.markdown = (SOURCE / "docs/user-guide.ko.md").read_text(encoding="utf-8")
        cls.html = maker.guide_html(cls.markdown, "9.9.9").decode("utf-8")
        cls.page = guide_page.Page(cls.html)
        cls.shipped = {name: path for path, name, _, _ in
                       maker.release_files(SOURCE, Path("/no-build"))}

    def test_every_heading_is_a_heading_with_an_anchor_in_the_contents(self):
        chapters = self.page.chapters()
        self.assertEqual(guide_page.markdown_headings(self.markdown),
                         [(tag, text) for tag, _, text, _ in chapters])
        anchors = [anchor for tag, anchor, _, _ in chapters if tag in ("h2", "h3")]
        self.assertTrue(all(anchors), chapters)
        self.assertEqual(anchors, self.page.contents)
        self.assertGreaterEqual(sum(tag == "h2" for tag, _, _, _ in chapters), 8)

    def test_links_reach_their_headings_as_on_github(self):
        self.assertGreater(len(self.page.links), len(self.page.contents))
        for target in self.page.links:
            self.assertIn(target, self.page.ids)
        # GitHub keeps one hyphen per space and drops the rest of the punctuation.
        self.assertIn("63-엔진-폴더-기록---set-engine-folder", self.page.ids)
        self.assertIn("7-textractor-확장-기능-mirelo-translatedll", self.page.ids)

    def test_nothing_is_left_as_markdown(self):
        prose = "".join(self.page.prose)
        left = guide_page.LEFTOVERS.search(prose)
        self.assertIsNone(left, left and prose[max(0, left.start() - 80):left.end() + 40])
        # A fence the converter did not take becomes a paragraph of inline code.
        self.assertNotRegex(self.html, r"<p><code>[^<]*\n[^<]*</code></p>")

    def test_the_page_is_korean_utf8_with_korean_fonts(self):
        self.assertEqual("utf-8", self.page.charset)
        self.assertTrue(self.html.startswith('<!DOCTYPE html>\r\n<html lang="ko">'))
        style = self.html[self.html.index("<style>"):self.html.index("</style>")]
        for font in ('"Malgun Gothic"', '"맑은 고딕"', "NanumGothic", "sans-serif"):
            self.assertIn(font, style)
        self.assertIn("9.9.9", self.page.title)
        self.assertEqual(["h1"], [h[0] for h in self.page.chapters() if h[0] == "h1"])

    def test_every_picture_ships_beside_the_page(self):
        self.assertGreaterEqual(len(self.page.images), 2)
        self.assertNotIn("/", maker.GUIDE_NAME)
        for image in self.page.images:
            self.assertTrue(image.get("alt"), image)
            self.assertIn(image["src"], self.shipped)
            self.assertTrue(self.shipped[image["src"]].read_bytes().startswith(b"\x89PNG"))

    def test_the_readme_is_short_plain_text_that_names_what_ships(self):
        text = (SOURCE / "docs/release-readme.txt").read_text(encoding="utf-8")
        self.assertIn(maker.GUIDE_NAME, text)
        self.assertIsNone(guide_page.LEFTOVERS.search(text))
        lines = text.splitlines()
        self.assertLess(len(lines), 80)
        for number, line in enumerate(lines, 1):
            width = sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in line)
            self.assertLessEqual(width, 80, f"README line {number}")
        named = re.findall(r"(?:x86|x64)\\[A-Za-z][A-Za-z0-9.-]*(?: Translate\.(?:dll|ini))?"
                           r"|[\w-]+\.(?:html|png)", text)
        self.assertGreaterEqual(len(named), 8)
        for name in named:
            self.assertIn(name.replace("\\", "/"), self.shipped)

    def test_the_sample_settings_are_the_defaults_the_guide_states(self):
        section = self.markdown[self.markdown.index("### 7.3"):]
        section = section[:section.index("\n## ")]
        stated = {key: value for key, value, _ in re.findall(
            r"^\| `(\w+)` \| (?:`([^`]*)`|(\(비어 있음\))) \|", section, re.M)}
        self.assertEqual(7, len(stated))
        sample = {}
        text = self.shipped["x86/Mirelo Translate.ini"].read_text(encoding="utf-8")
        for line in text.splitlines():
            line = line.strip()
            if line and line[0] not in ";#[":
                key, _, value = line.partition("=")
                sample[key.strip()] = value.strip()
        self.assertEqual(stated, sample)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[2:]], verbosity=2)
