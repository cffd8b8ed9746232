#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for N seconds
# (default 60): the request reader and target parser, and the router behind them.
# Any crash, sanitizer report or input slower than 1 s fails the run.
# Usage: scripts/fuzz.sh [seconds] [reader|router ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("${@:-reader router}")
read -r -a targets <<<"${targets[*]}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHB_FUZZ=ON \
  -DHB_BUILD_TESTS=OFF -DHB_WITH_WEBENGINE=OFF >/dev/null
for target in "${targets[@]}"; do
  case $target in
    reader) binary=fuzz_request_reader ;;
    router) binary=fuzz_router ;;
    *) echo "unknown fuzz target: $target" >&2; exit 2 ;;
  esac
  cmake --build build-fuzz --target "$binary" -j "$(nproc)"
  work=$(mktemp -d)
  cp tests/fuzz/corpus/* "$work/" 2>/dev/null || true
  # Findings (crashes, slow inputs) are kept for a look after the run.
  mkdir -p "build-fuzz/findings/$target"
  echo "== fuzzing the $target for $seconds s"
  status=0
  # The router takes the first byte as the caller's kind; the reader the first three as cuts.
  "build-fuzz/tests/fuzz/$binary" -max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 \
    -dict=tests/fuzz/http.dict -artifact_prefix="build-fuzz/findings/$target/" "$work" || status=$?
  rm -rf "$work"
  [[ $status -eq 0 ]] || exit "$status"
done
