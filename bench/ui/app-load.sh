#!/usr/bin/env bash
# CPU and memory of the whole app showing a 3:2 Lissajous from system audio,
# under Xvfb with Mesa llvmpipe, in XY or Scope mode (scope:10 for 10 ms per
# division); with a fourth argument "file", the same Lissajous played from a
# WAV file in a loop instead. bench/ui/peers.sh runs it beside another scope.
#   bench/ui/app-load.sh [fps] [seconds] [xy|scope[:ms per division]] [file]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/live-tone.sh"
extra=()
if [ "${4:-}" = file ]; then
    wav="$(mktemp --suffix=.wav)"
    python3 - "$wav" <<'PY'
import math, struct, sys
rate = 48000
frames = b"".join(struct.pack('<ff', 0.5 * math.sin(2 * math.pi * 300 * i / rate),
                              0.5 * math.sin(2 * math.pi * 200 * i / rate)) for i in range(rate))
header = struct.pack('<4sI4s4sIHHIIHH4sI', b'RIFF', 36 + len(frames), b'WAVE', b'fmt ', 16, 3, 2, rate,
                     rate * 8, 8, 32, b'data', len(frames))
open(sys.argv[1], 'wb').write(header + frames)
PY
    extra=(--file "$wav")
fi
ORVALEN_XSERVER_PID="$ORVALEN_XVFB_PID" "$root/build/bench/bench/ui/bench_app_load" "${1:-60}" "${2:-10}" "${3:-xy}" "${extra[@]}"
