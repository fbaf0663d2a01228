#!/usr/bin/env python3
"""The workbench's routes and the rules that keep other web pages out, on mirelo-server under
Wine.

Usage: server_workbench_test.py BIN_DIR WINE_RUN PREFIX [unittest arguments]
Same fixtures as server_test.py (whose helpers it uses); a plug-in copy of its own, so that
its dictionary folder is this test's.
"""
import concurrent.futures
import json
import os
import re
import shutil
import statistics
import sys
import tempfile
import time
import unittest
import urllib.parse

import server_test as st

NAME_JA, NAME_KO = "美玲", "미령"
GAME_CRASH = "瓦解"  # ends the engine's process too; no test corrects it
LIVE = ([(f"{i}番目", f"{i}번째") for i in range(3)] +
        [(f"{i}回目", f"{i}회째") for i in range(20)])


def setUpModule():
    global FOLDER, PLUGIN_DIR, DICT, SERVER, TOKEN
    FOLDER = st.engine_folder("mirelo-workbench-", [
        "mode demo", f"fault translate {st.sjis(st.CRASH)} exit",
        f"fault translate {st.sjis(GAME_CRASH)} exit", *(
        f"map {st.sjis(ja)} {ko.encode('cp949').hex()}" for ja, ko in LIVE)])
    PLUGIN_DIR = tempfile.mkdtemp(prefix="plugin-", dir=FOLDER)
    shutil.copy(os.path.join(st.BIN, "Mirelo.dll"), PLUGIN_DIR)
    DICT = os.path.join(PLUGIN_DIR, "MireloDict")
    os.makedirs(DICT)
    with open(os.path.join(DICT, "10-names.txt"), "w", encoding="utf-8") as f:
        f.write(f"name\t{NAME_JA}\t{NAME_KO}\npost\t용사\n")  # the second has two columns
    SERVER = st.Server(FOLDER, "--options", "11", "--workers", "2", "--plugin",
                       os.path.join(PLUGIN_DIR, "Mirelo.dll"))
    TOKEN = token_of(SERVER)


def tearDownModule():
    try:
        SERVER.stop()
    finally:
        st.forget_engine_folder(FOLDER)


def token_of(server):
    status, _, page = server.get("/")
    assert status == 200, page
    return re.search(r'name="mirelo-token" content="([0-9a-f]+)"', page).group(1)


def own(server):
    return {"Host": f"127.0.0.1:{server.port}", "Origin": f"http://127.0.0.1:{server.port}"}


def change(server, path, body, token=None, headers=None, kind="application/json"):
    h = dict(own(server), **{"Content-Type": kind})
    if token is not False:
        h["X-Mirelo-Token"] = token or TOKEN
    h.update(headers or {})
    data = json.dumps(body).encode() if kind == "application/json" else body
    status, r, text = server.request("POST", path, data, h)
    return status, r, text


def translate(server, line):
    return server.get("/translate?text=" + urllib.parse.quote(line))[0::2]


