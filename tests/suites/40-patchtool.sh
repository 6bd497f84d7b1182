#!/bin/bash
# patchtool from the command line: every subcommand's main path, every
# refusal of pack (each leaving neither the updater nor a partial file),
# an updater's bytes checked by hand, the Windows build of the tool against
# the host build, and the round trip: what pack wrote is what gets installed.
#
# Environment (tools/test sets it): ROOT, and for the Windows part WINE,
# WINEPREFIX and UPDATER_WIN_BUILD with the Wine environment started.
# PATCHTOOL overrides the host tool (default build/host/patchtool).
set -uo pipefail
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
PATCHTOOL=${PATCHTOOL:-$ROOT/build/host/patchtool}
. "$ROOT/tests/suites/lib/checks.bash"

[ -x "$PATCHTOOL" ] || { echo "no $PATCHTOOL: build the host first"; exit 1; }
W=$(mktemp -d "$ROOT/build/suite-patchtool.XXXXXX")
trap 'rm -rf "$W"' EXIT
cd "$W"
P=$PATCHTOOL

make_stub stub.exe 1024

# ---------------------------------------------------------------------------
section "help and usage"
for cmd in pack list verify "hvl make" "hvl show" "hvl check" apply; do
  run $P $cmd --help
  expect_status 0 "$cmd --help"
  expect_in out "usage: patchtool" "$cmd --help prints its usage"
done
run $P;                         expect_status 2 "no command"
run $P frobnicate;              expect_status 2 "unknown command"
run $P pack a.dat;              expect_status 2 "pack without -o"; expect_in err "-o OUT is required" "pack without -o says so"
run $P pack -o x.exe --layout wide a.dat; expect_status 2 "pack --layout wide"
run $P pack -o x.exe --bogus a.dat;      expect_status 2 "pack with an unknown option"
run $P pack -o x.exe;           expect_status 2 "pack with nothing to pack"
run $P pack -o x.exe =a.dat;    expect_status 2 "pack =PATH without a name"
run $P list;                    expect_status 2 "list without an updater"
run $P hvl;                     expect_status 2 "hvl without a subcommand"
run $P hvl make game;           expect_status 2 "hvl make without -o"
run $P apply up.exe;            expect_status 2 "apply without a folder"
expect_absent x.exe "no output after usage errors"

# ---------------------------------------------------------------------------
section "hvl make / show / check"
mkdir -p game/sub game/ツ
printf 'abc' > game/a.dat
: > game/ツクメラ.dat
head -c 1500000 /dev/urandom > game/data01.arc
printf 'sys' > game/System.arc
printf 'deep' > game/sub/deep.bin
printf 'tsu' > game/ツ/x.dat
printf 'own list' > game/KVX.hvl
printf 'data01.arc\n\0' > game/uninst.lst
run $P hvl make game -o list.hvl
expect_status 0 "hvl make"
expect_absent list.hvl.partial "hvl make leaves no partial file"
# Sorted by name ignoring case, "\" between folders, bare top-level names,
# the folder's own KVX.hvl and uninst.lst left out.
run $P hvl show list.hvl
expect_status 0 "hvl show"
expect_lines "$(sed -n 's/^  [0-9a-f]\{16\}  //p' out)" "a.dat
data01.arc
sub\\deep.bin
System.arc
ツ\\x.dat
ツクメラ.dat" "hvl make: the records and their order"
expect_in out "records: 6" "hvl show: the count"
# By hand: magic, reserved, count, then record 0 = "a.dat" with the
# checksum of "abc", 06 B4 50 00 12 CC 26 60, at bytes 56..63.
expect_hex list.hvl 0 16 "44514d5f5f5f5f5f0000000006000000" "hvl: header bytes"
expect_hex list.hvl 16 6 "612e64617400" "hvl: record 0 name"
expect_hex list.hvl $((16 + 56)) 8 "06b4500012cc2660" "hvl: record 0 checksum of \"abc\""
expect_hex list.hvl $((16 + 5 * 64)) 13 "8363834e838183892e64617400" "hvl: record 5 name in code page 932"
expect_hex list.hvl $((16 + 5 * 64 + 56)) 8 "0000000000000000" "hvl: checksum of an empty file"
[ "$(stat -c %s list.hvl)" = $((16 + 6 * 64)) ] && ok "hvl: size" || bad "hvl: size $(stat -c %s list.hvl)"

run $P hvl check game list.hvl
expect_status 0 "hvl check of the same folder"
cp -r game game2
printf 'abd' > game2/a.dat
rm game2/sub/deep.bin
run $P hvl check game2 list.hvl
expect_status 1 "hvl check of a changed folder fails"
expect_in out "differs   a.dat" "hvl check names the changed file"
expect_in out "missing   sub\\deep.bin" "hvl check names the missing file"
expect_in out "ok        System.arc" "hvl check: the rest is ok"
rm -rf game2

