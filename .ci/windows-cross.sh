#!/bin/bash
# Cross-builds the Windows discovery layer (Setup API walk, WM_DEVICECHANGE
# decoding) and the shared identity rules with MinGW-w64 into a Qt-free check
# program, and runs it under wine when wine is installed and answers in time.
#
#   .ci/windows-cross.sh [OUTPUT_DIR]      (default: <repo>/build-windows-cross)
#
# Exit status: non-zero when compiling or linking fails, or when the program
# ran and reported a failed check. 0 with a message when no cross compiler can
# be had (not installed and not installable here), or when wine is missing or
# too slow: then only compile and link were checked.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-$repo/build-windows-cross}
cxx=x86_64-w64-mingw32-g++
wine_timeout=${KV20_WINE_TIMEOUT:-60}

if ! command -v "$cxx" >/dev/null 2>&1; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
        echo "windows-cross: installing g++-mingw-w64-x86-64"
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends g++-mingw-w64-x86-64 >/dev/null 2>&1 \
            || { apt-get update >/dev/null 2>&1 \
                 && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends g++-mingw-w64-x86-64 >/dev/null 2>&1; } \
            || true
    fi
    if ! command -v "$cxx" >/dev/null 2>&1; then
        echo "windows-cross: SKIPPED, no MinGW-w64 cross compiler ($cxx) available"
        exit 0
    fi
fi

mkdir -p "$out"
exe=$out/com_port_check.exe
flags=(-std=c++17 -O2 -Wall -Wextra -Werror -I"$repo")

echo "windows-cross: compiling and linking $exe"
"$cxx" "${flags[@]}" -static \
    "$repo/tests/discovery/win/com_port_check.cpp" \
    "$repo/discovery/com_port_walk_win.cpp" \
    -lsetupapi -o "$exe"

# The Qt side of the Windows layer cannot be linked without a Windows build of
# Qt; where Qt's headers are installed its files are at least compiled.
qt_include=$(pkg-config --variable=includedir Qt5Core 2>/dev/null || true)
if [ -n "$qt_include" ] && [ -f "$qt_include/QtCore/qglobal.h" ]; then
    echo "windows-cross: compiling the Qt adapters against the host's Qt headers (syntax only)"
    for source in port_enumerator_win.cpp native_device_change_win.cpp device_change_source_win.cpp; do
        # Qt's headers configured for Linux trip MinGW's dllimport checks;
        # those warnings are about Qt, not about our code.
        "$cxx" "${flags[@]}" -Wno-attributes -fsyntax-only -I"$qt_include" -I"$qt_include/QtCore" \
            "$repo/discovery/$source"
    done
else
    echo "windows-cross: no Qt headers found, Qt adapters not compiled"
fi

wine=""
# Debian's wine64 package alone installs its loader outside PATH.
for candidate in wine64 wine /usr/lib/wine/wine64; do
    if command -v "$candidate" >/dev/null 2>&1; then
        wine=$candidate
        break
    fi
done
if [ -z "$wine" ]; then
    echo "windows-cross: built and linked; wine not installed, check program not run"
    exit 0
fi

echo "windows-cross: running the check under $wine (at most ${wine_timeout}s)"
export WINEPREFIX=$out/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
status=0
timeout --kill-after=5 "$wine_timeout" "$wine" "$exe" || status=$?
# The prefix's wineserver would otherwise linger after the run.
for server in wineserver /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
    if command -v "$server" >/dev/null 2>&1; then
        "$server" -k >/dev/null 2>&1 || true
        break
    fi
done
if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    echo "windows-cross: built and linked; wine did not finish within ${wine_timeout}s, result unknown"
    exit 0
fi
exit "$status"
