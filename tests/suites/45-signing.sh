#!/bin/bash
# Signing a packed updater after pack, as makers are told to: a throwaway
# self-signed certificate, osslsigncode, and then the checks that matter:
# the signature verifies and covers the payload (a changed payload byte
# breaks it), the certificate table appended at the end does not disturb
# the updater's reader (patchtool verify), and the signed updater still
# installs under Wine.
#
# Environment (tools/test sets it): ROOT, WINE, WINEPREFIX, UPDATER_WIN_BUILD.
set -uo pipefail
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
PATCHTOOL=${PATCHTOOL:-$ROOT/build/host/patchtool}
PRODUCT=${UPDATER_WIN32_BUILD:-$ROOT/build/win32}/updater.exe
. "$ROOT/tests/suites/lib/checks.bash"
. "$ROOT/tests/suites/lib/wine-run.bash"

for tool in "$PATCHTOOL" "$PRODUCT"; do
  [ -f "$tool" ] || { echo "no $tool: build first"; exit 1; }
done
for cmd in openssl osslsigncode; do
  command -v $cmd >/dev/null || { echo "no $cmd: run tools/setup"; exit 1; }
done
W=$(mktemp -d "$ROOT/build/suite-signing.XXXXXX")
trap 'rm -rf "$W"' EXIT
cd "$W"
P=$PATCHTOOL

section "a throwaway certificate"
run openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
    -subj "/CN=Throwaway patch signer"
expect_status 0 "openssl makes a self-signed certificate"

section "sign the packed product"
mkdir -p v1 v2
head -c 1500000 /dev/urandom > v1/data01.arc; head -c 1500000 /dev/urandom > v2/data01.arc
printf 'old system' > v1/system.arc; printf 'new system' > v2/system.arc
$P hvl make v1 -o v1/KVX.hvl >/dev/null
$P hvl make v2 -o v2.hvl >/dev/null
printf 'data01.arc\nsystem.arc\n\0' > v1/uninst.lst
run $P pack -o patch.exe --stub "$PRODUCT" --hvl v2.hvl v2/data01.arc v2/system.arc
expect_status 0 "pack with the 32-bit product as stub"
run osslsigncode sign -certs cert.pem -key key.pem -n "Patch" -h sha256 -in patch.exe -out signed.exe
expect_status 0 "osslsigncode sign"
run osslsigncode verify -in signed.exe -CAfile cert.pem
expect_status 0 "osslsigncode verify against the throwaway certificate"
expect_in out "Signature verification: ok" "the signature verifies"
cur=$(sed -n 's/^Current message digest *: *//p' out | tr -d ' ')
calc=$(sed -n 's/^Calculated message digest *: *//p' out | tr -d ' ')
[ -n "$cur" ] && [ "$cur" = "$calc" ] && ok "the signed digest is the file's digest" || bad "digests: $cur / $calc"
size=$(stat -c %s patch.exe)
cmp -s <(head -c $((0x40000 - 0x1000)) signed.exe | tail -c +$((0x200 + 1))) \
       <(head -c $((0x40000 - 0x1000)) patch.exe | tail -c +$((0x200 + 1))) && \
  cmp -s <(tail -c +$((0x40000 + 1)) signed.exe | head -c $((size - 0x40000))) <(tail -c +$((0x40000 + 1)) patch.exe) && \
  ok "the payload is unchanged, the certificate table follows it" || bad "signing moved the payload"

run $P verify signed.exe
expect_status 0 "patchtool verify passes on the signed updater"
expect_in out "verify: ok: 2 verified, 1 unverified, 0 failed" "every entry still verifies"
expect_in out "after the payload (signed after packing: the signature covers it)" "verify sees the signature after the payload"
run $P list patch.exe
if grep -q "^signature:" out; then bad "an unsigned updater shows a signature"; else ok "the unsigned updater shows none"; fi

cp signed.exe tampered.exe
printf 'x' | dd of=tampered.exe bs=1 seek=$((size - 2)) conv=notrunc status=none
run osslsigncode verify -in tampered.exe -CAfile cert.pem
[ "$STATUS" -ne 0 ] && ok "a changed payload byte breaks the signature: it covers the payload" \
  || bad "the signature does not cover the payload"

section "a stub signed before packing is refused"
run osslsigncode sign -certs cert.pem -key key.pem -n "Stub" -h sha256 -in "$PRODUCT" -out signed-stub.exe
expect_status 0 "sign the bare stub"
run $P pack -o late.exe --stub signed-stub.exe v2/system.arc
expect_status 1 "pack refuses the signed stub"
expect_in err "is signed already" "and says to sign after packing"
expect_absent late.exe "nothing written"

section "the signed updater installs under Wine"
RUNNABLE=${UPDATER_WIN_BUILD:-}/updater.exe
if [ -z "${WINE:-}" ] || [ ! -f "$RUNNABLE" ]; then
  bad "no Wine environment or no $RUNNABLE"
else
  run $P pack -o run.exe --stub "$RUNNABLE" --hvl v2.hvl v2/data01.arc v2/system.arc
  expect_status 0 "pack with the runnable stub"
  run osslsigncode sign -certs cert.pem -key key.pem -n "Patch" -h sha256 -in run.exe -out run-signed.exe
  expect_status 0 "sign it"
  run osslsigncode verify -in run-signed.exe -CAfile cert.pem
  expect_status 0 "it verifies"
  install_under_wine run-signed.exe v1 installed
  for f in data01.arc system.arc; do
    cmp -s "installed/$f" "v2/$f" && ok "signed updater installed $f" || bad "signed updater: $f differs"
  done
  cmp -s installed/KVX.hvl v2.hvl && ok "signed updater installed the list" || bad "signed updater: KVX.hvl"
fi

finish
