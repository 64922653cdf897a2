#!/usr/bin/env bash
# Installs what is missing, builds and runs every test; prints ctest's summary.
#
#   scripts/test.sh            all tests (warnings are errors)
#   scripts/test.sh --asan     unit, concurrency and sound-server tests under ASan + UBSan,
#                              and 500 hostile files through the audio-file decoder
#   scripts/test.sh --tsan     concurrency tests under ThreadSanitizer
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$(dirname "${BASH_SOURCE[0]}")/test-env.sh"

mode="${1:-all}"
orvalen_install_deps

case "$mode" in
all)
    dir="$ORVALEN_ROOT/build/test"
    orvalen_build "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVALEN_WARNINGS_FATAL=ON
    labels=()
    ;;
--asan)
    dir="$ORVALEN_ROOT/build/asan"
    orvalen_build "$dir" -DCMAKE_BUILD_TYPE=Debug -DORVALEN_WARNINGS_FATAL=ON -DORVALEN_SANITIZE=ON -DORVALEN_BUILD_BENCH=OFF
    # The whole-window test is left out: Mesa's own allocations would drown it.
    labels=(-L 'unit|concurrency|audio' -E '^EndToEnd')
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ;;
--tsan)
    dir="$ORVALEN_ROOT/build/tsan"
    orvalen_build "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVALEN_WARNINGS_FATAL=ON -DORVALEN_TSAN=ON -DORVALEN_BUILD_BENCH=OFF \
        -DORVALEN_LAYERS=settings
    # Not the sound-server tests: libpulse is not instrumented, so TSan cannot
    # see its own synchronisation and reports races that are not there.
    labels=(-L concurrency)
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    ;;
*)
    echo "usage: $0 [--asan|--tsan]" >&2
    exit 2
    ;;
esac

# TSan only runs the concurrency tests, and Qt's xcb thread trips known false
# reports while ctest lists the GUI test binaries: give it no X display (Qt
# tests then run on the offscreen platform and GL tests skip).
if [ "$mode" = "--tsan" ]; then
    unset DISPLAY WAYLAND_DISPLAY
    orvalen_start_pulse
else
    orvalen_start_test_env
fi
trap orvalen_stop_test_env EXIT
cd "$dir"
ctest --output-on-failure -j "$(nproc)" "${labels[@]}"

# Hostile variants of real audio files through the decoder (a few seconds).
if [ "$mode" = --asan ]; then
    "$ORVALEN_ROOT/scripts/fuzz-decoder.sh" 500 "$dir"
fi

# Most desktops run PipeWire: the sound-server tests once more against its
# PulseAudio server.
if [ "$mode" = all ]; then
    orvalen_stop_pulse
    export ORVALEN_SOUND_SERVER=pipewire
    orvalen_start_pipewire
    ctest --output-on-failure -j "$(nproc)" -L audio

    # Wayland sessions: the scope (a subsurface there) draws what it draws on X11.
    orvalen_stop_test_env
    orvalen_start_weston
    ctest --output-on-failure -R 'ScopeViewTest\.TheScreen'
fi
