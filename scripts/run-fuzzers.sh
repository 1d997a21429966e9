#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs each for SECONDS over
# its seed corpus. The seeds in fuzz/corpus/<target>/ are copied into a
# scratch corpus under build/fuzz/corpus/, where the inputs the fuzzer finds
# collect from run to run; the tree stays as it is. A crash, leak, time-out or
# sanitizer report in any target makes the script fail, after the others ran,
# with the input that did it in build/fuzz/artifacts/<target>/.
#
#   scripts/run-fuzzers.sh SECONDS [TARGET...]
set -u
seconds=${1:?usage: run-fuzzers.sh SECONDS [TARGET...]}
shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(command_line_fuzzer nano_stream_fuzzer xml_reader_fuzzer base64_fuzzer firmware_image_fuzzer)
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"

export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
# Configured once: a new configuration stamps a new build date into the
# module's version block, which would relink every target on every run.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset fuzz >/dev/null || exit 1
fi
cmake --build --preset fuzz --target "${targets[@]}" || exit 1

# One process per target, as many at a time as the machine has cores, with
# quiet progress; -timeout catches an input that hangs.
run_one() {
  local target=$1
  local corpus="$build/corpus/$target"
  local artifacts="$build/artifacts/$target/"
  mkdir -p "$corpus" "$artifacts"
  cp -n "$root/fuzz/corpus/$target/"* "$corpus/"
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" \
    >"$build/$target.log" 2>&1
}
parallel=$(nproc 2>/dev/null || echo 1)
declare -A pids
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n; done
  echo "=== $target: ${seconds} s"
  run_one "$target" &
  pids[$target]=$!
done

failed=()
for target in "${targets[@]}"; do
  if ! wait "${pids[$target]}"; then
    echo "--- $target failed:"
    tail -n 60 "$build/$target.log"
    failed+=("$target")
  else
    echo -n "$target: "
    grep -E "^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)" \
      "$build/$target.log" | tr '\n' ' '
    echo
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "Fuzzers that failed: ${failed[*]}"
  echo "The input of each failure is in $build/artifacts/<target>/; replay it with"
  echo "  $build/fuzz/<target> <input>"
  exit 1
fi
echo "All ${#targets[@]} fuzzers ran ${seconds} s each without a failure."
