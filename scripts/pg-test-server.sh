#!/usr/bin/env bash
# Starts a throw-away PostgreSQL cluster for the tests on a loopback port and prints the URL of
# a superuser connection to it. Usage: pg-test-server.sh DIR PORT
set -euo pipefail
dir=$1; port=$2
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n1)
run() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
mkdir -p "$dir"
[ "$(id -u)" -eq 0 ] && chown postgres "$dir"
if [ ! -f "$dir/PG_VERSION" ]; then
  run "$bin/initdb" -D "$dir" -U erp --auth=trust -E UTF8 --locale=C.UTF-8 >/dev/null
fi
run "$bin/pg_ctl" -D "$dir" -o "-p $port -k /tmp -c listen_addresses=127.0.0.1 -c fsync=off" -l "$dir/server.log" -w start >/dev/null
echo "postgresql://erp@127.0.0.1:$port/postgres"
