#!/usr/bin/env bash
# Builds the integration suites (and the programs they start) with ThreadSanitizer and runs
# them; any report fails the run. Qt and GLib are not built with ThreadSanitizer here: see
# tests/tsan.supp for what that means and what is left out.
# Usage: scripts/tsan.sh [build-dir]      (default build-tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-tsan}
suites=(integration_server integration_router integration_actions integration_relay)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHB_TSAN=ON -DHB_WITH_WEBENGINE=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${suites[@]}" harbly harbly-relay
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
failed=0
for suite in "${suites[@]}"; do
  # Programs the suites start (harbly, harbly-relay) inherit the options and log alongside.
  status=0
  TSAN_OPTIONS="halt_on_error=0 die_after_fork=0 suppressions=$PWD/tests/tsan.supp log_path=$logs/$suite" \
    "$build/tests/$suite" --gtest_brief=1 >"$logs/$suite.out" 2>&1 || status=$?
  reports=$(cat "$logs/$suite".[0-9]* 2>/dev/null | grep -c 'WARNING: ThreadSanitizer' || true)
  printf '%-22s exit %3d  reports %d\n' "$suite" "$status" "$reports"
  if [[ $status -ne 0 || $reports -ne 0 ]]; then
    failed=1
    cat "$logs/$suite".[0-9]* 2>/dev/null | head -200
    tail -30 "$logs/$suite.out"
  fi
done
exit $failed
