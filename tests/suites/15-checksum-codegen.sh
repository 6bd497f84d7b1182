#!/bin/bash
# Static checks of the checksum's vector paths in the Windows builds. The
# 32-bit product cannot run on every test machine, so this is where its
# vector code is looked at:
#   - 32-bit Windows only keeps the stack 4-byte aligned and 64-bit Windows
#     16-byte aligned: an aligned vector load or store to the stack (or a
#     legacy SSE operation with a stack operand) that is wider than that
#     must sit in a function that realigns its stack pointer first;
#   - a vector object must define no symbol but its entry point: an inline
#     function or template compiled there for AVX2 could be the copy the
#     linker keeps for callers on any processor.
# Uses the builds tools/test makes (build/win32, build/win64); a build that
# is not there is skipped.
set -uo pipefail
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}

check_object() {   # check_object OBJECT BITS OBJDUMP NM
  python3 - "$@" <<'PY'
import os, re, subprocess, sys
obj, bits, objdump, nm = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
problems = []
env = dict(os.environ, LC_ALL="C")

defined = [l.split()[-1] for l in subprocess.run([nm, "--defined-only", "-g", obj], capture_output=True,
           text=True, check=True, env=env).stdout.splitlines() if l.strip()]
entry = [s for s in defined if "checksumUpdateSse2" in s or "checksumUpdateAvx2" in s]
if len(entry) != 1 or len(defined) != 1:
    problems.append("defines %s; expected only its entry point" % (defined,))

stack = re.compile(r"\(%[er](sp|bp)[,)]")
aligned_move = re.compile(r"^v?mov(dqa|aps|apd|ntdq|ntps|ntpd)$")
# Legacy SSE instructions that accept an unaligned memory operand.
unaligned_ok = re.compile(r"^(movdqu|movups|movupd|movq|movd|movss|movsd|movlps|movhps|movlpd|movhpd|"
                          r"pinsrw|pextrw|cvtsi2s[sd]l?|lddqu|ldmxcsr|stmxcsr)$")
dis = subprocess.run([objdump, "-d", "--no-show-raw-insn", obj], capture_output=True, text=True,
                     check=True, env=env).stdout
function, realign = None, 0
needs = []
def close():
    for width, line in needs:
        if realign < width:
            problems.append("%s: %d-byte aligned stack access without realigning: %s"
                            % (function, width, line.strip()))
for line in dis.splitlines():
    m = re.match(r"^[0-9a-f]+ <(.*)>:$", line)
    if m:
        if function:
            close()
        function, realign, needs = m.group(1), 0, []
        continue
    m = re.match(r"^\s*[0-9a-f]+:\s+(\S+)\s+(.*)$", line)
    if not m:
        continue
    op, args = m.group(1), m.group(2)
    a = re.match(r"^\$0x(ffffffff)?ffffff([ef])0,%[er]sp$", args)
    if op.startswith("and") and a:
        realign = max(realign, 32 if a.group(2) == "e" else 16)
    if not stack.search(args):
        continue
    width = 32 if "%ymm" in args else 16 if "%xmm" in args else 0
    if width == 0:
        continue
    guaranteed = 16 if bits == 64 else 4
    if aligned_move.match(op) or (not op.startswith("v") and not unaligned_ok.match(op)):
        if width > guaranteed:
            needs.append((width, line))
if function:
    close()
for p in problems:
    print("%s: %s" % (obj, p))
sys.exit(1 if problems else 0)
PY
}

status=0
checked=0
for build in win32:32:i686-w64-mingw32 win64:64:x86_64-w64-mingw32; do
  IFS=: read -r dir bits prefix <<<"$build"
  for path in sse2 avx2; do
    obj="$ROOT/build/$dir/CMakeFiles/updater_core.dir/payload/checksum_$path.cpp.obj"
    [ -f "$obj" ] || continue
    if check_object "$obj" "$bits" "$prefix-objdump" "$prefix-nm"; then
      echo "ok: build/$dir checksum_$path"
    else
      status=1
    fi
    checked=$((checked + 1))
  done
done
if [ "$checked" -eq 0 ]; then
  echo "no Windows build with the checksum's vector paths found under $ROOT/build"
  exit 1
fi
exit $status