mkdir long
touch "long/$(printf 'n%.0s' $(seq 56))"
run $P hvl make long -o long.hvl
expect_status 1 "hvl make: a 56-byte name"
expect_in err "a record holds at most 55" "hvl make says the name is too long"
expect_absent long.hvl "hvl make refused: no list"
rm -rf long; mkdir long; touch long/café.dat
run $P hvl make long -o long.hvl
expect_status 1 "hvl make: a name without a code page 932 form"
expect_in err "café.dat: the name has no form in code page 932" "hvl make names the file"
expect_absent long.hvl "hvl make refused: no list"
printf 'NOT_DQM_' > bad.hvl
run $P hvl show bad.hvl
expect_status 1 "hvl show: not a list"
expect_in err "bad.hvl" "hvl show names the file"

# ---------------------------------------------------------------------------
section "pack: the bytes of a small updater, by hand"
mkdir small other
printf 'abc' > small/a.dat
: > small/ツクメラ.dat
: > other/empty.bin
$P hvl make small -o small.hvl >/dev/null
run $P pack -o small.exe --stub stub.exe --hvl small.hvl small/a.dat ツクメラ.dat=other/empty.bin
expect_status 0 "pack (long)"
H=$(stat -c %s small.hvl)
expect_size small.exe $((0x40000 + 16 + 3 * 128 + H + 3)) "long: file size"
cmp -s -n 1024 small.exe stub.exe && ok "long: the stub first" || bad "long: the stub first"
expect_zeros small.exe 1024 $((0x40000 - 1024)) "long: zeros up to 0x40000"
expect_hex small.exe $((0x40000)) 16 "56454c4d4f52204152433230""03000000" "long: magic and count"
expect_hex small.exe $((0x40010)) 8 "4b56582e68766c00" "long: entry 0 is KVX.hvl"
expect_hex small.exe $((0x40010 + 96)) 8 "00000000$(le32 $H)" "long: entry 0 offset and size"
expect_zeros small.exe $((0x40010 + 104)) 24 "long: entry 0 trailing bytes"
expect_hex small.exe $((0x40090)) 6 "612e64617400" "long: entry 1 is a.dat"
expect_hex small.exe $((0x40090 + 96)) 8 "$(le32 $H)03000000" "long: entry 1 offset and size"
expect_hex small.exe $((0x40110)) 13 "8363834e838183892e64617400" "long: entry 2's name in code page 932"
expect_hex small.exe $((0x40110 + 96)) 8 "$(le32 $((H + 3)))00000000" "long: entry 2 offset and size"
cmp -s <(tail -c +$((0x40190 + 1)) small.exe | head -c $H) small.hvl && ok "long: the list's data at 0x40190" || bad "long: the list's data"
expect_hex small.exe $((0x40190 + H)) 3 "616263" "long: a.dat's data after it"

run $P pack -o short.exe --stub stub.exe --layout short --hvl small.hvl small/a.dat ツクメラ.dat=other/empty.bin
expect_status 0 "pack (short)"
expect_size short.exe $((0x40000 + 16 + 3 * 32 + H + 3)) "short: file size"
expect_hex short.exe $((0x40000)) 16 "000000000000000000000000""03000000" "short: zero magic and count"
expect_hex short.exe $((0x40010 + 32)) 16 "612e6461740000000000000000000000" "short: entry 1's name field"
expect_hex short.exe $((0x40010 + 32 + 16)) 8 "$(le32 $H)03000000" "short: entry 1 offset and size"
expect_hex short.exe $((0x40010 + 64)) 16 "8363834e838183892e64617400000000" "short: entry 2's name"
expect_hex short.exe $((0x40070 + H)) 3 "616263" "short: data area at 0x40070"

# ---------------------------------------------------------------------------
section "list and verify"
run $P list small.exe
expect_status 0 "list"
expect_in out "layout: long (128-byte entries), 3 entries, data area at 0x40190" "list: layout and data area"
expect_in out "hash value list: KVX.hvl, 2 records" "list: the list"
expect_line_match out "a\.dat +record a\.dat 06b4500012cc2660" "list: a.dat and its record"
expect_line_match out "ツクメラ\.dat +record ツクメラ\.dat 0000000000000000" "list: the name shown in UTF-8"
expect_line_match out "KVX\.hvl +unverified" "list: the list itself is unverified"
run $P list short.exe
expect_in out "layout: short (32-byte entries), 3 entries, data area at 0x40070" "list: short layout"

run $P verify small.exe
expect_status 0 "verify"
expect_in out "verified    a.dat" "verify: a.dat verified"
expect_in out "unverified  KVX.hvl" "verify: the list unverified"
expect_in out "verify: ok: 2 verified, 1 unverified, 0 failed" "verify: summary"

