#!/bin/bash
# The payload starts at file offset 0x40000, so the program image of the
# product (the 32-bit stub, without payload) must end before it; and the stub
# has a budget of 128 KiB, so that the runtime library code it does not need
# stays out (the win32-threads runtime, no demangler, no MinGW printf).
set -u
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
IMAGE=${UPDATER_IMAGE:-$ROOT/build/win32/updater.exe}
LIMIT=$((0x40000))
BUDGET=$((128 * 1024))

if [ ! -f "$IMAGE" ]; then
  echo "image-size: $IMAGE is missing (build/win32 not built?)"
  exit 1
fi
size=$(stat -c %s "$IMAGE")
if [ "$size" -ge "$LIMIT" ]; then
  printf 'image-size: %s is %d bytes (0x%X); it must stay below 0x40000\n' "$IMAGE" "$size" "$size"
  exit 1
fi
# A 32-bit image: the build must not have fallen back to another target.
if command -v i686-w64-mingw32-objdump >/dev/null; then
  if ! LC_ALL=C i686-w64-mingw32-objdump -f "$IMAGE" 2>/dev/null | grep -q 'file format pei-i386'; then
    echo "image-size: $IMAGE is not a 32-bit Windows image"
    exit 1
  fi
fi
printf 'image-size: %s is %d bytes (0x%X), %d bytes below the payload\n' "$IMAGE" "$size" "$size" $((LIMIT - size))
printf 'image-size: budget %d bytes (128 KiB): %d%% used\n' "$BUDGET" $((size * 100 / BUDGET))
if [ "$size" -gt "$BUDGET" ]; then
  printf 'image-size: FAIL: %d bytes over the budget\n' $((size - BUDGET))
  exit 1
fi
