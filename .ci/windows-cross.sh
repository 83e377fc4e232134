#!/bin/bash
# The Windows program, built from Linux with MinGW-w64 and checked under wine:
#
# 1. unpacks the Windows Qt kit and the Windows libpq kit into the build
#    folder and configures the tree for Windows (cmake/mingw-w64-x86_64.cmake),
#    -Werror;
# 2. builds kv20-tool.exe (a window program) and kv20-cli.exe (a console
#    program), each with its icon, version information and manifest, the zip
#    operators unpack, kv20-tool-<version>-win64.zip, and the per-user
#    installer beside it, kv20-tool-<version>-win64.msi (wixl);
# 3. runs tests/windows/wine_checks.sh: the zip and the installer under wine
#    against the Linux build's kv20-module-sim (build/bin, or
#    KV20_LINUX_BUILD/bin), and kv20-cli.exe against a throw-away PostgreSQL
#    server (scripts/test-db.sh) unless KV20_TEST_DB_URL names one.
#
#   .ci/windows-cross.sh [BUILD_DIR]      (default: <repo>/build-win)
#
# The kits: KV20_WINDOWS_QT_KIT, else ../shared/windows-qt/qt5.15.8-mingw64.tar.xz
# beside the repository; KV20_WINDOWS_LIBPQ_KIT, else libpq15-mingw64.tar.xz
# beside the Qt kit (libpq with OpenSSL, prebuilt: never built here);
# KV20_WINDOWS_QRENCODE_KIT, else qrencode-mingw64.tar.xz beside it. Without
# the Qt kit every object still compiles against a stand-in for Qt
# (cmake/qt5-standin, Debian's Qt headers; libpq's from its kit or the
# host's), nothing links, and
# the step says what it needs and ends with 0, unless CI=true: there a
# missing kit, a missing wine or a wine that does not finish fails the step.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-$repo/build-win}
kit=${KV20_WINDOWS_QT_KIT:-$repo/../shared/windows-qt/qt5.15.8-mingw64.tar.xz}
pq_kit=${KV20_WINDOWS_LIBPQ_KIT:-$(dirname "$kit")/libpq15-mingw64.tar.xz}
qr_kit=${KV20_WINDOWS_QRENCODE_KIT:-$(dirname "$kit")/qrencode-mingw64.tar.xz}
linux_build=${KV20_LINUX_BUILD:-$repo/build}
wine_timeout=${KV20_WINE_TIMEOUT:-300}
jobs=${KV20_CROSS_JOBS:-$(nproc)}
triplet=x86_64-w64-mingw32
in_ci=false
[ "${CI:-}" = true ] && in_ci=true

say() { echo "windows-cross: $*"; }
fail() { echo "windows-cross: FAILED, $*" >&2; exit 1; }
# Outside CI a missing tool for the wine step is said and the step ends well.
not_here() {
    if $in_ci; then fail "$*"; fi
    say "$*; the wine checks did not run"
    exit 0
}

cxx=$(command -v "$triplet-g++-posix" || command -v "$triplet-g++" || true)
[ -n "$cxx" ] || fail "no MinGW-w64 cross compiler ($triplet-g++; Debian: g++-mingw-w64-x86-64)"
command -v ninja >/dev/null || fail "ninja is needed (Debian: ninja-build)"

# unpack_kit ARCHIVE FOLDER MARKER: the archive unpacked into FOLDER once per
# archive (a different one starts afresh); prints the prefix, the folder
# holding MARKER.
unpack_kit() {
    local archive=$1 folder=$2 marker=$3 stamp config
    stamp="$(realpath "$archive") $(stat -c %s-%Y "$archive")"
    if [ "$(cat "$folder.stamp" 2>/dev/null)" != "$stamp" ]; then
        rm -rf "$folder" && mkdir -p "$folder"
        say "unpacking $archive" >&2
        tar -C "$folder" -xJf "$archive"
        echo "$stamp" >"$folder.stamp"
    fi
    config=$(find "$folder" -path "*/$marker" | head -n 1)
    [ -n "$config" ] || fail "no $marker in $archive"
    echo "${config%/"$marker"}"
}

qt_args=()
if [ -f "$kit" ]; then
    # A different kit, or a build folder configured with the stand-in,
    # starts afresh.
    [ "$(cat "$out/qt-kit.stamp" 2>/dev/null)" = "$(realpath "$kit") $(stat -c %s-%Y "$kit")" ] || rm -rf "$out"
    mkdir -p "$out"
    prefix=$(unpack_kit "$kit" "$out/qt-kit" lib/cmake/Qt5/Qt5Config.cmake)
    [ -f "$pq_kit" ] || fail "no Windows libpq kit at $pq_kit (KV20_WINDOWS_LIBPQ_KIT names another)"
    pq_prefix=$(unpack_kit "$pq_kit" "$out/libpq-kit" include/libpq-fe.h)
    [ -f "$qr_kit" ] || fail "no Windows libqrencode kit at $qr_kit (KV20_WINDOWS_QRENCODE_KIT names another)"
    qr_prefix=$(unpack_kit "$qr_kit" "$out/qrencode-kit" include/qrencode.h)
    host_qt_libs=$(qmake -query QT_INSTALL_LIBS 2>/dev/null || echo /usr/lib/x86_64-linux-gnu)
    qt_args=(-DCMAKE_PREFIX_PATH="$prefix;$pq_prefix;$qr_prefix" -DQt5LinguistTools_DIR="$host_qt_libs/cmake/Qt5LinguistTools")