cp small.exe bad.exe
printf 'x' | dd of=bad.exe bs=1 seek=$((0x40190 + H + 1)) conv=notrunc status=none
run $P verify bad.exe
expect_status 1 "verify: a changed byte fails"
expect_in out "mismatch    a.dat" "verify: names the mismatch"
cp small.exe bad.exe
printf 'X' | dd of=bad.exe bs=1 seek=$((0x40190 + 7)) conv=notrunc status=none   # the list's magic
run $P verify bad.exe
expect_status 1 "verify: a KVX.hvl entry that is no list fails"
expect_in out "the KVX.hvl entry is not a hash value list" "verify: says so"
expect_in out "unverified  a.dat" "verify: a.dat is then unverified"
cp small.exe bad.exe; truncate -s $((0x40190 + H + 1)) bad.exe
run $P verify bad.exe
expect_status 1 "verify: a short file fails"
expect_in out "short       a.dat: the file ends after 1 of its 3 bytes" "verify: names the short entry"
cp small.exe bad.exe; printf '\x21' | dd of=bad.exe bs=1 seek=$((0x4000C)) conv=notrunc status=none
run $P verify bad.exe
expect_status 1 "verify: 33 entries fail"
expect_in err "more than 32 entries" "verify: says why"
expect_in err "UPDATE_E_TOO_MANY_ENTRIES" "verify: with the updater's result"
truncate -s $((0x40000)) bad.exe
run $P verify bad.exe
expect_status 1 "verify: no payload"
expect_in err "0x40000" "verify: says where the payload should be"
run $P list stub.exe
expect_status 1 "list of a bare stub fails"
run $P verify missing.exe
expect_status 1 "verify: a missing file"
expect_in err "missing.exe: no such file" "verify: names it"
rm -f bad.exe

# ---------------------------------------------------------------------------
section "pack refuses, and leaves nothing"
mkdir -p in/one in/two
for i in $(seq 0 32); do printf "$i" > in/f$i.dat; done
printf 'one' > in/one/same.dat
printf 'two' > in/two/SAME.DAT
long95=$(printf 'a%.0s' $(seq 95)); long96=${long95}a
cp in/f1.dat "in/$long96"
files32=(); for i in $(seq 0 31); do files32+=(in/f$i.dat); done

refused() {   # refused DESCRIPTION MESSAGE ARGS... (after "pack -o out.exe")
  local desc=$1 msg=$2; shift 2
  run $P pack -o out.exe "$@"
  expect_status 1 "refused: $desc"
  expect_in err "$msg" "refused: $desc: says \"$msg\""
  expect_absent out.exe "refused: $desc: no updater"
  expect_absent out.exe.partial "refused: $desc: no partial file"
}
run $P pack -o out.exe --stub stub.exe "${files32[@]}"
expect_status 0 "32 entries are packed"; rm -f out.exe
refused "33 entries" "33 entries" --stub stub.exe "${files32[@]}" in/f32.dat
refused "32 files and a list" "33 entries" --stub stub.exe --hvl small.hvl "${files32[@]}"
run $P pack -o out.exe --stub stub.exe "$long95=in/f1.dat"
expect_status 0 "a 95-byte name fits the long layout"; rm -f out.exe
refused "a 96-byte name" "holds at most 95" --stub stub.exe "in/$long96"
refused "a 48-character kana name (96 bytes)" "holds at most 95" --stub stub.exe "$(printf 'ア%.0s' $(seq 48))=in/f1.dat"
refused "a 16-byte name, short layout" "holds at most 15" --stub stub.exe --layout short "abcdefghijkl.dat=in/f1.dat"
refused "a name without code page 932" "code page 932 lacks" --stub stub.exe "café.dat=in/f1.dat"
refused "WAVE DASH (one-way mapping)" "code page 932 lacks" --stub stub.exe "a〜b.dat=in/f1.dat"
refused "a name leaving the folder" "not a plain path inside the install folder" --stub stub.exe "../evil.dat=in/f1.dat"
refused "an absolute name" "not a plain path inside the install folder" --stub stub.exe "/etc/evil=in/f1.dat"
refused "a drive" "not a plain path inside the install folder" --stub stub.exe "C:evil.dat=in/f1.dat"
refused "a Windows device name" "Windows device" --stub stub.exe "aux.dat=in/f1.dat"
refused "a '?' in a name" "'?'" --stub stub.exe "a?.dat=in/f1.dat"
# The updater's own rule, so each message names the entry and the reason.
refused "a name that is the folder itself" 'in/f1.dat (name ".")' --stub stub.exe ".=in/f1.dat"
refused "a name that is the folder itself: the reason" 'made only of dots and spaces' --stub stub.exe ".=in/f1.dat"
refused "a folder's own dot" 'made only of dots and spaces' --stub stub.exe "sub/.=in/f1.dat"
refused "a device despite a space before the dot" "Windows device (nul .txt)" --stub stub.exe "nul .txt=in/f1.dat"
refused "a device with two extensions" "Windows device (COM1.tar.gz)" --stub stub.exe "COM1.tar.gz=in/f1.dat"
refused "a device as a folder" "Windows device (CONOUT\$)" --stub stub.exe "CONOUT\$/x.dat=in/f1.dat"
refused "a file that is another's folder" "in/f2.dat is installed as \"A\\b.dat\", inside in/f1.dat" \
  --stub stub.exe "a=in/f1.dat" "A/b.dat=in/f2.dat"
