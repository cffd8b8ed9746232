#!/usr/bin/env bash
# Requests per second and latency of the HTTP server against nginx in the same run, both
# closing every connection (wrk reconnects), on loopback: the phone app's page (a static file,
# answered on the I/O thread) against nginx serving the same file, and a small JSON answer from
# the worker pool (the path every action takes) against nginx serving a small JSON file.
# Usage: bench/server.sh [build-dir]   (needs wrk and nginx: scripts/install-deps.sh --test)
set -euo pipefail
build=${1:-build}
duration=${DURATION:-10}
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
      [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null; rm -rf "$work"' EXIT

# nginx with keep-alive off, one worker per core.
mkdir -p "$work/www" "$work/logs"
public=$(cd "$(dirname "$0")/../resources/public" && pwd)
echo '{"ok":true}' > "$work/www/ok.json"
cp "$public/index.html" "$work/www/index.html"
cat > "$work/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  keepalive_timeout 0;
  server { listen 127.0.0.1:18790; root $work/www; }
}
CONF
nginx -c "$work/nginx.conf" -p "$work"
sleep 0.3

# The server under test, fed from a fifo so that it can be asked for its memory.
mkfifo "$work/control"
"$build/bench/server_bench" 18791 "$public" < "$work/control" > "$work/server.out" &
pids+=($!)
exec 7>"$work/control"
for _ in $(seq 50); do grep -q listening "$work/server.out" 2>/dev/null && break; sleep 0.1; done

run() { # url connections -> "rps p50 p99"
  wrk -t "$(( $2 < 2 ? 1 : 2 ))" -c "$2" -d "${duration}s" --latency -H 'Connection: close' "$1" >"$work/wrk.out" 2>&1 || true
  local rps p50 p99
  rps=$(awk '/Requests\/sec/ {print $2}' "$work/wrk.out")
  p50=$(awk '$1=="50%" {print $2}' "$work/wrk.out")
  p99=$(awk '$1=="99%" {print $2}' "$work/wrk.out")
  echo "$rps $p50 $p99"
}

table() { # title harbly-path nginx-path
  echo "$1"
  printf '%-12s %12s %10s %10s %12s %10s %10s %8s\n' concurrency harbly_rps p50 p99 nginx_rps p50 p99 ratio
  for c in 1 16 128; do
    read -r hr hp50 hp99 < <(run "http://127.0.0.1:18791$2" "$c")
    read -r nr np50 np99 < <(run "http://127.0.0.1:18790$3" "$c")
    ratio=$(awk -v a="$hr" -v b="$nr" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }')
    printf '%-12s %12s %10s %10s %12s %10s %10s %8s\n' "$c" "$hr" "$hp50" "$hp99" "$nr" "$np50" "$np99" "$ratio"
  done
}
table "page (index.html, $(stat -c %s "$public/index.html") bytes), answered on the I/O thread" / /index.html
table "JSON answer from the worker pool" /api/x /ok.json

# Memory after 100,000 requests (and no growth between two rounds).
echo >&7; sleep 0.2
before=$(tail -n1 "$work/server.out" | awk '{print $2}')
for round in 1 2; do
  wrk -t 2 -c 16 -d 60s -H 'Connection: close' "http://127.0.0.1:18791/api/x" >/dev/null 2>&1 &
  wpid=$!
  sleep 6; kill "$wpid" 2>/dev/null || true; wait "$wpid" 2>/dev/null || true
  echo >&7; sleep 0.2
  echo "resident memory after round $round: $(tail -n1 "$work/server.out" | awk '{print $2}') KiB (start: $before KiB)"
done
