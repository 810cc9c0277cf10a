#!/usr/bin/env bash
# Sets everything up, builds the default installer and runs it silently in a
# sandbox, then shows what it did.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
