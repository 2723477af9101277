#!/usr/bin/env bash
# Builds the shell and opens it on the embedded default: a demo SQLite database in the user's
# data folder and the application server in-process. Extra arguments go to erp-shell.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target erp-shell PKG_REC00800 PKG_CTB10200 PKG_CTB10300
exec build/release/bin/erp-shell "$@"
