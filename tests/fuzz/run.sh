#!/bin/bash
# Builds the fuzz targets through CMake (build/fuzz: clang, libFuzzer, ASan,
# UBSan, the core's per-file instruction-set flags) and runs each for a while:
#   tests/fuzz/run.sh [seconds per target, default 60] [target...]
# Targets: payload_fuzz (archive and hash value list readers), update_run_fuzz
# (the whole run on an in-memory install folder). tools/test runs it briefly;
# give it hours for a real search. Corpora grow in build/fuzz/corpus/<target>
# (seeded by make_seeds.py); a crash leaves build/fuzz/<target>-crash-* and
# makes the script fail.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
OUT=$ROOT/build/fuzz
SECONDS_TO_RUN=${1:-60}
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(payload_fuzz update_run_fuzz)
command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing (tools/setup installs it)"; exit 1; }

cmake -S "$ROOT" -B "$OUT" -G Ninja -DUPDATER_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 1
ninja -C "$OUT" "${TARGETS[@]/#/tests/fuzz/}" || exit 1
python3 "$ROOT/tests/fuzz/make_seeds.py" "$OUT/seeds" || exit 1

fail=0
for t in "${TARGETS[@]}"; do
  corpus=$OUT/corpus/$t
  mkdir -p "$corpus"
  seeds=$OUT/seeds/${t%_fuzz}
  args=(-max_total_time="$SECONDS_TO_RUN" -print_final_stats=1 -artifact_prefix="$OUT/$t-")
  case $t in
    payload_fuzz) args+=(-max_len=8192) ;;
    update_run_fuzz) args+=(-max_len=4096 -dict="$ROOT/tests/fuzz/update_run.dict") ;;
  esac
  echo "fuzz: $t for ${SECONDS_TO_RUN}s"
  log=$OUT/$t.log
  # The last lines carry the figures; the whole log stays in build/fuzz.
  (cd "$OUT" && ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} "$OUT/tests/fuzz/$t" "${args[@]}" "$corpus" "$seeds") >"$log" 2>&1
  status=$?
  grep -E '^(#[0-9]+ +DONE|Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb))' "$log" |
    sed "s/^/fuzz: $t: /"
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9a-zA-Z]+' "$log" | tail -n 1)
  echo "fuzz: $t: $cov"
  if [ $status -ne 0 ]; then
    echo "fuzz: $t FAILED (exit $status); the report:"
    grep -E 'ERROR|memfs:|runtime error|SUMMARY|Test unit written' "$log" | head -n 20
    fail=1
  fi
done
exit $fail
