#!/bin/bash
# Builds the payload fuzz target with clang (libFuzzer, ASan, UBSan) and runs
# it for a while: tests/fuzz/run.sh [seconds, default 60]. Not part of
# tools/test; crashes are left as crash-* files in build/fuzz.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
OUT=$ROOT/build/fuzz
SECONDS_TO_RUN=${1:-60}
mkdir -p "$OUT/corpus"
command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing (tools/setup installs it)"; exit 1; }

clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$ROOT" "$ROOT/tests/fuzz/payload_fuzz.cpp" \
  "$ROOT"/payload/*.cpp "$ROOT/update/update_result.cpp" "$ROOT/platform/os_posix.cpp" \
  -o "$OUT/payload_fuzz"

# Seeds: a long-layout archive with a hash value list, and a short one.
python3 - "$OUT/corpus" <<'PY'
import struct, sys, os
d = sys.argv[1]
def rec(name, sum8=b"\0" * 8):
    return name.ljust(56, b"\0") + sum8
hvl = b"DQM_____" + struct.pack("<II", 0, 2) + rec(b"Sub\\DATA.arc") + rec(b"x.bin")
def archive(long, entries):
    size, field = (128, 96) if long else (32, 16)
    head = (b"VELMOR ARC20" if long else b"\0" * 12) + struct.pack("<I", len(entries))
    table, data, off = b"", b"", 0
    for name, blob in entries:
        table += (name.ljust(field, b"\0") + struct.pack("<II", off, len(blob))).ljust(size, b"\0")
        data += blob; off += len(blob)
    return head + table + data
open(os.path.join(d, "seed-long"), "wb").write(archive(True, [(b"KVX.hvl", hvl), (b"data.arc", b"abc")]))
open(os.path.join(d, "seed-short"), "wb").write(archive(False, [(b"data.arc", b"abc"), (b"kvx.HVL", hvl)]))
PY

cd "$OUT"
./payload_fuzz -max_total_time="$SECONDS_TO_RUN" -max_len=8192 -print_final_stats=1 corpus
