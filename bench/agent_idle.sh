#!/usr/bin/env bash
# Start-to-listening time and idle cost of the real agent: CPU time, wake-ups (context
# switches) and resident memory over an idle period, headless and (when a display is
# available, e.g. under tests/desktop.sh) with the tray.
# Usage: bench/agent_idle.sh [build-dir] [idle-seconds]     (default: build 600)
set -euo pipefail
build=${1:-build}
idle=${2:-600}
work=$(mktemp -d)
trap 'kill "${pid:-0}" 2>/dev/null || true; rm -rf "$work"' EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
switches() { awk '/ctxt_switches/ {n += $2} END {print n}' "/proc/$1/status"; }
rss_kib() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }

measure() { # label, then env assignments for the agent
  local label=$1; shift
  local port; port=$(free_port)
  mkdir -p "$work/$label"
  echo '{}' > "$work/$label/state.json"
  # A state file makes this a later run: no Control Panel window opens.
  env "$@" HB_SUPPORT="$work/$label" HB_PORT="$port" "$build/bin/harbly" >/dev/null 2>&1 &
  pid=$!
  local start; start=$(date +%s%N)
  until curl -s -o /dev/null -X OPTIONS "http://127.0.0.1:$port/"; do sleep 0.002; done
  local ready_ms=$(( ($(date +%s%N) - start) / 1000000 ))
  sleep 5 # let start-up settle
  local t0 c0; t0=$(cpu_ticks "$pid"); c0=$(switches "$pid")
  sleep "$idle"
  local t1 c1; t1=$(cpu_ticks "$pid"); c1=$(switches "$pid")
  local hz; hz=$(getconf CLK_TCK)
  printf '%-10s %10s %14s %16s %12s\n' "$label" "${ready_ms} ms" \
    "$(awk -v t=$((t1 - t0)) -v hz="$hz" 'BEGIN {printf "%.2f s", t / hz}')" \
    "$(( (c1 - c0) / idle ))/s" "$(rss_kib "$pid") KiB"
  kill "$pid"; wait "$pid" 2>/dev/null || true
}

printf '%-10s %10s %14s %16s %12s\n' mode listening "cpu in ${idle}s" "wake-ups" resident
measure headless -u DISPLAY -u WAYLAND_DISPLAY
if [[ -n "${DISPLAY:-}" ]]; then
  measure tray
fi
