#!/usr/bin/env bash
# Figures for mirelo-server's history under Wine, in one run:
#  - /translate of a line never asked before, with the history on against --no-history: two
#    servers side by side (--workers 1 each), asked in turn over keep-alive, one line at a
#    time, then 8 clients in batches of 25 new lines; the ratios of the two (goal <= 1.1x);
#  - a history of ROWS rows (default 1,000,000) filled by the server's own writer
#    (history_bench.exe): searches in Japanese and Korean, trigram and short, one game and
#    every game (goal < 300 ms), and the database's size.
# Usage: bench/history_figures.sh [LINES_PER_ROUND [ROWS]]   (after a win32 build of
#        mirelo-server, Mirelo, J2KEngine and history_bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/win32/bin
export WINEPREFIX=$root/build/win32/wineprefix WINEARCH=win32 WINEDEBUG=-all
export BIN=$bin LINES=${1:-500}
rows=${2:-1000000}
tmp=$(mktemp -d)
export TMPDIR_FIGURES=$tmp
reset() {
    "$root/cmake/wine-run.sh" "$WINEPREFIX" reg add 'HKCU\Software\Kestrow\Mirelo' /v FilePath \
        /d "Z:$(echo "$root/build/win32/engine" | tr / '\\')" /f >/dev/null
    rm -rf "$tmp"
}
trap reset EXIT
cp "$bin/J2KEngine.dll" "$tmp/"
mkdir -p "$tmp/Dat" "$tmp/data"
echo "mode demo" >"$tmp/Dat/standin.txt"
"$root/cmake/wine-run.sh" "$WINEPREFIX" reg add 'HKCU\Software\Kestrow\Mirelo' /v FilePath \
    /d "Z:$(echo "$tmp" | tr / '\\')" /f >/dev/null

python3 - <<'EOF'
import concurrent.futures, http.client, json, os, signal, socket, statistics, subprocess, time
import urllib.parse

BIN, TMP, LINES = os.environ["BIN"], os.environ["TMPDIR_FIGURES"], int(os.environ["LINES"])
ENV = dict(os.environ, WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    def __init__(self, *args):
        self.port = free_port()
        self.proc = subprocess.Popen(
            ["wine", os.path.join(BIN, "mirelo-server.exe"), "--port", str(self.port),
             "--workers", "1", *args], env=ENV, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            try:
                c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
                c.request("GET", "/status")
                if json.loads(c.getresponse().read())["engine_ready"]:
                    return
            except (OSError, ValueError, http.client.HTTPException):
                pass
            time.sleep(0.2)
        raise RuntimeError("the server did not start")

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        try:
            self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, signal.SIGKILL)


def line(tag, i):
    return f"{tag}の新しい台詞{i}番、勇者は魔王を倒した。"


off = Server("--no-history")
on = Server("--data", "Z:" + os.path.join(TMP, "data").replace("/", "\\"))
try:
    conns = {s: http.client.HTTPConnection("127.0.0.1", s.port, timeout=30) for s in (off, on)}
    times = {off: [], on: []}
    ratios = []
    # Three rounds, the two servers asked in turn within each: the machine's other load
    # falls on both alike.
    for round_ in range(3):
        mark = {s: len(times[s]) for s in (off, on)}
        for i in range(round_ * LINES, (round_ + 1) * LINES):
            for s, tag in ((off, "甲"), (on, "乙")) if i % 2 else ((on, "乙"), (off, "甲")):
                t0 = time.perf_counter()
                conns[s].request("GET", "/translate?text=" + urllib.parse.quote(line(tag, i)))
                conns[s].getresponse().read()
                times[s].append((time.perf_counter() - t0) * 1000)
        ratios.append(statistics.median(times[on][mark[on]:]) /
                      statistics.median(times[off][mark[off]:]))
    for name, s in (("history off", off), ("history on ", on)):
        t = sorted(times[s])
        print(f"/translate of a new line, {name}: median {statistics.median(t):.2f} ms, "
              f"mean {statistics.mean(t):.2f} ms, p90 {t[len(t) * 9 // 10]:.2f} ms ({len(t)} lines)")
    ratio = statistics.median(times[on]) / statistics.median(times[off])
    print(f"ratio on/off, one line at a time: median {ratio:.3f}x (rounds: "
          + ", ".join(f"{r:.3f}x" for r in ratios) + ") (goal <= 1.1x)")

    def batches(s, tag):
        def client(k):
            c = http.client.HTTPConnection("127.0.0.1", s.port, timeout=60)
            for b in range(10):
                body = "\n".join(line(f"{tag}{k}-{b}", j) for j in range(25))
                c.request("POST", "/translate", body.encode(), {"Content-Type": "text/plain"})
                c.getresponse().read()
        t0 = time.perf_counter()
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            list(pool.map(client, range(8)))
        return 2000 / (time.perf_counter() - t0)

    rates = {off: [], on: []}
    for round_ in range(4):
        for s, tag in ((off, "丙"), (on, "丁")) if round_ % 2 else ((on, "丁"), (off, "丙")):
            rates[s].append(batches(s, f"{tag}{round_}"))
    off_rate, on_rate = statistics.median(rates[off]), statistics.median(rates[on])
    print(f"8 clients, batches of 25 new lines (median of 4 rounds): off {off_rate:.0f} lines/s, "
          f"on {on_rate:.0f} lines/s, time ratio on/off {off_rate / on_rate:.3f}x (goal <= 1.1x)")
finally:
    off.stop()
    on.stop()
EOF

"$root/cmake/wine-run.sh" "$WINEPREFIX" "$bin/history_bench.exe" \
    "Z:$(echo "$tmp/data" | tr / '\\')" "$rows"
