# Checks shared by the scripted suites (sourced, not run: tools/test runs
# only tests/suites/*.sh). Each check prints one line; finish exits
# non-zero when any failed.

SUITE_PASSED=0
SUITE_FAILED=0

section() { echo "--- $*"; }
ok() { SUITE_PASSED=$((SUITE_PASSED + 1)); echo "ok   $*"; }
bad() { SUITE_FAILED=$((SUITE_FAILED + 1)); echo "FAIL $*"; }

# run CMD...: runs it with stdout in ./out, stderr in ./err, status in $STATUS.
run() { "$@" >out 2>err; STATUS=$?; }

expect_status() {   # expect_status N DESCRIPTION
  if [ "$STATUS" = "$1" ]; then ok "$2"
  else bad "$2: status $STATUS, not $1"; sed 's/^/     | /' err | head -20; fi
}
expect_in() {       # expect_in out|err TEXT DESCRIPTION (fixed text)
  if grep -qF -- "$2" "$1"; then ok "$3"
  else bad "$3: no \"$2\" in $1"; sed 's/^/     | /' "$1" | head -20; fi
}
expect_line_match() {   # expect_line_match FILE REGEX DESCRIPTION
  if grep -qE -- "$2" "$1"; then ok "$3"
  else bad "$3: no line matching /$2/ in $1"; sed 's/^/     | /' "$1" | head -20; fi
}
expect_absent() {   # expect_absent PATH DESCRIPTION
  if [ ! -e "$1" ]; then ok "$2"; else bad "$2: $1 exists"; fi
}
expect_lines() {    # expect_lines ACTUAL EXPECTED DESCRIPTION
  if [ "$1" = "$2" ]; then ok "$3"
  else bad "$3"; diff <(printf '%s\n' "$2") <(printf '%s\n' "$1") | sed 's/^/     | /'; fi
}
hex_at() { od -An -v -tx1 -j "$2" -N "$3" "$1" | tr -d ' \n'; }
expect_hex() {      # expect_hex FILE OFFSET COUNT HEX DESCRIPTION
  local got; got=$(hex_at "$1" "$2" "$3")
  if [ "$got" = "$4" ]; then ok "$5"; else bad "$5: at $2: $got, not $4"; fi
}
expect_zeros() {    # expect_zeros FILE OFFSET COUNT DESCRIPTION
  if cmp -s <(tail -c +$(($2 + 1)) "$1" | head -c "$3") <(head -c "$3" /dev/zero); then ok "$4"
  else bad "$4: not all zero"; fi
}
expect_size() {     # expect_size FILE BYTES DESCRIPTION
  local got; got=$(stat -c %s "$1" 2>/dev/null)
  if [ "$got" = "$2" ]; then ok "$3"; else bad "$3: $got bytes, not $2"; fi
}
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }

# make_stub FILE SIZE [signed]: a minimal 32-bit PE header padded to SIZE
# bytes; "signed" fills the certificate table's entry of the data directory.
make_stub() {
  python3 - "$1" "$2" "${3:-}" <<'PY'
import struct, sys
path, size, signed = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "signed"
b = bytearray(max(size, 0x200))
b[0:2] = b"MZ"
struct.pack_into("<I", b, 0x3C, 0x40)
b[0x40:0x44] = b"PE\0\0"
opt = 0x40 + 24
struct.pack_into("<H", b, opt, 0x10B)
struct.pack_into("<I", b, opt + 92, 16)
if signed:
    struct.pack_into("<II", b, opt + 96 + 4 * 8, size, 0x200)
open(path, "wb").write(bytes(b[:size]) if size >= 0x200 else bytes(b))
PY
}

finish() {
  echo "$SUITE_PASSED passed, $SUITE_FAILED failed"
  [ "$SUITE_FAILED" -eq 0 ]
}
