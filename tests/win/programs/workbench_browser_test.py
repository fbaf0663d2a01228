#!/usr/bin/env python3
"""The workbench page in a real browser: headless Chromium, driven by Selenium, against
mirelo-server under Wine.

Usage: workbench_browser_test.py BIN_DIR WINE_RUN PREFIX SHOTS_DIR [unittest arguments]
Screenshots of the live view and of a correction go into SHOTS_DIR (the guide's docs/).
Same fixtures as server_test.py (whose helpers it uses).
"""
import json
import os
import shutil
import statistics
import sys
import tempfile
import time
import unittest
import urllib.parse

try:
    from selenium import webdriver
except ImportError:  # Debian's python3-selenium, under another Python
    sys.path.append("/usr/lib/python3/dist-packages")
    from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

SHOTS = sys.argv.pop(4)
import server_test as st  # noqa: E402  (reads BIN, WINE_RUN and PREFIX from argv)

CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync"]
EARLIER = [(f"前の{i}行", f"앞의 {i}줄") for i in range(60)]
LIVE = [(f"新しい{i}行", f"새로운 {i}줄") for i in range(20)]
PLAYER = [("ミレイ「おはよう、勇者さま」", "미레이 \"좋은 아침, 용사님\""),
          ("今日はどこへ行くの？", "오늘은 어디로 가?"),
          ("魔王の城は北の山の向こうだ。", "마왕의 성은 북쪽 산 너머다.")]


def setUpModule():
    global FOLDER, SERVER, DICT, BROWSER
    FOLDER = st.engine_folder("mirelo-browser-", [
        "mode demo", f"fault translate {st.sjis(st.CRASH)} exit",
        *(f"map {st.sjis(ja)} {ko.encode('cp949').hex()}" for ja, ko in EARLIER + LIVE + PLAYER)])
    plugin_dir = tempfile.mkdtemp(prefix="plugin-", dir=FOLDER)
    shutil.copy(os.path.join(st.BIN, "Mirelo.dll"), plugin_dir)
    DICT = os.path.join(plugin_dir, "MireloDict")
    os.makedirs(DICT)
    SERVER = st.Server(FOLDER, "--options", "11", "--workers", "2", "--lang", "ko", "--plugin",
                       os.path.join(plugin_dir, "Mirelo.dll"))
    try:
        BROWSER = browser(FOLDER)
    except Exception:
        SERVER.stop()
        raise


def tearDownModule():
    try:
        BROWSER.quit()
        SERVER.stop()
    finally:
        st.forget_engine_folder(FOLDER)


def browser(folder, width=1280, height=720):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for flag in CHROMIUM_FLAGS:
        options.add_argument(flag)
    options.add_argument(f"--user-data-dir={tempfile.mkdtemp(prefix='chromium-', dir=folder)}")
    options.add_argument(f"--window-size={width},{height}")
    options.add_argument("--lang=ko")
    return webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)


def translate(server, line):
    return server.get("/translate?text=" + urllib.parse.quote(line))[0::2]


def wait(condition, limit_s=15):
    return WebDriverWait(BROWSER, limit_s, poll_frequency=0.02).until(lambda d: condition())


def live_sources():
    return BROWSER.execute_script(
        "return [...document.querySelectorAll('#live-lines li')].map(l => l.dataset.source)")


