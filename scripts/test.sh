#!/usr/bin/env bash
# Builds everything and runs every test suite, SQLite and PostgreSQL included.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --with-postgres
pgdir=$(mktemp -d /tmp/erp-pg.XXXXXX)
export ERP_TEST_PG_URL=$(scripts/pg-test-server.sh "$pgdir" "${ERP_TEST_PG_PORT:-55432}")
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n1)
stop_pg() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$bin/pg_ctl" -D "$pgdir" -m fast stop >/dev/null || true; else "$bin/pg_ctl" -D "$pgdir" -m fast stop >/dev/null || true; fi; }
trap stop_pg EXIT
cmake --preset ci >/dev/null
cmake --build --preset ci
QT_QPA_PLATFORM=offscreen ctest --preset ci "$@"
scripts/package.sh --check build/ci
rc=0; bench/run --smoke || rc=$?; if [ "$rc" -gt 1 ]; then echo "bench/run --smoke FALHOU (código $rc)" >&2; exit "$rc"; fi
FUZZ_SEED=1 scripts/fuzz.sh 20
