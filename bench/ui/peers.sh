#!/usr/bin/env bash
# The whole app beside two peers, in one run on the same signal: GStreamer's
# spacescope (lines, fading, 512x512 at 60 fps into an X window), the x42
# goniometer (x42-meter, a JACK application, at its defaults in a 1020x700
# window), then the app in XY and Scope mode at 60 and 120 fps (Scope at its
# default 2 ms per division, and at 10 ms per division at 60 fps), on the tone
# and on a music-like signal (ORVALEN_PEERS_SIGNALS: "tone music" unless set).
# Each figure is the CPU of one core over the same span after a warm-up, and
# what the X server spent meanwhile; for the goniometer also what its JACK
# server and the feed into it spent, which the app has no counterpart of. Rounds
# alternate the order of the programs so that other load on the machine falls
# on all of them alike; with several rounds each one's median ends each signal.
# With ORVALEN_COMPARE_WITH=<build folder> the app built there (another
# revision) runs beside this one in every round.
#
# Given settings (KEY=VALUE, several joined by commas), it runs the app in XY
# at 60 fps instead, with its defaults and with each of them, round after
# round (each round in the opposite order to the last) on the tone and on a
# music-like signal, and ends with each one's median CPU against the
# defaults' on the same signal (with ORVALEN_COMPARE_WITH, for both builds).
#   bench/ui/peers.sh [seconds] [rounds] [KEY=VALUE[,KEY=VALUE...]...]
set -euo pipefail
seconds="${1:-10}"
rounds="${2:-1}"
variants=("${@:3}")
source "$(dirname "${BASH_SOURCE[0]}")/live-tone.sh"

# The peers' packages, for this benchmark only.
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
gst_packages=(gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad gstreamer1.0-pulseaudio
              gstreamer1.0-x)
