#!/bin/bash
# The update run on a drive that fills up, for real: a 2 MiB tmpfs mounted
# here, linked into the Wine prefix as a drive letter, and one case of
# win32_tests.exe that stages a file larger than the free space there. On
# such a drive WriteFile first writes fewer bytes than asked, then fails;
# the run must end with UPDATE_E_FILE_IO, no temporary file left and the
# installed files as they were.
#
# Mounting needs the right to mount; where it is missing the suite says so
# and passes without running the case.
#
# Run by tools/test with the Wine environment started; on its own it starts
# one itself: bash tests/suites/20-full-disk.sh
set -uo pipefail
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
started_wine=0
if [ -z "${WINE:-}" ]; then
  . "$ROOT/tools/wine-env"
  wine_env_as_user
  wine_env_start
  started_wine=1
  trap wine_env_stop EXIT
fi
tests=$UPDATER_WIN_BUILD/win32_tests.exe
[ -f "$tests" ] || { echo "FAIL: $tests not built"; exit 1; }

mnt=$(mktemp -d "$ROOT/build/full-disk.XXXXXX")
why=$(mount -t tmpfs -o size=2m tmpfs "$mnt" 2>&1)
if [ $? -ne 0 ]; then
  rmdir "$mnt"
  echo "full-disk: skipped, a small drive cannot be mounted here: ${why:-mount failed}"
  exit 0
fi

letter=
for l in r s t u v w x y; do
  if [ ! -e "$WINEPREFIX/dosdevices/$l:" ]; then letter=$l; break; fi
done
cleanup() {
  [ -n "$letter" ] && rm -f "$WINEPREFIX/dosdevices/$letter:"
  umount "$mnt" 2>/dev/null
  rmdir "$mnt" 2>/dev/null
}
trap 'cleanup; [ $started_wine = 1 ] && wine_env_stop' EXIT
[ -n "$letter" ] || { echo "FAIL: no free drive letter in $WINEPREFIX/dosdevices"; exit 1; }
ln -s "$mnt" "$WINEPREFIX/dosdevices/$letter:"
mkdir "$mnt/game"
wine_env_give "$mnt"
drive=$(echo "$letter" | tr a-z A-Z)

status=0
UPDATER_TEST_FULL_DRIVE_FOLDER="$drive:\\game" \
  "$WINE" "$tests" --gtest_also_run_disabled_tests \
  --gtest_filter='WinUpdateRunTest.DISABLED_OnAFullDriveTheRunStopsWithTheFolderUntouched' > "$mnt.out" 2>&1
rc=$?
tr -d '\r' < "$mnt.out"
if [ $rc -ne 0 ] || ! grep -q '^\[  PASSED  \] 1 test' "$mnt.out"; then
  echo "FAIL: the run on the full drive $drive: (exit $rc)"
  status=1
fi
rm -f "$mnt.out"
# The case removes what it put there; anything else was left by the run.
left=$(find "$mnt/game" -mindepth 1 -print)
if [ -n "$left" ]; then
  echo "FAIL: left on the full drive:"
  echo "$left"
  status=1
fi
[ $status -eq 0 ] && echo "full-disk: UPDATE_E_FILE_IO on a full $drive: drive, nothing left behind"
exit $status
