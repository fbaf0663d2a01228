"""What the release checks read from the guide's HTML page: its headings, contents, links and
pictures, and the prose outside code, whether from the zip writer or from a browser's DOM."""
import re
import urllib.parse
from html.parser import HTMLParser

HEADINGS = ("h1", "h2", "h3", "h4")


class Page(HTMLParser):
    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.title = ""
        self.charset = None
        self.headings = []  # (tag, id, text, in the contents)
        self.contents = []  # the targets the table of contents links to
        self.links = []  # every "#..." target
        self.images = []  # the attributes of each <img>
        self.ids = set()
        self.prose = []  # text outside <pre> and <code>
        self._heading = None
        self._in_title = False
        self._in_nav = False
        self._code = 0
        self.feed(text)
        self.close()

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if "id" in a:
            self.ids.add(a["id"])
        if tag == "meta" and "charset" in a:
            self.charset = a["charset"].lower()
        elif tag == "title":
            self._in_title = True
        elif tag == "nav" and "toc" in (a.get("class") or "").split():
            self._in_nav = True
        elif tag in HEADINGS:
            self._heading = [tag, a.get("id"), "", self._in_nav]
        elif tag == "a" and (a.get("href") or "").startswith("#"):
            target = urllib.parse.unquote(a["href"][1:])
            self.links.append(target)
            if self._in_nav:
                self.contents.append(target)
        elif tag == "img":
            self.images.append(a)
        elif tag in ("pre", "code"):
            self._code += 1

    def handle_endtag(self, tag):
        if tag == "title":
            self._in_title = False
        elif tag == "nav":
            self._in_nav = False
        elif tag in HEADINGS and self._heading:
            self._heading[2] = " ".join(self._heading[2].split())
            self.headings.append(tuple(self._heading))
            self._heading = None
        elif tag in ("pre", "code"):
            self._code -= 1

    def handle_data(self, data):
        if self._in_title:
            self.title += data
        if self._heading:
            self._heading[2] += data
        if not self._code:
            self.prose.append(data)

    def chapters(self):
        """The page's own headings, not those of the table of contents."""
        return [h for h in self.headings if not h[3]]


def markdown_headings(markdown_text):
    """(level, text) of each heading of the Markdown source, outside fenced code."""
    out, fenced = [], False
    for line in markdown_text.splitlines():
        if line.lstrip().startswith("```"):
            fenced = not fenced
        elif not fenced and (m := re.match(r"(#{1,4}) (.+)", line)):
            out.append((f"h{len(m.group(1))}", m.group(2).replace("`", "").strip()))
    return out


# Markdown that a converter left as it was: a table rule, a fence, bold marks, a link.
LEFTOVERS = re.compile(r"\|-{3}|```|\*\*|\]\(#|^#{1,4} ", re.M)