refused "the same name twice, letter case aside" "are both installed as" --stub stub.exe in/one/same.dat in/two/SAME.DAT
refused "another's temporary name" "the temporary name" --stub stub.exe x.dat=in/f1.dat x.dat.tmp=in/f2.dat
refused "uninst.lst" "uninstall list" --stub stub.exe uninst.lst=in/f1.dat
refused "a list twice" "are both installed as" --stub stub.exe --hvl small.hvl KVX.hvl=small.hvl
refused "a missing file" "in/nothing.dat: no such file" --stub stub.exe in/nothing.dat
refused "a folder as a file" "in/one: not a regular file" --stub stub.exe in/one
cp in/f1.dat out.exe; run $P pack -o out.exe --stub stub.exe out.exe
expect_status 1 "refused: the output is the payload file"; expect_in err "is also an input" "refused: output is input: says so"
cmp -s out.exe in/f1.dat && ok "refused: output is input: the input is untouched" || bad "the input was changed"
rm -f out.exe
run $P pack -o nodir/out.exe --stub stub.exe in/f1.dat
expect_status 1 "refused: the output's folder is missing"; expect_in err "does not exist" "refused: missing folder: says so"
# All problems at once, each naming its file.
run $P pack -o out.exe --stub stub.exe "../a=in/f1.dat" "b?=in/f2.dat"
[ "$(grep -c 'refused:' err)" = 2 ] && ok "every problem is reported at once" || bad "problems: $(cat err)"

make_stub big-stub.exe $((0x40000))
make_stub edge-stub.exe $((0x3FFFF))
run $P pack -o out.exe --stub edge-stub.exe in/f1.dat
expect_status 0 "a stub of 0x3FFFF bytes is packed"
expect_hex out.exe $((0x3FFFF)) 1 "00" "the last stub byte is 0x3FFFF"
rm -f out.exe
refused "a stub reaching 0x40000" "must end before 0x40000" --stub big-stub.exe in/f1.dat
printf 'not a program' > text-stub.exe
refused "a stub that is no program" "not a Windows program" --stub text-stub.exe in/f1.dat
make_stub signed-stub.exe 1024 signed
refused "a signed stub" "is signed already" --stub signed-stub.exe in/f1.dat

# 32-bit offsets and sizes: sparse files, never read (the plan refuses first).
truncate -s 2G in/two-gib.bin
truncate -s 3G in/three-gib.bin
truncate -s 4G in/four-gib.bin
refused "a file of 4 GiB" "at most 4 GiB - 1" --stub stub.exe in/four-gib.bin
refused "an entry starting past 2 GiB" "past 2 GiB" --stub stub.exe in/two-gib.bin in/f1.dat
refused "an updater passing 4 GiB" "below 4 GiB" --stub stub.exe in/f1.dat in/three-gib.bin in/two-gib.bin
rm -f in/two-gib.bin in/three-gib.bin in/four-gib.bin

# A file whose record in the list has another checksum.
mkdir stale; printf 'version 1' > stale/data.arc; printf 'keep' > stale/other.arc
$P hvl make stale -o stale.hvl >/dev/null
printf 'version 2' > stale/data.arc
refused "a file whose record has another checksum" "data.arc: its checksum is" --stub stub.exe --hvl stale.hvl stale/data.arc stale/other.arc
expect_in err "UPDATE_E_PAYLOAD" "refused: stale record: says what the updater would do"
refused "a list too short for its header" "bad.hvl: shorter than the 16-byte header" --stub stub.exe --hvl bad.hvl in/f1.dat
printf 'NOT_DQM_\0\0\0\0\0\0\0\0' > bad16.hvl
refused "a list with another magic" "not a hash value list" --stub stub.exe --hvl bad16.hvl in/f1.dat
printf 'DQM_____\0\0\0\0\2\0\0\0' > cut.hvl
refused "a list shorter than its count" "says 2 records" --stub stub.exe --hvl cut.hvl in/f1.dat
# The record's name, not the entry's, is where the file goes.
python3 - <<'EOF'
import struct
rec = b'..\\evil.dat'.ljust(56, b'\0') + bytes(8)
open('evil.hvl', 'wb').write(b'DQM_____' + struct.pack('<II', 0, 1) + rec)
EOF
refused "a record leading out of the folder" "record \"..\\evil.dat\"" --stub stub.exe --hvl evil.hvl evil.dat=in/f1.dat

