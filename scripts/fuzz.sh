#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang in build/fuzz and runs each for SECONDS
# (default 60) from its seed corpus in fuzz/corpus/<target>; fails on the first crash, whose
# input is left in build/fuzz/crashes/. New inputs found stay in build/fuzz/corpus/<target>.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# FUZZ_MERGE=1 merges the inputs that add coverage into the seed corpus in the tree.
# FUZZ_SEED=N fixes libFuzzer's seed (and Qt's hash seed) and starts from the seeds alone, so
# that runs take much the same inputs (the targets are not wholly deterministic): the test
# command runs so, and searching for new inputs is left to runs without it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
scripts/deps.sh --with-fuzz
build=build/fuzz
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=()
  for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
cmake --build "$build" --target "${targets[@]}"
mkdir -p "$build/crashes"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
seed=()
if [ -n "${FUZZ_SEED:-}" ]; then seed=(-seed="$FUZZ_SEED"); export QT_HASH_SEED=0; fi
for t in "${targets[@]}"; do
  seeds=fuzz/corpus/$t
  work=$build/corpus/$t
  # a replay starts from the seeds alone, as on a fresh clone
  [ ${#seed[@]} -gt 0 ] && rm -rf "$work"
  mkdir -p "$work" "$seeds"
  dict=()
  [ -f "fuzz/dict/$t.dict" ] && dict=(-dict="fuzz/dict/$t.dict")
  echo "== $t: ${seconds} s"
  if ! "$build/$t" "$work" "$seeds" "${dict[@]}" "${seed[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=8192 -print_final_stats=1 -artifact_prefix="$build/crashes/$t-" 2>"$build/$t.log"; then
    tail -n 60 "$build/$t.log"
    echo "fuzz: $t falhou; entrada em $build/crashes/" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$build/$t.log" | tail -n 2
  if [ "${FUZZ_MERGE:-0}" = 1 ]; then
    "$build/$t" -merge=1 "$seeds" "$work" "${dict[@]}" 2>/dev/null
  fi
done
