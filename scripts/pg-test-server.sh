#!/usr/bin/env bash
# A throw-away PostgreSQL server for the journal tests: a new cluster in a temporary folder that listens only
# on a unix socket in that folder (no TCP), run as the postgres user when started by root.
#   eval "$(scripts/pg-test-server.sh start)"   exports RIVANTA_TEST_PG_URL (the tests' journal URL) and
#                                                RIVANTA_TEST_PG_DIR (the folder, for stop)
#   scripts/pg-test-server.sh stop DIR           stops that server and removes its folder
# Exit status 1 with a message on standard error when no server can be started.
set -euo pipefail

bindir=""
for d in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
  if [[ -x $d/initdb && -x $d/pg_ctl ]]; then bindir=$d; break; fi
done
if [[ -z $bindir ]]; then
  echo "pg-test-server: PostgreSQL is not installed (Debian package postgresql)" >&2
  exit 1
fi

# initdb and the server refuse to run as root.
as_owner=()
if [[ $(id -u) -eq 0 ]]; then as_owner=(runuser -u postgres --); fi

case ${1:-} in
  start)
    dir=$(mktemp -d /tmp/rivanta-pg.XXXXXX)
    chmod 755 "$dir"
    if ((${#as_owner[@]})); then chown postgres: "$dir"; fi
    if ! "${as_owner[@]}" "$bindir/initdb" -D "$dir/data" -A trust -U rivanta -E UTF8 --no-locale \
         >"$dir/initdb.log" 2>&1; then
      cat "$dir/initdb.log" >&2
      echo "pg-test-server: initdb failed" >&2
      rm -rf "$dir"
      exit 1
    fi
    if ! "${as_owner[@]}" "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
         -o "-c listen_addresses='' -k $dir -c fsync=off -c max_connections=200" start >/dev/null; then
      cat "$dir/server.log" >&2 || true
      echo "pg-test-server: the server did not start" >&2
      rm -rf "$dir"
      exit 1
    fi
    if ! "${as_owner[@]}" "$bindir/psql" -h "$dir" -U rivanta -d postgres -qAt \
         -c "CREATE DATABASE rivanta_test" >/dev/null; then
      "${as_owner[@]}" "$bindir/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
      rm -rf "$dir"
      echo "pg-test-server: the test database could not be created" >&2
      exit 1
    fi
    echo "export RIVANTA_TEST_PG_URL='postgresql://rivanta@/rivanta_test?host=$dir'"
    echo "export RIVANTA_TEST_PG_DIR='$dir'"
    ;;
  stop)
    dir=${2:?usage: pg-test-server.sh stop DIR}
    [[ $dir == /tmp/rivanta-pg.* && -d $dir/data ]] || { echo "pg-test-server: $dir is not a test server" >&2; exit 1; }
    "${as_owner[@]}" "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    rm -rf "$dir"
    ;;
  *)
    echo "usage: pg-test-server.sh start | stop DIR" >&2
    exit 2
    ;;
esac
