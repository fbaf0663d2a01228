#!/usr/bin/env bash
# Figures for mirelo-server's worker pool under Wine, all in one run:
#  - throughput: 2,000 distinct lines, the stand-in engine burning 2 ms of CPU on each, a fresh
#    server (cold caches) with --workers 1, 2 and 4, driven by 8 clients in batches of 25;
#  - one line asked again and again over keep-alive (wrk, one connection) through /translate
#    with --workers 1 (the server answers it itself), and 5,000 lines in turn that the plug-in
#    has cached but the server no longer holds (each goes to the worker), against a warm
#    Translate of the same line in mirelo-host --stats and against bare_http_server (Beast
#    alone, a fixed body) driven by the same wrk: the HTTP floor and the pool's hop;
#  - resident memory of the server and its workers after 10,000 and 100,000 requests
#    (1,000 lines the caches keep, and every 1,000th request a line that ends its worker).
#  - optionally, the same two through an earlier mirelo-server.exe that hosted the plug-in in its
#    own process (built from an older commit, e.g. in a second worktree): the pool's hop against
#    the in-process path.
# Usage: bench/pool_figures.sh [SECONDS_PER_WRK_TURN [EARLIER_SERVER_EXE]]
#        (after a win32 build; needs wrk, curl)
set -euo pipefail
. "$(dirname "$0")/stand_in_folder.sh"
secs=${1:-5}
export SECS=$secs EARLIER=${2:-}

python3 - <<'EOF'
import concurrent.futures, http.client, json, os, re, subprocess, time
import urllib.parse

import wine_server
from wine_server import ENV, free_port

BIN, SECS, TMP = os.environ["BIN"], os.environ["SECS"], os.environ["TMPDIR_FIGURES"]
EARLIER = os.environ["EARLIER"]
HERO = "勇者は魔王を倒した。"


def sjis(s):
    return s.encode("cp932").hex()


def script(*rules):
    with open(os.path.join(TMP, "Dat", "standin.txt"), "w") as f:
        f.write("\n".join(rules) + "\n")


class Server:
    def __init__(self, *args, exe="mirelo-server.exe", ready="/status"):
        self.port = free_port()
        server = exe.endswith("mirelo-server.exe")
        self.proc = wine_server.start(os.path.join(BIN, exe), *args,
                                      *(["--port", str(self.port)] if server
                                        else [str(self.port), HERO]))
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            try:
                self.get(ready)
                return
            except OSError:
                time.sleep(0.2)
        raise RuntimeError(exe + " did not start")

    def get(self, path):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        c.request("GET", path)
        data = c.getresponse().read()
        c.close()
        return data

    def status(self):
        return json.loads(self.get("/status"))

    def wait_workers(self, n):
        deadline = time.monotonic() + 60
        while self.status()["workers_ready"] != n:
            if time.monotonic() > deadline:
                raise RuntimeError(f"not {n} workers")
            time.sleep(0.1)

    def pids(self):
        out = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/stat") as f:
                    group = int(f.read().rpartition(")")[2].split()[2])
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    cmd = f.read()
            except OSError:
                continue
            if group == self.proc.pid and (int(pid) == self.proc.pid or b"--worker" in cmd):
                out.append(int(pid))
        return out

    def stop(self):
        wine_server.stop(self.proc)


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


def post(port, lines):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=300)
    c.request("POST", "/translate", "\n".join(lines).encode(), {"Content-Type": "text/plain"})
    r = c.getresponse()
    r.read()
    c.close()
    return r.status


def wrk_us(url, script=None):
    out = subprocess.run(["wrk", "-t1", "-c1", f"-d{SECS}s", *(["-s", script] if script else []),
                          url], capture_output=True, text=True, check=True).stdout
    return 1e6 / float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))


# Throughput.
lines = [f"行{i}の文" for i in range(2000)]
script("mode scripted", "otherwise echo", "burn * 2000")
rates = {}
for n in (1, 2, 4):
    s = Server("--workers", str(n))
    try:
        s.wait_workers(n)
        batches = [lines[i:i + 25] for i in range(0, len(lines), 25)]
        t0 = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            codes = list(pool.map(lambda b: post(s.port, b), batches))
        took = time.monotonic() - t0
        assert codes == [200] * len(batches), codes
        assert s.status()["engine_lines"] == len(lines)
        rates[n] = len(lines) / took
    finally:
        s.stop()
    print(f"throughput, --workers {n}: {rates[n]:.0f} lines/s ({took:.2f} s for 2,000 lines)",
          flush=True)
print(f"throughput ratio 2 vs 1 workers: {rates[2] / rates[1]:.2f}x (goal >= 1.8x on "
      f"{os.cpu_count()} cores); 4 vs 1: {rates[4] / rates[1]:.2f}x", flush=True)

