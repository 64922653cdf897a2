# Sourced by the whole-app benchmarks: builds the Release binaries, starts the
# test display and sound server, and plays a 3:2 Lissajous (300 Hz left,
# 200 Hz right, 48 kHz, amplitude 0.5) into the default sink until the
# benchmark ends. orvalen_play music swaps it for a music-like signal (sox's
# pink and brown noise mixed to a correlation of about 0.6), orvalen_play
# tone back.
# shellcheck shell=bash
source "$(dirname "${BASH_SOURCE[0]}")/../release-build.sh"

orvalen_start_test_env
# Only this shell cleans up: a player's pipeline, ended by orvalen_play,
# runs the trap too and would take the servers down mid-run.
# A benchmark adds what else it starts (a peer's own servers) to helpers.
helpers=()
trap '[ "$BASHPID" != "$$" ] || { kill "${player:-}" "${helpers[@]}" 2>/dev/null || true; orvalen_stop_test_env; }' EXIT

orvalen_play() {
    [ "${playing:-}" = "$1" ] && return 0
    playing=$1
    kill "${player:-}" 2>/dev/null || true
    wait "${player:-}" 2>/dev/null || true
    if [ "$1" = music ]; then
        command -v sox >/dev/null || {
            local sudo=()
            [ "$(id -u)" -ne 0 ] && sudo=(sudo)
            "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends sox >/dev/null
        }
        # Ten seconds, repeated: the seam is one more noise step.
        sox -q -n -r 48000 -c 2 -t f32 - synth 10 pinknoise brownnoise remix 1v0.6,2v0.12 1v0.6,2v-0.12 repeat - \
            2>/dev/null | pacat --playback --raw --format=float32le --channels=2 --rate=48000 --latency-msec=50 &
    else
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
    fi
    player=$!
}
orvalen_play tone
