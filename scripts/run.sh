#!/usr/bin/env bash
# Builds the program and starts the window. Without a display it says so and
# prints the demo archive's whole report with the command-line tool instead.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh run
cmake -S . -B build/app -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEKS_BUILD_TESTS=OFF >/dev/null
cmake --build build/app

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): printing the demo archive's report with veks12-report instead."
  exec build/app/cli/veks12-report samples/demo.dat
fi
exec build/app/ui/veks12
