#!/usr/bin/env bash
# Main-thread time of the engine's server calls with a live sound server, one
# stopped with SIGSTOP (it accepts connections but never answers) and none.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../release-build.sh"
orvalen_start_pulse
trap orvalen_stop_pulse EXIT
bench="$root/build/bench/bench/audio/bench_server_wait"
echo "== live server"; "$bench"
kill -STOP "$ORVALEN_PULSE_PID"
echo "== server stopped (SIGSTOP)"; "$bench"
kill -CONT "$ORVALEN_PULSE_PID"
kill -KILL "$ORVALEN_PULSE_PID"; wait "$ORVALEN_PULSE_PID" 2>/dev/null || true; ORVALEN_PULSE_PID=""
echo "== no server"; "$bench"
