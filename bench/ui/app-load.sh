#!/usr/bin/env bash
# CPU and memory of the whole app showing a 3:2 Lissajous (300 Hz left,
# 200 Hz right, 48 kHz) from system audio, under Xvfb with Mesa llvmpipe.
#   bench/ui/app-load.sh [fps] [seconds]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$root/scripts/common.sh"
source "$root/scripts/test-env.sh"
orvalen_install_deps
orvalen_build "$root/build/bench" -DCMAKE_BUILD_TYPE=Release -DORVALEN_BUILD_TESTS=OFF >/dev/null

orvalen_start_test_env
trap 'kill "${player:-}" 2>/dev/null || true; orvalen_stop_test_env' EXIT
python3 - <<'PY' | pacat --playback --raw --format=float32le --channels=2 --rate=48000 --latency-msec=50 &
import math, struct, sys
rate = 48000
out = sys.stdout.buffer
block = bytearray()
for i in range(rate * 40):
    t = i / rate
    block += struct.pack('<ff', 0.5 * math.sin(2 * math.pi * 300 * t), 0.5 * math.sin(2 * math.pi * 200 * t))
    if len(block) >= 65536:
        out.write(block); block.clear()
out.write(block)
PY
player=$!
"$root/build/bench/bench/ui/bench_app_load" "${1:-60}" "${2:-10}"
