# Installing a packed updater into a copy of a game folder with the real
# updater under Wine, answered by the e2e driver (sourced by the suites;
# needs WINE, WINEPREFIX, UPDATER_WIN_BUILD and a started Wine environment,
# and checks.bash).
#
#   install_under_wine UPDATER SOURCE_FOLDER RESULT_FOLDER
#
# copies SOURCE_FOLDER into the prefix's drive C: (Wine sees nothing else:
# tools/wine-env removes z:), points the registry value InstalledFolder at
# it, runs UPDATER with e2e_driver.exe run-updater answering Yes, checks
# that it completed, and copies the folder back out to RESULT_FOLDER. The
# registry value is removed again.

install_under_wine() {
  local updater=$1 source=$2 result=$3
  local area=$WINEPREFIX/drive_c/suite-install.$$
  local win='C:\suite-install.'$$
  local key='HKLM\Software\Pellacorn\ツクメラ'
  rm -rf "$area" "$result"
  mkdir -p "$area"
  cp -r "$source" "$area/game"
  cp "$updater" "$area/updater.exe"
  wine_env_give "$area"
  "$WINE" reg add "$key" /v InstalledFolder /t REG_SZ /d "$win\\game" /f >/dev/null 2>&1
  run "$WINE" "$UPDATER_WIN_BUILD/e2e_driver.exe" run-updater "$win\\updater.exe" --answer yes
  tr -d '\r' < out > out.unix && mv out.unix out
  "$WINE" reg delete "$key" /f >/dev/null 2>&1
  expect_status 0 "the real updater runs under Wine, the driver answering Yes"
  expect_in out "exit code: 0x00000000" "the updater's exit code is UPDATE_OK"
  expect_in out "outcome: アップデートが完了しました" "it tells the player the update is complete"
  cp -r "$area/game" "$result"
  rm -rf "$area"
}