class Security(unittest.TestCase):
    def test_a_host_that_is_not_the_server_is_refused_on_every_route(self):
        port = SERVER.port
        paths = ["/translate?text=" + urllib.parse.quote(st.HERO), "/status", "/",
                 "/api/live", "/api/status", "/api/dictionary"]
        refused = [f"evil.example:{port}", "evil.example", f"127.0.0.1:{port + 1}",
                   f"localhost.evil.example:{port}", f"127.0.0.1.evil.example:{port}",
                   f"192.168.1.9:{port}", ""]
        for path in paths:
            for host in refused:
                with self.subTest(path=path, host=host):
                    status, _, text = SERVER.request("GET", path, headers={"Host": host})
                    self.assertIn(status, (421, 400), text)
                    self.assertIn("Host", text)
            # Without a port the name still says it is this server.
            for host in (f"127.0.0.1:{port}", f"localhost:{port}", f"[::1]:{port}",
                         f"LocalHost:{port}", "127.0.0.1", "localhost"):
                with self.subTest(path=path, host=host):
                    status, _, text = SERVER.request("GET", path, headers={"Host": host})
                    self.assertEqual(status, 200, text)
        # A rebinding page posts too: refused before anything is read.
        status, _, _ = SERVER.request(
            "POST", "/translate", st.HERO.encode(),
            {"Host": f"evil.example:{port}", "Content-Type": "text/plain"})
        self.assertEqual(status, 421)

    def test_a_page_of_another_site_is_refused_on_every_route_and_programs_are_served(self):
        port = SERVER.port
        hero = urllib.parse.quote(st.HERO)
        routes = [("GET", f"/translate?text={hero}", None), ("GET", "/status", None),
                  ("POST", "/translate", st.HERO.encode()), ("GET", "/", None),
                  ("GET", "/api/live", None), ("GET", "/api/export?game=&format=json", None),
                  ("GET", "/api/try-pattern?kind=pre-re&from=(a*)*b&to=x&sample=aaa", None)]
        foreign = [{"Origin": "http://evil.example"}, {"Origin": "null"},
                   {"Origin": f"http://127.0.0.1:{port + 1}"},
                   {"Sec-Fetch-Site": "cross-site"}, {"Sec-Fetch-Site": "same-site"},
                   {"Origin": "http://evil.example", "Sec-Fetch-Site": "cross-site"}]
        served = json.loads(SERVER.get("/status")[2])["lines_served"]
        for method, path, body in routes:
            for headers in foreign:
                with self.subTest(path=path, headers=headers):
                    h = dict(headers, **{"Content-Type": "text/plain"}) if body else headers
                    status, r, text = SERVER.request(method, path, body, h)
                    self.assertEqual(status, 403, text)
                    if path.startswith(("/api/", "/?")) or path == "/":
                        self.assertIn("another site" if "Origin" not in headers
                                      else headers["Origin"], json.loads(text)["error"])
                    else:
                        self.assertIn("cannot use this server", text)
                        self.assertEqual(text.count("\n"), 1, text)
            # A program sends neither; the page sends its own origin.
            for headers in ({}, {"Origin": f"http://127.0.0.1:{port}",
                                 "Sec-Fetch-Site": "same-origin"}, {"Sec-Fetch-Site": "none"}):
                with self.subTest(path=path, headers=headers):
                    h = dict(headers, **{"Content-Type": "text/plain"}) if body else headers
                    status, _, text = SERVER.request(method, path, body, h)
                    self.assertEqual(status, 200, text)
        # Nothing a refused request carried was translated.
        self.assertEqual(json.loads(SERVER.get("/status")[2])["lines_served"], served + 6)

    def test_a_change_from_anywhere_but_the_page_changes_nothing(self):
        hacked = "해킹됨"
        form = urllib.parse.urlencode(
            {"game": "", "source": st.HERO, "translation": hacked}).encode()
        evil = {"Origin": "http://evil.example"}
        cases = [
            # A form posted from another site: no token, a foreign Origin, a form's type.
            ("form from another site", dict(body=form, token=False, headers=evil,
                                            kind="application/x-www-form-urlencoded")),
            ("fetch from another site with a guessed token", dict(
                body={"source": st.HERO, "translation": hacked}, token="0" * 64,
                headers=evil)),
            ("the token, but a foreign Origin", dict(
                body={"source": st.HERO, "translation": hacked}, headers=evil)),
            ("no Origin at all", dict(
                body={"source": st.HERO, "translation": hacked}, headers={"Origin": None})),
            ("own Origin, no token", dict(
                body={"source": st.HERO, "translation": hacked}, token=False)),
            ("own Origin, a wrong token", dict(
                body={"source": st.HERO, "translation": hacked},
                token=TOKEN[:-1] + ("1" if TOKEN.endswith("0") else "0"))),
            ("own Origin, the token in the URL", dict(
                body={"source": st.HERO, "translation": hacked}, token=False,
                path=f"/api/correct?token={TOKEN}")),
            ("the token and Origin, but a form's type", dict(
                body=form, kind="application/x-www-form-urlencoded")),
        ]
        for name, case in cases:
            with self.subTest(name):
                headers = {k: v for k, v in (case.get("headers") or {}).items() if v}
                h = dict(own(SERVER), **{"Content-Type": case.get("kind", "application/json")})
                if case.get("headers", {}).get("Origin", "") is None:
                    del h["Origin"]
                h.update(headers)
                if case.get("token") is not False:
                    h["X-Mirelo-Token"] = case.get("token") or TOKEN
                body = case["body"]
                data = body if isinstance(body, bytes) else json.dumps(body).encode()
                status, r, text = SERVER.request("POST", case.get("path", "/api/correct"), data, h)
                self.assertIn(status, (403, 415), text)
                self.assertIsNone(r.getheader("Access-Control-Allow-Origin"))
        for path, body in (("/api/engine-folder", {"folder": "C:\\Evil"}),
                           ("/api/name", {"from": "悪", "to": "악"}),
                           ("/api/import?game=x", {"a": "b"})):
            with self.subTest(path):
                status, _, text = change(SERVER, path, body, token=False,
                                         headers={"Origin": "http://evil.example"})
                self.assertEqual(status, 403, text)
        for folder, _, files in os.walk(DICT):
            for name in files:
                with open(os.path.join(folder, name), encoding="utf-8") as f:
                    self.assertNotIn(hacked, f.read())
        self.assertEqual(translate(SERVER, st.HERO), (200, st.HERO_KO))
        # The engine's folder stayed the test's.
        out = st.wine("reg", "query", st.KEY, "/v", "FilePath").stdout.decode("utf-8", "replace")
        self.assertIn(st.windows(FOLDER), out)

    def test_no_cross_origin_headers_on_the_workbench_even_with_cors(self):
        server = st.Server(FOLDER, "--options", "11", "--workers", "1", "--lang", "ko", "--cors",
                           "http://localhost:8080", "--plugin",
                           os.path.join(PLUGIN_DIR, "Mirelo.dll"))
        try:
            origin = {"Origin": "http://localhost:8080"}
            _, r, _ = server.request("GET", "/translate?text=%E5%8B%87%E8%80%85", headers=origin)
            self.assertEqual(r.getheader("Access-Control-Allow-Origin"), "http://localhost:8080")
            for method, path in (("GET", "/"), ("GET", "/api/live"), ("GET", "/api/dictionary"),
                                 ("OPTIONS", "/api/correct"), ("GET", "/api/history")):
                with self.subTest(path=path, method=method):
                    status, r, _ = server.request(method, path, headers=origin)
                    self.assertEqual(status, 403)  # --cors opens /translate, not the workbench
                    self.assertIsNone(r.getheader("Access-Control-Allow-Origin"))
                    self.assertIsNone(r.getheader("Access-Control-Allow-Methods"))
                    self.assertEqual(r.getheader("Cache-Control"), "no-store")
            status, r, _ = server.request("OPTIONS", "/api/correct", headers=dict(
                origin, **{"Access-Control-Request-Method": "POST",
                           "Access-Control-Request-Headers": "x-mirelo-token"}))
            self.assertEqual(status, 403)
            # A token is made per run, and is not the other server's.
            other = token_of(server)
            self.assertEqual(len(other), 64)
            self.assertNotEqual(other, TOKEN)
            # The page speaks the program's language: Korean here, English for the other
            # server under this English display.
            self.assertIn('<html lang="ko">', server.get("/")[2])
            self.assertIn('<html lang="en">', SERVER.get("/")[2])
        finally:
            server.stop()

    def test_the_page_is_whole_inside_the_program_and_kept_to_its_origin(self):
        status, r, page = SERVER.get("/")
        self.assertEqual(status, 200)
        self.assertEqual(r.getheader("Content-Type"), "text/html; charset=utf-8")
        policy = r.getheader("Content-Security-Policy")
        self.assertIn("default-src 'none'", policy)
        self.assertIn("frame-ancestors 'none'", policy)
        for path, kind in (("/app.js", "text/javascript"), ("/app.css", "text/css")):
            status, r, text = SERVER.get(path)
            self.assertEqual((status, r.getheader("Content-Type").split(";")[0]), (200, kind))
            # Nothing is fetched from elsewhere.
            self.assertNotRegex(text, r"https?://(?!127\.0\.0\.1)")
        self.assertNotRegex(page, r"(src|href)=\"https?:")
        self.assertEqual(SERVER.get("/nothing-here")[0], 404)
        # The console names the page.
        self.assertIn(f" http://127.0.0.1:{SERVER.port}/ ", SERVER.output())


