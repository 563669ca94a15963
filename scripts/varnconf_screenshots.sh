#!/usr/bin/env bash
# Renders Varnconf's main window, New device dialog, About box and Scanner
# Test window (with a label from the simulated scanner on COM1) under Wine
# and Xvfb, each as the window draws itself, into docs/varnconf-*.png. Run
# from the repository after the Windows build (./run test builds it).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/windows/bin
export WINEPREFIX="$PWD/build/windows/wineprefix"
[[ -x /usr/bin/convert ]] || {
  echo "needs imagemagick (/usr/bin/convert)" >&2
  exit 1
}
export SCANNER_SIM_OPTIONS="--scan COM1 --every 1"
testing/wine/session.sh testing/sim/with_simulator.sh bash -c '
  set -euo pipefail
  bin='"$bin"'
  shoot() {  # <window> <file>
    local bmp
    bmp=$(mktemp --suffix=.bmp)
    wine "$bin/varnconf_screenshot_driver.exe" "$1" "Z:$bmp"
    /usr/bin/convert "$bmp" "docs/$2"
    rm -f "$bmp"
  }
  # From a first start: the default entry, on COM1.
  wine reg delete "HKLM\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner" /f \
    >/dev/null 2>&1 || true
  wine regsvr32 /s "$bin/OposScannerStandIn.dll"
  wine "$bin/Varnconf.exe" &
  program=$!
  shoot main varnconf-main.png
  shoot new varnconf-new-device.png
  wine "$bin/varnconf_screenshot_driver.exe" close
  wait "$program" || true
  wine "$bin/Varnconf.exe" &
  program=$!
  shoot about varnconf-about.png
  wine "$bin/varnconf_screenshot_driver.exe" close
  wait "$program" || true
  wine "$bin/Varnconf.exe" &
  program=$!
  shoot test varnconf-scanner-test.png
  wine "$bin/varnconf_screenshot_driver.exe" close
  wait "$program" || true
'
ls -l docs/varnconf-*.png
