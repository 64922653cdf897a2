# The headless X server and sound server that GUI/GL and audio tests use.
# Tests that need one skip with a message when it is absent; these functions
# only warn when they cannot start one.
# shellcheck shell=bash

ORVALEN_XVFB_PID=""
ORVALEN_PULSE_PID=""
ORVALEN_PULSE_DIR=""
ORVALEN_PIPEWIRE_PID=""
ORVALEN_WIREPLUMBER_PID=""
ORVALEN_DBUS_PID=""
ORVALEN_WESTON_PID=""
ORVALEN_WESTON_DIR=""

# Stops each process named by PID (empty ones skipped) and waits for it.
orvalen_end() {
    local pid
    for pid in "$@"; do
        [ -n "$pid" ] || continue
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}

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
    if [ "${ORVALEN_SOUND_SERVER:-}" = pipewire ]; then
        orvalen_pipewire_console
        return
    fi
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

# orvalen_pulse_console for PipeWire: "kill" kills pipewire-pulse and
# pipewire, "run" starts them again with the same objects on the same socket.
orvalen_pipewire_console() {
    unset PULSE_SERVER
    orvalen_start_pipewire >&2
    echo "${PULSE_SERVER:-}"
    local command
    while read -r command; do
        case $command in
        kill) orvalen_kill_pipewire && echo ok || echo failed ;;
        run) orvalen_run_pipewire >&2 && echo ok || echo failed ;;
        *) echo failed ;;
        esac
    done
    orvalen_stop_pipewire
}

orvalen_stop_pulse() {
    orvalen_end "$ORVALEN_PULSE_PID"
    ORVALEN_PULSE_PID=""
    unset PULSE_SERVER PULSE_CLIENTCONFIG
    [ -n "$ORVALEN_PULSE_DIR" ] && rm -rf "$ORVALEN_PULSE_DIR"
    ORVALEN_PULSE_DIR=""
}

