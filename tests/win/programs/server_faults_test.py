#!/usr/bin/env python3
"""mirelo-server's workers under a run where many lines hang or end the engine's process.

Usage: server_faults_test.py BIN_DIR WINE_RUN PREFIX [unittest arguments]
Same fixtures as server_test.py (whose helpers it uses); an engine folder of its own.
"""
import concurrent.futures
import json
import os
import shutil
import sys
import tempfile
import time
import unittest

import server_test as st

CLIENTS = 8
LINES = 2000
BATCH = 25  # lines per request; each client sends LINES / CLIENTS / BATCH requests
HANGS, EXITS = 50, 50


def line(i):
    return f"混合{i // 500}の{i % 500}", f"혼합{i // 500}의 {i % 500}"


# Every 20th line fails, hanging the engine and ending the worker in turn: one or two in a
# batch, and none of them next to another.
FAULTS = {20 * k + 7: ("hang" if k % 2 == 0 else "exit") for k in range(HANGS + EXITS)}


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rpartition(")")[2].split()
    return int(fields[11]) + int(fields[12])  # utime, stime


def setUpModule():
    global FOLDER
    rules = ["mode scripted", "otherwise null"]
    for i in range(LINES):
        ja, ko = line(i)
        if i in FAULTS:
            rules.append(f"fault translate {st.sjis(ja)} {FAULTS[i]}")
        else:
            rules.append(f"map {st.sjis(ja)} {ko.encode('cp949').hex()}")
    FOLDER = st.engine_folder("mirelo-server-faults-", rules)


def tearDownModule():
    st.forget_engine_folder(FOLDER)


class MixedFaults(unittest.TestCase):
    def test_2000_lines_from_8_clients_with_100_failing_lines_over_2_workers(self):
        server = st.Server(FOLDER, "--options", "11", "--workers", "2", "--timeout", "600")
        try:
            server.wait_for_workers(2)

            def client(c):
                # Client c sends lines c, c + 8, c + 16 ..., so every batch mixes the runs.
                mine = list(range(c, LINES, CLIENTS))
                got = {}
                for b in range(0, len(mine), BATCH):
                    part = mine[b:b + BATCH]
                    status, out, failed = st.post_lines(server, [line(i)[0] for i in part],
                                                        timeout=300)
                    self.assertEqual(status, 200)
                    self.assertEqual(len(out), len(part))
                    bad = {int(k) for k in failed.split(",")} if failed else set()
                    for k, i in enumerate(part):
                        got[i] = (out[k], k in bad)
                return got

            t0 = time.monotonic()
            with concurrent.futures.ThreadPoolExecutor(CLIENTS) as pool:
                results = {}
                for got in pool.map(client, range(CLIENTS)):
                    results.update(got)
            took = time.monotonic() - t0
            print(f"mixed-faults run: {took:.1f} s", file=sys.stderr)

            self.assertEqual(len(results), LINES)
            wrong = [(i, results[i]) for i in range(LINES) if i not in FAULTS
                     and results[i] != (line(i)[1], False)]
            self.assertEqual(wrong, [])
            # A failed line is kept as sent, at its own place.
            unfailed = [i for i in FAULTS if results[i] != (line(i)[0], True)]
            self.assertEqual(unfailed, [])

            self.assertIsNone(server.proc.poll(), server.output())
            server.wait_for_workers(2, limit_s=30)
            status = json.loads(server.get("/status")[2])
            self.assertEqual(len(status["workers"]), 2, status)
            # Each hang ends one worker; each exit ends two and is then quarantined.
            self.assertEqual(sorted(status["quarantined"]),
                             sorted(line(i)[0] for i, kind in FAULTS.items() if kind == "exit"))
            self.assertEqual(sum(w["restarts"] for w in status["workers"]), HANGS + 2 * EXITS,
                             status)
            self.assertEqual(st.post_lines(server, [line(0)[0]])[:2], (200, [line(0)[1]]))
        finally:
            server.stop()

    def test_a_missing_engine_costs_no_cpu_while_503s_are_answered(self):
        empty = tempfile.mkdtemp(dir=FOLDER)
        os.makedirs(os.path.join(empty, "Dat"))
        st.set_install_path(empty)
        server = None
        try:
            server = st.Server(FOLDER, "--options", "11", "--workers", "2", ready=False)
            url = "/translate?text=%E5%8B%87%E8%80%85"
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline:
                status, _, text = server.get(url)
                if text != "the plug-in is not ready\n":
                    break
                time.sleep(0.2)
            self.assertEqual(status, 503, text)
            # Past the first quick tries of a start, the pauses between them are long.
            time.sleep(8)
            pids = [server.proc.pid, *server.worker_pids()]
            before = {p: cpu_ticks(p) for p in pids}
            t0 = time.monotonic()
            for _ in range(6):
                self.assertEqual(server.get(url)[0], 503)
                time.sleep(0.5)
            wall = time.monotonic() - t0
            used = 0
            seen = set(pids) | set(server.worker_pids())
            for p in seen:
                try:
                    used += cpu_ticks(p) - before.get(p, 0)
                except OSError:
                    pass
            share = used / os.sysconf("SC_CLK_TCK") / wall
            print(f"CPU while the engine is missing: {share:.1%} of a core ({used} ticks, "
                  f"{len(seen)} processes)", file=sys.stderr)
            self.assertLess(share, 0.05)
            # The pauses double: 1, 2, 4 s ... for each worker, as the event log says.
            events = json.loads(server.get("/status")[2])["events"]
            waits = [e["text"] for e in events if e["kind"] == "backoff" and "worker 1:" in e["text"]]
            self.assertEqual(waits[:3], [f"worker 1: next start in {n} s" for n in (1, 2, 4)],
                             events)
        finally:
            if server:
                server.kill()
            st.set_install_path(FOLDER)

    def test_a_worker_whose_engine_never_starts_is_ended_and_tried_again(self):
        folder = tempfile.mkdtemp(dir=FOLDER)
        os.makedirs(os.path.join(folder, "Dat"))
        shutil.copy(os.path.join(st.BIN, "J2KEngine.dll"), folder)
        script = os.path.join(folder, "Dat", "standin.txt")
        crash = "崩壊"
        rules = f"mode demo\nfault translate {st.sjis(crash)} exit\n"
        with open(script, "w") as f:
            f.write(rules)
        st.set_install_path(folder)
        server = None
        try:
            server = st.Server(folder, "--options", "11", "--workers", "1", "--timeout", "2")
            # From now on an engine hangs in its start-up, and the worker ends.
            with open(script, "w") as f:
                f.write(rules + "fault init hang\n")
            t0 = time.monotonic()
            self.assertEqual(server.get("/translate?text=" + st.urllib.parse.quote(crash))[0],
                             504)
            fault = ""
            while "did not start" not in fault and time.monotonic() - t0 < 30:
                time.sleep(0.1)
                fault = json.loads(server.get("/status")[2])["workers"][0]["last_fault"]
            # Its start is given 20 s.
            self.assertGreater(time.monotonic() - t0, 19.5)
            self.assertIn("did not start within 20 s", fault)
            with open(script, "w") as f:
                f.write(rules)
            server.wait_for_workers(1, limit_s=10)
            self.assertEqual(st.post_lines(server, [st.HERO])[:2], (200, [st.HERO_KO]))
        finally:
            if server:
                server.stop()
            st.set_install_path(FOLDER)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[4:]], verbosity=2)
