#!/usr/bin/env bash
# Installs what is missing, builds BusDesk and opens the window on the
# built-in simulated bus.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)" --target busdesk
exec ./build/default/ui/busdesk --demo "$@"
