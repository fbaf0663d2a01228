#!/usr/bin/env bash
# Figures for mirelo-server under Wine, in one run: requests per second over keep-alive on a
# cached line (wrk), the time per cached request against a warm Translate of the same line in
# mirelo-host, and the server's resident memory after 1,000 and after 100,000 requests.
# Usage: bench/server_figures.sh [SECONDS_PER_TURN [ROUNDS]]   (after a win32 build; needs
# wrk, curl and /usr/bin/time)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/win32/bin
secs=${1:-3}
rounds=${2:-6}
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

# Short turns in alternation, since the load of a shared machine shifts: compare within each
# round. Besides wall time, the CPU time of the program and of the prefix's wineserver per
# request (per line for the host program), which scheduling delays do not inflate.
tick_us=$((1000000 / $(getconf CLK_TCK)))
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }
ino=$(printf '%x' "$(stat -c %i "$WINEPREFIX")")
ws=$(for p in $(ps -eo pid,comm | awk '$2 ~ /^wineserver/ {print $1}'); do
    readlink "/proc/$p/cwd" | grep -q -- "-$ino\$" && echo "$p"; done | head -n1)
[ -n "$ws" ] || { echo "no wineserver found for $WINEPREFIX" >&2; exit 1; }
for round in $(seq "$rounds"); do
    s0=$(cpu "$pid") w0=$(cpu "$ws") n0=$(served)
    http=$(wrk -t1 -c1 -d"${secs}s" "$url/translate?from=ja&to=ko&text=$query" |
        awk '/Requests\/sec/ {printf "%.1f", 1e6/$2}')
    s1=$(cpu "$pid") w1=$(cpu "$ws") n1=$(served)
    httpcpu=$(( ((s1 - s0) + (w1 - w0)) * tick_us / (n1 - n0 - 1) ))
    many=$(wrk -t2 -c8 -d"${secs}s" "$url/translate?from=ja&to=ko&text=$query" |
        awk '/Requests\/sec/ {print $2}')
    w0=$(cpu "$ws")
    bare=$(/usr/bin/time -f "%U %S" -o "$tmp/time" wine "$bin/mirelo-host.exe" --options 11 \
        --stats "$tmp/lines.txt" 2>&1 >/dev/null | tr -d '\r' | sed -n 's/.*mean: \([0-9.]*\) us/\1/p')
    w1=$(cpu "$ws")
    barecpu=$(awk -v w=$(( (w1 - w0) * tick_us )) '{printf "%d", ($1 + $2) * 1e6 / 20000 + w / 20000}' "$tmp/time")
    echo "round $round: wall: HTTP $http us per cached request, warm Translate $bare us," \
        "ratio $(awk -v a="$http" -v b="$bare" 'BEGIN {printf "%.1f", a / b}');" \
        "CPU: HTTP $httpcpu us, Translate $barecpu us;" \
        "8 connections: $many requests/s"
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
