#!/usr/bin/env bash
# Installs what is missing, builds Orvalen (Release) and starts it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

orvalen_install_deps
orvalen_build "$ORVALEN_ROOT/build/release" -DCMAKE_BUILD_TYPE=Release -DORVALEN_BUILD_TESTS=OFF

exec "$ORVALEN_ROOT/build/release/src/ui/orvalen" "$@"