else
    $in_ci && fail "no Windows Qt kit at $kit (KV20_WINDOWS_QT_KIT names another)"
    say "the Windows program needs the Qt kit $kit (or KV20_WINDOWS_QT_KIT);"
    say "without it the objects are compiled against a stand-in for Qt and nothing is linked"
    [ -f "$out/qt-kit.stamp" ] && rm -rf "$out"
    qt_args=(-DQt5_DIR="$repo/cmake/qt5-standin/Qt5")
    # libpq's headers from its kit where there is one; else the tree takes
    # the host's (libpq-dev) for the stand-in.
    if [ -f "$pq_kit" ]; then
        pq_prefix=$(unpack_kit "$pq_kit" "$out/libpq-kit" include/libpq-fe.h)
        qt_args+=(-DCMAKE_PREFIX_PATH="$pq_prefix")
    fi
fi

# Every PE file carries a time stamp, which the linker and strip set to the
# present; the commit's time instead makes the zip's and the installer's
# copies of a file the same bytes, and the build repeatable.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$repo" log -1 --format=%ct 2>/dev/null || echo 1)}

say "configuring the tree for Windows in $out"
if [ -f "$out/CMakeCache.txt" ] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$out/CMakeCache.txt"; then
    rm -rf "$out/CMakeCache.txt" "$out/CMakeFiles"
fi
cmake -S "$repo" -B "$out" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" "${qt_args[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-Werror >/dev/null

if [ ! -f "$kit" ]; then
    mapfile -t objects < <(ninja -C "$out" -t targets all | sed -n 's/^\(.*\.\(obj\|res\)\): .*/\1/p' | sort)
    [ ${#objects[@]} -gt 0 ] || fail "the Windows configuration has no objects"
    say "compiling ${#objects[@]} objects against the stand-in (no link)"
    ninja -C "$out" -j"$jobs" "${objects[@]}" >"$out/objects.log" 2>&1 \
        || { cat "$out/objects.log" >&2; fail "compiling for Windows"; }
    say "compiled; not linked, not packaged, not run"
    exit 0
fi

command -v wixl >/dev/null && command -v wixl-heat >/dev/null || fail "wixl is needed for the installer (Debian: wixl)"
fixtures=$out/wine-fixtures
rm -rf "$fixtures" && mkdir -p "$fixtures"
# The upgrade checks install an older version first: the same tree with a
# lower version number, built here before the real one, so that only the
# version resources are compiled again and the programs linked again.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/CMakeCache.txt")
IFS=. read -r major minor _ <<<"$version"
older=$([ "${minor:-0}" -gt 0 ] && echo "$major.$((minor - 1))" || echo "$((major - 1)).99")
build_as() { # VERSION (empty: the project's), ninja targets
    cmake -S "$repo" -B "$out" -DKV20_WINDOWS_VERSION="$1" >/dev/null && ninja -C "$out" -j"$jobs" \
        && ninja -C "$out" "${@:2}"
}
say "building the programs, the zip and the installer $version (and $older to upgrade from)"
{ build_as "$older" msi && mv "$out/kv20-tool-$older-win64.msi" "$fixtures/" && build_as "" package msi; } \
    >"$out/build.log" 2>&1 || { tail -n 40 "$out/build.log" >&2; fail "building for Windows"; }
zip=$out/kv20-tool-$version-win64.zip
unzip -l "$zip" | sed 's/^/  /'
ls -l "${zip%.zip}.msi" | sed 's/^/  /'

# The fixtures the checks run inside the prefix.
"$cxx" -std=c++17 -O2 -Wall -Wextra -Werror -static -municode "$repo/tests/windows/wine_fixture.cpp" \
    -lsetupapi -lole32 -luuid -o "$fixtures/wine_fixture.exe"
"$cxx" -std=c++17 -O2 -Wall -Wextra -Werror -I"$repo" -static "$repo/tests/discovery/win/com_port_check.cpp" \
    "$repo/discovery/com_port_walk_win.cpp" "$repo/discovery/usb_slot_win.cpp" -lsetupapi -o "$fixtures/com_port_check.exe"

# Debian's wine64 package alone installs its loader outside PATH.
command -v wine64 >/dev/null || command -v wine >/dev/null || [ -x /usr/lib/wine/wine64 ] \
    || not_here "wine is not installed (Debian: wine64)"
PATH=$PATH:/usr/lib/wine
for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || not_here "$tool is not installed (Debian: xvfb xdotool imagemagick)"
done
sim=$linux_build/bin/kv20-module-sim
[ -x "$sim" ] || not_here "no Linux build of the simulator at $sim (build the tree in $linux_build first)"

# A server of its own for the upload check, stopped when the step ends.
if [ -z "${KV20_TEST_DB_URL:-}" ]; then
    source "$repo/scripts/test-db.sh"
    if kv20_pg_bin >/dev/null && command -v psql >/dev/null; then
        test_db=$out/test-db
        trap 'kv20_test_db_stop "$test_db"' EXIT
        kv20_test_db_start "$test_db" >/dev/null || fail "the test database server did not start"
        say "a test database server: $KV20_TEST_DB_URL (TLS: $KV20_TEST_DB_SSL)"
    else
        $in_ci && fail "no PostgreSQL server and client for the upload check (Debian: postgresql)"
    fi
fi

say "wine checks (at most ${wine_timeout}s)"
status=0
timeout --kill-after=10 "$wine_timeout" bash "$repo/tests/windows/wine_checks.sh" "$zip" "$sim" "$fixtures" \
    "$out/wine-checks" || status=$?
if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    $in_ci && fail "the wine checks did not finish within ${wine_timeout}s"
    say "the wine checks did not finish within ${wine_timeout}s, result unknown"
    exit 0
fi
[ "$status" = 0 ] || fail "wine checks"
say "the zip and the installer run under wine: $zip ${zip%.zip}.msi"
