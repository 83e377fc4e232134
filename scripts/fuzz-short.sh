#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer, UBSan, coverage)
# and runs each for a while on a copy of its seed corpus, KV20_FUZZ_JOBS
# (default 2) at once: the build jobs and the runs alike.
#
#   scripts/fuzz-short.sh [seconds per target, default 60] [target...]
#
# Targets: reply_text device_query download_ack xmodem (default: all).
# KV20_FUZZ_BUILD names the build directory (default build-fuzz). Exits
# non-zero when the build fails or any target crashes, leaks, hangs or breaks
# an invariant; the input that did it is kept under <build>/fuzz-runs/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(reply_text device_query download_ack xmodem)
build=${KV20_FUZZ_BUILD:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKV20_SANITIZE=address -DKV20_FUZZ=ON -DKV20_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"${KV20_FUZZ_JOBS:-2}" $(printf -- '--target fuzz_%s ' "${targets[@]}")

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# A target's run, its verdict left in its folder: so many at once as there
# are build jobs, each for its own wall-clock time.
fuzz_one() {
  local t=$1 run=$build/fuzz-runs/$1
  # No time passes in the targets: an input that runs for 10 s does not end.
  if "$build/bin/fuzz_$t" "$run/corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=4096 -print_final_stats=1 -artifact_prefix="$run/artifacts/" >"$run/log.txt" 2>&1; then
    echo ok >"$run/verdict"
  else
    echo failed >"$run/verdict"
  fi
}
running=()
for t in "${targets[@]}"; do
  run=$build/fuzz-runs/$t
  rm -rf "$run"
  mkdir -p "$run/corpus" "$run/artifacts"
  cp fuzz/corpus/"$t"/* "$run/corpus/"
  if [ ${#running[@]} -ge "${KV20_FUZZ_JOBS:-2}" ]; then
    wait "${running[0]}"
    running=("${running[@]:1}")
  fi
  fuzz_one "$t" &
  running+=($!)
done
wait
failed=()
for t in "${targets[@]}"; do
  run=$build/fuzz-runs/$t
  echo "=== fuzz_$t for ${seconds}s"
  if [ "$(cat "$run/verdict" 2>/dev/null)" = ok ]; then
    grep -E '^stat::number_of_executed_units' "$run/log.txt" | sed "s/^/  /"
  else
    echo "  fuzz_$t FAILED; the end of $run/log.txt:"
    tail -n 30 "$run/log.txt" | sed "s/^/  | /"
    failed+=("$t")
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz-short: FAILED: ${failed[*]}"
  exit 1
fi
echo "fuzz-short: all targets ran ${seconds}s without a finding"