# The default stub: <tool's folder>/../win32/updater.exe, then beside the tool.
mkdir -p tool/host tool/win32
cp "$P" tool/host/patchtool
make_stub tool/win32/updater.exe 2048
make_stub tool/host/updater.exe 3072
run tool/host/patchtool pack -o out.exe in/f1.dat
expect_status 0 "pack with the default stub"
cmp -s -n 2048 out.exe tool/win32/updater.exe && ok "the default stub is ../win32/updater.exe" || bad "default stub"
rm -f out.exe tool/win32/updater.exe
run tool/host/patchtool pack -o out.exe in/f1.dat
cmp -s -n 3072 out.exe tool/host/updater.exe && ok "then updater.exe beside the tool" || bad "stub beside the tool"
rm -f out.exe tool/host/updater.exe
run tool/host/patchtool pack -o out.exe in/f1.dat
expect_status 1 "refused: no stub anywhere"
expect_in err "give --stub FILE" "refused: no stub: says what to do"
expect_absent out.exe "refused: no stub: no updater"

# An interrupted pack leaves no partial file behind.
truncate -s 1G in/sparse.bin
$P pack -o int.exe --stub stub.exe in/sparse.bin >/dev/null 2>&1 &
pid=$!
for i in $(seq 2000); do [ -e int.exe.partial ] && break; sleep 0.005; done
if [ -e int.exe.partial ]; then
  kill -INT $pid; wait $pid; st=$?
  [ $st -ne 0 ] && [ ! -e int.exe ] && [ ! -e int.exe.partial ] && ok "interrupted pack leaves nothing" \
    || bad "interrupted pack: status $st, left: $(ls int.exe* 2>/dev/null)"
else
  wait $pid; bad "interrupted pack: the partial file never showed"
fi
rm -f in/sparse.bin int.exe int.exe.partial

# ---------------------------------------------------------------------------
section "apply: what pack wrote is what gets installed"
# A game install, a newer version of some files, the list made from it.
mkdir -p v1/sub v1/ツ v2/sub v2/ツ
head -c 2500000 /dev/urandom > v1/data01.arc; head -c 2500000 /dev/urandom > v2/data01.arc
printf 'old system' > v1/system.arc;          printf 'new system' > v2/system.arc
printf 'old deep' > v1/sub/deep.bin;          printf 'new deep' > v2/sub/deep.bin
printf 'old tsu' > v1/ツ/x.dat;               printf 'new tsu' > v2/ツ/x.dat
printf 'same' > v1/same.arc;                  printf 'same' > v2/same.arc
head -c 1048576 /dev/urandom > v2/added.arc   # a new file, exactly 1 MiB
$P hvl make v1 -o v1/KVX.hvl >/dev/null
$P hvl make v2 -o v2.hvl >/dev/null
printf 'data01.arc\nsystem.arc\nsame.arc\n\0' > v1/uninst.lst
run $P pack -o patch.exe --stub stub.exe --hvl v2.hvl v2/data01.arc v2/system.arc v2/sub/deep.bin \
    v2/ツ/x.dat v2/added.arc
expect_status 0 "pack the patch"
expect_in err "note: sub\\deep.bin: goes into a folder" "pack notes the folder the updater will not create"
run $P verify patch.exe
expect_status 0 "verify the patch"
expect_in out "verify: ok: 5 verified, 1 unverified, 0 failed" "every payload file has its record"

cp -r v1 inst
run $P apply patch.exe inst
expect_status 0 "apply"
expect_in out "outcome: UPDATE_OK (0x00000000)" "apply: outcome"
expect_in out "installed sub\\deep.bin" "apply: lists the installed files"
expect_in out "installed ツ\\x.dat" "apply: names in UTF-8"
for f in data01.arc system.arc sub/deep.bin ツ/x.dat added.arc same.arc; do
  cmp -s "inst/$f" "v2/$f" && ok "installed $f is the packed bytes" || bad "installed $f differs"
done
cmp -s inst/KVX.hvl v2.hvl && ok "the list installed (every record's file exists)" || bad "installed KVX.hvl"
expect_lines "$(tr -d '\0' < inst/uninst.lst | iconv -f CP932 -t UTF-8)" "data01.arc
system.arc
same.arc
KVX.hvl
sub\\deep.bin
ツ\\x.dat
added.arc" "uninst.lst: the new names appended"
expect_hex inst/uninst.lst $(($(stat -c %s inst/uninst.lst) - 1)) 1 "00" "uninst.lst still ends in its NUL"
[ -z "$(find inst -name '*.tmp')" ] && ok "no temporary file left" || bad "temporary files left"
run $P hvl check inst v2.hvl
expect_status 0 "the install checks against the new list"

