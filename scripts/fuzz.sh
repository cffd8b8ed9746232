#!/usr/bin/env bash
# Builds the request-reader fuzzer with clang (ASan + UBSan) and runs it for N seconds
# (default 60). Any crash, sanitizer report or input slower than 1 s fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHB_FUZZ=ON \
  -DHB_BUILD_TESTS=OFF -DHB_WITH_WEBENGINE=OFF >/dev/null
cmake --build build-fuzz --target fuzz_request_reader -j "$(nproc)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp tests/fuzz/corpus/* "$work/" 2>/dev/null || true
# Findings (crashes, slow inputs) are kept for a look after the run.
mkdir -p build-fuzz/findings
build-fuzz/tests/fuzz/fuzz_request_reader -max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 \
  -dict=tests/fuzz/http.dict -artifact_prefix=build-fuzz/findings/ "$work"
