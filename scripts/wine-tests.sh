#!/usr/bin/env bash
# Runs a Windows build's tests under Wine, in the build's own prefix.
#
# Wine's background services are started before CTest: otherwise CTest waits
# on the pipe they inherit, seconds per test or for ever.
#   scripts/wine-tests.sh <preset>     (windows or windows64)
set -euo pipefail
preset=$1
build="build/$preset"
run="$build/wine-run"
export WINEPREFIX="$PWD/$build/wineprefix"

# A server left over from an earlier run would keep "wineserver -w" waiting.
wineserver -k >/dev/null 2>&1 || true
"$run" wineboot -i </dev/null >/dev/null 2>&1 || true
timeout 300 wineserver -w || true
wineserver -p
"$run" cmd /c exit </dev/null >/dev/null 2>&1 || true

# Wine itself now and then crashes as a test program that used the thread
# pool ends, after the test has passed (see wine-exit-crashes.py). Tests that
# failed only so run once more; any other failure stands as it is.
output="$build/Testing/ctest-output.txt"
mkdir -p "$build/Testing"
status=0
ctest --preset "$preset" 2>&1 | tee "$output" || status=$?
if [ "$status" -ne 0 ] && python3 scripts/wine-exit-crashes.py "$build" "$output"; then
  echo "Running them once more."
  status=0
  ctest --preset "$preset" --rerun-failed || status=$?
fi
wineserver -k || true
exit $status
