#!/usr/bin/env bash
# Runs truncated and byte-flipped variants of real audio files through the
# file decoder under ASan + UBSan; fails on a crash, a sanitizer report or a
# variant that takes over a second.
#
#   scripts/fuzz-decoder.sh [variants=2000] [asan build dir=build/asan]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

variants="${1:-2000}"
dir="${2:-$ORVALEN_ROOT/build/asan}"
if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$ORVALEN_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVALEN_WARNINGS_FATAL=ON \
        -DORVALEN_SANITIZE=ON -DORVALEN_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$dir" --target decode_fuzz -j "$(nproc)" >/dev/null

work="$(mktemp -d)"
log="$work/log"
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# A second a variant plus room for making the seed files: past that, one hangs.
status=0
timeout $((variants + 60)) "$dir/tests/media/decode_fuzz" "$variants" "$work" >"$log" 2>&1 || status=$?
cat "$log"
if [ "$status" -eq 124 ]; then
    echo "fuzz-decoder: FAILED, a variant hung" >&2
elif grep -qE "ERROR: AddressSanitizer|runtime error:|LeakSanitizer" "$log"; then
    echo "fuzz-decoder: FAILED, sanitizer report above" >&2
    status=1
elif [ "$status" -ne 0 ]; then
    echo "fuzz-decoder: FAILED (exit $status)" >&2
fi
for kept in "$work"/current.*; do
    [ -f "$kept" ] || continue
    mkdir -p "$ORVALEN_ROOT/build"
    cp "$kept" "$ORVALEN_ROOT/build/fuzz-decoder-failure.${kept##*.}"
    echo "the failing input: build/fuzz-decoder-failure.${kept##*.}" >&2
done
exit "$status"
