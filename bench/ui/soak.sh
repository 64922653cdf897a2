#!/usr/bin/env bash
# The whole app left running with a restless user, under Xvfb with Mesa
# llvmpipe: private memory, threads and open files over time, and their
# growth after the warm-up.
#   bench/ui/soak.sh [minutes = 10] [warm-up minutes = 2]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/live-tone.sh"
"$root/build/bench/bench/ui/bench_soak" "${1:-10}" "${2:-2}"
