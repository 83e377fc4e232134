#!/usr/bin/env bash
# Installs what is missing, builds the tool three times (plain, with
# ThreadSanitizer, with AddressSanitizer + UBSan) and runs the whole suite in
# each build. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
kv20_install_packages

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
failed=0

run_build() {
  local dir=$1; shift
  echo "=== build $dir ($*)"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "=== test $dir"
  if ! ctest --test-dir "$dir" --output-on-failure -j1; then
    failed=1
  fi
}

run_build build
run_build build-tsan -DKV20_SANITIZE=thread -DKV20_BUILD_BENCH=OFF
run_build build-asan -DKV20_SANITIZE=address -DKV20_BUILD_BENCH=OFF

if [ -x .ci/windows-cross.sh ] || [ -f .ci/windows-cross.sh ]; then
  echo "=== Windows layer cross build"
  bash .ci/windows-cross.sh || failed=1
fi

if [ "$failed" -ne 0 ]; then
  echo "FAILED"
  exit 1
fi
echo "all builds passed"