# The same objects behind PipeWire's PulseAudio server (pipewire-pulse), for
# running the audio tests against it: pipewire, WirePlumber (which quits
# without a session bus: a private one) and pipewire-pulse, all on a private
# runtime folder. ORVALEN_SOUND_SERVER=pipewire makes orvalen_start_test_env
# and orvalen_pulse_console use it.
orvalen_start_pipewire() {
    local p
    for p in pipewire wireplumber pipewire-pulse dbus-daemon pactl; do
        command -v "$p" >/dev/null || { echo "note: no $p; audio tests will skip"; return 0; }
    done
    ORVALEN_PULSE_DIR="$(mktemp -d)"
    local d="$ORVALEN_PULSE_DIR"
    mkdir -p "$d/home/.config/pipewire" "$d/runtime"
    chmod 700 "$d/runtime"
    # The stock config also loads module-always-sink, which makes a dummy sink
    # whenever there is none: a test that unloads the null sink would still
    # find one to record from.
    cat >"$d/home/.config/pipewire/pipewire-pulse.conf" <<'CONF'
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-protocol-pulse }
]
pulse.properties = { server.address = [ "unix:native" ] }
CONF
    echo "autospawn = no" >"$d/client.conf"
    dbus-daemon --session --nofork --address="unix:path=$d/runtime/bus" >>"$d/dbus.log" 2>&1 &
    ORVALEN_DBUS_PID=$!
    export PULSE_SERVER="unix:$d/runtime/pulse/native"
    export PULSE_CLIENTCONFIG="$d/client.conf"
    export PIPEWIRE_RUNTIME_DIR="$d/runtime"  # for pw-top, pw-metadata and pw-dump
    orvalen_run_pipewire && return 0
    echo "note: PipeWire did not start; audio tests will skip"
    tail -n 5 "$d"/*.log || true
    orvalen_stop_pipewire
}

# Runs the daemons that orvalen_start_pipewire set up (again, after they were
# killed) and makes the test objects through pactl; fails when they are not
# there within 10 s.
orvalen_run_pipewire() {
    local d="$ORVALEN_PULSE_DIR"
    local env=(env -u PULSE_SERVER HOME="$d/home" XDG_CONFIG_HOME="$d/home/.config"
        XDG_STATE_HOME="$d/home/.local/state" XDG_RUNTIME_DIR="$d/runtime" PIPEWIRE_RUNTIME_DIR="$d/runtime"
        DBUS_SESSION_BUS_ADDRESS="unix:path=$d/runtime/bus")
    # Its clients quit when they cannot connect: wait for its socket (a killed
    # one leaves its own behind).
    rm -f "$d/runtime/pipewire-0"
    "${env[@]}" pipewire >>"$d/pipewire.log" 2>&1 &
    ORVALEN_PIPEWIRE_PID=$!
    local i
    for i in $(seq 1 50); do
        [ -S "$d/runtime/pipewire-0" ] && break
        sleep 0.1
    done
    # WirePlumber quits by itself when pipewire goes (see orvalen_kill_pipewire).
    "${env[@]}" wireplumber >>"$d/wireplumber.log" 2>&1 &
    ORVALEN_WIREPLUMBER_PID=$!
    "${env[@]}" pipewire-pulse >>"$d/pipewire-pulse.log" 2>&1 &
    ORVALEN_PULSE_PID=$!
    for i in $(seq 1 50); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.2
    done
    [ "$i" -lt 50 ] || return 1
    pactl load-module module-null-sink sink_name=orvalen_test_sink rate=48000 channels=2 >/dev/null &&
        pactl load-module module-remap-source master=orvalen_test_sink.monitor \
            source_name=orvalen_test_input >/dev/null || return 1
    # WirePlumber makes them the defaults once it has seen them.
    for _ in $(seq 1 50); do
        pactl set-default-sink orvalen_test_sink && pactl set-default-source orvalen_test_input &&
            [ "$(pactl get-default-sink)" = orvalen_test_sink ] &&
            [ "$(pactl get-default-source)" = orvalen_test_input ] && return 0
        sleep 0.2
    done 2>/dev/null
    return 1
}

# Kills the daemons as a crash would (WirePlumber then quits by itself).
orvalen_kill_pipewire() {
    kill -KILL "$ORVALEN_PULSE_PID" "$ORVALEN_PIPEWIRE_PID" || return 1
    wait "$ORVALEN_PULSE_PID" "$ORVALEN_PIPEWIRE_PID" "$ORVALEN_WIREPLUMBER_PID" 2>/dev/null
    return 0
}

orvalen_stop_pipewire() {
    orvalen_end "$ORVALEN_PULSE_PID" "$ORVALEN_WIREPLUMBER_PID" "$ORVALEN_PIPEWIRE_PID" "$ORVALEN_DBUS_PID"
    ORVALEN_PULSE_PID="" ORVALEN_WIREPLUMBER_PID="" ORVALEN_PIPEWIRE_PID="" ORVALEN_DBUS_PID=""
    unset PULSE_SERVER PULSE_CLIENTCONFIG PIPEWIRE_RUNTIME_DIR
    [ -n "$ORVALEN_PULSE_DIR" ] && rm -rf "$ORVALEN_PULSE_DIR"
    ORVALEN_PULSE_DIR=""
}

# A headless Wayland compositor (weston, GL renderer on Mesa) for the window
# tests on Qt's wayland platform, in place of the X display. --debug lets
# weston-screenshooter read back what it shows; no idle timeout (it would
# blank the output). Its kiosk shell never repaints here: the desktop shell.
# Pixman instead of GL: the screenshooter gets nothing back.
orvalen_start_weston() {
    command -v weston >/dev/null || { echo "note: no weston; Wayland tests will skip"; return 0; }
    ORVALEN_WESTON_DIR="$(mktemp -d)"
    local d="$ORVALEN_WESTON_DIR"
    chmod 700 "$d"
    XDG_RUNTIME_DIR="$d" weston --backend=headless-backend.so --use-gl \
        --socket=orvalen-wayland --width=1280 --height=1024 --idle-time=0 --debug >"$d/weston.log" 2>&1 &
    ORVALEN_WESTON_PID=$!
    for _ in $(seq 1 50); do
        if [ -S "$d/orvalen-wayland" ]; then
            export WAYLAND_DISPLAY="$d/orvalen-wayland" QT_QPA_PLATFORM=wayland QT_WAYLAND_DISABLE_WINDOWDECORATION=1
            unset DISPLAY
            return 0
        fi
        sleep 0.2
    done
    echo "note: weston did not start; Wayland tests will skip"
    tail -n 5 "$d/weston.log" || true
    orvalen_stop_weston
}

orvalen_stop_weston() {
    orvalen_end "$ORVALEN_WESTON_PID"
    ORVALEN_WESTON_PID=""
    unset WAYLAND_DISPLAY QT_WAYLAND_DISABLE_WINDOWDECORATION
    [ -n "$ORVALEN_WESTON_DIR" ] && rm -rf "$ORVALEN_WESTON_DIR"
    ORVALEN_WESTON_DIR=""
}

orvalen_start_test_env() {
    orvalen_start_xvfb
    if [ "${ORVALEN_SOUND_SERVER:-}" = pipewire ]; then orvalen_start_pipewire; else orvalen_start_pulse; fi
}

orvalen_stop_test_env() {
    orvalen_stop_weston
    if [ "${ORVALEN_SOUND_SERVER:-}" = pipewire ]; then orvalen_stop_pipewire; else orvalen_stop_pulse; fi
    orvalen_end "$ORVALEN_XVFB_PID"
    ORVALEN_XVFB_PID=""
}
