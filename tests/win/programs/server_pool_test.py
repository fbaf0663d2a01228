#!/usr/bin/env python3
"""mirelo-server's worker pool against hanging lines, stopped and killed workers and a batch
larger than the queue.

Usage: server_pool_test.py BIN_DIR WINE_RUN PREFIX [unittest arguments]
Same fixtures as server_test.py (whose helpers it uses); an engine folder of its own.
"""
import concurrent.futures
import json
import os
import random
import signal
import socket
import sys
import threading
import time
import unittest
import urllib.parse

import server_test as st

HANGING = [f"停止{i}" for i in range(41)]  # each hangs the engine
GOOD = [(f"良好{i}", f"양호{i}") for i in range(60)]
SLOW = [(f"低速{i}", f"저속{i}") for i in range(40)]  # answered after 300 ms
HELD = [(f"保留{i}", f"보류{i}") for i in range(2)]  # answered after 2 s, holding the worker
ENDS_OLD = "旧終了"  # ends the workers started while its rule is there
CRASHES = [f"崩落{i}" for i in range(6)]  # each ends its process, two workers in all


def setUpModule():
    global FOLDER
    FOLDER = st.engine_folder("mirelo-server-pool-", [
        "mode demo", *(f"fault translate {st.sjis(h)} hang" for h in HANGING),
        f"fault translate {st.sjis(st.CRASH)} exit",
        *(f"fault translate {st.sjis(c)} exit" for c in CRASHES),
        *(f"delay {st.sjis(ja)} 300" for ja, _ in SLOW),
        *(f"delay {st.sjis(ja)} 2000" for ja, _ in HELD),
        *(f"map {st.sjis(ja)} {ko.encode('cp949').hex()}" for ja, ko in GOOD + SLOW + HELD)])


def tearDownModule():
    st.forget_engine_folder(FOLDER)


def ask(server, line, timeout=60):
    t0 = time.monotonic()
    status, _, text = server.get("/translate?text=" + urllib.parse.quote(line),
                                 conn=server.connection(timeout))
    return status, text, time.monotonic() - t0


def restarts(server):
    return sum(w["restarts"] for w in json.loads(server.get("/status")[2])["workers"])


class HangingLines(unittest.TestCase):
    def setUp(self):
        self.server = st.Server(FOLDER, "--options", "11", "--workers", "2", "--timeout", "120")
        self.server.wait_for_workers(2)
        # Answered once, so known to be answered; past the recent answers' second after.
        for ja, ko in GOOD:
            self.assertEqual(ask(self.server, ja)[:2], (200, ko))
        time.sleep(1.2)

    def tearDown(self):
        self.server.kill()

    def test_12_hanging_lines_then_a_good_line_answered_within_4_s(self):
        with concurrent.futures.ThreadPoolExecutor(13) as pool:
            hung = [pool.submit(ask, self.server, h) for h in HANGING[:12]]
            time.sleep(0.3)
            status, text, took = ask(self.server, GOOD[0][0])
            print(f"good line behind 12 hanging ones: {took:.2f} s", file=sys.stderr)
            self.assertEqual((status, text), (200, GOOD[0][1]))
            self.assertLess(took, 4.0)
            self.assertEqual([f.result()[0] for f in hung], [504] * 12)
        # Remembered: asked again, it fails at once and costs no worker.
        before = restarts(self.server)
        status, _, took = ask(self.server, HANGING[0])
        self.assertEqual(status, 504)
        self.assertLess(took, 0.5)
        self.assertEqual(restarts(self.server), before)

    def test_40_hanging_lines_and_good_lines_meanwhile_never_wait_over_4_s(self):
        waits = []
        with concurrent.futures.ThreadPoolExecutor(40) as pool:
            hung = [pool.submit(ask, self.server, h, 200) for h in HANGING[:40]]
            time.sleep(0.3)
            for ja, ko in GOOD[1:16]:  # about 20 s of it
                status, text, took = ask(self.server, ja)
                self.assertEqual((status, text), (200, ko))
                waits.append(took)
                time.sleep(max(0.0, 1.3 - took))
            self.server.kill()  # the rest of the hanging lines is not the point
            for f in hung:
                f.exception()
        print(f"good lines among 40 hanging ones: worst {max(waits):.2f} s", file=sys.stderr)
        self.assertLess(max(waits), 4.0, waits)

    def test_the_same_hanging_line_from_12_clients_costs_one_worker(self):
        with concurrent.futures.ThreadPoolExecutor(12) as pool:
            got = list(pool.map(lambda _: ask(self.server, HANGING[40])[0], range(12)))
        self.assertEqual(got, [504] * 12)
        self.server.wait_for_workers(2)
        self.assertEqual(restarts(self.server), 1)
        # The hang is logged once, with its line, in /status and on the console.
        events = json.loads(self.server.get("/status")[2])["events"]
        hangs = [e["text"] for e in events if e["kind"] == "hang"]
        self.assertEqual(len(hangs), 1, events)
        self.assertIn(HANGING[40], hangs[0])
        self.assertIn(HANGING[40], self.server.output())


