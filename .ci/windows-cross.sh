#!/bin/bash
# Checks the Windows branch of the tree from Linux with MinGW-w64:
#
# 1. configures the whole tree for Windows (cmake/mingw-w64-x86_64.cmake,
#    with Qt found through cmake/qt5-standin: Debian's Qt headers and the
#    host's moc, uic, rcc) and compiles every object the Windows
#    configuration holds: the window, the command-line tool and every library
#    they link, with the Windows layers in place of the Linux ones. Nothing
#    with Qt is linked: there is no Windows build of Qt here. The link lines
#    are checked for the subsystems: kv20-tool a window program, kv20-cli a
#    console one;
# 2. compiles and links the Qt-free Windows discovery layer into its check
#    program and runs it under wine.
#
#   .ci/windows-cross.sh [BUILD_DIR]      (default: <repo>/build-win)
#
# Exit status: non-zero when the cross compiler is missing, when configuring,
# compiling or linking fails, when a subsystem is wrong, or when the check
# program reports a failed check. Only wine being absent or too slow leaves
# the check program unrun (said so, exit 0).
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-$repo/build-win}
wine_timeout=${KV20_WINE_TIMEOUT:-60}
triplet=x86_64-w64-mingw32

cxx=""
for candidate in "$triplet-g++-posix" "$triplet-g++"; do
    if command -v "$candidate" >/dev/null 2>&1; then
        cxx=$candidate
        break
    fi
done
if [ -z "$cxx" ]; then
    echo "windows-cross: FAILED, no MinGW-w64 cross compiler ($triplet-g++; Debian: g++-mingw-w64-x86-64)" >&2
    exit 1
fi
generator=()
if command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
else
    echo "windows-cross: FAILED, ninja is needed to build the objects alone (Debian: ninja-build)" >&2
    exit 1
fi

echo "windows-cross: configuring the tree for Windows in $out"
if [ -f "$out/CMakeCache.txt" ] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$out/CMakeCache.txt"; then
    rm -rf "$out"
fi
cmake -S "$repo" -B "$out" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
    -DQt5_DIR="$repo/cmake/qt5-standin/Qt5" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS=-Werror >/dev/null

# Every object file of the Windows configuration, whatever its folders hold.
mapfile -t objects < <(ninja -C "$out" -t targets all | sed -n 's/^\(.*\.obj\): .*/\1/p' | sort)
if [ ${#objects[@]} -eq 0 ]; then
    echo "windows-cross: FAILED, the Windows configuration has no objects" >&2
    exit 1
fi
echo "windows-cross: compiling ${#objects[@]} objects (no link)"
ninja -C "$out" -j"${KV20_CROSS_JOBS:-$(nproc)}" "${objects[@]}" >"$out/objects.log" 2>&1 \
    || { cat "$out/objects.log" >&2; echo "windows-cross: FAILED compiling for Windows" >&2; exit 1; }
printf '%s\n' "${objects[@]}" | sed 's|/CMakeFiles/[^/]*\.dir/|: |; s|^|  |'

# The subsystem each program would be linked with.
check_subsystem() {
    local program=$1 want=$2 line
    line=$(ninja -C "$out" -t commands "bin/$program.exe" 2>/dev/null | tail -n 1)
    if [ -z "$line" ]; then
        echo "windows-cross: FAILED, no link step for $program.exe in the Windows configuration" >&2
        return 1
    fi
    if [[ " $line " == *" -mwindows "* ]]; then got=window; else got=console; fi
    if [ "$got" != "$want" ]; then
        echo "windows-cross: FAILED, $program.exe would be a $got program, not a $want program" >&2
        return 1
    fi
    echo "windows-cross: $program.exe links as a $want program"
}
check_subsystem kv20-tool window
if ninja -C "$out" -t targets all | grep -q '^bin/kv20-cli\.exe:'; then
    check_subsystem kv20-cli console
fi

# The Qt-free part of the Windows discovery layer links on its own.
exe=$out/com_port_check.exe
echo "windows-cross: compiling and linking $exe"
"$cxx" -std=c++17 -O2 -Wall -Wextra -Werror -I"$repo" -static \
    "$repo/tests/discovery/win/com_port_check.cpp" \
    "$repo/discovery/com_port_walk_win.cpp" \
    -lsetupapi -o "$exe"

wine=""
# Debian's wine64 package alone installs its loader outside PATH.
for candidate in wine64 wine /usr/lib/wine/wine64; do
    if command -v "$candidate" >/dev/null 2>&1; then
        wine=$candidate
        break
    fi
done
if [ -z "$wine" ]; then
    echo "windows-cross: compiled and linked; wine not installed, check program not run"
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
    echo "windows-cross: compiled and linked; wine did not finish within ${wine_timeout}s, result unknown"
    exit 0
fi
exit "$status"
