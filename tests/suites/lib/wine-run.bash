# Installing a packed updater into a copy of a game folder under Wine
# (sourced by the suites; needs WINE, WINEPREFIX, UPDATER_WIN_BUILD and a
# started Wine environment).
#
#   install_under_wine UPDATER SOURCE_FOLDER RESULT_FOLDER
#
# copies SOURCE_FOLDER into the prefix's drive C:, runs UPDATER's payload
# into it and copies the folder back out to RESULT_FOLDER. Wine sees only
# drive C: (tools/wine-env removes z:), so everything goes through it.

install_under_wine() {
  local updater=$1 source=$2 result=$3
  local area=$WINEPREFIX/drive_c/suite-install.$$
  local win='C:\suite-install.'$$
  rm -rf "$area" "$result"
  mkdir -p "$area"
  cp -r "$source" "$area/game"
  cp "$updater" "$area/updater.exe"
  run "$WINE" "$UPDATER_WIN_BUILD/patchtool.exe" apply "$win\\updater.exe" "$win\\game"
  expect_status 0 "the payload installs under Wine (patchtool.exe apply, the updater's own run)"
  expect_in out "outcome: UPDATE_OK" "outcome UPDATE_OK under Wine"
  cp -r "$area/game" "$result"
  rm -rf "$area"
}
