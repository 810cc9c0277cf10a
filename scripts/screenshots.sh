#!/usr/bin/env bash
# Pictures of every face of the windows, drawn offscreen with the skin of
# build/LumoInstaller, into build/screenshots/. Needs no display.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target lumo_installer lumo-screenshots
build/lumo-screenshots build/LumoInstaller build/screenshots
