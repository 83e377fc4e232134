#!/bin/bash
# Builds the Debian package from the ordinary build folder, checks it with
# lintian, installs it into this machine, runs the installed programs, checks
# the udev rule, and removes the package again.
#
#   .ci/package-check.sh [BUILD_DIR]      (default: <repo>/build; run as root)
#
# Exit status: non-zero when any step fails; the package is removed in any
# case once it was installed.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$repo/build}
# apt-get takes a package file only by a path with a slash in front.
build=$(mkdir -p "$build" && cd "$build" && pwd)
package=kv20-tool
rules=/usr/lib/udev/rules.d/70-kv20-tool.rules
export DEBIAN_FRONTEND=noninteractive

step() { echo "package-check: $*"; }
fail() { echo "package-check: FAILED, $*" >&2; exit 1; }

[ "$(id -u)" = 0 ] || fail "installing the package needs root"
for tool in cpack dpkg-deb dpkg-shlibdeps lintian apt-get udevadm; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (scripts/packages.sh installs it)"
done

# Configured again, so that a build folder made before a change of the tree
# still knows every target the package needs.
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# What the package installs; after the plain build this is up to date.
targets=(kv20-tool kv20-module-sim kv20_catalogue kv20_package_docs)
if cmake --build "$build" --target help | grep -w 'kv20-cli' >/dev/null; then
    targets+=(kv20-cli)
fi
step "building ${targets[*]}"
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >/dev/null

step "cpack -G DEB in $build"
rm -f "$build"/${package}_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/${package}_*_amd64.deb)
[ -f "${debs[0]}" ] || fail "cpack made no ${package}_<version>_amd64.deb"
deb=${debs[0]}
step "built $(basename "$deb")"
dpkg-deb -c "$deb" | awk '{print "  " $1, $6}'

depends=$(dpkg-deb -f "$deb" Depends)
step "Depends: $depends"
for library in libqt5core5a libqt5gui5 libqt5widgets5 libqt5serialport5; do
    [[ "$depends" == *"$library"* ]] || fail "Depends does not name $library"
done
# Package names only, without versions and alternatives' bars.
for name in $(echo "$depends" | tr ',|' '\n\n' | sed 's/(.*)//; s/^ *//; s/ *$//'); do
    case $name in
        *-dev|*-dev-tools|cmake*|g++*|gcc|gcc-[0-9]*|cpp*|*mingw*|lintian|dpkg-dev|pkg-config|make|ninja-build)
            fail "Depends names a build tool: $name" ;;
    esac
done

step "lintian"
lintian_out=$(lintian --fail-on error "$deb" 2>&1) || { echo "$lintian_out"; fail "lintian reports errors"; }
lintian_out=$(echo "$lintian_out" | grep -v 'running with root privileges' || true)
echo "${lintian_out:-(no tags)}" | sed 's/^/  /'

installed=0
cleanup() {
    if [ "$installed" = 1 ]; then
        step "removing $package"
        apt-get purge -y "$package" >/dev/null 2>&1 || dpkg --purge "$package" >/dev/null 2>&1 || true
    fi
    [ -n "${work:-}" ] && rm -rf "$work"
}
trap cleanup EXIT
work=$(mktemp -d)

step "apt-get install $deb"
installed=1
apt-get install -y --no-install-recommends "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install"; }
for file in /usr/bin/kv20-tool /usr/bin/kv20-module-sim /usr/share/kv20-tool/qt_en.qm \
            /usr/share/applications/kv20-tool.desktop "$rules"; do
    [ -e "$file" ] || fail "$file is not installed"
done
[ ! -e /usr/bin/qt_en.qm ] || fail "qt_en.qm is installed next to the executable"

# A session as a desktop gives it: without XDG_RUNTIME_DIR, Qt warns.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export QT_MESSAGE_PATTERN='%{type}: %{message}'

if [ -x /usr/bin/kv20-cli ]; then
    step "kv20-cli list"
    (cd "$work" && /usr/bin/kv20-cli list) || fail "kv20-cli list exited with $?"
fi

step "kv20-tool offscreen in $work/run for 3 s"
mkdir "$work/run"
status=0
(cd "$work/run" && QT_QPA_PLATFORM=offscreen timeout -s TERM 3 /usr/bin/kv20-tool \
    >"$work/tool.out" 2>"$work/tool.err") || status=$?
if [ "$status" != 124 ]; then
    cat "$work/tool.err" >&2
    fail "kv20-tool ended by itself (exit $status) before the 3 s were up"
fi
# The offscreen platform itself warns once for a window of fixed size
# (QPlatformWindow's default propagateSizeHints()); that is the plugin's, not
# the tool's, and the only line let through.
if grep -E '^(warning|critical|fatal): ' "$work/tool.err" \
        | grep -vx 'warning: This plugin does not support propagateSizeHints()' >&2; then
    fail "kv20-tool printed Qt warnings"
fi
step "kv20-tool was still running after 3 s, no Qt warning"

step "udev rule $rules"
if udevadm verify --help >/dev/null 2>&1; then
    udevadm verify "$rules" || fail "udevadm verify"
fi
# udevadm test parses every rule file and names a faulty line with the file.
tty_device=""
for candidate in /sys/class/tty/ttyS0 /sys/class/tty/tty0 /sys/class/tty/console /sys/class/tty/ptmx; do
    if [ -e "$candidate" ]; then
        tty_device=$candidate
        break
    fi
done
[ -n "$tty_device" ] || fail "no tty device under /sys/class/tty for udevadm test"
udevadm test --action=add "$tty_device" >"$work/udev.log" 2>&1 || { cat "$work/udev.log"; fail "udevadm test"; }
grep -q "Reading rules file: .*70-kv20-tool.rules" "$work/udev.log" || fail "udevadm test did not read 70-kv20-tool.rules"
if grep "70-kv20-tool.rules" "$work/udev.log" | grep -v "Reading rules file" >&2; then
    fail "udevadm reports on 70-kv20-tool.rules"
fi
last_seat_rule=$(ls /usr/lib/udev/rules.d /etc/udev/rules.d 2>/dev/null | grep -E '^[0-9]+-seat-late\.rules$' | head -n 1 || true)
if [ -n "$last_seat_rule" ] && [[ ! "70-kv20-tool.rules" < "$last_seat_rule" ]]; then
    fail "70-kv20-tool.rules does not sort before $last_seat_rule"
fi
step "udev read the rule without complaint"

step "apt-get purge $package"
apt-get purge -y "$package" >/dev/null 2>&1 || fail "apt-get purge"
installed=0
for file in /usr/bin/kv20-tool /usr/bin/kv20-module-sim "$rules"; do
    [ ! -e "$file" ] || fail "$file is still there after the purge"
done
step "passed"
