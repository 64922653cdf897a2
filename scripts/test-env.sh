# The headless X server and sound server that GUI/GL and audio tests use.
# Tests that need one skip with a message when it is absent; these functions
# only warn when they cannot start one.
# shellcheck shell=bash

ORVALEN_XVFB_PID=""
ORVALEN_PULSE_PID=""
ORVALEN_PULSE_DIR=""

orvalen_start_xvfb() {
    command -v Xvfb >/dev/null || { echo "note: no Xvfb; GL and window tests will skip"; return 0; }
    local fifo
    fifo="$(mktemp -u)"
    mkfifo "$fifo"
    # -noreset: by default the server regenerates when its last client leaves
    # and drops (ECONNRESET) a connection that arrives meanwhile, which is
    # exactly what one test process exiting as the next starts does.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
    ORVALEN_XVFB_PID=$!
    local display=""
    read -r -t 10 display <"$fifo" || true
    rm -f "$fifo"
    if [ -z "$display" ]; then
        echo "note: Xvfb did not start; GL and window tests will skip"
        kill "$ORVALEN_XVFB_PID" 2>/dev/null || true
        ORVALEN_XVFB_PID=""
        return 0
    fi
    export DISPLAY=":$display"
    unset WAYLAND_DISPLAY
    export QT_QPA_PLATFORM=xcb
}

# A private PulseAudio daemon: a 48 kHz stereo null sink (its monitor is the
# "system audio"), a real-time virtual input on that monitor, anonymous auth.
orvalen_start_pulse() {
    command -v pulseaudio >/dev/null || { echo "note: no pulseaudio; audio tests will skip"; return 0; }
    ORVALEN_PULSE_DIR="$(mktemp -d)"
    local d="$ORVALEN_PULSE_DIR"
    mkdir -p "$d/home" "$d/runtime/pulse"
    chmod 700 "$d/runtime"
    cat >"$d/default.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$d/runtime/pulse/native
load-module module-null-sink sink_name=orvalen_test_sink rate=48000 channels=2
load-module module-remap-source master=orvalen_test_sink.monitor source_name=orvalen_test_input
set-default-sink orvalen_test_sink
set-default-source orvalen_test_input
PA
    echo "autospawn = no" >"$d/client.conf"
    export PULSE_SERVER="unix:$d/runtime/pulse/native"
    export PULSE_CLIENTCONFIG="$d/client.conf"
    orvalen_run_pulse && return 0
    echo "note: PulseAudio did not start; audio tests will skip"
    tail -5 "$d/pulse.log" || true
    orvalen_stop_pulse
}

# Runs the daemon that orvalen_start_pulse set up, on the same socket (again,
# after it was killed); fails when it does not answer within 10 s.
orvalen_run_pulse() {
    local d="$ORVALEN_PULSE_DIR"
    HOME="$d/home" XDG_RUNTIME_DIR="$d/runtime" \
        pulseaudio -n -F "$d/default.pa" --daemonize=no --exit-idle-time=-1 \
        --use-pid-file=no --disallow-exit >>"$d/pulse.log" 2>&1 &
    ORVALEN_PULSE_PID=$!
    for _ in $(seq 1 50); do
        pactl info >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    return 1
}

# For a test that crashes and restarts a daemon of its own: starts one, prints
# its PULSE_SERVER (an empty line when it did not start), then obeys one
# command a line until stdin closes, answering "ok" or "failed": "kill" kills
# it as a crash would, "run" runs it again on the same socket.
orvalen_pulse_console() {
    unset PULSE_SERVER
    orvalen_start_pulse >&2
    echo "${PULSE_SERVER:-}"
    local command
    while read -r command; do
        case $command in
        kill) kill -KILL "$ORVALEN_PULSE_PID" && { wait "$ORVALEN_PULSE_PID"; echo ok; } || echo failed ;;
        run) orvalen_run_pulse >&2 && echo ok || echo failed ;;
        *) echo failed ;;
        esac
    done
    orvalen_stop_pulse
}

orvalen_stop_pulse() {
    if [ -n "$ORVALEN_PULSE_PID" ]; then
        kill "$ORVALEN_PULSE_PID" 2>/dev/null || true
        wait "$ORVALEN_PULSE_PID" 2>/dev/null || true
        ORVALEN_PULSE_PID=""
    fi
    unset PULSE_SERVER PULSE_CLIENTCONFIG
    [ -n "$ORVALEN_PULSE_DIR" ] && rm -rf "$ORVALEN_PULSE_DIR"
    ORVALEN_PULSE_DIR=""
}

orvalen_start_test_env() {
    orvalen_start_xvfb
    orvalen_start_pulse
}

orvalen_stop_test_env() {
    orvalen_stop_pulse
    if [ -n "$ORVALEN_XVFB_PID" ]; then
        kill "$ORVALEN_XVFB_PID" 2>/dev/null || true
        wait "$ORVALEN_XVFB_PID" 2>/dev/null || true
        ORVALEN_XVFB_PID=""
    fi
}
