#!/usr/bin/env bash
# Builds BusDesk and runs every test (unit, end-to-end over a pseudo-terminal,
# window tests on Qt's offscreen platform). Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"
QT_QPA_PLATFORM=offscreen ctest --preset default -j "$(nproc)"
