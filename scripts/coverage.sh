#!/usr/bin/env bash
# Line and branch coverage of the core (archive/ and report/) by the core and
# command-line tests.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
command -v gcovr >/dev/null || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gcovr; }
cmake --preset coverage >/dev/null
cmake --build --preset coverage
find build/coverage -name '*.gcda' -delete
ctest --preset coverage -j2 >/dev/null
gcovr -r . build/coverage -f 'archive/' -f 'report/' \
  --exclude-throw-branches --exclude-unreachable-branches --print-summary "$@"
