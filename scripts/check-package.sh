#!/usr/bin/env bash
# Builds the Debian package and checks it: the desktop entry and the AppStream
# metainfo validate without errors or warnings, lintian finds no error and no
# warning, every manual page renders without a warning, and the package holds
# exactly the files it should.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for p in desktop-file-utils appstream dpkg-dev lintian man-db groff-base; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Debian's build flags, with every hardening option, as a package build gets them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
build=build/package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEKS_BUILD_TESTS=OFF \
  "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build"
rm -f "$build"/veks12_*.deb
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

# Tags go to stdout; run as root, lintian also says on stderr that it would
# rather not be, which is a notice and no tag.
echo "== lintian --display-info --pedantic $(basename "$deb")"
status=0
out=$(lintian --display-info --pedantic --fail-on error,warning "$deb") || status=$?
echo "${out:-no tags}"
if [ "$status" -ne 0 ] || echo "$out" | grep -qE '^[EW]:'; then
  echo "lintian: errors or warnings (exit status $status)"
  exit 1
fi

echo "== manual pages: man --warnings=w"
for page in "$stage"/usr/share/man/man1/*; do
  out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) ||
    { echo "$out"; echo "$(basename "$page"): man failed"; exit 1; }
  [ -z "$out" ] || { echo "$out"; exit 1; }
  echo "$(basename "$page"): no warnings"
done

echo "== files in $(basename "$deb")"
actual=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sort)
# veks12 and veks12-report must be there; any program in usr/bin, these two
# or another, must have its manual page.
programs=$({ printf '%s\n' veks12 veks12-report; echo "$actual" | sed -n 's|^\./usr/bin/||p'; } | sort -u)
expected=$({
  for program in $programs; do
    echo "./usr/bin/$program"
    echo "./usr/share/man/man1/$program.1.gz"
  done
  printf '%s\n' \
    ./usr/share/man/man1/veks12-journal.1.gz \
    ./usr/share/bash-completion/completions/veks12-report \
    ./usr/share/bash-completion/completions/veks12-journal \
    ./usr/share/doc/veks12/changelog.gz \
    ./usr/share/doc/veks12/server-roles.sql.gz \
    ./usr/share/doc/veks12/copyright \
    "./usr/share/applications/$id.desktop" \
    "./usr/share/icons/hicolor/scalable/apps/$id.svg" \
    "./usr/share/metainfo/$id.metainfo.xml"
} | sort -u)
echo "$actual"
if [ "$actual" != "$expected" ]; then
  echo "expected:"; echo "$expected"
  exit 1
fi
depends=$(dpkg-deb -f "$deb" Depends)
echo "== depends: $depends"
# The journal window's overview draws with Qt Charts, a library of its own.
if ! grep -q 'libqt6charts6' <<<"$depends"; then
  echo "the package does not depend on libqt6charts6"
  exit 1
fi
# A journal on a server goes through libpq.
if ! grep -q 'libpq5' <<<"$depends"; then
  echo "the package does not depend on libpq5"
  exit 1
fi
echo "package check: 1 passed, 0 failed"
