#!/bin/bash
# Runs the checksum's host tests as 32-bit x86 code, on processors emulated
# by qemu-i386: one with AVX2, one with SSE2 only, one with neither. The
# 32-bit product's vector paths cannot run on every test machine (some
# kernels refuse 32-bit programs), but the same compiler in 32-bit mode, with
# its eight vector registers and its spills, can be run this way. What is
# particular to the Windows objects (their stack alignment) is checked by
# 15-checksum-codegen.sh.
set -uo pipefail
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
CXX=i686-linux-gnu-g++
for tool in "$CXX" qemu-i386; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (tools/setup installs it)"; exit 1; }
done
GTEST=/usr/src/googletest/googletest
OUT=$ROOT/build/suite-checksum-i386
mkdir -p "$OUT"
flags=(-O3 -std=c++17 -Wall -Wextra -I"$ROOT" -I"$GTEST/include")

# GoogleTest once; our own files every time.
if [ ! -f "$OUT/gtest.o" ] || [ ! -f "$OUT/gtest_main.o" ]; then
  "$CXX" "${flags[@]}" -I"$GTEST" -c "$GTEST/src/gtest-all.cc" -o "$OUT/gtest.o" &&
    "$CXX" "${flags[@]}" -c "$GTEST/src/gtest_main.cc" -o "$OUT/gtest_main.o" || exit 1
fi
"$CXX" "${flags[@]}" -c "$ROOT/payload/checksum.cpp" -o "$OUT/checksum.o" &&
  "$CXX" "${flags[@]}" -msse2 -c "$ROOT/payload/checksum_sse2.cpp" -o "$OUT/checksum_sse2.o" &&
  "$CXX" "${flags[@]}" -mavx2 -c "$ROOT/payload/checksum_avx2.cpp" -o "$OUT/checksum_avx2.o" &&
  "$CXX" "${flags[@]}" -c "$ROOT/tests/host/checksum_test.cpp" -o "$OUT/checksum_test.o" &&
  "$CXX" -static -pthread "$OUT"/checksum.o "$OUT"/checksum_sse2.o "$OUT"/checksum_avx2.o \
    "$OUT"/checksum_test.o "$OUT"/gtest.o "$OUT"/gtest_main.o -o "$OUT/checksum_tests" 2>/dev/null || exit 1

status=0
# processor : what it offers
for cpu in max:avx2 Nehalem:sse2 pentium3:plain; do
  IFS=: read -r model offers <<<"$cpu"
  log=$OUT/$model.log
  if ! qemu-i386 -cpu "$model" "$OUT/checksum_tests" >"$log" 2>&1; then
    echo "FAILED on an emulated $model ($offers):"; grep -E '^\[  FAILED|Failure|error' "$log" | head -20
    status=1
    continue
  fi
  # The paths this processor has must have run, not been skipped.
  for path in plain sse2 avx2; do
    ran=$(grep -c "^\[       OK \] Paths/ChecksumPathTest\..*/$path " "$log")
    case "$offers:$path" in
      plain:sse2|plain:avx2|sse2:avx2) want=0 ;;
      *) want=3 ;;
    esac
    if [ "$ran" -ne "$want" ]; then
      echo "on an emulated $model: $ran of the $path cases ran, expected $want"; status=1
    fi
  done
  [ $status -eq 0 ] && echo "ok: 32-bit code on an emulated $model ($offers)"
done
exit $status