class StoppedAndKilledWorkers(unittest.TestCase):
    def test_a_worker_stopped_from_outside_is_replaced_after_the_servers_deadline(self):
        server = st.Server(FOLDER, "--options", "11", "--workers", "1", "--timeout", "60")
        stopped = []
        try:
            with concurrent.futures.ThreadPoolExecutor(1) as pool:
                pending = pool.submit(ask, server, SLOW[0][0])
                time.sleep(0.15)
                stopped = server.worker_pids()
                for pid in stopped:
                    os.kill(pid, signal.SIGSTOP)
                status, _, took = pending.result(timeout=30)
            self.assertEqual(status, 504)
            self.assertGreater(took, 5.5)
            self.assertLess(took, 9.0)
            server.wait_for_workers(1, limit_s=15)
            workers = json.loads(server.get("/status")[2])["workers"]
            self.assertIn("past 6 s", workers[0]["last_fault"])
            events = json.loads(server.get("/status")[2])["events"]
            self.assertTrue(any(e["kind"] == "deadline" and SLOW[0][0] in e["text"]
                                for e in events), events)
            self.assertEqual(ask(server, GOOD[0][0])[:2], (200, GOOD[0][1]))
        finally:
            for pid in stopped:
                try:
                    os.kill(pid, signal.SIGCONT)
                except ProcessLookupError:
                    pass
            server.kill()

    def test_workers_killed_at_random_under_load_quarantine_no_good_line(self):
        server = st.Server(FOLDER, "--options", "11", "--workers", "2", "--timeout", "120")
        stop = threading.Event()
        try:
            server.wait_for_workers(2)

            def client(c):
                wrong = []
                for r in range(12):
                    part = SLOW[(c * 5 + r) % 35:][:5]
                    status, out, failed = st.post_lines(server, [ja for ja, _ in part], 120)
                    if (status, out, failed) != (200, [ko for _, ko in part], None):
                        wrong.append((status, out, failed))
                return wrong

            def killer():
                kills = 0
                while not stop.wait(random.uniform(0.4, 1.2)):
                    pids = server.worker_pids()
                    if pids:
                        os.kill(random.choice(pids), signal.SIGKILL)
                        kills += 1
                return kills

            with concurrent.futures.ThreadPoolExecutor(5) as pool:
                kills = pool.submit(killer)
                results = list(pool.map(client, range(4)))
                stop.set()
                print(f"random kills under load: {kills.result()}", file=sys.stderr)
            self.assertEqual(results, [[]] * 4)
            self.assertGreater(kills.result(), 5)
            status = json.loads(server.get("/status")[2])
            self.assertEqual(status["quarantined"], [], status)
            self.assertTrue(any("ended from outside" in w["last_fault"]
                                for w in status["workers"]), status)
        finally:
            stop.set()
            server.kill()


    def test_a_line_that_ended_its_worker_is_retried_on_a_fresh_worker_only(self):
        script = os.path.join(FOLDER, "Dat", "standin.txt")
        with open(script) as f:
            rules = f.read()
        with open(script, "w") as f:
            f.write(rules + f"fault translate {st.sjis(ENDS_OLD)} exit\n")
        server = st.Server(FOLDER, "--options", "11", "--workers", "2", "--timeout", "60")
        try:
            server.wait_for_workers(2)
            # Engines started from now on (each start reads the rules) answer the line.
            with open(script, "w") as f:
                f.write(rules)
            part = SLOW[:4]
            self.assertEqual(st.post_lines(server, [ja for ja, _ in part]),
                             (200, [ko for _, ko in part], None))
            workers = json.loads(server.get("/status")[2])["workers"]
            self.assertTrue(all(w["lines"] > 0 for w in workers), workers)
            # The other worker has answered lines, so it is not fresh: it must not be tried.
            status, text, _ = ask(server, ENDS_OLD)
            self.assertEqual(status, 200, text)
            status = json.loads(server.get("/status")[2])
            self.assertEqual(status["quarantined"], [], status)
            self.assertEqual(sum(w["restarts"] for w in status["workers"]), 1, status)
        finally:
            with open(script, "w") as f:
                f.write(rules)
            server.kill()


