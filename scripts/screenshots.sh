#!/usr/bin/env bash
# Pictures of every face of the windows, drawn offscreen with the skin of
# build/LumoInstaller, into build/screenshots/, at scale 1 and 2. Needs no display.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target lumo_installer lumo-screenshots
build/lumo-screenshots build/LumoInstaller build/screenshots
# The same faces on a screen at scale 2, painted from the 2x art (NAME@2x.png).
build/lumo-screenshots build/LumoInstaller build/screenshots 2
