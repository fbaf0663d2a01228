#!/usr/bin/env bash
# Figures for mirelo-server under Wine, in one run: requests per second over keep-alive on a
# cached line (wrk), the time per cached request against a warm Translate of the same line in
# mirelo-host, and the server's resident memory after 1,000 and after 100,000 requests.
# Usage: bench/server_figures.sh [SECONDS]   (after `cmake --build --preset win32`)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/win32/bin
secs=${1:-10}
export WINEPREFIX=$root/build/win32/wineprefix WINEARCH=win32 WINEDEBUG=-all
"$root/cmake/wine-run.sh" "$WINEPREFIX" reg add 'HKCU\Software\Kestrow\Mirelo' /v FilePath \
    /d "Z:$(echo "$root/build/win32/engine" | tr / '\\')" /f >/dev/null

line='勇者は魔王を倒した。'
query=$(python3 -c "import urllib.parse,sys; print(urllib.parse.quote(sys.argv[1]))" "$line")
tmp=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill -INT $pid 2>/dev/null && wait $pid; rm -rf "$tmp"' EXIT
python3 -c "import sys; sys.stdout.write((sys.argv[1] + '\\n') * 20000)" "$line" >"$tmp/lines.txt"

port=$(python3 -c "import socket; s=socket.socket(); s.bind(('127.0.0.1',0)); print(s.getsockname()[1])")
url="http://127.0.0.1:$port"
setsid wine "$bin/mirelo-server.exe" --port "$port" --options 11 >"$tmp/server.out" 2>&1 </dev/null &
pid=$!
for _ in $(seq 100); do
    curl -s "$url/status" | grep -q '"engine_ready":true' && break
    sleep 0.2
done
rss() { awk '/VmRSS/ {print $2 " KiB"}' "/proc/$pid/status"; }
served() { curl -s "$url/status" | python3 -c "import json,sys; print(json.load(sys.stdin)['lines_served'])"; }

# 1,000 requests on one keep-alive connection, 1,000 different lines (the cache keeps them all).
python3 - "$port" 1000 <<'EOF'
import http.client, sys, urllib.parse
c = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]))
for i in range(int(sys.argv[2])):
    c.request("GET", "/translate?text=" + urllib.parse.quote(f"勇者{i % 1000}の村"))
    c.getresponse().read()
EOF
echo "memory after $(served) requests: $(rss)"

for round in 1 2; do
    echo "== round $round"
    wrk -t1 -c1 -d"${secs}s" "$url/translate?from=ja&to=ko&text=$query" |
        awk '/Requests\/sec/ {printf "1 connection:  %s requests/s, %.1f us per request\n", $2, 1e6/$2}'
    wrk -t2 -c8 -d"${secs}s" "$url/translate?from=ja&to=ko&text=$query" |
        awk '/Requests\/sec/ {printf "8 connections: %s requests/s\n", $2}'
    wine "$bin/mirelo-host.exe" --options 11 --stats "$tmp/lines.txt" 2>&1 >/dev/null |
        sed 's/^mirelo-host: /warm Translate in mirelo-host: /'
done

# On to 100,000 requests, the same 1,000 lines again.
python3 - "$port" $((100000 - $(served))) <<'EOF'
import http.client, sys, urllib.parse, threading
n = int(sys.argv[2])
def run(k):
    c = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]))
    for i in range(k, n, 4):
        c.request("GET", "/translate?text=" + urllib.parse.quote(f"勇者{i % 1000}の村"))
        c.getresponse().read()
ts = [threading.Thread(target=run, args=(k,)) for k in range(4)]
[t.start() for t in ts]
[t.join() for t in ts]
EOF
echo "memory after $(served) requests: $(rss)"
curl -s "$url/status"
