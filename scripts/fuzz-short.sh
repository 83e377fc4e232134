#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer, UBSan, coverage)
# and runs each for a while on a copy of its seed corpus.
#
#   scripts/fuzz-short.sh [seconds per target, default 60] [target...]
#
# Targets: reply_text device_query download_ack xmodem (default: all).
# Environment: KV20_FUZZ_BUILD (build directory, default build-fuzz),
# KV20_FUZZ_JOBS (compile jobs, default 2).
# Exits non-zero when the build fails or any target crashes, leaks, times out
# or breaks one of its rules; the input that did it is kept under
# <build>/fuzz-runs/<target>/ and named in the output.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: $0 [seconds per target] [target...]" >&2
  exit 2
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(reply_text device_query download_ack xmodem)
fi

build=${KV20_FUZZ_BUILD:-build-fuzz}
jobs=${KV20_FUZZ_JOBS:-2}

for tool in clang clang++ cmake; do
  if ! command -v "$tool" >/dev/null; then
    echo "fuzz-short: $tool not found (Debian: apt-get install clang libclang-rt-14-dev cmake)" >&2
    exit 2
  fi
done

echo "=== configure $build"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKV20_SANITIZE=address -DKV20_FUZZ=ON -DKV20_BUILD_BENCH=OFF >/dev/null
echo "=== build"
build_targets=()
for t in "${targets[@]}"; do
  build_targets+=(--target "fuzz_$t")
done
cmake --build "$build" -j"$jobs" "${build_targets[@]}"

# Qt must not look for a display; leaks are findings too.
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
for t in "${targets[@]}"; do
  seeds=fuzz/corpus/$t
  if [ ! -d "$seeds" ]; then
    echo "fuzz-short: no seed corpus $seeds" >&2
    failed+=("$t")
    continue
  fi
  run=$build/fuzz-runs/$t
  rm -rf "$run"
  mkdir -p "$run/corpus" "$run/artifacts"
  cp "$seeds"/* "$run/corpus/"
  echo "=== fuzz_$t for ${seconds}s"
  # Nothing in the targets waits for real time: an input that runs for ten
  # seconds is a conversation that does not end.
  if "$build/bin/fuzz_$t" "$run/corpus" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$run/artifacts/" \
      >"$run/log.txt" 2>&1; then
    grep -E '^stat::number_of_executed_units|^#[0-9]+[[:space:]]+DONE' "$run/log.txt" | sed "s/^/  /"
  else
    echo "  fuzz_$t FAILED; from $run/log.txt:"
    # A broken rule prints itself with the trace; sanitizer reports and
    # libFuzzer's own summary are at the end.
    sed -n '/^=== rule broken ===/,/^$/p' "$run/log.txt" | head -n 40 | sed "s/^/  | /"
    tail -n 25 "$run/log.txt" | sed "s/^/  | /"
    for a in "$run"/artifacts/*; do
      [ -e "$a" ] && echo "  reproducer: $a"
    done
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz-short: FAILED: ${failed[*]}"
  exit 1
fi
echo "fuzz-short: all targets ran ${seconds}s without a finding"