class NoWorker(unittest.TestCase):
    def test_while_no_worker_can_start_requests_get_503_with_the_reason(self):
        script = os.path.join(FOLDER, "Dat", "standin.txt")
        with open(script) as f:
            rules = f.read()
        server = st.Server(FOLDER, "--options", "11", "--workers", "1", "--timeout", "3")
        try:
            # From now on an engine hangs in its start-up; the crash ends the only worker.
            with open(script, "w") as f:
                f.write(rules + "fault init hang\n")
            ask(server, st.CRASH)
            t0 = time.monotonic()
            status, text = 0, ""
            while status != 503 and time.monotonic() - t0 < 15:
                status, text, _ = ask(server, GOOD[0][0])
                time.sleep(0.5)
            self.assertEqual(status, 503, text)
            self.assertIn("no worker has been able to take a line", text)
            with open(script, "w") as f:
                f.write(rules)
            server.wait_for_workers(1, limit_s=40)
            self.assertEqual(ask(server, GOOD[0][0])[:2], (200, GOOD[0][1]))
        finally:
            with open(script, "w") as f:
                f.write(rules)
            server.kill()


    def test_the_pause_before_a_start_is_short_again_once_a_worker_was_ready(self):
        script = os.path.join(FOLDER, "Dat", "standin.txt")
        with open(script) as f:
            rules = f.read()
        server = st.Server(FOLDER, "--options", "11", "--workers", "1")

        def pauses():
            return [int(e["text"].split()[-2]) for e in
                    json.loads(server.get("/status")[2])["events"] if e["kind"] == "backoff"]

        def fail_starts_and_end_the_worker():
            with open(script, "w") as f:
                f.write(rules + "fault init read\n")
            for pid in server.worker_pids():
                os.kill(pid, signal.SIGKILL)

        try:
            server.wait_for_workers(1)
            fail_starts_and_end_the_worker()
            # Failed starts are tried again after 1, 2, then 4 s.
            deadline = time.monotonic() + 30
            while 4 not in pauses() and time.monotonic() < deadline:
                time.sleep(0.2)
            self.assertEqual(pauses()[:3], [1, 2, 4], server.output())
            with open(script, "w") as f:
                f.write(rules)
            server.wait_for_workers(1, limit_s=30)
            seen = len(pauses())
            fail_starts_and_end_the_worker()
            deadline = time.monotonic() + 30
            while len(pauses()) == seen and time.monotonic() < deadline:
                time.sleep(0.2)
            self.assertEqual(pauses()[seen:seen + 1], [1], server.output())
        finally:
            with open(script, "w") as f:
                f.write(rules)
            server.kill()


    def test_past_10_workers_ended_by_their_line_in_5_s_starts_pause_15_s(self):
        server = st.Server(FOLDER, "--options", "11", "--workers", "2", "--timeout", "120")
        try:
            server.wait_for_workers(2)
            # Six lines that each end two workers: the eleventh death pauses the starts.
            t0 = time.monotonic()
            with concurrent.futures.ThreadPoolExecutor(1) as pool:
                batch = pool.submit(st.post_lines, server, CRASHES, 120)
                status = {}
                while time.monotonic() - t0 < 60:
                    status = json.loads(server.get("/status")[2])
                    if status["workers_paused_s"] > 0:
                        break
                    time.sleep(0.1)
                paused_at = time.monotonic()
                self.assertTrue(0 < status["workers_paused_s"] <= 15, status)
                self.assertIn("within 5 s", status["plugin_problem"])
                kinds = [e["kind"] for e in status["events"]]
                self.assertEqual(kinds.count("paused"), 1, status["events"])
                self.assertGreaterEqual(kinds.count("death"), 11, status["events"])
                # No worker is started meanwhile (one already starting may finish), and the
                # pause ends by itself.
                time.sleep(1.5)
                while time.monotonic() - paused_at < 10:
                    workers = json.loads(server.get("/status")[2])["workers"]
                    self.assertNotIn("starting", [w["state"] for w in workers], workers)
                    time.sleep(0.3)
                server.wait_for_workers(2, limit_s=40)
                self.assertGreater(time.monotonic() - paused_at, 13)
                status = json.loads(server.get("/status")[2])
                self.assertEqual(status["workers_paused_s"], 0, status)
                self.assertIn("resumed", [e["kind"] for e in status["events"]])
                self.assertEqual(batch.result()[0], 200)
            self.assertEqual(ask(server, GOOD[0][0])[:2], (200, GOOD[0][1]))
        finally:
            server.kill()


