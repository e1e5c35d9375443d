#!/usr/bin/env bash
# A receiver slower than the device: the demo device streams 2048 x 2048 Mono16 frames with 9000-byte packets
# to arv-camera-test-0.8, once as fast as the link takes them and once held to DeviceLinkThroughputLimit, and
# prints the completed and failed frames of both runs side by side.
#
#   ip netns exec NS scripts/slow-receiver.sh [LIMIT_BYTES_PER_SECOND [SECONDS]]   (defaults 120000000, 10)
#
# Run it as root in a network namespace of its own: it serves on 127.0.9.5:3956. The receiver reads through an
# ordinary UDP socket (--no-packet-socket, as without root) and shares one core with a busy loop, so it takes
# packets more slowly than the device, alone on the other core, sends them. Needs build/bin/gev-demo-device.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
LIMIT=${1:-120000000}
SECONDS_PER_RUN=${2:-10}
ADDRESS=127.0.9.5
DEVICE=$ROOT/build/bin/gev-demo-device
[[ -x $DEVICE ]] || { echo "build/bin/gev-demo-device is missing: build first (./test --quick)" >&2; exit 1; }
(($(nproc) >= 2)) || { echo "needs two cores: the device on one, the slowed receiver on the other" >&2; exit 1; }
ip link set lo up

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait
}
trap cleanup EXIT

taskset -c 0 "$DEVICE" --address "$ADDRESS" --width 2048 --height 2048 --quiet >/dev/null &
pids+=($!)
taskset -c 1 bash -c 'while :; do :; done' &
pids+=($!)
for _ in $(seq 50); do arv-tool-0.8 -a "$ADDRESS" control DeviceVendorName >/dev/null 2>&1 && break; sleep 0.1; done

# stream FEATURES...: one run of the receiver; prints "completed failed missing-packets resent-packets".
stream() {
    taskset -c 1 arv-camera-test-0.8 -n "$ADDRESS" --duration="$SECONDS_PER_RUN" -i 9000 --no-packet-socket \
        --features "PixelFormat=Mono16 $*" 2>/dev/null |
        awk '/^n_completed_buffers/ {c=$3} /^n_failures/ {f=$3} /^n_missing_packets/ {m=$3}
             /^n_resent_packets/ {r=$3} END {print c+0, f+0, m+0, r+0}'
}

read -r free_done free_failed free_missing free_resent < <(stream DeviceLinkThroughputLimitMode=Off)
read -r paced_done paced_failed paced_missing paced_resent < <(stream DeviceLinkThroughputLimitMode=On \
    "DeviceLinkThroughputLimit=$LIMIT")

printf 'Mono16 2048 x 2048, 9000-byte packets, %s s per run, receiver on a shared core\n' "$SECONDS_PER_RUN"
printf '%-28s %10s %8s %16s %15s\n' stream completed failed "missing packets" "resent packets"
printf '%-28s %10s %8s %16s %15s\n' unpaced "$free_done" "$free_failed" "$free_missing" "$free_resent"
printf '%-28s %10s %8s %16s %15s\n' "limit $LIMIT B/s" "$paced_done" "$paced_failed" "$paced_missing" \
    "$paced_resent"
