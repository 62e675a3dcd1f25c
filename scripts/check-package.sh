#!/usr/bin/env bash
# Builds the Debian package and checks it: the desktop entry and the AppStream
# metainfo validate without errors or warnings, and the package holds exactly
# the files it should.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for p in desktop-file-utils appstream dpkg-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=build/package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEKS_BUILD_TESTS=OFF >/dev/null
cmake --build "$build"
(cd "$build" && cpack >/dev/null)
deb=$(ls "$build"/veks12_*.deb)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dpkg-deb -x "$deb" "$stage"
id=io.veks12.ArchiveDocumenter

echo "== desktop-file-validate"
out=$(desktop-file-validate "$stage/usr/share/applications/$id.desktop" 2>&1) || { echo "$out"; exit 1; }
[ -z "$out" ] || { echo "$out"; exit 1; }
echo "no errors, no warnings"

echo "== appstreamcli validate --no-net"
out=$(appstreamcli validate --no-net "$stage/usr/share/metainfo/$id.metainfo.xml" 2>&1) || { echo "$out"; exit 1; }
echo "$out"
if echo "$out" | grep -qE '^[EW]:'; then exit 1; fi

echo "== files in $(basename "$deb")"
actual=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sort)
expected=$(printf '%s\n' \
  ./usr/bin/veks12 \
  ./usr/bin/veks12-report \
  ./usr/share/doc/veks12/changelog.gz \
  ./usr/share/doc/veks12/copyright \
  ./usr/share/man/man1/veks12.1.gz \
  ./usr/share/man/man1/veks12-report.1.gz \
  ./usr/share/man/man1/veks12-journal.1.gz \
  ./usr/share/bash-completion/completions/veks12-report \
  ./usr/share/bash-completion/completions/veks12-journal \
  "./usr/share/applications/$id.desktop" \
  "./usr/share/icons/hicolor/scalable/apps/$id.svg" \
  "./usr/share/metainfo/$id.metainfo.xml" | sort)
echo "$actual"
if [ "$actual" != "$expected" ]; then
  echo "expected:"; echo "$expected"
  exit 1
fi
echo "== depends: $(dpkg-deb -f "$deb" Depends)"
echo "package check: 1 passed, 0 failed"
