# Shared by run.sh and test.sh: the Debian packages Orvalen needs, and the build.
# shellcheck shell=bash

ORVALEN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Build tools, Qt 6 and OpenGL, PulseAudio, FFmpeg's libraries (and its
# command, which makes the decoder tests' files), tests and benchmarks, and the
# headless X server, Wayland compositor and sound servers (PulseAudio,
# PipeWire) the GUI and audio tests run against.
ORVALEN_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libqt6opengl6-dev qt6-svg-dev libgl-dev libpulse-dev fonts-dejavu-core
    libgtest-dev libgmock-dev libbenchmark-dev
    libavformat-dev libavcodec-dev libswresample-dev libswscale-dev ffmpeg
    libegl-dev libegl-mesa0 xvfb xauth libgl1-mesa-dri pulseaudio pulseaudio-utils
    pipewire pipewire-pulse wireplumber dbus-daemon
    weston qt6-wayland
)

# Installs whatever of ORVALEN_PACKAGES is missing (nothing when all are there).
orvalen_install_deps() {
    local missing=()
    for pkg in "${ORVALEN_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "error: need root or sudo to install ${missing[*]}" >&2; return 1; }
        sudo=(sudo)
    fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# orvalen_build <build-dir> [cmake options...]: configure (once) and build.
orvalen_build() {
    local dir="$1"
    shift
    cmake -S "$ORVALEN_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}
