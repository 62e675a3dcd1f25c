#!/usr/bin/env bash
# Builds everything and runs every test: the core and command-line tests under
# AddressSanitizer and UndefinedBehaviorSanitizer; the fuzz target over its
# seed corpus and for 60 seconds; then the normal build with the window's
# tests on the offscreen platform; last the Debian package and its checks.
# The journal's server tests run against a throw-away PostgreSQL cluster
# (scripts/with-test-pg.sh), a fresh one for each of the two test runs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
export QT_QPA_PLATFORM=offscreen

cmake --preset debug >/dev/null
cmake --build --preset debug
cmake --preset asan >/dev/null
cmake --build --preset asan
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

scripts/with-test-pg.sh ctest --preset asan -j2
ctest --preset fuzz
scripts/check-package.sh
scripts/with-test-pg.sh ctest --preset debug -j2
