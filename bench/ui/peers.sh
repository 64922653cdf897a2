#!/usr/bin/env bash
# The whole app beside a peer, in one run on the same tone: GStreamer's
# spacescope (lines, fading, 512x512 at 60 fps into an X window), then the
# app in XY and Scope mode at 60 and 120 fps (Scope at its default 2 ms per
# division, and at 10 ms per division at 60 fps). Each figure is the CPU of one
# core over the same span after a warm-up, and what the X server spent
# meanwhile. Rounds alternate the programs so that other load on the machine
# falls on all of them alike. With ORVALEN_COMPARE_WITH=<build folder> the
# app built there (another revision) runs beside this one in every round.
#
# Given settings (KEY=VALUE, several joined by commas), it runs the app in XY
# at 60 fps instead, with its defaults and with each of them, round after
# round (each round in the opposite order to the last) on the tone and on a
# music-like signal (ORVALEN_PEERS_SIGNALS: "tone music" unless set), and
# ends with each one's median CPU against the defaults' on the same signal
# (with ORVALEN_COMPARE_WITH, for both builds).
#   bench/ui/peers.sh [seconds] [rounds] [KEY=VALUE[,KEY=VALUE...]...]
set -euo pipefail
seconds="${1:-10}"
rounds="${2:-1}"
variants=("${@:3}")
source "$(dirname "${BASH_SOURCE[0]}")/live-tone.sh"

# The peer's packages, for this benchmark only.
gst_packages=(gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad gstreamer1.0-pulseaudio
              gstreamer1.0-x)
if [ ${#variants[@]} -eq 0 ] && { ! command -v gst-launch-1.0 >/dev/null || ! gst-inspect-1.0 spacescope >/dev/null 2>&1 ||
    ! gst-inspect-1.0 pulsesrc >/dev/null 2>&1 || ! gst-inspect-1.0 ximagesink >/dev/null 2>&1; }; then
    sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${gst_packages[@]}" >/dev/null
fi

# User + system CPU seconds of a process.
cpu_of() {
    awk -v tck="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); print ($12 + $13) / tck }' "/proc/$1/stat"
}
percent() { awk -v a="$1" -v b="$2" -v s="$3" 'BEGIN { printf "%.1f", 100 * (b - a) / s }'; }

spacescope() {
    gst-launch-1.0 -q pulsesrc device=orvalen_test_sink.monitor ! audioconvert \
        ! spacescope style=lines shader=fade ! video/x-raw,width=512,height=512,framerate=60/1 \
        ! videoconvert ! ximagesink >/dev/null 2>&1 &
    local pid=$!
    sleep 3.5  # the same warm-up as the app
    local start end xstart xend t0 t1
    start=$(cpu_of "$pid") xstart=$(cpu_of "$ORVALEN_XVFB_PID") t0=$(date +%s.%N)
    sleep "$seconds"
    end=$(cpu_of "$pid") xend=$(cpu_of "$ORVALEN_XVFB_PID") t1=$(date +%s.%N)
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    local span
    span=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
    printf '%-24s %6s %%   X server %5s %%\n' "spacescope 60 fps" "$(percent "$start" "$end" "$span")" \
        "$(percent "$xstart" "$xend" "$span")"
}

orvalen() {  # fps mode [build folder] [label] [KEY=VALUE,...]
    local out
    local -a settings=()
    [ -n "${5:-}" ] && IFS=, read -r -a settings <<<"$5"
    out=$(ORVALEN_XSERVER_PID="$ORVALEN_XVFB_PID" "${3:-$root/build/bench}/bench/ui/bench_app_load" "$1" "$seconds" \
        "$2" --no-rest "${settings[@]}" 2>/dev/null)
    cpu=$(sed -n 's/^CPU while capturing *\([0-9.]*\).*/\1/p' <<<"$out")
    printf '%-24s %6s %%   X server %5s %%   %5s frames/s, %s ms CPU each\n' "${4:-Orvalen} $2 $1 fps" "$cpu" \
        "$(sed -n 's/^X server meanwhile *\([0-9.]*\).*/\1/p' <<<"$out")" \
        "$(sed -n 's/^frames shown *\([0-9.]*\) per.*/\1/p' <<<"$out")" \
        "$(sed -n 's/^frames shown .*, \([0-9.]*\) ms.*/\1/p' <<<"$out")"
}

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

if [ ${#variants[@]} -gt 0 ]; then
    echo "CPU of one core over $seconds s after a 3.5 s warm-up; app window 1020x700, XY at 60 fps"
    declare -A figures=()
    configs=("" "${variants[@]}")
    builds=("$root/build/bench")
    [ -n "${ORVALEN_COMPARE_WITH:-}" ] && builds+=("$ORVALEN_COMPARE_WITH")
    for signal in ${ORVALEN_PEERS_SIGNALS:-tone music}; do
        orvalen_play "$signal"
        for ((round = 1; round <= rounds; ++round)); do
            order=()
            for config in "${configs[@]}"; do
                for build in "${builds[@]}"; do order+=("$build|$config"); done
            done
            if ((round % 2 == 0)); then
                reversed=()
                for ((i = ${#order[@]} - 1; i >= 0; --i)); do reversed+=("${order[i]}"); done
                order=("${reversed[@]}")
            fi
            for run in "${order[@]}"; do
                build="${run%%|*}" config="${run#*|}"
                label="$signal ${config:-defaults}"
                [ "$build" != "$root/build/bench" ] && label="compared $label"
                orvalen 60 xy "$build" "$label" "$config"
                figures["$build|$signal|$config"]+=" $cpu"
            done
        done
        for build in "${builds[@]}"; do
            base=$(median <<<"${figures["$build|$signal|"]}")
            [ "$build" != "$root/build/bench" ] && echo "compared build:"
            for config in "${variants[@]}"; do
                m=$(median <<<"${figures["$build|$signal|$config"]}")
                printf '%-6s %-28s median %6s %% against %6s %%: %s x\n' "$signal" "$config" "$m" "$base" \
                    "$(awk -v a="$m" -v b="$base" 'BEGIN { printf "%.2f", a / b }')"
            done
        done
    done
    exit 0
fi

echo "CPU of one core over $seconds s after a 3.5 s warm-up; app window 1020x700"
for ((round = 1; round <= rounds; ++round)); do
    spacescope
    for run in "60 xy" "60 scope" "60 scope:10" "120 xy" "120 scope"; do
        [ -n "${ORVALEN_COMPARE_WITH:-}" ] && orvalen $run "$ORVALEN_COMPARE_WITH" "compared"
        orvalen $run
    done
done
