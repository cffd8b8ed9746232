#!/usr/bin/env bash
# Builds the Debian package (release build, CPack) and checks it in a throw-away root:
# control fields and dependencies, the paths list, icons, desktop entry, metainfo, units and man
# pages, the installed executables (version, help, headless start serving the installed pages,
# the relay's health check), a start from the desktop menu entry when a display is there, and
# lintian with no errors.
# Usage: scripts/package-test.sh [build-dir]     (`make package-test` runs it in the test desktop)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
jobs=${JOBS:-$(nproc)}
kWaitSteps=100 # polls of 0.1 s: how long a program may take to answer or to stop

# ---- build the package ----------------------------------------------------------------------
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHB_BUILD_TESTS=OFF >/dev/null || exit 1
cmake --build "$build" --target harbly harbly-relay harbly-panel -j "$jobs" || exit 1
rm -f "$build"/harbly_*.deb
(cd "$build" && cpack -G DEB >/dev/null) || { echo "cpack failed" >&2; exit 1; }
deb=$(ls "$build"/harbly_*.deb)
echo "package: $deb"

if ! command -v lintian >/dev/null && [[ $(id -u) -eq 0 ]]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends lintian >/dev/null
fi

W=$(mktemp -d /tmp/hb-package.XXXXXX)
root="$W/root"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  rm -rf "$W"
}
trap cleanup EXIT INT TERM
dpkg-deb -x "$deb" "$root" || exit 1

passed=0 failed=0
check() { # check <name> <command...>: one named result line
  local name=$1; shift
  if "$@"; then echo "ok   - $name"; passed=$((passed + 1)); else echo "FAIL - $name"; failed=$((failed + 1)); fi
}
say() { echo "       $*" >&2; }

# ---- control fields ---------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
upstream=$(field Version); upstream=${upstream%-*}

control_fields() {
  local ok=0 depends
  depends=$(field Depends)
  [[ $(field Package) == harbly ]] || { say "Package is $(field Package)"; ok=1; }
  [[ $(field Architecture) == "$(dpkg --print-architecture)" ]] || { say "Architecture $(field Architecture)"; ok=1; }
  [[ $(field Maintainer) =~ ^[^\<]+\ \<[^@]+@[^\>]+\>$ ]] || { say "Maintainer '$(field Maintainer)'"; ok=1; }
  [[ -n $(field Homepage) && $(field Section) == net ]] || { say "Homepage/Section missing"; ok=1; }
  # dpkg-shlibdeps ran: the C library and the Qt libraries the programs link are there.
  for lib in libc6 libqt6core6 libqt6network6 libqt6widgets6 libqt6websockets6; do
    [[ $depends == *"$lib "* || $depends == *"$lib," || $depends == *"$lib" ]] || { say "Depends lacks $lib: $depends"; ok=1; }
  done
  return $ok
}
check "control fields and shared-library dependencies" control_fields

# ---- paths list -------------------------------------------------------------------------------
listing=$(dpkg -c "$deb")
expected_paths=(
  ./usr/bin/harbly ./usr/bin/harbly-relay ./usr/lib/harbly/libharbly-panel.so
  ./usr/share/harbly/config.json ./usr/share/harbly/public/index.html ./usr/share/harbly/public/admin.html
  ./usr/share/harbly/icons/harbly.svg
  ./usr/share/applications/harbly.desktop ./usr/share/metainfo/io.github.harbly.Harbly.metainfo.xml
  ./usr/share/icons/hicolor/scalable/apps/harbly.svg
  ./usr/lib/systemd/user/harbly.service ./usr/lib/systemd/user/harbly-headless.service
  ./usr/lib/systemd/system/harbly-relay.service
  ./usr/share/man/man1/harbly.1.gz ./usr/share/man/man1/harbly-relay.1.gz
  ./usr/share/doc/harbly/copyright ./usr/share/doc/harbly/changelog.Debian.gz
)
icon_sizes=(16 22 24 32 48 64 128 256 512)
for size in "${icon_sizes[@]}"; do expected_paths+=("./usr/share/icons/hicolor/${size}x${size}/apps/harbly.png"); done

