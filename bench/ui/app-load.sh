#!/usr/bin/env bash
# CPU and memory of the whole app showing a 3:2 Lissajous from system audio,
# under Xvfb with Mesa llvmpipe.
#   bench/ui/app-load.sh [fps] [seconds]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/live-tone.sh"
"$root/build/bench/bench/ui/bench_app_load" "${1:-60}" "${2:-10}"