class Api(unittest.TestCase):
    def test_live_lines_arrive_while_a_page_waits_and_the_last_game_opens_first(self):
        lines = LIVE[:3]
        for ja, ko in lines:
            self.assertEqual(translate(SERVER, ja), (200, ko))
        first = json.loads(SERVER.get("/api/live")[2])
        self.assertEqual(first["game"], "")
        self.assertEqual([(l["source"], l["translation"]) for l in first["lines"][-3:]], lines)
        self.assertEqual(first["lines"][-1]["client"], "http")
        self.assertEqual(SERVER.get("/api/live?after=x")[0], 400)
        self.assertEqual(SERVER.get("/api/live?game=..%2Fx")[0], 400)

        # A page waiting for lines gets each one as it is answered; the time from the answer to
        # the waiting page's answer is the server's share of the live view's delay.
        delays = []
        with concurrent.futures.ThreadPoolExecutor(1) as pool:
            last = first["last"]
            for i in range(20):
                waiting = pool.submit(lambda a: (SERVER.get(f"/api/live?after={a}&game=")[2],
                                                 time.monotonic()), last)
                time.sleep(0.05)
                self.assertFalse(waiting.done())
                ja = LIVE[3 + i][0]
                status, _, _ = SERVER.get("/translate?text=" + urllib.parse.quote(ja))
                answered = time.monotonic()
                body, woke = waiting.result(timeout=10)
                got = json.loads(body)
                self.assertEqual([l["source"] for l in got["lines"]], [ja])
                last = got["last"]
                delays.append((woke - answered) * 1000)
        median = statistics.median(delays)
        print(f"live wait answered {median:.1f} ms (median) after the answer", file=sys.stderr)
        self.assertLess(median, 200)

        # A long text is kept cut, and said to be.
        long_line = st.HERO * 250
        SERVER.request("POST", "/translate", json.dumps({"text": long_line}),
                       {"Content-Type": "application/json"})
        kept = json.loads(SERVER.get("/api/live")[2])["lines"][-1]
        self.assertTrue(kept["cut"])
        self.assertTrue(long_line.startswith(kept["source"]))
        self.assertLessEqual(len(kept["source"].encode()), 4096)
        self.assertGreater(len(kept["source"].encode()), 4090)

    def test_pages_left_waiting_hold_at_most_32_connections(self):
        last = json.loads(SERVER.get("/api/live?game=")[2])["last"]
        conns = [SERVER.connection() for _ in range(40)]
        try:
            for c in conns:
                c.request("GET", f"/api/live?after={last}&game=")
                time.sleep(0.02)
            # Those waiting longest were answered, empty, to make room.
            for c in conns[:8]:
                r = c.getresponse()
                self.assertEqual((r.status, json.loads(r.read())["lines"]), (200, []))
            ja, ko = LIVE[0]
            self.assertEqual(translate(SERVER, ja), (200, ko))
            for c in conns[8:]:
                r = c.getresponse()
                self.assertEqual([l["source"] for l in json.loads(r.read())["lines"]], [ja])
        finally:
            for c in conns:
                c.close()

    def test_a_correction_is_what_the_next_request_gets_at_once(self):
        line, fixed = "勇者が来た", "용사가 왔다!"
        self.assertNotEqual(translate(SERVER, line)[1], fixed)
        refusals = [({"source": line + "\n次", "translation": fixed}, 400),
                    ({"source": line, "translation": "a\tb"}, 400),
                    ({"source": "", "translation": fixed}, 400),
                    ({"game": "../up", "source": line, "translation": fixed}, 400),
                    ({"game": "a\\b", "source": line, "translation": fixed}, 400),
                    # Entries the plug-in would skip: no Shift-JIS form, over 1024 bytes.
                    ({"source": "😀" + line, "translation": fixed}, 400),
                    ({"source": "あ" * 513, "translation": fixed}, 400),
                    ({"source": line, "translation": "가" * 513}, 400),
                    ({"source": line + "\0次", "translation": fixed}, 400)]
        for body, expected in refusals:
            with self.subTest(body=body):
                self.assertEqual(change(SERVER, "/api/correct", body)[0], expected)
        self.assertFalse(os.path.exists(os.path.join(DICT, "corrections.txt")))

        # The media type is read as /translate reads it: any case, with parameters.
        status, _, text = change(SERVER, "/api/correct",
                                 {"game": "", "source": line + "  ", "translation": fixed},
                                 headers={"Content-Type": "Application/JSON; charset=UTF-8"})
        self.assertEqual(status, 200, text)
        answer = json.loads(text)
        self.assertTrue(answer["in_use"], answer)
        print(f"correction in use after {answer['waited_ms']} ms", file=sys.stderr)
        # Every request from now on, at once, on every worker.
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            got = list(pool.map(lambda _: translate(SERVER, line), range(16)))
        self.assertEqual(set(got), {(200, fixed)})
        with open(os.path.join(DICT, "corrections.txt"), encoding="utf-8") as f:
            self.assertEqual(f.read(), f"line\t{line}\t{fixed}\n")
        # Corrected again: the entry is replaced, not repeated.
        again = "용사가 왔습니다"
        self.assertEqual(change(SERVER, "/api/correct", {"source": line, "translation": again})[0],
                         200)
        self.assertEqual(translate(SERVER, line), (200, again))
        with open(os.path.join(DICT, "corrections.txt"), encoding="utf-8") as f:
            self.assertEqual(f.read(), f"line\t{line}\t{again}\n")
        # A game's correction goes to its own folder.
        status, _, text = change(SERVER, "/api/correct",
                                 {"game": "MyGame", "source": line, "translation": fixed})
        self.assertEqual(status, 200, text)
        with open(os.path.join(DICT, "mygame", "corrections.txt"), encoding="utf-8") as f:
            self.assertEqual(f.read(), f"line\t{line}\t{fixed}\n")
        # The server's watch reads the changed folders a moment later and forgets the lines
        # the pool had learnt: that must not land in the middle of a later test. The common
        # folder is looked at right after the games', so once the game's folder was read and
        # a second has passed with nothing more read, nothing is left to come.
        def read():
            return [e["text"] for e in json.loads(SERVER.get("/status")[2])["events"]
                    if e["kind"] == "dictionary"]
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and not any("mygame" in t for t in read()):
            time.sleep(0.1)
        seen, still = read(), time.monotonic()
        while time.monotonic() - still < 1 and time.monotonic() < deadline:
            time.sleep(0.1)
            if read() != seen:
                seen, still = read(), time.monotonic()

    def test_correcting_a_quarantined_line_never_sends_it_to_the_engine_again(self):
        def restarts():
            return sum(w["restarts"] for w in json.loads(SERVER.get("/status")[2])["workers"])
        before = restarts()
        self.assertEqual(translate(SERVER, st.CRASH)[0], 422)
        self.assertEqual(restarts(), before + 2)
        fixed = "붕괴"
        status, _, text = change(SERVER, "/api/correct", {"source": st.CRASH, "translation": fixed})
        self.assertEqual(status, 200, text)
        self.assertEqual(translate(SERVER, st.CRASH), (200, fixed))
        self.assertEqual(restarts(), before + 2)

    def test_dictionary_entries_problems_and_a_name_with_its_particles(self):
        got = json.loads(SERVER.get("/api/dictionary")[2])
        common = got["folders"][0]
        self.assertIn({"kind": "name", "from": NAME_JA, "to": NAME_KO, "file": "10-names.txt",
                       "line": 1, "overridden": False}, common["entries"])
        self.assertTrue(any(p["text"].startswith("10-names.txt:2") for p in got["problems"]),
                        got["problems"])
        cases = [("미령", "{}는 {}를 불렀다. {}와 {}이 웃었다. {}로 갔다.",
                  "미령은 미령을 불렀다. 미령과 미령이 웃었다. 미령으로 갔다."),
                 ("유나", "{}은 {}을 {}과 {}으로 {}이", "유나는 유나를 유나와 유나로 유나가"),
                 ("하늘", "{}으로 {}는", "하늘로 하늘은"),  # ㄹ takes 로
                 ("Mia", "{}는", "Mia는")]  # no Hangul: left as written
        for name, sample, expected in cases:
            with self.subTest(name=name):
                q = urllib.parse.urlencode({"name": name, "sample": sample})
                self.assertEqual(json.loads(SERVER.get("/api/preview?" + q)[2])["line"], expected)

        status, _, text = change(SERVER, "/api/name", {"game": "namegame", "from": "勇者",
                                                       "to": "용사"})
        self.assertEqual(status, 200, text)
        self.assertEqual(change(SERVER, "/api/name", {"from": "勇者", "to": "용\t사"})[0], 400)
        with open(os.path.join(DICT, "namegame", "names.txt"), encoding="utf-8") as f:
            self.assertEqual(f.read(), "name\t勇者\t용사\n")
        got = json.loads(SERVER.get("/api/dictionary?game=NameGame")[2])
        self.assertEqual([f["scope"] for f in got["folders"]], ["", "namegame"])
        self.assertEqual(got["folders"][1]["entries"][0]["to"], "용사")

    def test_a_pattern_tried_on_a_sample_line_as_the_plugin_runs_it(self):
        def tried(kind, pattern, to, sample):
            q = urllib.parse.urlencode({"kind": kind, "from": pattern, "to": to, "sample": sample})
            status, _, text = SERVER.get("/api/try-pattern?" + q)
            return status, json.loads(text)

        # Whole characters only: a match never takes half of a two-byte one.
        status, got = tried("pre-re", "《[^》]*》", "", "勇者《ゆうしゃ》が魔王《まおう》を倒した")
        self.assertEqual((status, got["line"], got["skipped"]), (200, "勇者が魔王を倒した", ""))
        self.assertEqual(got["replaced"][:2], [["《ゆうしゃ》", ""], ["《まおう》", ""]])
        self.assertEqual(tried("post-re", r"\s+([.,!?])", "$1", "가자 ! 어서 .")[1]["line"],
                         "가자! 어서.")
        # A runaway search is left out for that line, which stays as it was.
        line = "a" * 5000 + "b"
        status, got = tried("pre-re", "(a+)+$", "x", line)
        self.assertEqual((status, got["skipped"], got["line"]), (200, "steps", line))
        # A pattern the plug-in would skip says why; what cannot be tried is refused.
        status, got = tried("pre-re", "(unclosed", "", "あ")
        self.assertEqual((status, len(got["problems"])), (200, 1), got)
        self.assertEqual(tried("pre-re", "a", "", "😀")[0], 400)
        self.assertEqual(tried("pre", "a", "", "a")[0], 400)
        # One trial at a time per client; the others are not held up meanwhile.
        with concurrent.futures.ThreadPoolExecutor(6) as pool:
            runs = [pool.submit(tried, "pre-re", "(a+)+$", "x", line) for _ in range(6)]
            t0 = time.monotonic()
            self.assertEqual(SERVER.get("/api/games")[0], 200)
            other = time.monotonic() - t0
            statuses = sorted(r.result()[0] for r in runs)
        self.assertIn(200, statuses)
        self.assertIn(429, statuses)
        self.assertEqual(set(statuses), {200, 429})
        self.assertEqual(tried("pre-re", "a", "b", "a")[1]["line"], "b")
        print(f"\n  trials at once: {statuses}; /api/games meanwhile {other * 1000:.0f} ms",
              file=sys.stderr)

    def test_history_routes_go_through_the_page_and_the_diagnosis_is_there(self):
        for path, key in (("/api/history?game=", "lines"), ("/api/search?q=%E5%8B%87", "lines"),
                          ("/api/games", "games")):
            with self.subTest(path=path):
                status, head, text = SERVER.get(path)
                self.assertEqual(status, 200, text)
                self.assertIsInstance(json.loads(text)[key], list)
        # Through the page's router: a rebinding Host is refused there too.
        status, _, text = SERVER.request("GET", "/api/games",
                                         headers={"Host": f"evil.example:{SERVER.port}"})
        self.assertEqual(status, 421, text)
        got = json.loads(SERVER.get("/api/status")[2])
        self.assertTrue(got["ready"], got)
        self.assertIn(st.windows(FOLDER), got["report"])

    def test_a_quarantined_line_of_a_game_is_shown_as_its_text_with_its_game(self):
        path = "/game/" + urllib.parse.quote("미레이Game") + "/translate?text="
        self.assertEqual(SERVER.get(path + urllib.parse.quote(GAME_CRASH))[0], 422)
        got = json.loads(SERVER.get("/api/status")[2])
        self.assertIn({"game": "미레이game", "line": GAME_CRASH}, got["quarantined"])
        self.assertNotIn({"game": "", "line": GAME_CRASH}, got["quarantined"])
        # /status keeps its list of lines, each the text alone.
        self.assertIn(GAME_CRASH, json.loads(SERVER.get("/status")[2])["quarantined"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[4:])