paths_present() {
  local ok=0 path
  for path in "${expected_paths[@]}"; do
    grep -qE " ${path//./\\.}\$" <<<"$listing" || { say "missing $path"; ok=1; }
  done
  return $ok
}
check "every expected path is in the package" paths_present

paths_clean() {
  local ok=0 stray
  stray=$(awk '{print $6}' <<<"$listing" | grep -vE '^\./(usr/?|usr/(bin|lib|share)(/.*)?)?$' || true)
  [[ -z $stray ]] || { say "outside the standard tree: $stray"; ok=1; }
  stray=$(awk '$2 != "root/root"' <<<"$listing")
  [[ -z $stray ]] || { say "not owned by root: $stray"; ok=1; }
  # Executables 0755, everything else 0644, folders 0755.
  stray=$(awk '($1 ~ /^d/ && $1 != "drwxr-xr-x") ||
               ($1 ~ /^-/ && $6 ~ /^\.\/usr\/bin\// && $1 != "-rwxr-xr-x") ||
               ($1 ~ /^-/ && $6 !~ /^\.\/usr\/bin\// && $1 != "-rw-r--r--")' <<<"$listing")
  [[ -z $stray ]] || { say "unexpected modes: $stray"; ok=1; }
  grep -rqsF "$PWD" "$root/usr/share" "$root/usr/lib" && { say "the build tree's path leaked into installed files"; ok=1; }
  return $ok
}
check "nothing outside /usr/{bin,lib,share}, root-owned, standard modes" paths_clean

# ---- icons, desktop entry, metainfo, units, man pages -----------------------------------------
png_size() { # prints "<width>x<height>" from the PNG header
  local -a b
  read -r -a b < <(od -An -tu1 -j16 -N8 "$1")
  echo "$(((b[0] << 24) + (b[1] << 16) + (b[2] << 8) + b[3]))x$(((b[4] << 24) + (b[5] << 16) + (b[6] << 8) + b[7]))"
}
icons_match_folders() {
  local ok=0 size got
  for size in "${icon_sizes[@]}"; do
    got=$(png_size "$root/usr/share/icons/hicolor/${size}x${size}/apps/harbly.png")
    [[ $got == "${size}x${size}" ]] || { say "${size}x${size}/apps/harbly.png is $got"; ok=1; }
  done
  return $ok
}
check "each PNG icon has the size of its folder" icons_match_folders

desktop_entry() {
  local entry="$root/usr/share/applications/harbly.desktop" exec icon ok=0
  desktop-file-validate "$entry" || ok=1
  exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  icon=$(sed -n 's/^Icon=//p' "$entry")
  [[ -x "$root/usr/bin/$exec" ]] || { say "Exec=$exec is not an installed program"; ok=1; }
  [[ -f "$root/usr/share/icons/hicolor/48x48/apps/$icon.png" ]] || { say "Icon=$icon is not installed"; ok=1; }
  return $ok
}
check "desktop entry is valid and names an installed program and icon" desktop_entry

metainfo() {
  local file="$root/usr/share/metainfo/io.github.harbly.Harbly.metainfo.xml" launchable ok=0
  launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$file")
  [[ -f "$root/usr/share/applications/$launchable" ]] || { say "launchable '$launchable' not installed"; ok=1; }
  if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net --explain "$file" >"$W/appstream.log" 2>&1 || { cat "$W/appstream.log" >&2; ok=1; }
  else
    say "appstreamcli not installed: metainfo not validated"
  fi
  return $ok
}
check "metainfo launches the installed desktop entry (and validates)" metainfo

units_point_at_installed_programs() {
  local ok=0 unit program
  for unit in "$root"/usr/lib/systemd/user/*.service "$root"/usr/lib/systemd/system/*.service; do
    program=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
    [[ $program == /usr/bin/* && -x "$root$program" ]] || { say "${unit#"$root"}: ExecStart=$program"; ok=1; }
  done
  return $ok
}
check "systemd units start the installed programs" units_point_at_installed_programs

man_pages() {
  local ok=0 program
  for program in "$root"/usr/bin/*; do
    program=$(basename "$program")
    zcat "$root/usr/share/man/man1/$program.1.gz" 2>/dev/null | grep -q "^\.SH NAME" || { say "no man page for $program"; ok=1; }
  done
  return $ok
}
check "every program has a man page" man_pages

panel_module() {
  local ok=0 module="$root/usr/lib/harbly/libharbly-panel.so"
  ldd "$module" | grep -q "not found" && { say "unresolved libraries: $(ldd "$module" | grep "not found")"; ok=1; }
  nm -D --defined-only "$module" | grep -qw hb_create_control_panel || { say "no entry point in the panel module"; ok=1; }
  ldd "$root/usr/bin/harbly" | grep -q WebEngine && { say "harbly itself links the web engine"; ok=1; }
  return $ok
}
check "the Control Panel module is complete and loaded only on demand" panel_module

# ---- the installed programs -------------------------------------------------------------------
harbly="$root/usr/bin/harbly"
command_line() {
  local ok=0 out
  out=$("$harbly" --version) || ok=1
  [[ $out == "harbly $upstream" ]] || { say "--version printed '$out', package is $upstream"; ok=1; }
  out=$("$harbly" --help) || ok=1
  [[ $out == "Usage: harbly "* && $out == *HB_PORT* ]] || { say "--help printed '$out'"; ok=1; }
  "$harbly" --bogus 2>/dev/null
  [[ $? -eq 2 ]] || { say "an unknown option did not exit 2"; ok=1; }
  return $ok
}
check "harbly --version, --help, unknown option" command_line

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_http() { # wait_http <url>: until it answers at all, bounded
  for _ in $(seq "$kWaitSteps"); do curl -s -o /dev/null --max-time 1 "$1" && return 0; sleep 0.1; done
  return 1
}
fetch_html() { # fetch_html <url> <marker>: 200, text/html and the marker of the installed copy
  local got
  got=$(curl -s -o "$W/body" -w '%{http_code} %{content_type}' --max-time 5 "$1")
  [[ $got == "200 text/html"* ]] || { say "$1 answered '$got'"; return 1; }
  grep -qF "$2" "$W/body" || { say "$1 is not the installed page"; return 1; }
}
wait_exit() { # wait_exit <pid>: its exit status, or 124 when it does not stop in time
  for _ in $(seq "$kWaitSteps"); do kill -0 "$1" 2>/dev/null || { wait "$1"; return $?; }; sleep 0.1; done
  return 124
}

# The pages carry a marker only in the unpacked root: serving it proves the executable found
# ../share/harbly beside itself, not the source tree it was built from.
marker="<!-- installed-copy-$RANDOM$RANDOM -->"
for page in index.html admin.html; do echo "$marker" >>"$root/usr/share/harbly/public/$page"; done
support="$W/support"
mkdir -p "$support" "$W/home"
touch "$W/stamp"

headless_agent() {
  local port pid status ok=0
  port=$(free_port)
  env -u DISPLAY -u WAYLAND_DISPLAY -u HB_RESOURCES HOME="$W/home" XDG_CONFIG_HOME="$W/home/.config" \
    HB_SUPPORT="$support" HB_PORT="$port" HB_RELAY_URL=ws://127.0.0.1:9 HB_UPDATE_URL=http://127.0.0.1:9/latest.json \
    "$harbly" </dev/null >"$W/headless.log" 2>&1 &
  pid=$!; pids+=("$pid")
  wait_http "http://127.0.0.1:$port/" || { say "no answer on port $port"; cat "$W/headless.log" >&2; return 1; }
  fetch_html "http://127.0.0.1:$port/" "$marker" || ok=1
  fetch_html "http://127.0.0.1:$port/admin" "$marker" || ok=1
  # The line is printed from the main thread once the listener reports; it may trail the first answer.
  local printed=1
  for _ in $(seq "$kWaitSteps"); do
    grep -q "^Harbly is listening at http://.*:$port/" "$W/headless.log" && { printed=0; break; }
    sleep 0.1
  done
  [[ $printed -eq 0 ]] || { say "no listening line: $(head -c 300 "$W/headless.log")"; ok=1; }
  kill -TERM "$pid"
  wait_exit "$pid"; status=$?
  [[ $status -eq 0 ]] || { say "exit status $status after SIGTERM"; ok=1; }
  [[ -f "$support/state.json" ]] || { say "no state.json in HB_SUPPORT"; ok=1; }
  [[ -z $(find "$root" -newer "$W/stamp" ! -name index.html ! -name admin.html) ]] || { say "wrote into the installed tree"; ok=1; }
  return $ok
}
check "headless agent serves the installed / and /admin, stops on SIGTERM" headless_agent

# `cmake --install` into any other prefix: the units name that prefix, and the agent there finds
# the pages beside itself.
other_prefix() {
  local prefix="$W/prefix" port pid ok=0
  cmake --install "$build" --prefix "$prefix" >/dev/null || return 1
  grep -qx "ExecStart=$prefix/bin/harbly" "$prefix/lib/systemd/user/harbly.service" || { say "user unit: $(grep ExecStart "$prefix/lib/systemd/user/harbly.service")"; ok=1; }
  grep -qx "ExecStart=$prefix/bin/harbly-relay" "$prefix/lib/systemd/system/harbly-relay.service" || { say "relay unit names another prefix"; ok=1; }
  echo "$marker" >>"$prefix/share/harbly/public/index.html"
  port=$(free_port)
  env -u DISPLAY -u WAYLAND_DISPLAY -u HB_RESOURCES HOME="$W/home" HB_SUPPORT="$W/support-prefix" HB_PORT="$port" \
    HB_RELAY_URL=ws://127.0.0.1:9 HB_UPDATE_URL=http://127.0.0.1:9/latest.json "$prefix/bin/harbly" </dev/null >/dev/null 2>&1 &
  pid=$!; pids+=("$pid")
  if wait_http "http://127.0.0.1:$port/"; then fetch_html "http://127.0.0.1:$port/" "$marker" || ok=1; else say "no answer"; ok=1; fi
  kill -TERM "$pid"; wait_exit "$pid" >/dev/null
  return $ok
}
check "cmake --install into another prefix works the same" other_prefix

relay_service() {
  local pid port got ok=0
  env HB_RELAY_PORT=0 "$root/usr/bin/harbly-relay" >"$W/relay.log" 2>&1 &
  pid=$!; pids+=("$pid")
  for _ in $(seq "$kWaitSteps"); do grep -q listening "$W/relay.log" && break; sleep 0.1; done
  port=$(sed -n 's/^harbly-relay listening on http:\/\/127\.0\.0\.1:\([0-9]*\)$/\1/p' "$W/relay.log")
  [[ -n $port ]] || { say "relay printed: $(cat "$W/relay.log")"; kill "$pid"; return 1; }
  got=$(curl -s -w ' %{http_code}' --max-time 5 "http://127.0.0.1:$port/healthz")
  [[ $got == "harbly-relay"*" 200" ]] || { say "/healthz answered '$got'"; ok=1; }
  kill -TERM "$pid"; wait_exit "$pid" >/dev/null
  return $ok
}
check "harbly-relay listens and answers its health check" relay_service

# Started the way a desktop menu starts it: through the installed desktop entry, with the package's
# bin/ and share/ where the menu would look. Needs a display (tests/desktop.sh gives one).
menu_launch() {
  local port pid="" exe ok=0
  port=$(free_port)
  PATH="$root/usr/bin:$PATH" XDG_DATA_DIRS="$root/usr/share:${XDG_DATA_DIRS:-/usr/share}" HB_SUPPORT="$support" \
    HB_PORT="$port" HB_RELAY_URL=ws://127.0.0.1:9 HB_UPDATE_URL=http://127.0.0.1:9/latest.json \
    gio launch "$root/usr/share/applications/harbly.desktop" >"$W/menu.log" 2>&1 || { cat "$W/menu.log" >&2; return 1; }
  wait_http "http://127.0.0.1:$port/" || ok=1
  for exe in /proc/[0-9]*/exe; do # the launched agent, found by its executable, never by name
    [[ $(readlink "$exe" 2>/dev/null) == "$harbly" ]] && { pid=${exe#/proc/}; pid=${pid%/exe}; }
  done
  [[ -n $pid ]] || { say "no agent running from $harbly"; return 1; }
  ((ok == 0)) && { fetch_html "http://127.0.0.1:$port/" "$marker" || ok=1; }
  kill -TERM "$pid"
  for _ in $(seq "$kWaitSteps"); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && { say "did not stop on SIGTERM"; kill -KILL "$pid"; ok=1; }
  return $ok
}
if [[ -n ${DISPLAY:-} ]] && command -v gio >/dev/null; then
  check "the desktop menu entry starts the tray agent" menu_launch
else
  echo "skip - the desktop menu entry starts the tray agent (no display or no gio)"
fi

# ---- a real install, relay enabled by the admin, remove, purge ---------------------------------
# apt and dpkg run for real, but in a private mount namespace whose /usr, /etc and /var are
# overlays: the machine is untouched, and the overlays' upper layers show what was left behind.
overlay_install() {
  local ov=$1 deb=$2 upstream=$3 d
  for d in usr etc var; do
    mkdir -p "$ov/$d/upper" "$ov/$d/work"
    mount -t overlay overlay -o "lowerdir=/$d,upperdir=$ov/$d/upper,workdir=$ov/$d/work" "/$d" || return 1
  done
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y --no-install-recommends "$deb" >"$ov/apt.log" 2>&1 || { tail -5 "$ov/apt.log" >&2; return 1; }
  [[ $(harbly --version) == "harbly $upstream" ]] || { echo "installed harbly is not on PATH" >&2; return 1; }
  man -w harbly >/dev/null && man -w harbly-relay >/dev/null || return 1
  if command -v systemctl >/dev/null; then systemctl enable harbly-relay.service >/dev/null 2>&1 || true; fi
  apt-get remove -y harbly >>"$ov/apt.log" 2>&1 || return 1
  apt-get purge -y harbly >>"$ov/apt.log" 2>&1 || return 1
  ! dpkg-query -W harbly >/dev/null 2>&1
}
install_remove_purge() {
  local ov="$W/overlay" left
  mkdir -p "$ov"
  cp "$deb" "$ov/harbly.deb"
  unshare --mount --propagation private bash -c "$(declare -f overlay_install); overlay_install \"\$@\"" _ \
    "$ov" "$ov/harbly.deb" "$upstream" || { say "install or removal failed (see above)"; return 1; }
  # Left behind: anything named harbly, or any file under /usr that is not a regenerated cache.
  left=$( (find "$ov"/{usr,etc,var}/upper -name '*harbly*' ! -type c; find "$ov/usr/upper" \( -type f -o -type l \) ! -name '*.cache') 2>/dev/null)
  [[ -z $left ]] || { say "left after purge: $left"; return 1; }
}
if [[ $(id -u) -eq 0 ]] && unshare --mount --propagation private true 2>/dev/null; then
  check "installs with apt, removes and purges without leftovers (overlay root)" install_remove_purge
else
  echo "skip - installs with apt, removes and purges without leftovers (needs root and mount namespaces)"
fi

# ---- lintian ----------------------------------------------------------------------------------
lintian_clean() {
  command -v lintian >/dev/null || { say "lintian is not installed"; return 1; }
  lintian --tag-display-limit 0 "$deb" >"$W/lintian.log" 2>&1
  sed 's/^/       /' "$W/lintian.log" >&2
  ! grep -q '^E: ' "$W/lintian.log"
}
check "lintian reports no errors" lintian_clean

echo "package-test: $passed passed, $failed failed"
((failed == 0))
