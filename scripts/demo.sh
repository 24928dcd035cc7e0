#!/usr/bin/env bash
# Builds what noxble needs and runs its demo against the simulated stack:
# scan, connect, send, receive, notifications, signal strength, disconnect.
# Extra arguments go to noxble (e.g. scripts/demo.sh --trace).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target noxble >/dev/null
exec build/linux/bin/noxble "$@" demo
