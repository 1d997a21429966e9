#!/usr/bin/env bash
# Everything `make test` does, step by step, each step's wall time printed as
# it ends and all of them again at the end (also kept in
# build/step-times.txt). The first step that fails stops the run.
#
# The test runs wait on the devices' real pace far more than they compute, so
# while they run, the next builds go on in the background at the lowest
# priority (nice 19): they take only the processor time the tests leave, and
# the paced sessions keep the machine to themselves. Each test run waits for
# its own build; the background builds' output goes to build/logs/.
#
#   scripts/make-test.sh            the everyday run (`make test`)
#   CORVANE_LONG_TESTS=1 scripts/make-test.sh
#                                   every long session at full length on
#                                   every target (`make test-long`)
set -uo pipefail
self="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
cd "$(dirname "$0")/.."

FUZZ_SMOKE_SECONDS=20
mkdir -p build/logs
times_file=build/step-times.txt
started=$(date +%s)
steps=()

print_times() {
  echo
  echo "Step times (wall clock; background builds overlap the test runs):"
  printf '%s\n' "${steps[@]}"
  printf '  %-34s %5d s\n' "all" $(($(date +%s) - started))
}

record() {  # NAME SECONDS STATUS
  steps+=("$(printf '  %-34s %5d s%s' "$1" "$2" "$([ "$3" -ne 0 ] && echo '  FAILED')")")
  echo "=== $1: $2 s$([ "$3" -ne 0 ] && echo ", failed with status $3")"
}

fail() {
  print_times | tee "$times_file"
  exit "$1"
}

# step NAME COMMAND...: runs the command in the foreground.
step() {
  local name=$1
  shift
  local begin status
  begin=$(date +%s)
  echo "=== $name"
  "$@"
  status=$?
  record "$name" $(($(date +%s) - begin)) $status
  [ $status -eq 0 ] || fail $status
}

configure_and_build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}

# Where the 32-bit build only has its exports checked, only what is checked
# and the product's programs are built: its tests are the 64-bit twin's.
build_windows_product() {
  cmake --preset windows >/dev/null &&
    cmake --build --preset windows --target corvane_module sim_controller corvane-record
}

build_fuzzers() {
  cmake --preset fuzz >/dev/null &&
    cmake --build --preset fuzz --target command_line_fuzzer nano_stream_fuzzer \
      xml_reader_fuzzer base64_fuzzer firmware_image_fuzzer
}

# The background builds, one after the other, each leaving its time and
# status in build/logs/<preset>.done.
if [ "${1:-}" = --background-builds ]; then
  shift
  for preset in "$@"; do
    begin=$(date +%s)
    if [ "$preset" = fuzz ]; then
      build_fuzzers >"build/logs/$preset.log" 2>&1
    elif [ "$preset" = windows-product ]; then
      build_windows_product >"build/logs/$preset.log" 2>&1
    else
      configure_and_build "$preset" >"build/logs/$preset.log" 2>&1
    fi
    status=$?
    echo "$(($(date +%s) - begin)) $status" >"build/logs/$preset.done"
    [ $status -eq 0 ] || exit $status
  done
  exit 0
fi

# Without 32-bit support the Windows tests run from the 64-bit twin: it is
# built first, and the 32-bit product (only checked, not run) while those
# tests run.
can_run_32bit=true
bash scripts/can-run-32bit.sh || can_run_32bit=false
if $can_run_32bit && ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed'; then
  echo "The 32-bit Wine is not installed (see scripts/install-deps.sh): the Windows tests run as a 64-bit build."
  can_run_32bit=false
fi
# The fuzzers build in a minute and run while the Windows builds go on.
background=(linux-asan linux-tsan fuzz windows)
if ! $can_run_32bit; then
  background=(linux-asan linux-tsan fuzz windows64 windows-product)
fi
start_background_builds() {
  rm -f build/logs/*.done
  # A session of its own, so that a failed run stops the whole build with it.
  setsid nice -n 19 bash "$self" --background-builds "${background[@]}" </dev/null &
  background_pid=$!
  trap 'kill -- -$background_pid 2>/dev/null || kill $background_pid 2>/dev/null' EXIT
}

# Waits for a background build; records its time, and how long the run
# waited for it.
await_build() {
  local preset=$1 begin took status
  begin=$(date +%s)
  while [ ! -f "build/logs/$preset.done" ]; do
    if ! kill -0 "$background_pid" 2>/dev/null; then
      echo "The background builds ended before building $preset."
      fail 1
    fi
    sleep 2
  done
  read -r took status <"build/logs/$preset.done"
  record "build $preset (background)" "$took" "$status"
  [ $(($(date +%s) - begin)) -le 2 ] || echo "    (the run waited $(($(date +%s) - begin)) s for it)"
  if [ "$status" -ne 0 ]; then
    tail -n 80 "build/logs/$preset.log"
    fail "$status"
  fi
}

step "packages" bash scripts/install-deps.sh
step "build linux" configure_and_build linux
start_background_builds
step "test linux" ctest --preset linux
await_build linux-asan
step "test linux-asan" ctest --preset linux-asan
await_build linux-tsan
step "test linux-tsan" ctest --preset linux-tsan
await_build fuzz
step "fuzz (${FUZZ_SMOKE_SECONDS} s each)" bash scripts/run-fuzzers.sh "$FUZZ_SMOKE_SECONDS"
if $can_run_32bit; then
  await_build windows
  step "check windows exports" bash scripts/check-windows-exports.sh
  step "test windows (wine)" bash scripts/wine-tests.sh windows
else
  echo "This machine cannot execute 32-bit programs: running the Windows tests as a 64-bit build under wine64."
  await_build windows64
  step "test windows64 (wine64)" bash scripts/wine-tests.sh windows64
  await_build windows-product
  step "check windows exports" bash scripts/check-windows-exports.sh
fi
print_times | tee "$times_file"
