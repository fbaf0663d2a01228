#!/usr/bin/env bash
# A cached line's worst wait over HTTP while the workbench's slow routes run, in one run:
# during an export of ROWS history lines (default 1,000,000) as JSON and as TSV, and during an
# import of 6 MiB. The history is filled by share_bench.exe (the server's own writer), which
# also times the files at 100,000 and 1,000,000 lines against the earlier JSON.
# Usage: bench/offthread_figures.sh [ROWS [EARLIER_SERVER_EXE]]   (after a win32 build of
#        mirelo-server, Mirelo, J2KEngine and share_bench). An earlier server is asked the same
#        (its import stops at 1 MiB, so it is given 1 MiB).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/win32/bin
export WINEPREFIX=$root/build/win32/wineprefix WINEARCH=win32 WINEDEBUG=-all
export BIN=$bin EARLIER=${2:-}
rows=${1:-1000000}
tmp=$(mktemp -d)
export TMPDIR_FIGURES=$tmp
reset() {
    "$root/cmake/wine-run.sh" "$WINEPREFIX" reg add 'HKCU\Software\Kestrow\Mirelo' /v FilePath \
        /d "Z:$(echo "$root/build/win32/engine" | tr / '\\')" /f >/dev/null
    rm -rf "$tmp"
}
trap reset EXIT
cp "$bin/J2KEngine.dll" "$tmp/"
# A plug-in of its own, so that the corrections imported go beside it and nowhere else.
mkdir -p "$tmp/Dat" "$tmp/data" "$tmp/plugin/MireloDict" "$tmp/logs"
cp "$bin/Mirelo.dll" "$tmp/plugin/"
echo "mode demo" >"$tmp/Dat/standin.txt"
"$root/cmake/wine-run.sh" "$WINEPREFIX" reg add 'HKCU\Software\Kestrow\Mirelo' /v FilePath \
    /d "Z:$(echo "$tmp" | tr / '\\')" /f >/dev/null
"$root/cmake/wine-run.sh" "$WINEPREFIX" "$bin/share_bench.exe" \
    "Z:$(echo "$tmp/data" | tr / '\\')" "$rows"

python3 - <<'PY'
import concurrent.futures, http.client, json, os, re, signal, socket, subprocess, time
import urllib.parse

BIN, TMP, EARLIER = os.environ["BIN"], os.environ["TMPDIR_FIGURES"], os.environ["EARLIER"]
ENV = dict(os.environ, WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d")
HERO = "勇者は魔王を倒した。"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def windows(name):
    return "Z:" + os.path.join(TMP, name).replace("/", "\\")


class Server:
    def __init__(self, exe):
        self.port = free_port()
        self.proc = subprocess.Popen(
            ["wine", exe, "--port", str(self.port), "--workers", "1", "--options", "11",
             "--data", windows("data"), "--log", windows("logs"),
             "--plugin", windows("plugin/Mirelo.dll")],
            env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            try:
                if json.loads(self.ask("GET", "/status")[1])["engine_ready"]:
                    break
            except (OSError, ValueError, http.client.HTTPException):
                time.sleep(0.2)
        page = self.ask("GET", "/")[1].decode()
        self.token = re.search(r'name="mirelo-token" content="([0-9a-f]+)"', page).group(1)

    def ask(self, method, path, body=None, headers=None):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=600)
        c.request(method, path, body, headers or {})
        r = c.getresponse()
        data = r.read()
        c.close()
        return r.status, data

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, signal.SIGKILL)


def worst_wait(server, slow):
    """Runs `slow` while a client asks a cached line every 20 ms; its seconds and the worst wait."""
    cached = "/translate?text=" + urllib.parse.quote(HERO)
    server.ask("GET", cached)
    done, waits = [], []

    def ask():
        c = http.client.HTTPConnection("127.0.0.1", server.port, timeout=600)
        while not done:
            t0 = time.perf_counter()
            c.request("GET", cached)
            c.getresponse().read()
            waits.append(time.perf_counter() - t0)
            time.sleep(0.02)

    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        f = pool.submit(ask)
        time.sleep(0.2)
        t0 = time.perf_counter()
        status = slow()
        took = time.perf_counter() - t0
        done.append(True)
        f.result()
    return status, took, max(waits) * 1000, sorted(waits)[len(waits) // 2] * 1000


servers = [("this build", os.path.join(BIN, "mirelo-server.exe"))]
if EARLIER:
    servers.append(("earlier", EARLIER))
for name, exe in servers:
    s = Server(exe)
    try:
        for fmt in ("json", "tsv"):
            status, took, worst, median = worst_wait(
                s, lambda: s.ask("GET", f"/api/export?game=game&format={fmt}")[0])
            print(f"{name}: export as {fmt} ({status}) {took:.2f} s; cached line meanwhile "
                  f"worst {worst:.0f} ms, median {median:.1f} ms")
        mib = 6 if name == "this build" else 1
        body = "".join(f"台詞{i:07d}\t대사{i}\n" for i in range(40000 * mib)).encode()
        body = body[:mib << 20]
        body = body[:body.rindex(b"\n") + 1]
        headers = {"Content-Type": "text/tab-separated-values", "X-Mirelo-Token": s.token,
                   "Origin": f"http://127.0.0.1:{s.port}"}
        status, took, worst, median = worst_wait(
            s, lambda: s.ask("POST", "/api/import?game=imported", body, headers)[0])
        print(f"{name}: import of {len(body) / 1048576:.1f} MiB ({status}) {took:.2f} s; cached "
              f"line meanwhile worst {worst:.0f} ms, median {median:.1f} ms")
    finally:
        s.stop()
PY
