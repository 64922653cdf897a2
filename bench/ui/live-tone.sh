# Sourced by the whole-app benchmarks: builds the Release binaries, starts the
# test display and sound server, and plays a 3:2 Lissajous (300 Hz left,
# 200 Hz right, 48 kHz, amplitude 0.5) into the default sink until the
# benchmark ends.
# shellcheck shell=bash
source "$(dirname "${BASH_SOURCE[0]}")/../release-build.sh"

orvalen_start_test_env
trap 'kill "${player:-}" 2>/dev/null || true; orvalen_stop_test_env' EXIT
# One second holds whole cycles of both tones, so repeating it is seamless.
python3 - <<'PY' | pacat --playback --raw --format=float32le --channels=2 --rate=48000 --latency-msec=50 &
import math, struct, sys
rate = 48000
second = b"".join(struct.pack('<ff', 0.5 * math.sin(2 * math.pi * 300 * i / rate),
                              0.5 * math.sin(2 * math.pi * 200 * i / rate)) for i in range(rate))
try:
    while True:
        sys.stdout.buffer.write(second)
except BrokenPipeError:
    pass
PY
player=$!