# Long work shows a progress line on a terminal, and only there.
script -qec "$P verify patch.exe >/dev/null" /dev/null > tty.txt 2>&1
grep -qa "reading .*%.*data01.arc" tty.txt && ok "verify shows a progress line on a terminal" || bad "no progress line on a terminal"
run $P verify patch.exe
[ ! -s err ] && ok "and none when stderr is not a terminal" || bad "progress written to a non-terminal: $(head -c 200 err)"
script -qec "$P hvl make v2 -o tty.hvl >/dev/null" /dev/null > tty.txt 2>&1
grep -qa "checksumming .*%" tty.txt && ok "hvl make shows a progress line on a terminal" || bad "hvl make: no progress line"
rm -f tty.txt tty.hvl

# A patch the updater would refuse changes nothing.
cp patch.exe broken.exe
printf 'x' | dd of=broken.exe bs=1 seek=$(( $(stat -c %s broken.exe) - 2 )) conv=notrunc status=none
rm -rf inst; cp -r v1 inst
before=$(cd inst && find . -type f -exec sha1sum {} + | sort)
run $P apply broken.exe inst
expect_status 1 "apply of a damaged patch fails"
expect_in out "outcome: UPDATE_E_PAYLOAD" "apply: the updater's outcome"
[ "$before" = "$(cd inst && find . -type f -exec sha1sum {} + | sort)" ] && ok "a failed apply changes nothing" \
  || bad "a failed apply changed the folder"
rm -f inst/uninst.lst
run $P apply patch.exe inst
expect_status 1 "apply without uninst.lst"
expect_in out "outcome: UPDATE_E_UNINSTALL_LIST" "apply: UPDATE_E_UNINSTALL_LIST"
rm -rf inst; mkdir inst
run $P apply patch.exe inst
expect_in out "CANNOT    create sub\\deep.bin.tmp" "apply names the file it could not create"
expect_in out "outcome: UPDATE_E_FILE_IO" "apply: UPDATE_E_FILE_IO without the folders"
rm -rf inst

# ---------------------------------------------------------------------------
section "pack --from OLD --to NEW: two version folders"
# v1 and v2 from above: two changed files in sub-folders, one changed with
# a Japanese folder name, one added, one unchanged. The folder pack must be
# byte for byte the pack made by hand from the same files in the same
# order (bare names, so that the records place them) with hvl make's list.
run $P pack -o by-hand.exe --stub stub.exe --hvl v2.hvl v2/added.arc v2/data01.arc v2/sub/deep.bin v2/system.arc v2/ツ/x.dat
expect_status 0 "pack by hand"
run $P pack --from v1 --to v2 -o folders.exe --stub stub.exe
expect_status 0 "pack --from --to"
cmp -s folders.exe by-hand.exe && ok "pack --from --to gives the hand-made updater byte for byte" || bad "the folder pack differs from the hand-made one"
expect_in out "4 changed, 1 added, 1 unchanged, 0 removed" "pack --from --to: the counts"
run $P pack --from v1 --to v2 -o folders2.exe --stub stub.exe
cmp -s folders.exe folders2.exe && ok "the same two folders give the same bytes" || bad "two packs of the same folders differ"
rm -f folders2.exe by-hand.exe
run $P verify folders.exe
expect_in out "verify: ok: 5 verified, 1 unverified, 0 failed" "every packed file verified by its record"

# A second pair: a removed file, a new file in a new folder, Japanese names.
mkdir -p old/データ old/sub new/データ new/sub
printf 'exe 1.00' > old/Game.exe;      printf 'exe 1.01' > new/Game.exe
printf 'same' > old/データ/共通.arc;    printf 'same' > new/データ/共通.arc
printf 'serifu 1' > old/データ/台詞.arc; printf 'serifu 2, longer' > new/データ/台詞.arc
printf 'gone' > old/sub/obsolete.dat
printf 'Game.exe\n\0' > old/uninst.lst
run $P pack --from old --to new -o out.exe --stub stub.exe --prove
expect_status 0 "pack --prove with a removed file"
expect_in err "warning: sub\\obsolete.dat: in old but gone in the new folder" "a removed file is warned about"
expect_in out "proof: ok" "the proof holds"
expect_absent out.exe.proof "the scratch copy is removed"
[ "$(cat old/sub/obsolete.dat)" = gone ] && [ "$(cat old/Game.exe)" = "exe 1.00" ] && ok "OLD untouched by the proof" || bad "the proof changed OLD"
rm -f out.exe

run $P pack --from old --to new --stub stub.exe --plan --json
expect_status 0 "--plan --json"
python3 - out <<'EOF2' && ok "--plan --json: changed, added, removed, unchanged, records" || bad "--plan --json: $(cat out)"
import json, sys
p = json.load(open(sys.argv[1], encoding='utf-8'))
assert [c['name'] for c in p['changed']] == ['Game.exe', 'データ\\台詞.arc'], p['changed']
assert p['changed'][1]['entry'] == '台詞.arc' and p['changed'][1]['record'] == 'データ\\台詞.arc'
assert p['added'] == [] and p['removed'] == ['sub\\obsolete.dat'] and p['unchanged'] == 1
assert p['list']['made'] and p['list']['records'] == 3 and p['entries'] == 3 and p['ok']
EOF2
expect_absent out.exe "--plan writes nothing"

