#!/usr/bin/env bash
# CPU and memory of the whole app showing a 3:2 Lissajous from system audio,
# under Xvfb with Mesa llvmpipe, in XY or Scope mode (scope:10 for 10 ms per
# division). bench/ui/peers.sh runs it beside another scope.
#   bench/ui/app-load.sh [fps] [seconds] [xy|scope[:ms per division]]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/live-tone.sh"
ORVALEN_XSERVER_PID="$ORVALEN_XVFB_PID" "$root/build/bench/bench/ui/bench_app_load" "${1:-60}" "${2:-10}" "${3:-xy}"
