#!/usr/bin/env bash
# How long mirelo-server takes to answer GET /status under Wine, in three states, one run:
#  - idle: two workers ready, nothing else asked;
#  - a storm of worker replacements: two clients each ask, one after another, lines that the
#    stand-in engine answers by ending its process (`fault translate ... exit`), every line a
#    new one, so a worker is ended and started again all the time;
#  - 1 MiB posts: two clients each post, one after another, a text/plain batch just under the
#    server's 1 MiB body limit (the same 100 short lines over and over).
# In each state REQUESTS requests (a new connection each, 10 ms apart) give the median and the
# worst; each state is also given as a ratio to the idle figure of the same server and round.
# Given the build folder of another tree (e.g. an earlier commit's build/win32), its
# mirelo-server.exe is measured in the same run, in turn with this tree's, round by round; both
# run in this tree's Wine prefix with this tree's plug-in and stand-in engine.
# Usage: bench/status_latency.sh [REQUESTS [OTHER_BUILD_DIR [ROUNDS]]]
#        (after a win32 build)
set -euo pipefail
. "$(dirname "$0")/stand_in_folder.sh"
export REQUESTS=${1:-200} OTHER=${2:-} ROUNDS=${3:-2}

python3 - <<'EOF'
import http.client, itertools, json, os, statistics, threading, time
import urllib.parse

import wine_server
from wine_server import free_port

BIN, TMP, OTHER = os.environ["BIN"], os.environ["TMPDIR_FIGURES"], os.environ["OTHER"]
REQUESTS, ROUNDS = int(os.environ["REQUESTS"]), int(os.environ["ROUNDS"])
BODY_LIMIT = 1 << 20

# Enough process-ending lines that no client ever runs out, each a new line to the server.
crashers = [f"崩壊{i}の行" for i in range(4000)]
with open(os.path.join(TMP, "Dat", "standin.txt"), "w") as f:
    f.write("\n".join(["mode demo"] + [f"fault translate {c.encode('cp932').hex()} exit"
                                       for c in crashers]) + "\n")
body = bytearray()
for i in itertools.count():
    line = f"勇者{i % 100}の村\n".encode()
    if len(body) + len(line) > BODY_LIMIT - 16:
        break
    body += line
BODY, BODY_LINES = bytes(body), body.count(b"\n")
WARM = "".join(f"勇者{i}の村\n" for i in range(100)).encode()


class Server:
    def __init__(self, exe):
        self.port = free_port()
        self.proc = wine_server.start(exe, "--port", str(self.port), "--workers", "2",
                                      "--options", "11", "--plugin",
                                      os.path.join(BIN, "Mirelo.dll"))
        deadline = time.monotonic() + 60
        while True:
            try:
                if self.status()["workers_ready"] == 2:
                    return
            except OSError:
                pass
            if time.monotonic() > deadline:
                raise RuntimeError(exe + " did not start two workers")
            time.sleep(0.2)

    def request(self, method, path, body=None, timeout=60):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            c.request(method, path, body, {"Content-Type": "text/plain"} if body else {})
            r = c.getresponse()
            return r.status, r.read()
        finally:
            c.close()

    def status(self):
        return json.loads(self.request("GET", "/status")[1])

    def restarts(self):
        return sum(w["restarts"] for w in self.status()["workers"])

    def stop(self):
        wine_server.stop(self.proc)


def sample(server):
    """REQUESTS timed GET /status, 10 ms apart: (median, worst) in ms."""
    took = []
    for _ in range(REQUESTS):
        t0 = time.perf_counter()
        status, _ = server.request("GET", "/status")
        took.append((time.perf_counter() - t0) * 1000)
        assert status == 200, status
        time.sleep(0.01)
    return statistics.median(took), max(took)


def under_load(server, load):
    """sample() while two clients run load(server, stop, counts) until it is done."""
    stop, counts = threading.Event(), {}
    threads = [threading.Thread(target=load, args=(server, stop, counts, k)) for k in range(2)]
    for t in threads:
        t.start()
    time.sleep(0.5)  # both clients under way
    try:
        return sample(server), counts
    finally:
        stop.set()
        for t in threads:
            t.join()


next_crasher = itertools.count()


def storm(server, stop, counts, k):
    while not stop.is_set():
        text = crashers[next(next_crasher) % len(crashers)]
        try:
            status, _ = server.request("GET", "/translate?text=" + urllib.parse.quote(text))
        except OSError:
            status = "error"
        counts[status] = counts.get(status, 0) + 1


def posts(server, stop, counts, k):
    while not stop.is_set():
        t0 = time.perf_counter()
        try:
            status, _ = server.request("POST", "/translate", BODY, timeout=300)
        except OSError:
            status = "error"
        counts[status] = counts.get(status, 0) + 1
        counts.setdefault("seconds", []).append(time.perf_counter() - t0)


servers = [("this tree", os.path.join(BIN, "mirelo-server.exe"))]
if OTHER:
    servers.append((OTHER, os.path.join(os.path.abspath(OTHER), "bin", "mirelo-server.exe")))
print(f"{REQUESTS} requests per figure; posts of {len(BODY):,} bytes ({BODY_LINES:,} lines)",
      flush=True)
for r in range(ROUNDS):
    for name, exe in servers:
        s = Server(exe)
        try:
            # The 100 lines of the posts, once, so that the posts find them in the caches.
            assert s.request("POST", "/translate", WARM)[0] == 200
            idle = sample(s)
            before = s.restarts()
            t0 = time.monotonic()
            storm_fig, storm_counts = under_load(s, storm)
            replaced = s.restarts() - before
            storm_secs = time.monotonic() - t0
            post_fig, post_counts = under_load(s, posts)
            secs = post_counts.pop("seconds", [])
        finally:
            s.stop()
        print(f"round {r + 1}, {name}: idle median {idle[0]:.1f} ms, worst {idle[1]:.1f} ms; "
              f"storm ({replaced} workers replaced in {storm_secs:.1f} s, answers {storm_counts}) "
              f"median {storm_fig[0]:.1f} ms ({storm_fig[0] / idle[0]:.2f}x), worst "
              f"{storm_fig[1]:.1f} ms ({storm_fig[1] / idle[1]:.2f}x); 1 MiB posts ({post_counts}, "
              f"{statistics.median(secs) if secs else float('nan'):.2f} s each) median "
              f"{post_fig[0]:.1f} ms ({post_fig[0] / idle[0]:.2f}x), worst {post_fig[1]:.1f} ms "
              f"({post_fig[1] / idle[1]:.2f}x); goal: within 2x of idle", flush=True)
EOF
