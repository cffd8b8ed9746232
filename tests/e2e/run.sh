#!/usr/bin/env bash
# Browser tests of the pages: tests/e2e/run.sh <bin dir>. The agent runs headless in a throw-away
# home beside a probe app and a fake browser that record launches and addresses, a fake Messages
# API and (when built) the relay service, all on loopback.
set -uo pipefail
BIN=$(cd "${1:?usage: run.sh <bin dir>}" && pwd) || exit 1
cd "$(dirname "$0")"

if [[ ! -d node_modules/playwright-core ]]; then
  npm ci --no-audit --no-fund >/dev/null 2>&1 || npm install --no-audit --no-fund || exit 1
fi

W=$(mktemp -d /tmp/hb-e2e.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$W"
}
trap cleanup EXIT INT TERM

wait_line() { for _ in $(seq 200); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done; return 1; }
mkdir -p "$W/support" "$W/home" "$W/config" "$W/data" "$W/cache" "$W/share/applications"
printf '#!/bin/sh\necho launched >> "%s/launched"\n' "$W" >"$W/probe.sh"
printf '#!/bin/sh\necho "$1" >> "%s/opened"\n' "$W" >"$W/fake-browser.sh"
chmod +x "$W/probe.sh" "$W/fake-browser.sh"
cat >"$W/share/applications/harbly-probe.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=Harbly Probe
Icon=$PWD/../../resources/public/icon-192.png
Exec=$W/probe.sh
DESKTOP
cat >"$W/share/applications/harbly-fake-browser.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=Fake Browser
NoDisplay=true
MimeType=x-scheme-handler/http;x-scheme-handler/https;
Exec=$W/fake-browser.sh %u
DESKTOP
printf '[Default Applications]\nx-scheme-handler/http=harbly-fake-browser.desktop\nx-scheme-handler/https=harbly-fake-browser.desktop\n' \
  >"$W/config/mimeapps.list"
node fake-messages.mjs >"$W/api.port" &
pids+=($!)
wait_line "$W/api.port" '^[0-9]' || { echo "the fake Messages API did not start" >&2; exit 1; }
API_PORT=$(head -n1 "$W/api.port")

RELAY_URL="ws://127.0.0.1:9"
if [[ -x "$BIN/harbly-relay" ]]; then
  HB_RELAY_LISTEN=127.0.0.1 HB_RELAY_PORT=0 "$BIN/harbly-relay" >"$W/relay.log" 2>&1 &
  pids+=($!)
  wait_line "$W/relay.log" 'listening on' && export HB_E2E_RELAY=1 &&
    RELAY_URL="ws://127.0.0.1:$(sed -n 's#.*listening on http://[^:]*:\([0-9]*\)$#\1#p' "$W/relay.log")"
fi

env -u DISPLAY -u WAYLAND_DISPLAY \
  HOME="$W/home" XDG_CONFIG_HOME="$W/config" XDG_DATA_HOME="$W/data" XDG_CACHE_HOME="$W/cache" \
  XDG_DATA_DIRS="$W/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}" \
  HB_SUPPORT="$W/support" HB_PORT=0 \
  HB_UPDATE_URL="http://127.0.0.1:9/latest.json" HB_RELAY_URL="$RELAY_URL" \
  ANTHROPIC_BASE_URL="http://127.0.0.1:$API_PORT" ANTHROPIC_API_KEY="e2e-key" \
  "$BIN/harbly" >"$W/agent.log" 2>&1 &
pids+=($!)

wait_line "$W/agent.log" 'listening at http://' || { echo "the agent did not start" >&2; cat "$W/agent.log" >&2; exit 1; }
PORT=$(sed -n 's#.*listening at http://[^:]*:\([0-9]*\)/.*#\1#p' "$W/agent.log" | head -n1)

export HB_E2E_BASE="http://127.0.0.1:$PORT" HB_E2E_WORK="$W" HB_E2E_BIN="$BIN"
mkdir -p ../artifacts
node --test --test-concurrency=1 ./*.spec.mjs
status=$?
cp "$W/agent.log" ../artifacts/agent.log 2>/dev/null
[[ $status -ne 0 ]] && { echo "--- agent log (tail) ---"; tail -n 40 "$W/agent.log"; }
exit $status
