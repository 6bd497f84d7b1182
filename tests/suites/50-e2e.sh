#!/bin/bash
# The real updater under Wine, driven by tests/e2e/e2e_driver.exe: every
# case builds its updater file from the stub, prepares the registry value and
# an install folder, answers the updater's windows and checks the exit code
# and the folder. Screenshots of the confirmation, the progress dialog and
# the outcome box go to build/screenshots/.
#
# Run by tools/test with the Wine environment started; on its own it starts
# one itself: bash tests/suites/50-e2e.sh [--case NAME]
set -uo pipefail
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
if [ -z "${WINE:-}" ]; then
  . "$ROOT/tools/wine-env"
  wine_env_as_user
  wine_env_start
  trap wine_env_stop EXIT
fi
driver=$UPDATER_WIN_BUILD/e2e_driver.exe
[ -f "$driver" ] || { echo "FAIL: $driver not built"; exit 1; }
[ -f "$UPDATER_WIN_BUILD/updater.exe" ] || { echo "FAIL: $UPDATER_WIN_BUILD/updater.exe not built"; exit 1; }

shots=$ROOT/build/screenshots
mkdir -p "$shots"
wine_env_give "$shots"   # the driver writes the pictures as Wine's user
rm -f "$shots"/confirmation.png "$shots"/progress.png "$shots"/outcome.png "$shots"/cancel-question.png

# From inside the prefix: Wine cannot enter a Linux folder outside its drives.
(cd "$WINEPREFIX/drive_c" && "$WINE" "$driver" all --shots "$shots" "$@")
status=$?

# Every picture must show something: a black screen means the windows were
# not there when it was taken.
if [ $# -eq 0 ]; then
  for shot in confirmation progress outcome cancel-question; do
    f=$shots/$shot.png
    if [ ! -s "$f" ]; then echo "FAIL: no screenshot $f"; status=1; continue; fi
    mean=$(convert "$f" -colorspace Gray -format '%[fx:mean]' info: 2>/dev/null || echo 0)
    if awk -v m="$mean" 'BEGIN{exit !(m < 0.02)}'; then echo "FAIL: $f is blank (mean $mean)"; status=1; fi
  done
fi
exit $status
