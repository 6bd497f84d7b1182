#!/bin/bash
# The committed binary resources are what resources/make_resources.py makes,
# and the 32-bit product carries them: its dialog template 102 and manifest 1
# are byte for byte the committed files, in Japanese (0x0411).
set -uo pipefail
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
BUILD=${UPDATER_WIN32_BUILD:-$ROOT/build/win32}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0

python3 "$ROOT/resources/make_resources.py" "$tmp" || { echo "FAIL: make_resources.py"; exit 1; }
for f in progress_dialog.bin updater.ico; do
  if cmp -s "$tmp/$f" "$ROOT/resources/$f"; then echo "$f: as generated"
  else echo "FAIL: resources/$f differs from what make_resources.py writes"; fail=1; fi
done

python3 - "$BUILD/updater.exe" "$ROOT/resources" <<'PY' || fail=1
import struct, sys
exe, res = sys.argv[1], sys.argv[2]
data = open(exe, "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
assert data[pe:pe + 4] == b"PE\0\0", "not a PE image"
sections = struct.unpack_from("<H", data, pe + 6)[0]
optional = struct.unpack_from("<H", data, pe + 20)[0]
magic = struct.unpack_from("<H", data, pe + 24)[0]
assert magic == 0x10B, "not a 32-bit image"
rsrc_rva = struct.unpack_from("<I", data, pe + 24 + 96 + 2 * 8)[0]   # data directory 2
table = pe + 24 + optional
def to_offset(rva):
    for i in range(sections):
        s = table + 40 * i
        vsize, va, rawsize, raw = struct.unpack_from("<IIII", data, s + 8)
        if va <= rva < va + max(vsize, rawsize):
            return raw + rva - va
    raise ValueError("rva %x outside every section" % rva)
base = to_offset(rsrc_rva)
def entries(offset):
    named, ids = struct.unpack_from("<HH", data, base + offset + 12)
    for i in range(named + ids):
        name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
        yield name, target
def find(type_id, name_id):
    out = {}
    for t, tdir in entries(0):
        if t != type_id: continue
        for n, ndir in entries(tdir & 0x7FFFFFFF):
            if n != name_id: continue
            for lang, leaf in entries(ndir & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                off = to_offset(rva)
                out[lang] = data[off:off + size]
    return out
ok = True
for type_id, name_id, path in ((5, 102, "progress_dialog.bin"), (24, 1, "updater.manifest")):
    found = find(type_id, name_id)
    want = open("%s/%s" % (res, path), "rb").read()
    if list(found) != [0x411]:
        print("FAIL: type %d id %d languages %s" % (type_id, name_id, [hex(l) for l in found])); ok = False
    elif found[0x411] != want:
        print("FAIL: type %d id %d differs from resources/%s" % (type_id, name_id, path)); ok = False
    else:
        print("type %d id %d: resources/%s, %d bytes, Japanese" % (type_id, name_id, path, len(want)))
for type_id, name_id in ((14, 101), (16, 1)):
    if list(find(type_id, name_id)) != [0x411]:
        print("FAIL: type %d id %d missing or not Japanese" % (type_id, name_id)); ok = False
sys.exit(0 if ok else 1)
PY
[ $fail -eq 0 ] && echo "resources: ok"
exit $fail