# The hop and the HTTP floor, one cached line, in alternation for three rounds.
script("mode demo")
with open(os.path.join(TMP, "lines.txt"), "w") as f:
    f.write((HERO + "\n") * 20000)
query = "/translate?from=ja&to=ko&text=" + urllib.parse.quote(HERO)
# Asked in turn, each line comes back after 5,000 others: long after the server's own
# answers (one second) have lapsed, well within the plug-in's cache (10,000 lines).
rotating = [f"勇者{i}の村" for i in range(5000)]
rotate_lua = os.path.join(TMP, "rotate.lua")
with open(rotate_lua, "w") as f:
    f.write("paths = {" + ",".join('"/translate?text=%s"' % urllib.parse.quote(t)
                                   for t in rotating) + "}\n"
            "i = 0\nrequest = function()\n  i = i % #paths + 1\n"
            "  return wrk.format(\"GET\", paths[i])\nend\n")
s = Server("--workers", "1", "--options", "11")
bare = Server(exe="bare_http_server.exe", ready="/")
earlier = None
if EARLIER:
    earlier = Server("--options", "11", "--plugin", os.path.join(BIN, "Mirelo.dll"),
                     exe=os.path.abspath(EARLIER))
    earlier.wait_workers(len(earlier.status()["workers"]))  # else its first answers are 503
    earlier.get(query)
    assert post(earlier.port, rotating) == 200
try:
    s.wait_workers(1)
    s.get(query)
    assert post(s.port, rotating) == 200
    for r in range(3):
        pool_us = wrk_us(f"http://127.0.0.1:{s.port}{query}")
        hop_us = wrk_us(f"http://127.0.0.1:{s.port}/", rotate_lua)
        floor_us = wrk_us(f"http://127.0.0.1:{bare.port}{query}")
        host = subprocess.run(["wine", os.path.join(BIN, "mirelo-host.exe"), "--options", "11",
                               "--stats", os.path.join(TMP, "lines.txt")], env=ENV,
                              stdin=subprocess.DEVNULL, capture_output=True)
        m = re.search(rb"mean: ([\d.]+) us", host.stdout + host.stderr)
        warm_us = float(m.group(1)) if m else float("nan")
        print(f"round {r + 1}: a line asked again {pool_us:.0f} us, lines cached by the plug-in "
              f"{hop_us:.0f} us, bare Beast server {floor_us:.0f} us, warm Translate in "
              f"mirelo-host {warm_us:.1f} us; asked again / bare {pool_us / floor_us:.2f}x (goal "
              f"<= 1.5x), plug-in-cached / bare {hop_us / floor_us:.2f}x", flush=True)
        if earlier:
            old_us = wrk_us(f"http://127.0.0.1:{earlier.port}{query}")
            old_hop_us = wrk_us(f"http://127.0.0.1:{earlier.port}/", rotate_lua)
            print(f"   in-process server: a line asked again {old_us:.0f} us, lines cached by the "
                  f"plug-in {old_hop_us:.0f} us; pool / in-process: asked again "
                  f"{pool_us / old_us:.2f}x, plug-in-cached {hop_us / old_hop_us:.2f}x (goal <= "
                  f"1.3x)", flush=True)
    st = s.status()
    print(f"answered by the server itself: {st['recent_hits']:,}; by the plug-in's cache: "
          f"{st['cache_hits']:,}", flush=True)
finally:
    bare.stop()
    s.stop()
    if earlier:
        earlier.stop()

# Memory over 100,000 requests, workers restarted on the way.
crashers = [f"崩壊{i}" for i in range(100)]
script("mode demo", *(f"fault translate {sjis(c)} exit" for c in crashers))
s = Server("--workers", "2", "--options", "11")
try:
    s.wait_workers(2)

    def run(k, start, end, step=4):
        c = http.client.HTTPConnection("127.0.0.1", s.port, timeout=60)
        for i in range(start + k, end, step):
            text = crashers[i // 1000 % 100] if i % 1000 == 999 else f"勇者{i % 1000}の村"
            c.request("GET", "/translate?text=" + urllib.parse.quote(text))
            c.getresponse().read()
        c.close()

    def to(start, end):
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            list(pool.map(lambda k: run(k, start, end), range(4)))
        s.wait_workers(2)
        st = s.status()
        mem = ", ".join(f"{'server' if p == s.proc.pid else 'worker'} {rss_kib(p)} KiB"
                        for p in s.pids())
        print(f"after {end:,} requests ({st['lines_served']:,} lines served, "
              f"{sum(w['restarts'] for w in st['workers'])} worker restarts): {mem}", flush=True)

    t0 = time.monotonic()
    to(0, 10000)
    to(10000, 100000)
    print(f"100,000 requests in {time.monotonic() - t0:.0f} s", flush=True)
finally:
    s.stop()
EOF
