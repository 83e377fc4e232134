#!/usr/bin/env bash
# Installs what is missing, builds the tool three times (plain, with
# ThreadSanitizer, with AddressSanitizer + UBSan) and runs the suite in each
# build, checks the Debian package made from the plain build; then a short
# run of every fuzz target, and the Windows zip built with MinGW-w64 and run
# under wine against the simulator. Exits non-zero on any failure.
#
# The sanitizer builds leave out the tests labelled "slow" (the long fault
# matrix) and "e2e" (the operator scenarios under Xvfb), which exercise no
# thread or memory path that the other suites do not. The ThreadSanitizer
# build also leaves out "single_threaded": the journal's round trip, which
# cuts and reads back a journal some five thousand times on one thread,
# costs minutes there and has no second thread to check.
#
# Each build's suite runs KV20_TEST_JOBS entries side by side (3 unless set;
# 1 runs them one after another): most of an entry's time is spent waiting on
# a simulated module, a time-out or a server, not on the processor.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
kv20_install_packages

jobs=$(nproc)
test_jobs=${KV20_TEST_JOBS:-3}
# The database tests' server, stopped however the script ends.
source scripts/test-db.sh
test_db_dir=$(mktemp -d /tmp/kv20-test-db.XXXXXX)
trap 'kv20_test_db_stop "$test_db_dir"' EXIT
kv20_test_db_start "$test_db_dir"
export QT_QPA_PLATFORM=offscreen
failed=()
started=$(date +%s)

stage() { echo; echo "=== $* ($(( $(date +%s) - started )) s)"; }

run_build() {
  local dir=$1 exclude=$2; shift 2
  stage "build $dir $*"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  if ! cmake --build "$dir" -j"$jobs"; then
    failed+=("build $dir")
    return
  fi
  stage "test $dir"
  local args=(--test-dir "$dir" --output-on-failure -j"$test_jobs")
  [ -n "$exclude" ] && args+=(-LE "$exclude")
  ctest "${args[@]}" || failed+=("tests $dir")
}

run_build build ""

if [ -f .ci/package-check.sh ]; then
  stage "Debian package from build: lintian, install, run, remove"
  bash .ci/package-check.sh build || failed+=("package check")
fi
run_build build-tsan "slow|e2e|single_threaded" -DKV20_SANITIZE=thread -DKV20_BUILD_BENCH=OFF
run_build build-asan "slow|e2e" -DKV20_SANITIZE=address -DKV20_BUILD_BENCH=OFF

if [ -f scripts/fuzz-short.sh ]; then
  stage "fuzz targets, short run"
  bash scripts/fuzz-short.sh "${KV20_FUZZ_SECONDS:-30}" || failed+=("fuzz")
fi

if [ -f .ci/windows-cross.sh ]; then
  stage "Windows zip: build, then under wine against the simulator"
  bash .ci/windows-cross.sh || failed+=("windows zip under wine")
fi

stage "done"
if [ ${#failed[@]} -ne 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all builds and tests passed"
