#!/usr/bin/env bash
# getImage at each display scaling: 100, 125, 150 and 200 % (96, 120, 144 and 192 dpi). Wine reads
# the DPI from HKCU\Control Panel\Desktop\LogPixels when a process starts, so each run of the
# RibbonDpi tests gets the prefix's setting of its own; the setting the prefix had is put back at the
# end, whatever happens.
#   ribbon_dpi_test.sh PVL_TESTS_EXE
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tests=${1:?usage: ribbon_dpi_test.sh PVL_TESTS_EXE}
source "$root/tools/wine-env.sh"
arch=$(pvl_pe_arch "$tests")
run() { "$root/tools/wine-run" --arch "$arch" "$@"; }
key='HKCU\Control Panel\Desktop'
before=$(run reg query "$key" /v LogPixels 2>/dev/null | grep -oP 'REG_DWORD\s+\K0x[0-9a-fA-F]+' || true)
restore() {
    if [ -n "$before" ]; then run reg add "$key" /v LogPixels /t REG_DWORD /d $((before)) /f
    else run reg delete "$key" /v LogPixels /f; fi >/dev/null 2>&1
}
trap restore EXIT
failures=0
for dpi in 96 120 144 192; do
    run reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 \
        || { echo "FAIL: could not set LogPixels to $dpi"; exit 1; }
    out=$(PVL_EXPECT_DPI=$dpi run "$tests" --gtest_filter='RibbonDpi*' 2>&1)
    rc=$?
    grep -E '^[0-9]+ dpi: |^\[  (PASSED|FAILED) ' <<<"$out" | sed "s/^\[/[$dpi dpi] [/"
    [ $rc = 0 ] || { echo "FAIL at $dpi dpi:"; grep -vE '^\[ *(RUN|OK) ' <<<"$out" | tail -n 30; failures=$((failures + 1)); }
done
echo "$failures failed"
[ $failures = 0 ]
