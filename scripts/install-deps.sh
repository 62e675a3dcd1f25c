#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
# Usage: scripts/install-deps.sh [run|test]
set -euo pipefail

# qt6-charts-dev needs the CMake files of libqt6opengl6-dev, which it does not bring itself.
packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
          libsqlite3-dev libpq-dev fonts-liberation2 qt6-translations-l10n)
if [ "${1:-test}" = test ]; then
  packages+=(libgtest-dev libgmock-dev libbenchmark-dev poppler-utils clang libclang-rt-14-dev sqlite3
            postgresql)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