class LargeBatch(unittest.TestCase):
    def test_100000_lines_do_not_shut_out_one_line_requests(self):
        server = st.Server(FOLDER, "--options", "11", "--workers", "2", "--timeout", "600")
        try:
            server.wait_for_workers(2)
            body = "\n".join(f"語{i}" for i in range(100000)).encode()
            self.assertLess(len(body), st.MIB)
            with socket.create_connection(("127.0.0.1", server.port), timeout=30) as big:
                big.sendall(b"POST /translate HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Type: text/plain\r\n" % server.port
                            + f"Content-Length: {len(body)}\r\n\r\n".encode() + body)
                time.sleep(1.0)
                worst = 0.0
                for ja, ko in GOOD[:20]:
                    status, text, took = ask(server, ja)
                    self.assertEqual((status, text), (200, ko))
                    worst = max(worst, took)
                    time.sleep(0.2)
                status = json.loads(server.get("/status")[2])
                # Counted as they go, not at the batch's end.
                self.assertLess(status["queued"], 100000 - 20, status)
                self.assertGreater(status["plugin_calls"], 20, status)
                # Another batch over half the queue waits for room, unless it was all answered
                # a moment ago.
                post = lambda lines: server.request("POST", "/translate", "\n".join(lines)
                                                    .encode(), {"Content-Type": "text/plain"})
                self.assertEqual(post([f"新{i}" for i in range(12000)])[::2],
                                 (503, "too many lines waiting; try again\n"))
                self.assertEqual(ask(server, GOOD[0][0])[:2], (200, GOOD[0][1]))
                self.assertEqual(post([GOOD[0][0]] * 12000)[::2],
                                 (200, "\n".join([GOOD[0][1]] * 12000)))
            print(f"one-line requests beside a 100,000-line batch: worst {worst:.2f} s",
                  file=sys.stderr)
            self.assertLess(worst, 2.0)
        finally:
            server.kill()

    def test_a_batch_over_half_the_queue_counts_as_half_beside_other_work(self):
        # A queue of 16 lines, one worker held on a line while the requests come.
        server = st.Server(FOLDER, "--options", "11", "--workers", "1", "--queue", "16",
                           "--timeout", "60")

        def statuses(held, first, then):
            with concurrent.futures.ThreadPoolExecutor(2) as pool:
                holding = pool.submit(ask, server, held[0])
                time.sleep(0.3)
                waiting = pool.submit(st.post_lines, server, [ja for ja, _ in first])
                time.sleep(0.3)
                last = st.post_lines(server, [ja for ja, _ in then])
                return [holding.result()[0], waiting.result()[0], last[0]]

        try:
            server.wait_for_workers(1)
            # 1 held and 5 waiting, then 12 lines counted as 8: 14 of 16.
            self.assertEqual(statuses(HELD[0], GOOD[:5], GOOD[5:17]), [200] * 3)
            # 1 held and 12 lines counted as 8, then 6: 15 of 16.
            self.assertEqual(statuses(HELD[1], GOOD[20:32], GOOD[32:38]), [200] * 3)
        finally:
            server.kill()


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[4:]], verbosity=2)
