#!/usr/bin/env bash
# Builds everything and runs every test: the normal build (core, command line,
# window under the offscreen platform), then the core and command-line tests
# again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
export QT_QPA_PLATFORM=offscreen

cmake --preset debug >/dev/null
cmake --build --preset debug
cmake --preset asan >/dev/null
cmake --build --preset asan

ctest --preset asan -j2
ctest --preset debug -j2
