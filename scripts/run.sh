#!/usr/bin/env bash
# Installs what is missing, builds Orvalen (Release) and starts it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

orvalen_install_deps
orvalen_build "$ORVALEN_ROOT/build/release" -DCMAKE_BUILD_TYPE=Release -DORVALEN_BUILD_TESTS=OFF

app="$ORVALEN_ROOT/build/release/src/ui/orvalen"
if [ ! -x "$app" ]; then
    echo "Built the signal core and its benchmarks in build/release; the Orvalen window is not part of the build yet."
    exit 0
fi
exec "$app" "$@"
