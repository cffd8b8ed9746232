#!/usr/bin/env bash
# Phone to pointer through a link with 5 ms round trip: the agent (build/bench/pointer_latency
# --serve) in this namespace, the phone (a small Python client, one request at a time, new
# connection each, as the page sends them) in a network namespace joined by a veth pair with
# 2.5 ms netem delay on each end. Needs root; run inside the private test desktop:
#   tests/desktop.sh bench/pointer_netem.sh build
set -euo pipefail
BUILD=${1:-build}
NS=hbpointer$$
ROUNDS=${ROUNDS:-500}
cleanup() {
  [[ -n "${server:-}" ]] && kill "$server" 2>/dev/null || true
  ip link del "${NS}a" 2>/dev/null || true
  ip netns del "$NS" 2>/dev/null || true
  [[ -n "${server:-}" ]] && wait "$server" 2>/dev/null || true
}
trap cleanup EXIT
ip netns add "$NS"
ip link add "${NS}a" type veth peer name "${NS}b"
ip link set "${NS}b" netns "$NS"
ip addr add 10.201.0.1/24 dev "${NS}a"
ip link set "${NS}a" up
ip -n "$NS" addr add 10.201.0.2/24 dev "${NS}b"
ip -n "$NS" link set "${NS}b" up
ip -n "$NS" link set lo up
LABEL="veth + 5 ms RTT"
if ! tc qdisc add dev "${NS}a" root netem delay 2.5ms 2>/dev/null ||
   ! tc -n "$NS" qdisc add dev "${NS}b" root netem delay 2.5ms 2>/dev/null; then
  echo "netem is not available in this kernel: measuring the veth pair without added delay" >&2
  LABEL="veth, no delay"
fi

coproc SERVE { "$BUILD/bench/pointer_latency" --serve; }
server=$SERVE_PID
read -r port token <&"${SERVE[0]}"
printf '%-16s %10s %10s %10s %14s\n' path "p50 (ms)" "p99 (ms)" "max (ms)" updates/s
ip netns exec "$NS" python3 - "$port" "$token" "$ROUNDS" "$LABEL" <<'PY'
import socket, sys, time
port, token, rounds, label = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4]
def once(body):
    request = (f"POST /api/pointer HTTP/1.1\r\nHost: 10.201.0.1\r\nx-hb-token: {token}\r\n"
               f"Content-Type: application/json\r\nContent-Length: {len(body)}\r\n\r\n{body}").encode()
    start = time.perf_counter()
    with socket.create_connection(("10.201.0.1", port)) as s:
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        s.sendall(request)
        answer = b""
        while chunk := s.recv(4096):
            answer += chunk
    return (time.perf_counter() - start) * 1000, b'"ok":true' in answer
for i in range(20):
    once('{"dx":1,"dy":0}')
times, failed = [], 0
began = time.perf_counter()
for i in range(rounds):
    ms, ok = once('{"dx":3,"dy":-2}' if i % 2 else '{"dx":-3,"dy":2}')
    times.append(ms)
    failed += not ok
seconds = time.perf_counter() - began
times.sort()
pick = lambda p: times[min(len(times) - 1, int(p * len(times)))]
print(f"{label:<16} {pick(.5):10.3f} {pick(.99):10.3f} {pick(1):10.3f} {rounds / seconds:14.0f}")
print(f"failed requests: {failed}")
PY