refused_folders() {   # refused_folders DESCRIPTION MESSAGE ARGS... (after "pack --from old --to new -o out.exe")
  local desc=$1 msg=$2; shift 2
  run $P pack --from old --to new -o out.exe --stub stub.exe "$@"
  expect_status 1 "refused: $desc"
  expect_in err "$msg" "refused: $desc: says \"$msg\""
  [ ! -e out.exe ] && [ ! -e out.exe.partial ] && [ ! -e out.exe.proof ] && ok "refused: $desc: nothing left" \
    || bad "refused: $desc: left $(ls -d out.exe* 2>/dev/null)"
}
refused_folders "a removed file, --strict" "sub\\obsolete.dat: in old but gone" --strict --prove
mkdir new/新フォルダ; printf 'x' > new/新フォルダ/追加.dat
refused_folders "a new file in a new folder" "新フォルダ\\追加.dat: its folder 新フォルダ does not exist in old" --prove
rm -rf new/新フォルダ
for i in $(seq 1 30); do printf "$i" > new/add$i.dat; done
refused_folders "32 changed or added files" "32 files are new or changed; an updater carries at most 31"
rm -f new/add*.dat
$P hvl make old -o new/KVX.hvl >/dev/null
refused_folders "a KVX.hvl that disagrees" "KVX.hvl: Game.exe: the record says"
expect_in err "lists sub\\obsolete.dat, which the new folder does not have" "the disagreeing list: every difference named"
rm -f new/KVX.hvl
run $P pack --from old --to old -o out.exe --stub stub.exe
expect_status 1 "refused: two identical trees"
expect_in err "nothing to patch" "refused: two identical trees: says so"
expect_absent out.exe "refused: two identical trees: no updater"

# Progress on a terminal for the comparison and the proof, nothing on a pipe.
script -qec "$P pack --from v1 --to v2 -o tty.exe --stub stub.exe --prove >/dev/null" /dev/null > tty.txt 2>&1
grep -qa "comparing .*%.*data01.arc" tty.txt && ok "pack --from shows the comparison on a terminal" || bad "no comparing line on a terminal"
grep -qa "proving .*%" tty.txt && ok "and the proof" || bad "no proving line on a terminal"
rm -f tty.exe tty.txt
run $P pack --from v1 --to v2 -o pipe.exe --stub stub.exe --prove
[ ! -s err ] && ok "and nothing when stderr is not a terminal" || bad "progress written to a pipe: $(head -c 200 err)"
rm -f pipe.exe

# The proof's benchmark (tools/bench-proof), briefly, so that it keeps working.
run bash "$ROOT/tools/bench-proof" --quick --stub stub.exe --work "$W/bench-proof"
expect_status 0 "tools/bench-proof --quick"
expect_line_match out "^ratios: proof_vs_cmp=[0-9.]+ proof_s=" "tools/bench-proof: the ratios line"