class Live(unittest.TestCase):
    def test_lines_appear_as_translated_and_the_view_follows_until_scrolled_up(self):
        for ja, ko in EARLIER:
            self.assertEqual(translate(SERVER, ja), (200, ko))
        BROWSER.get(f"http://127.0.0.1:{SERVER.port}/")
        wait(lambda: len(live_sources()) >= 50)
        self.assertEqual(live_sources()[-50:], [ja for ja, _ in EARLIER[-50:]])
        tab = BROWSER.find_element(By.ID, "live")
        at_bottom = ("const t = arguments[0]; "
                     "return t.scrollHeight - t.scrollTop - t.clientHeight < 2")
        self.assertTrue(BROWSER.execute_script(at_bottom, tab))

        # When each line reaches the page's DOM, against when its answer reached the client.
        BROWSER.execute_script("""
            window.seen = {};
            new MutationObserver(records => { for (const r of records) for (const n of r.addedNodes)
                if (n.dataset && n.dataset.source) window.seen[n.dataset.source] = Date.now(); })
              .observe(document.getElementById('live-lines'), {childList: true});""")
        answered = {}
        for ja, ko in LIVE:
            self.assertEqual(translate(SERVER, ja), (200, ko))
            answered[ja] = time.time() * 1000
            time.sleep(0.1)
        wait(lambda: len(BROWSER.execute_script("return window.seen")) == len(LIVE))
        seen = BROWSER.execute_script("return window.seen")
        delays = [seen[ja] - answered[ja] for ja, _ in LIVE]
        median = statistics.median(delays)
        print(f"answer to DOM: median {median:.0f} ms, max {max(delays):.0f} ms over "
              f"{len(delays)} lines", file=sys.stderr)
        self.assertLess(median, 200)
        self.assertTrue(BROWSER.execute_script(at_bottom, tab))
        item = BROWSER.find_elements(By.CSS_SELECTOR, "#live-lines li")[-1]
        self.assertEqual(item.find_element(By.CLASS_NAME, "src").text, LIVE[-1][0])
        self.assertEqual(item.find_element(By.CLASS_NAME, "tr").text, LIVE[-1][1])

        # Scrolled up, the view stays where the player put it and says what came.
        BROWSER.execute_script("arguments[0].scrollTop = 0", tab)
        for ja, ko in PLAYER:
            translate(SERVER, ja)
        wait(lambda: live_sources()[-1] == PLAYER[-1][0])
        self.assertEqual(BROWSER.execute_script("return arguments[0].scrollTop", tab), 0)
        more = BROWSER.find_element(By.ID, "to-bottom")
        self.assertTrue(more.is_displayed())
        self.assertIn("3", more.text)
        more.click()
        wait(lambda: BROWSER.execute_script(at_bottom, tab))
        BROWSER.save_screenshot(os.path.join(SHOTS, "workbench-live.png"))

        # A narrow window: nothing runs off to the side, every tab can still be reached.
        BROWSER.set_window_size(420, 800)
        try:
            wait(lambda: BROWSER.execute_script("return window.innerWidth") < 500)
            self.assertLessEqual(BROWSER.execute_script(
                "return document.documentElement.scrollWidth - window.innerWidth"), 0)
            for button in BROWSER.find_elements(By.CSS_SELECTOR, "#tabs button"):
                self.assertTrue(button.is_displayed())
                self.assertLessEqual(button.rect["x"] + button.rect["width"], 420)
        finally:
            BROWSER.set_window_size(1280, 720)

    def test_then_a_correction_made_in_the_page_is_what_the_next_request_gets(self):
        line, fixed = PLAYER[0][0], "미레이 \"좋은 아침이에요, 용사님\""
        translate(SERVER, line)
        BROWSER.get(f"http://127.0.0.1:{SERVER.port}/")
        wait(lambda: line in live_sources())
        item = [li for li in BROWSER.find_elements(By.CSS_SELECTOR, "#live-lines li")
                if li.get_attribute("data-source") == line][-1]
        item.find_element(By.CLASS_NAME, "edit").click()
        box = item.find_element(By.CSS_SELECTOR, "textarea.edit")
        box.clear()
        box.send_keys(fixed)
        BROWSER.save_screenshot(os.path.join(SHOTS, "workbench-correct.png"))
        item.find_element(By.CSS_SELECTOR, "button.save").click()
        wait(lambda: "corrected" in item.get_attribute("class"))
        self.assertEqual(item.find_element(By.CLASS_NAME, "tr").text, fixed)
        self.assertEqual(translate(SERVER, line), (200, fixed))
        wait(lambda: line in live_sources()[-1:])


class Search(unittest.TestCase):
    def found(self, query):
        """The sources the page's search box lists for query, once its answer is in."""
        BROWSER.execute_script("document.getElementById('search-lines').replaceChildren("
                               "document.createElement('i'))")  # gone once the answer is in
        box = BROWSER.find_element(By.ID, "search-q")
        box.clear()
        box.send_keys(query)
        BROWSER.find_element(By.CSS_SELECTOR, "#search-form button").click()
        wait(lambda: not BROWSER.find_elements(By.CSS_SELECTOR, "#search-lines i"))
        return [li.get_attribute("data-source")
                for li in BROWSER.find_elements(By.CSS_SELECTOR, "#search-lines li")]

    def test_the_search_box_finds_a_line_by_japanese_korean_and_short_queries(self):
        line, ko = PLAYER[2]
        self.assertEqual(translate(SERVER, line), (200, ko))
        # The history is written off the request path: the line is in before the page looks.
        wait(lambda: line in SERVER.get("/api/search?q=" + urllib.parse.quote(line))[2])
        BROWSER.get(f"http://127.0.0.1:{SERVER.port}/")
        BROWSER.find_element(By.CSS_SELECTOR, "#tabs button[data-tab=search]").click()
        for query in ("北の山", "북쪽 산", "魔王", "너머", "城"):
            with self.subTest(query=query):
                self.assertIn(line, self.found(query))
        item = BROWSER.find_elements(By.CSS_SELECTOR, "#search-lines li")[0]
        self.assertEqual(item.find_element(By.CLASS_NAME, "tr").text, ko)
        for query in ("南の山", "남쪽", "南"):
            with self.subTest(query=query):
                self.assertEqual(self.found(query), [])

    def test_a_game_kept_in_the_history_from_an_earlier_run_can_be_chosen(self):
        line = PLAYER[1][0]
        self.assertEqual(SERVER.get("/game/Sagame/translate?text=" + urllib.parse.quote(line))[0],
                         200)
        wait(lambda: "sagame" in SERVER.get("/api/games")[2])
        # A server started later on the same data folder has not translated it yet.
        later = st.Server(FOLDER, "--workers", "1", "--lang", "ko", ready=False)
        try:
            BROWSER.get(f"http://127.0.0.1:{later.port}/")
            options = "return [...document.querySelectorAll('#game option')].map(o => o.value)"
            wait(lambda: "sagame" in BROWSER.execute_script(options))
            BROWSER.find_element(By.CSS_SELECTOR, "#game option[value=sagame]").click()
            BROWSER.find_element(By.CSS_SELECTOR, "#tabs button[data-tab=history]").click()
            wait(lambda: line in [li.get_attribute("data-source") for li in
                                  BROWSER.find_elements(By.CSS_SELECTOR, "#history-lines li")])
        finally:
            later.kill()


