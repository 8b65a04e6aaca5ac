#!/usr/bin/env bash
# Runs a command with a PostgreSQL server of its own (Debian's, initdb in a
# temporary folder, a Unix socket there and no TCP), as `nobody` when run as
# root; the command gets its URL in ELOAD_BENCH_PG. The server goes at the end.
#   bench/cli/with_postgres.sh sh -c 'bench/cli/bench_cli.py ... --postgres "$ELOAD_BENCH_PG"'
set -euo pipefail
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n1)
dir=$(mktemp -d)
chmod 755 "$dir"
as=()
if [ "$(id -u)" = 0 ]; then
    chown nobody "$dir"
    as=(runuser -u nobody --)
fi
"${as[@]}" "$bin/initdb" -D "$dir/data" -A trust -U eload >/dev/null
"${as[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w \
    -o "-k $dir -c listen_addresses= -c fsync=on" start >/dev/null
trap '"${as[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null; rm -rf "$dir"' EXIT
"${as[@]}" "$bin/createdb" -h "$dir" -U eload bench
export ELOAD_BENCH_PG="postgresql://eload@/bench?host=$dir"
"$@"
