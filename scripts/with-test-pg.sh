#!/usr/bin/env bash
# Runs a command beside a throw-away PostgreSQL cluster: made with initdb in a
# temporary folder, listening only on a Unix socket in that folder, trusting
# every local connection, and stopped and removed when the command ends,
# whatever its outcome. The command finds it in VEKS_TEST_PG, a connection
# URI for the superuser "postgres". Where no PostgreSQL server is installed
# the command runs without the variable, and the server's tests skip.
# Usage: scripts/with-test-pg.sh COMMAND [ARG...]
set -euo pipefail

bindir=""
if command -v initdb >/dev/null && command -v pg_ctl >/dev/null; then
  bindir=$(dirname "$(command -v initdb)")
else
  bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
fi
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
  echo "with-test-pg: no PostgreSQL server here; its tests are skipped" >&2
  unset VEKS_TEST_PG
  exec "$@"
fi

# The server refuses to run as root: as root, the cluster belongs to the
# postgres user; otherwise to whoever runs this.
as_owner=()
if [ "$(id -u)" -eq 0 ]; then
  if ! id postgres >/dev/null 2>&1; then
    echo "with-test-pg: no postgres user to run the server as; its tests are skipped" >&2
    unset VEKS_TEST_PG
    exec "$@"
  fi
  as_owner=(runuser -u postgres --)
fi

dir=$(mktemp -d /tmp/veks-pg.XXXXXX)
stop() {
  if [ -f "$dir/data/postmaster.pid" ]; then
    "${as_owner[@]}" "$bindir/pg_ctl" stop -D "$dir/data" -m immediate -s >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
if [ ${#as_owner[@]} -gt 0 ]; then
  chown postgres: "$dir"
fi

# No fsync: a cluster that lives for one run needs no durability, and the
# tests run faster without it. VEKS_TEST_PG_FSYNC=on keeps the server's usual
# durability, for benchmarks that compare it with a journal file's.
no_sync="-c fsync=off -c full_page_writes=off"
if [ "${VEKS_TEST_PG_FSYNC:-off}" = on ]; then
  no_sync=""
fi
"${as_owner[@]}" "$bindir/initdb" -D "$dir/data" -U postgres --auth=trust --no-sync \
  --no-instructions -E UTF8 --no-locale >"$dir/initdb.log" 2>&1 ||
  { cat "$dir/initdb.log" >&2; exit 1; }
"${as_owner[@]}" "$bindir/pg_ctl" start -D "$dir/data" -w -s -l "$dir/server.log" \
  -o "-c listen_addresses='' -k $dir $no_sync" ||
  { cat "$dir/server.log" >&2; exit 1; }

export VEKS_TEST_PG="postgresql:///postgres?host=$dir&user=postgres"
status=0
"$@" || status=$?
exit "$status"