class Dictionary(unittest.TestCase):
    def test_a_pattern_is_tried_on_a_sample_line_in_the_page(self):
        BROWSER.get(f"http://127.0.0.1:{SERVER.port}/")
        BROWSER.find_element(By.CSS_SELECTOR, "#tabs button[data-tab=dict]").click()
        for field, text in (("from", "《[^》]*》"), ("sample", "勇者《ゆうしゃ》が来た")):
            BROWSER.find_element(By.ID, "pattern-" + field).send_keys(text)
        BROWSER.find_element(By.CSS_SELECTOR, "#pattern-form button").click()
        result = BROWSER.find_element(By.ID, "pattern-result")
        wait(lambda: result.text)
        self.assertEqual(result.text, "勇者が来た")
        self.assertNotIn("bad", result.get_attribute("class"))


class Status(unittest.TestCase):
    def test_the_quarantined_line_and_the_missing_engine_advice(self):
        self.assertEqual(translate(SERVER, st.CRASH)[0], 422)
        BROWSER.get(f"http://127.0.0.1:{SERVER.port}/")
        BROWSER.find_element(By.CSS_SELECTOR, "#tabs button[data-tab=status]").click()
        wait(lambda: st.CRASH in BROWSER.find_element(By.ID, "quarantined").text)
        self.assertIn("엔진: 준비됨", BROWSER.find_element(By.ID, "engine").text)
        self.assertIn(f'"{st.CRASH}"', BROWSER.find_element(By.ID, "events").text)
        self.assertFalse(BROWSER.find_element(By.ID, "advice").is_displayed())

        empty = tempfile.mkdtemp(dir=FOLDER)
        os.makedirs(os.path.join(empty, "Dat"))
        st.set_install_path(empty)
        server = None
        try:
            server = st.Server(FOLDER, "--options", "11", "--workers", "1", "--lang", "ko",
                               ready=False)
            BROWSER.get(f"http://127.0.0.1:{server.port}/")
            BROWSER.find_element(By.CSS_SELECTOR, "#tabs button[data-tab=status]").click()
            advice = BROWSER.find_element(By.ID, "advice")
            wait(lambda: advice.is_displayed())
            diagnosis = st.wine(os.path.join(st.BIN, "mirelo-server.exe"), "--diagnose",
                                "--lang", "ko").stdout.decode("utf-8")
            wait(lambda: BROWSER.find_element(By.ID, "advice-report").text.strip() ==
                 diagnosis.strip())
            # The button records the folder as --set-engine-folder does; the server, trying
            # again now and then, then finds the engine.
            BROWSER.find_element(By.ID, "engine-folder").send_keys(st.windows(FOLDER))
            BROWSER.find_element(By.CSS_SELECTOR, "#engine-form button").click()
            wait(lambda: BROWSER.find_element(By.ID, "engine-result").text != "")
            out = st.wine("reg", "query", st.KEY, "/v", "FilePath").stdout.decode("utf-8")
            self.assertIn(st.windows(FOLDER), out)
            wait(lambda: "엔진: 준비됨" in BROWSER.find_element(By.ID, "engine").text, 60)
            self.assertEqual(translate(server, st.HERO), (200, st.HERO_KO))
        finally:
            if server:
                server.kill()
            st.set_install_path(FOLDER)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[4:])