if [ ${#variants[@]} -eq 0 ] && { ! command -v gst-launch-1.0 >/dev/null || ! gst-inspect-1.0 spacescope >/dev/null 2>&1 ||
    ! gst-inspect-1.0 pulsesrc >/dev/null 2>&1 || ! gst-inspect-1.0 ximagesink >/dev/null 2>&1; }; then
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${gst_packages[@]}" >/dev/null
fi
# The goniometer's: its JACK server, GStreamer's JACK sink for the feed, and
# xdotool to find and size its window. x42_skip, when set, is why it cannot run.
x42_packages=(x42-plugins jackd2 gstreamer1.0-plugins-good xdotool)
x42_skip=""
if [ ${#variants[@]} -eq 0 ] && { ! command -v x42-meter >/dev/null || ! command -v jackd >/dev/null ||
    ! command -v jack_connect >/dev/null || ! command -v xdotool >/dev/null ||
    ! gst-inspect-1.0 jackaudiosink >/dev/null 2>&1; }; then
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${x42_packages[@]}" >/dev/null 2>&1 || x42_skip="apt-get could not install ${x42_packages[*]}"
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
    name="spacescope 60 fps" cpu=$(percent "$start" "$end" "$span")
    printf '%-24s %6s %%   X server %5s %%\n' "$name" "$cpu" "$(percent "$xstart" "$xend" "$span")"
}

# The goniometer on a private JACK server (dummy driver, not real-time, so
# that it runs as root and without a sound card), fed the sink's monitor by
# GStreamer; all of it is started afresh for each measurement so that none of
# it loads the other programs' spans.
x42() {
    name="x42 goniometer" cpu=""
    if [ -n "$x42_skip" ]; then
        echo "x42 goniometer not run: $x42_skip"
        return 0
    fi
    local -x JACK_DEFAULT_SERVER="orvalen_peers_$$" JACK_NO_START_SERVER=1 JACK_NO_AUDIO_RESERVATION=1
    local logs why="" jack pid feed window="" i
    logs=$(mktemp -d)
    jackd --no-realtime -d dummy -r 48000 -p 1024 >"$logs/jackd" 2>&1 &
    jack=$!
    helpers=("$jack")
    for ((i = 0; i < 50; ++i)); do
        jack_lsp >/dev/null 2>&1 && break
        kill -0 "$jack" 2>/dev/null || break
        sleep 0.1
    done
    if ! jack_lsp >/dev/null 2>&1; then
        why="jackd did not start: $(grep -v '^ *$' "$logs/jackd" | tail -n 1)"
    else
        x42-meter -j orvalen_x42 'http://gareus.org/oss/lv2/meters#goniometer' >"$logs/x42" 2>&1 &
        pid=$!
        gst-launch-1.0 -q pulsesrc device=orvalen_test_sink.monitor ! audioconvert ! audio/x-raw,channels=2 \
            ! jackaudiosink connect=none client-name=orvalen_feed >"$logs/feed" 2>&1 &
        feed=$!
        helpers=("$feed" "$pid" "$jack")
        local -a outputs=() inputs=()
        for ((i = 0; i < 100; ++i)); do
            mapfile -t outputs < <(jack_lsp orvalen_feed: 2>/dev/null)
            mapfile -t inputs < <(jack_lsp -p orvalen_x42: 2>/dev/null |
                awk '/^[^\t]/ { port = $0 } /properties: input/ { print port }')
            window=$(xdotool search --name '^Goniometer$' 2>/dev/null | head -n 1) || true
            [ ${#outputs[@]} -ge 2 ] && [ ${#inputs[@]} -ge 2 ] && [ -n "$window" ] && break
            { kill -0 "$pid" && kill -0 "$feed"; } 2>/dev/null || break
            sleep 0.1
        done
        if ! kill -0 "$pid" 2>/dev/null; then
            why="x42-meter quit: $(grep -v '^ *$' "$logs/x42" | tail -n 1)"
        elif ! kill -0 "$feed" 2>/dev/null; then
            why="the GStreamer feed into JACK quit: $(grep -v '^ *$' "$logs/feed" | tail -n 1)"
        elif [ ${#inputs[@]} -lt 2 ] || [ ${#outputs[@]} -lt 2 ]; then
            why="its JACK ports did not appear within 10 s"
        elif [ -z "$window" ]; then
            why="its window did not appear on $DISPLAY within 10 s"
        elif ! jack_connect "${outputs[0]}" "${inputs[0]}" >/dev/null 2>&1 ||
            ! jack_connect "${outputs[1]}" "${inputs[1]}" >/dev/null 2>&1; then
            why="jack_connect could not connect the feed to it"
        fi
    fi
    if [ -z "$why" ]; then
        # It keeps its aspect: a square scope and the meter beside it, scaled to fit.
        xdotool windowsize "$window" 1020 700 2>/dev/null || true
        sleep 3.5  # the same warm-up as the app
        local start end xstart xend hstart hend t0 t1 span size
        hstart=$(awk -v a="$(cpu_of "$jack")" -v b="$(cpu_of "$feed")" 'BEGIN { print a + b }')
        start=$(cpu_of "$pid") xstart=$(cpu_of "$ORVALEN_XVFB_PID") t0=$(date +%s.%N)
        sleep "$seconds"
        end=$(cpu_of "$pid") xend=$(cpu_of "$ORVALEN_XVFB_PID") t1=$(date +%s.%N)
        hend=$(awk -v a="$(cpu_of "$jack")" -v b="$(cpu_of "$feed")" 'BEGIN { print a + b }')
        size=$(xdotool getwindowgeometry "$window" 2>/dev/null | sed -n 's/^ *Geometry: *//p') || true
        span=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
        cpu=$(percent "$start" "$end" "$span")
        printf '%-24s %6s %%   X server %5s %%   JACK and its feed %s %%, window %s\n' "$name" "$cpu" \
            "$(percent "$xstart" "$xend" "$span")" "$(percent "$hstart" "$hend" "$span")" "${size:-unknown}"
    else
        echo "x42 goniometer not run: $why"
        # Not again in the later rounds: the reason would not change.
        x42_skip=$why
    fi
    kill "${helpers[@]}" 2>/dev/null || true
    wait "${helpers[@]}" 2>/dev/null || true
    helpers=()
    rm -rf "$logs"
}

orvalen() {  # fps mode [build folder] [label] [KEY=VALUE,...]
    local out
    local -a settings=()
    [ -n "${5:-}" ] && IFS=, read -r -a settings <<<"$5"
    out=$(ORVALEN_XSERVER_PID="$ORVALEN_XVFB_PID" "${3:-$root/build/bench}/bench/ui/bench_app_load" "$1" "$seconds" \
        "$2" --no-rest "${settings[@]}" 2>/dev/null)
    cpu=$(sed -n 's/^CPU while capturing *\([0-9.]*\).*/\1/p' <<<"$out")
    name="${4:-Orvalen} $2 $1 fps"
    printf '%-24s %6s %%   X server %5s %%   %5s frames/s, %s ms CPU each\n' "$name" "$cpu" \
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
declare -A figures=()
keep() {
    [ -n "$cpu" ] || return 0
    [ -n "${figures["$signal|$name"]:-}" ] || names+=("$name")
    figures["$signal|$name"]+=" $cpu"
}
runs=(spacescope x42 "60 xy" "60 scope" "60 scope:10" "120 xy" "120 scope")
for signal in ${ORVALEN_PEERS_SIGNALS:-tone music}; do
    orvalen_play "$signal"
    echo "$signal:"
    names=()
    for ((round = 1; round <= rounds; ++round)); do
        order=("${runs[@]}")
        if ((round % 2 == 0)); then
            order=()
            for ((i = ${#runs[@]} - 1; i >= 0; --i)); do order+=("${runs[i]}"); done
        fi
        for run in "${order[@]}"; do
            case $run in
            spacescope | x42) $run && keep ;;
            *)
                if [ -n "${ORVALEN_COMPARE_WITH:-}" ]; then
                    orvalen $run "$ORVALEN_COMPARE_WITH" "compared" && keep
                fi
                orvalen $run && keep
                ;;
            esac
        done
    done
    if ((rounds > 1)); then
        # In the order of the first round.
        for name in "${names[@]}"; do
            printf '%-6s %-24s median %6s %%\n' "$signal" "$name" "$(median <<<"${figures["$signal|$name"]}")"
        done
    fi
done
