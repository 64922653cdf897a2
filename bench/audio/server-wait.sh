#!/usr/bin/env bash
# The longest time the main thread spends in the audio engine at a time while
# it uses a live sound server, one stopped with SIGSTOP (it accepts
# connections but never answers: before the engine starts, and replacing the
# server mid-capture) and none.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../release-build.sh"
orvalen_start_pulse
trap orvalen_stop_pulse EXIT
bench="$root/build/bench/bench/audio/bench_server_wait"
echo "== live server"; "$bench"

kill -STOP "$ORVALEN_PULSE_PID"
echo "== server stopped (SIGSTOP) before the engine starts"; "$bench" --benchmark_filter=restless
kill -CONT "$ORVALEN_PULSE_PID"

echo "== server killed mid-capture, back but stopped (SIGSTOP): reconnect attempts"
"$bench" --benchmark_filter=capture &
bench_pid=$!
sleep 2
kill -KILL "$ORVALEN_PULSE_PID"; wait "$ORVALEN_PULSE_PID" 2>/dev/null || true
orvalen_run_pulse
kill -STOP "$ORVALEN_PULSE_PID"
wait $bench_pid
kill -CONT "$ORVALEN_PULSE_PID"

kill -KILL "$ORVALEN_PULSE_PID"; wait "$ORVALEN_PULSE_PID" 2>/dev/null || true; ORVALEN_PULSE_PID=""
echo "== no server"; "$bench"
