# Sourced by the benchmark scripts: installs what is missing and builds the
# Release binaries in build/bench; sets $root and the test-environment functions.
# shellcheck shell=bash
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/common.sh"
source "$root/scripts/test-env.sh"
orvalen_install_deps
orvalen_build "$root/build/bench" -DCMAKE_BUILD_TYPE=Release -DORVALEN_BUILD_TESTS=OFF >/dev/null
