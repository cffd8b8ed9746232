#!/usr/bin/env bash
# tests/desktop.sh <command> [args...]: runs a command inside a private, throw-away test desktop
# (Xvfb, a session bus, a stand-in system bus, PulseAudio with a null sink, HOME and the XDG
# folders in a temporary directory), torn down after.
set -uo pipefail

W=$(mktemp -d /tmp/hb-desktop.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  sleep 0.2
  rm -rf "$W"
}
trap cleanup EXIT INT TERM

mkdir -p "$W/rt" "$W/home" "$W/config" "$W/data" "$W/cache"
chmod 700 "$W/rt"
export XDG_RUNTIME_DIR="$W/rt" HOME="$W/home" XDG_CONFIG_HOME="$W/config" XDG_DATA_HOME="$W/data" \
       XDG_CACHE_HOME="$W/cache" HB_TEST_DESKTOP="$W"
export XDG_DATA_DIRS="${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
unset XDG_CURRENT_DESKTOP XDG_SESSION_TYPE WAYLAND_DISPLAY BROWSER DESKTOP_SESSION SESSION_MANAGER
export QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1 QTWEBENGINE_DISABLE_SANDBOX=1 \
       QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$W/display" >"$W/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -s "$W/display" ]] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$W/display")"

# Session bus, then a second bus standing in for the system bus (fake logind lives there).
# Nothing is started on demand: a real service (xdg-desktop-portal, which a browser asks for)
# would otherwise take a name that a test's fake owns.
sed '/<standard_session_servicedirs/d' /usr/share/dbus-1/session.conf >"$W/session.conf"
read -r DBUS_SESSION_BUS_ADDRESS DBUS_SESSION_PID < <(dbus-daemon --config-file="$W/session.conf" --fork --print-address=1 --print-pid=1 | paste -sd' ')
export DBUS_SESSION_BUS_ADDRESS
DBUS_SYSTEM_PID=$(dbus-daemon --session --address="unix:path=$W/system_bus" --fork --print-pid=1)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$W/system_bus"
pids+=("$DBUS_SESSION_PID" "$DBUS_SYSTEM_PID")

pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
  -L module-native-protocol-unix -L "module-null-sink sink_name=ci_null" -L module-always-sink \
  >"$W/pulse.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done

"$@" # the script's status: the trap keeps it