# ---------------------------------------------------------------------------
section "under Wine: the Windows build of the tool, and the real updater"
if [ -n "${WINE:-}" ] && [ -n "${UPDATER_WIN_BUILD:-}" ] && [ -f "${UPDATER_WIN_BUILD:-}/patchtool.exe" ]; then
  # Wine sees only the prefix's drive C: (tools/wine-env removes z:).
  C=$WINEPREFIX/drive_c/suite-patchtool.$$
  rm -rf "$C"; mkdir -p "$C"
  cp -r v2 stub.exe "$C/"
  wine_env_give "$C"
  PW() { "$WINE" "$UPDATER_WIN_BUILD/patchtool.exe" "$@"; }
  cw='C:\suite-patchtool.'$$
  run PW hvl make "$cw\\v2" -o "$cw\\v2.hvl"
  expect_status 0 "patchtool.exe hvl make"
  cmp -s "$C/v2.hvl" v2.hvl && ok "patchtool.exe makes the host's list byte for byte" || bad "lists differ"
  run PW pack -o "$cw\\patch.exe" --stub "$cw\\stub.exe" --hvl "$cw\\v2.hvl" "$cw\\v2\\data01.arc" \
      "$cw\\v2\\system.arc" "$cw\\v2\\sub\\deep.bin" "$cw\\v2\\ツ\\x.dat" "$cw\\v2\\added.arc"
  expect_status 0 "patchtool.exe pack (names from the UTF-16 command line)"
  cmp -s "$C/patch.exe" patch.exe && ok "patchtool.exe packs the host's updater byte for byte" || bad "updaters differ"
  run PW pack -o "$cw\\bad.exe" --stub "$cw\\stub.exe" "café.dat=$cw\\stub.exe"
  expect_status 1 "patchtool.exe refuses a name without code page 932"
  [ ! -e "$C/bad.exe" ] && [ ! -e "$C/bad.exe.partial" ] && ok "patchtool.exe: refused, nothing written" || bad "left a file"
  run PW verify "$cw\\patch.exe"
  expect_status 0 "patchtool.exe verify"
  # pack --from --to: the same bytes as the host's, and the proof with the
  # Windows calls (hard links, the run's own moves) under Wine.
  cp -r v1 old new "$C/"
  run PW pack --from "$cw\\v1" --to "$cw\\v2" -o "$cw\\folders.exe" --stub "$cw\\stub.exe" --prove
  expect_status 0 "patchtool.exe pack --from --to --prove"
  expect_in out "proof: ok" "patchtool.exe: the proof holds"
  cmp -s "$C/folders.exe" folders.exe && ok "patchtool.exe packs the host's folder updater byte for byte" || bad "folder updaters differ"
  [ ! -e "$C/folders.exe.proof" ] && ok "patchtool.exe: the scratch copy is removed" || bad "patchtool.exe left the scratch copy"
  run PW pack --from "$cw\\old" --to "$cw\\new" -o "$cw\\jp.exe" --stub "$cw\\stub.exe" --prove
  expect_status 0 "patchtool.exe pack --from --to with Japanese names"
  run $P pack --from old --to new -o jp.exe --stub stub.exe
  cmp -s "$C/jp.exe" jp.exe && ok "patchtool.exe: Japanese names, the host's bytes" || bad "Japanese-name updaters differ"
  run PW pack --from "$cw\\old" --to "$cw\\old" -o "$cw\\same.exe" --stub "$cw\\stub.exe"
  expect_status 1 "patchtool.exe refuses two identical trees"
  [ ! -e "$C/same.exe" ] && [ ! -e "$C/same.exe.partial" ] && ok "patchtool.exe: refused, nothing written" || bad "left a file"
  $P hvl make old -o "$C/new/KVX.hvl" >/dev/null   # the old version's list in the new folder
  run PW pack --from "$cw\\old" --to "$cw\\new" -o "$cw\\stale.exe" --stub "$cw\\stub.exe"
  expect_status 1 "patchtool.exe refuses a KVX.hvl that disagrees with the new files"
  expect_in err "Game.exe: the record says" "patchtool.exe names the disagreeing record"
  [ ! -e "$C/stale.exe" ] && [ ! -e "$C/stale.exe.partial" ] && ok "patchtool.exe: refused, nothing written" || bad "left a file"
  rm -f jp.exe
  # apply with the Windows seam: the run's own calls, ANSI code page 932.
  cp -r v1 "$C/inst"
  wine_env_give "$C/inst"
  run PW apply "$cw\\patch.exe" "$cw\\inst"
  expect_status 0 "patchtool.exe apply"
  expect_in out "outcome: UPDATE_OK" "patchtool.exe apply: outcome"
  for f in data01.arc system.arc sub/deep.bin ツ/x.dat added.arc; do
    cmp -s "$C/inst/$f" "v2/$f" && ok "Windows apply installed $f" || bad "Windows apply: $f differs"
  done
  rm -rf "$C"

  # The round trip through the real updater: pack on the stub that runs
  # here, then the updater installs exactly the packed bytes.
  . "$ROOT/tests/suites/lib/wine-run.bash"
  if [ -f "$UPDATER_WIN_BUILD/e2e_driver.exe" ]; then
    run $P pack -o real.exe --stub "$UPDATER_WIN_BUILD/updater.exe" --hvl v2.hvl v2/data01.arc v2/system.arc \
        v2/sub/deep.bin v2/ツ/x.dat v2/added.arc
    expect_status 0 "pack on the runnable stub"
    install_under_wine real.exe v1 real-inst
    for f in data01.arc system.arc sub/deep.bin ツ/x.dat added.arc same.arc; do
      cmp -s "real-inst/$f" "v2/$f" && ok "the real updater installed $f as packed" || bad "real updater: $f differs"
    done
    cmp -s real-inst/KVX.hvl v2.hvl && ok "the real updater installed the list" || bad "real updater: KVX.hvl"
    expect_lines "$(tr -d '\0' < real-inst/uninst.lst | iconv -f CP932 -t UTF-8)" "data01.arc
system.arc
same.arc
KVX.hvl
sub\\deep.bin
ツ\\x.dat
added.arc" "the real updater appended the new names to uninst.lst"
    [ -z "$(find real-inst -name '*.tmp')" ] && ok "no temporary file left by the real updater" || bad "temporary files left"
  else
    bad "no $UPDATER_WIN_BUILD/e2e_driver.exe for the round trip through the real updater"
  fi
else
  echo "(no Wine environment or no ${UPDATER_WIN_BUILD:-<windows build>}/patchtool.exe: Windows part not run)"
  [ -n "${WINE:-}" ] && bad "Wine is set up but patchtool.exe is missing"
fi

finish
