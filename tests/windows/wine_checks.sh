#!/bin/bash
# The Windows zip as an operator gets it, run under wine against the Linux
# simulator: one fresh wine prefix, the zip unpacked into it, a USB serial
# device with the module's identity registered in the prefix's device tree
# (wine_fixture.exe), the simulator's pty reached as COMn through
# $WINEPREFIX/dosdevices/comN, and Xvfb for the window.
#
#   tests/windows/wine_checks.sh ZIP SIMULATOR FIXTURE_DIR WORK_DIR [CHECK...]
#
# FIXTURE_DIR holds the cross-built wine_fixture.exe and com_port_check.exe;
# WORK_DIR is made anew (the prefix, one folder per check, the screenshots
# kv20-tool-wine.png and kv20-station-wine.png). Without CHECK names every
# check runs. A check is a function check_NAME below that returns non-zero on
# a fault; add one by writing the function and naming it in all_checks.
#
# Exit status: 0 when every check passed, 1 otherwise, 2 when the set-up
# (prefix, display, device) could not be made.
set -uo pipefail

# list_slots and station register two more modules: after watch, which
# counts the modules present at its start.
all_checks=(package discovery_layer list query_cellular query_wifi audio audio_refused unlisted_port interrupt
    journal_held journal_older window watch report label_queue list_slots station)
# Against the PostgreSQL server KV20_TEST_DB_URL names (PGPASSWORD, and
# KV20_TEST_DB_SSL=1 when it speaks TLS), as .ci/windows-cross.sh starts one.
if [ -n "${KV20_TEST_DB_URL:-}" ]; then
    all_checks+=(db_upload)
else
    echo "wine-checks: no test database server (KV20_TEST_DB_URL): db_upload is not run"
fi
# The installer's checks run in this order, each going on from the state the
# one before left: installed, used, removed; then upgraded and downgraded.
all_checks+=(msi_install msi_resources msi_cli msi_window msi_uninstall msi_upgrade)

repo=$(realpath "$(dirname "${BASH_SOURCE[0]}")/../..")
zip=$(realpath "$1") sim_program=$(realpath "$2") fixtures=$(realpath "$3") work=$4 checks=("${@:5}")
[ ${#checks[@]} -eq 0 ] && checks=("${all_checks[@]}")

wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
objdump=$(command -v x86_64-w64-mingw32-objdump || echo objdump)
rm -rf "$work" && mkdir -p "$work" && work=$(realpath "$work")
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
app=$work/app
module_instance='USB\VID_3505&PID_0001&MI_02\7&11AA&0&0002'
# Where it is plugged in: port 4 of root port 1, its interface 2.
module_location='PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(4)#USBMI(2)'

say() { echo "wine-checks: $*"; }
# The command, retried every 0.1 s until it succeeds or SECONDS have passed.
wait_for() {
    local deadline=$(($(date +%s%N) + $1 * 1000000000)); shift
    until "$@"; do [ "$(date +%s%N)" -lt "$deadline" ] && sleep 0.1 || return 1; done
}
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
# A program of the zip, in the current folder, bounded in time.
run_exe() { local exe=$1; shift; timeout --kill-after=5 "${WINE_TIMEOUT:-60}" "$wine" "$app/$exe" "$@"; }
# Field N (1-based) of the journal's last record.
journal_field() { tail -n 1 kv20-journal.csv | tr -d '\r' | cut -d, -f"$1"; }
# The columns NAMES (a,b,...) of every record of JOURNAL, found by the
# header, unquoted and joined by commas, a record a line; a quoted field may
# hold commas.
journal_rows() { # JOURNAL NAMES
    tr -d '\r' <"$1" | sed '1s/^\xEF\xBB\xBF//' | gawk -v names="$2" -v FPAT='([^,]*)|("([^"]|"")*")' '
        NR == 1 { n = split(names, want, ","); for (i = 1; i <= NF; i++) col[$i] = i; next }
        { for (i = 1; i <= n; i++) { v = $col[want[i]]; if (v ~ /^"/) { v = substr(v, 2, length(v) - 2); gsub(/""/, "\"", v) }
                                     printf "%s%s", v, i < n ? "," : "\n" } }'
}
journal_values() { journal_rows "$@" | tail -n 1; } # of the last record
expect() { [ "$2" = "$3" ] || { say "  $1: got '$2', wanted '$3'"; return 1; }; } # what, got, wanted

sims=()
# start_sim COMn LOG [simulator options]: a simulator that wine reaches as COMn.
start_sim() {
    local link=$WINEPREFIX/dosdevices/${1,,} log=$2; shift 2
    "$sim_program" --link="$link" "$@" >"$log.out" 2>"$log" &
    sims+=($!)
    wait_for 10 test -s "$log.out" && wait_for 5 test -L "$link"
}
stop_sims() { [ ${#sims[@]} -gt 0 ] && kill "${sims[@]}" 2>/dev/null && wait "${sims[@]}" 2>/dev/null; sims=(); }

# FILE BYTES: random bytes whose last is not XMODEM's padding byte.
image_of() { head -c "$(($2 - 1))" /dev/urandom >"$1" && printf '\x5a' >>"$1"; }

check_package() {
    local ok=0 dll pe name
    [ "$(unzip -Z1 "$zip" | cut -d/ -f1 | sort -u | wc -l)" = 1 ] || { say "  the zip has more than one top folder"; ok=1; }
    for name in kv20-tool.exe kv20-cli.exe kv20-station.exe station.ini.example translations/{qt_en.qm,qtbase_zh_CN.qm} README.txt licenses/{NOTICE.txt,LICENSE.LGPL3,LICENSE.GPL3,gcc-mingw-w64.copyright,mingw-w64.copyright,zlib.LICENSE,libpng.LICENSE,pcre2.LICENCE,harfbuzz.COPYING} \
        libpq.dll libssl-3-x64.dll libcrypto-3-x64.dll licenses/{PostgreSQL-COPYRIGHT,OpenSSL-LICENSE.txt,debian-copyright-postgresql-15,debian-copyright-openssl} \
        libqrencode.dll licenses/qrencode-COPYING; do
        [ -f "$app/$name" ] || { say "  missing: $name"; ok=1; }
    done
    expect "plugins" "$(cd "$app" && echo */*.dll)" "platforms/qwindows.dll styles/qwindowsvistastyle.dll" || ok=1
    [ ! -e "$app/qt_en.qm" ] || { say "  qt_en.qm beside the programs turns every form English"; ok=1; }
    expect "kv20-tool.exe subsystem" "$("$objdump" -p "$app/kv20-tool.exe" | awk '/^Subsystem/ {print $2}')" 00000002 || ok=1
    expect "kv20-cli.exe subsystem" "$("$objdump" -p "$app/kv20-cli.exe" | awk '/^Subsystem/ {print $2}')" 00000003 || ok=1
    expect "kv20-station.exe subsystem" "$("$objdump" -p "$app/kv20-station.exe" | awk '/^Subsystem/ {print $2}')" 00000002 || ok=1
    # Every import is in the folder or is the system's own; every DLL in the
    # folder is imported by something; none carries debug information.
    local imported
    imported=$(find "$app" -name '*.exe' -o -name '*.dll' | while read -r pe; do
        "$objdump" -p "$pe" | sed -n 's/^\s*DLL Name: //p'; done | tr 'A-Z' 'a-z' | sort -u)
    for dll in $imported; do
        [ -n "$(find "$app" -maxdepth 1 -iname "$dll")" ] \
            || [ -n "$(find "$WINEPREFIX/drive_c/windows/system32" -maxdepth 1 -iname "$dll")" ] \
            || { say "  $dll is loaded but is neither in the zip nor a system DLL"; ok=1; }
    done
    for pe in "$app"/*.dll "$app"/*/*.dll; do
        name=$(basename "$pe" | tr 'A-Z' 'a-z')
        [[ $pe == "$app"/*/*.dll ]] || grep -qx "$name" <<<"$imported" || { say "  $name is in the zip but nothing loads it"; ok=1; }
        ! "$objdump" -h "$pe" | grep -q '\.debug_' || { say "  $name is not stripped"; ok=1; }
    done
    return $ok
}

# The Qt-free rules and WM_DEVICECHANGE decoding of the Windows discovery layer.
check_discovery_layer() { timeout 60 "$wine" "$fixtures/com_port_check.exe"; }

check_list() {
    local out
    out=$(run_exe kv20-cli.exe list | tr -d '\r') || { say "  list failed"; return 1; }
    # The slot from the device's location paths, its interface left out.
    expect "kv20-cli list" "$out" "$(printf 'COM5\tCOM5\tUSB Serial Device (COM5)\t1-4')"
}

# Two more modules, registered once for the checks that need them: one
# placed by its location paths (port 1 of the hub on root port 2), one by
# its location information only (port 2 of hub 5).
located_modules() {
    [ -e "$work/located-modules" ] && return 0
    timeout 60 "$wine" "$fixtures/wine_fixture.exe" add-port 'USB\VID_3505&PID_0001&MI_02\7&11AA&0&0012' \
        "USB Serial Device (COM11)" 'PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(1)#USBMI(2)' \
        && timeout 60 "$wine" "$fixtures/wine_fixture.exe" add-port 'USB\VID_3505&PID_0001&MI_02\7&11AA&0&0022' \
            "USB Serial Device (COM12)" 'Port_#0002.Hub_#0005' \
        && touch "$work/located-modules"
}

check_list_slots() {
    local out
    located_modules || { say "  the fixture could not register the modules"; return 1; }
    out=$(run_exe kv20-cli.exe list --json | tr -d '\r') || { say "  list failed"; return 1; }
    expect "kv20-cli list --json: port and slot" "$(jq -r '"\(.port) \(.slot)"' <<<"$out" | grep -v COM6 | paste -sd,)" \
        "COM5 1-4,COM11 2-1,COM12 hub5-2"
}

query_check() { # variant, the four journal fields, the simulator options that give them
    local variant=$1 ok=0; shift
    start_sim COM5 sim.log --variant="$variant" "${@:5}" || return 1
    run_exe kv20-cli.exe query --variant "$variant" --json >out.json
    expect "exit status" $? 0 || ok=1
    grep -q "\"device_number\":\"$1\"" out.json || { say "  output: $(cat out.json)"; ok=1; }
    expect "journal record" "$(journal_field 2-8),$(journal_field 12)" "cli,COM5,query,$1,$2,$3,$4,ok" || ok=1
    return $ok
}
check_query_cellular() {
    query_check cellular KV20-DN-7 861234567890123 89860012345678901234 FW-2.3 \
        --devno=KV20-DN-7 --imei=861234567890123 --iccid=89860012345678901234 --fw-version=FW-2.3
}
check_query_wifi() {
    query_check wifi SN-0042 A0B1C2D3E4F5 SND-9 FW-W1 --serial=SN-0042 --mac=A0B1C2D3E4F5 --audio-version=SND-9 --fw-version=FW-W1
}

check_audio() {
    local ok=0
    image_of image.bin 70000
    start_sim COM5 sim.log --save-image="$PWD/saved.bin" --strip-padding || return 1
    run_exe kv20-cli.exe audio "$(winpath "$PWD/image.bin")" --operator op-7 --work-order WO-1 >out.txt
    expect "exit status" $? 0 || ok=1
    wait_for 5 grep -q "image saved" sim.log && cmp -s image.bin saved.bin || { say "  the image did not arrive byte for byte"; ok=1; }
    expect "journal columns" "$(head -n 1 kv20-journal.csv | tr -d '\r' | sed 's/^\xEF\xBB\xBF//')" \
        time,tool,port,operation,device_number,imei_or_mac,iccid_or_audio_version,device_version,image,image_bytes,image_sha256,result,detail,duration_ms,record_id,station,slot,operator,work_order,product,recipe_sha256,again_of,again_checked || ok=1
    expect "journal record" "$(journal_field 2-4),$(journal_field 9-13)" \
        "cli,COM5,audio,$(winpath "$PWD/image.bin"),70000,$(sha256sum <image.bin | cut -d' ' -f1),ok," || ok=1
    expect "who and what for" "$(journal_field 18-19)" "op-7,WO-1" || ok=1
    return $ok
}

check_audio_refused() {
    local ok=0
    image_of image.bin 70000
    start_sim COM5 sim.log --nak-block=2 --nak-times=5 || return 1
    run_exe kv20-cli.exe audio "$(winpath "$PWD/image.bin")" --operator op-7 --work-order WO-1 >out.txt
    expect "exit status" $? 1 || ok=1
    expect "journal result" "$(journal_field 4),$(journal_field 12)" "audio,failed" || ok=1
    say "  detail: $(journal_field 13)"
    return $ok
}

# A port that discovery does not list is taken by its COM name in any case,
# and one that does not open is the usual failed record.
check_unlisted_port() {
    local ok=0
    start_sim COM7 sim.log || return 1
    run_exe kv20-cli.exe query --port com7 >out.txt
    expect "exit status, --port com7" $? 0 || ok=1
    expect "journal record" "$(journal_field 3),$(journal_field 12)" "COM7,ok" || ok=1
    run_exe kv20-cli.exe query --port COM9 >out.txt 2>&1
    expect "exit status, --port COM9 (nothing there)" $? 1 || ok=1
    expect "journal record" "$(journal_field 3),$(journal_field 12-13)" "COM9,failed,port did not open" || ok=1
    return $ok
}

# SIGINT to the program's process is what wine turns into CTRL_C_EVENT.
check_interrupt() {
    local ok=0 pid status
    image_of image.bin 3000000
    start_sim COM5 sim.log || return 1
    "$wine" "$app/kv20-cli.exe" audio "$(winpath "$PWD/image.bin")" >out.txt 2>&1 & pid=$!
    wait_for 20 grep -q "block 3 " sim.log || { say "  the transfer did not start"; kill "$pid"; return 1; }
    kill -INT "$pid"
    wait_for 10 eval "! kill -0 $pid 2>/dev/null" || { say "  still running 10 s after SIGINT"; kill -9 "$pid"; ok=1; }
    wait "$pid"; status=$?
    expect "exit status" "$status" 130 || ok=1
    wait_for 5 grep -q "cancelled by the sender" sim.log || { say "  the simulator saw no cancel: $(tail -n 2 sim.log)"; ok=1; }
    expect "journal record" "$(journal_field 12-13)" "failed,interrupted" || ok=1
    return $ok
}

# The fixture holds the journal open for reading (SHARING: read or
# read-write) from hold_journal to let_go.
hold_journal() { # SHARING
    [ -p hold.ctl ] || mkfifo hold.ctl
    "$wine" "$fixtures/wine_fixture.exe" hold-open kv20-journal.csv "$1" <hold.ctl >hold.out & holder=$!
    exec 8>hold.ctl
    wait_for 20 grep -q held hold.out || { say "  the fixture did not open the journal"; return 1; }
}
let_go() { exec 8>&-; wait "$holder"; }

# A spreadsheet that shows the journal shares it for reading only: the record
# of an operation meanwhile goes to the side file at once, the next one to
# the journal once the spreadsheet has let go. A reader that shares it for
# reading and writing but not deleting, as QFile and fopen open it, keeps no
# record out.
check_journal_held() {
    local ok=0 holder side
    start_sim COM5 sim.log || return 1
    run_exe kv20-cli.exe query >out.txt || { say "  the first query failed"; return 1; }
    hold_journal read || ok=1
    run_exe kv20-cli.exe query >out.txt 2>err.txt
    expect "exit status while held" $? 3 || ok=1
    side=$(echo kv20-journal-unsaved-*.csv)
    grep -q "kept in .*$side" err.txt || { say "  not said where the record is: $(cat err.txt)"; ok=1; }
    expect "records in the side file" "$(grep -c ',cli,COM5,query,.*,ok,' "$side")" 1 || ok=1
    let_go
    run_exe kv20-cli.exe query >out.txt 2>err.txt
    expect "exit status once let go" $? 0 || ok=1
    hold_journal read-write || ok=1
    run_exe kv20-cli.exe query >out.txt 2>err.txt
    expect "exit status while a reader holds it" $? 0 || { say "  $(cat err.txt)"; ok=1; }
    let_go
    expect "records in the journal" "$(grep -c ',cli,COM5,query,.*,ok,' kv20-journal.csv)" 3 || ok=1
    expect "side files" "$(ls kv20-journal-unsaved-*.csv | wc -l)" 1 || ok=1
    return $ok
}

# A journal from before the newest columns is renamed aside whole while the
# writer holds its lock, and the record goes to a new journal with the
# columns; a second program appends to the new one. While a reader without
# delete sharing holds it, it cannot be renamed: that record goes to the
# side file, and the older journal stays as it was.
check_journal_older() {
    local ok=0 older header holder
    header='time,tool,port,operation,device_number,imei_or_mac,iccid_or_audio_version,device_version,image,image_bytes,image_sha256,result,detail,duration_ms'
    printf '\xEF\xBB\xBF%s\r\n%s\r\n' "$header" \
        '2026-01-05T08:00:00.000+08:00,cli,COM5,query,DN-OLD,861234567890123,89860012345678901234,FW-1,,,,ok,,812' \
        >kv20-journal.csv
    cp kv20-journal.csv before.csv
    start_sim COM5 sim.log || return 1
    hold_journal read-write || ok=1
    run_exe kv20-cli.exe query >out.txt 2>err.txt
    expect "exit status while a reader holds it" $? 3 || ok=1
    let_go
    cmp -s before.csv kv20-journal.csv || { say "  the older journal was written to"; ok=1; }
    run_exe kv20-cli.exe query >out.txt 2>err.txt
    expect "exit status" $? 0 || { say "  $(cat err.txt)"; ok=1; }
    older=(kv20-journal-older-*.csv)
    expect "journals set aside" "${#older[@]}" 1 || ok=1
    cmp -s before.csv "${older[0]}" || { say "  the older journal was not kept byte for byte"; ok=1; }
    expect "new header" "$(head -n 1 kv20-journal.csv | tr -d '\r' | sed 's/^\xEF\xBB\xBF//')" "$header,record_id,station,slot,operator,work_order,product,recipe_sha256,again_of,again_checked" || ok=1
    run_exe kv20-cli.exe query >out.txt 2>err.txt
    expect "exit status, second query" $? 0 || ok=1
    expect "records in the new journal" "$(grep -c ',cli,COM5,query,.*,ok,' kv20-journal.csv)" 2 || ok=1
    expect "journals set aside after the second query" "$(ls kv20-journal-older-*.csv | wc -l)" 1 || ok=1
    [[ $(journal_values kv20-journal.csv record_id) =~ ^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$ ]] \
        || { say "  no record id: $(tail -n 1 kv20-journal.csv)"; ok=1; }
    [ -n "$(journal_values kv20-journal.csv station)" ] || { say "  no station name"; ok=1; }
    return $ok
}

# Line mode serves the module present at the start and one that appears
# later, each once; its own device notifications are registered with the
# system; Ctrl-C ends it with 130 and the summary.
check_watch() {
    local ok=0 pid status
    start_sim COM5 sim.log || return 1
    "$wine" "$app/kv20-cli.exe" watch query --json --rescan-ms 200 >out.json 2>err.txt & pid=$!
    wait_for 30 grep -q '"port":"COM5".*"result":"ok"' out.json || { say "  COM5 not served: $(cat out.json err.txt)"; ok=1; }
    start_sim COM6 sim6.log || return 1
    timeout 60 "$wine" "$fixtures/wine_fixture.exe" add-port 'USB\VID_3505&PID_0001&MI_02\7&11AA&0&0006' \
        "USB Serial Device (COM6)" || ok=1
    wait_for 30 grep -q '"port":"COM6".*"result":"ok"' out.json || { say "  COM6 not served: $(cat out.json)"; ok=1; }
    kill -INT "$pid"
    wait_for 10 eval "! kill -0 $pid 2>/dev/null" || { say "  still running 10 s after SIGINT"; kill -9 "$pid"; ok=1; }
    wait "$pid"; status=$?
    expect "exit status" "$status" 130 || ok=1
    expect "served" "$(grep -o '"served":[0-9]*' out.json)" '"served":2' || ok=1
    expect "commands COM5 heard" "$(grep -c 'command AT+INFO' sim.log)" 1 || ok=1
    ! grep -q "no device-change events" err.txt || { say "  $(cat err.txt)"; ok=1; }
    return $ok
}

# Vertical runs of white 20-60 px tall in one pixel column: the four fields
# and the progress bar when the form has the room it needs.
white_runs() { # PNG X
    convert "$1" -crop "1x10000+$2+0" +repage txt:- | awk '
        NR > 1 { if (/#FFFFFF/) run++; else { n += run >= 20 && run <= 60; run = 0 } } END { print n + 0 }'
}
# The centroid of the pixels of one colour inside part of a PNG, as "X Y".
colour_centre() { # PNG COLOUR X0 Y0
    convert "$1" -crop "10000x10000+$3+$4" +repage txt:- | awk -F'[ ,:]+' -v c="$2" -v x0="$3" -v y0="$4" '
        $0 ~ c { n++; x += $1; y += $2 } END { if (n > 100) print x0 + int(x / n), y0 + int(y / n) }'
}
check_window() {
    local ok=0 pid wid shot=${shot_file:-$work/kv20-tool-wine.png} geometry width height centre started status
    image_of image.bin 40000
    printf '[General]\r\nfs.img_path=%s\r\n' "$(winpath "$PWD/image.bin" | tr '\\' /)" >config.ini
    start_sim COM5 sim.log --save-image="$PWD/saved.bin" --strip-padding || return 1
    # The window's trace in window.log, for a failure: wine hands no QT_
    # variable to Windows programs, and a window program's stderr goes
    # nowhere, so both through cmd.
    "$wine" cmd /c "set QT_FORCE_STDERR_LOGGING=1&& $(winpath "$app/kv20-tool.exe") 2>window.log" & pid=$!
    # The port selector is filled before the window shows; the journal's port
    # column below is what it held.
    find_window() { wid=$(timeout 5 xdotool search --onlyvisible --name 云音箱 | head -n 1); [ -n "$wid" ]; }
    wait_for 30 find_window || { say "  no window"; kill "$pid"; return 1; }
    # Drawn: the status "就绪" in green.
    ready_shot() { import -window "$wid" "$shot" && [ -n "$(colour_centre "$shot" '#00FF00' 0 0)" ]; }
    wait_for 20 ready_shot || { say "  no green status in the screenshot"; ok=1; }
    say "  screenshot: $shot"
    read -r width height < <(identify -format '%w %h' "$shot")
    [ "$(white_runs "$shot" $((width * 3 / 4)))" -ge 4 ] || { say "  the fields are squashed (see the screenshot)"; ok=1; }
    centre=$(colour_centre "$shot" '#3570A8' $((width / 2)) $((height / 2)))
    [ -n "$centre" ] || { say "  no action button in the lower right quarter"; kill "$pid"; return 1; }
    timeout 5 xdotool mousemove --window "$wid" $centre click 1
    wait_for 30 grep -q "image saved" sim.log && cmp -s image.bin saved.bin \
        || { say "  the click's audio replacement did not arrive byte for byte"; ok=1; }
    wait_for 10 grep -q ',window,COM5,audio,.*,ok,' kv20-journal.csv 2>/dev/null \
        || { say "  no record of the replacement from the window's COM5 (the Setup API walk's port)"; ok=1; }
    timeout 5 xdotool windowfocus "$wid" key Escape
    started=$(date +%s%N)
    wait_for 3 eval "! kill -0 $pid 2>/dev/null" || { say "  still running 3 s after Escape"; kill "$pid"; ok=1; }
    wait "$pid"; status=$?
    say "  ended $(( ($(date +%s%N) - started) / 1000000 )) ms after Escape"
    expect "exit status" "$status" 0 || ok=1
    expect "journal record" "$(journal_field 2-4),$(journal_field 12)" "window,COM5,audio,ok" || ok=1
    return $ok
}

# The tiles of a PNG row by row, a row a word, a tile a letter by its
# colour: P (PASS), F (FAIL), W (waiting). A tile counts when it is wider
# than the longest state word on one line ("↻ 已完成" at 44 px) and so
# on the screen.
tile_rows() { # PNG
    local c
    for c in P:2E9D46 F:C62828 W:DDDDDD; do
        convert "$1" -fill black +opaque "#${c#*:}" -fill white -opaque "#${c#*:}" \
            -define connected-components:verbose=true -connected-components 8 null: | awk -v s="${c%:*}" '
            $NF ~ /\(255,255,255\)/ && $4 + 0 > 3000 && $2 + 0 >= 200 { split($2, g, /[x+]/); print g[4], g[3], s }'
    done | sort -n -k1,1 -k2,2 | awk '{ printf "%s%s", (NR > 1 && $1 != y ? " " : ""), $3; y = $1 }'
}
# The station window mid-shift on the Setup API's slots: a query recipe
# naming the located modules' sockets and empty ones, sixteen tiles with the
# tile of a port discovery cannot place (watch's COM6, when it ran). Every
# module present is served once; the one in hub5-2 does not answer and
# fails, the others PASS, each in its named tile; the empty slots wait. The
# journal has each record with its slot.
check_station() {
    local ok=0 pid wid status port ports slots placed want names=({A..D}{1..4}) i shot=$work/kv20-station-wine.png
    located_modules || { say "  the fixture could not register the modules"; return 1; }
    run_exe kv20-cli.exe list --json | tr -d '\r' >list.json
    ports=($(jq -r .port list.json)) slots=($(jq -r 'select(.slot != "") | .slot' list.json))
    for port in "${ports[@]}"; do
        start_sim "$port" "sim-$port.log" --devno="DN-$port" $([ "$port" = COM12 ] && echo --no-reply) || return 1
    done
    placed=${#slots[@]}
    for ((i = 1; ${#slots[@]} + ${#ports[@]} - placed < 16; i++)); do slots+=("3-$i"); done
    printf '[recipe]\r\noperation=query\r\nvariant=cellular\r\nsound=on\r\n[label]\r\nprinter=folder:labels\r\nwhen=pass\r\n[slots]\r\n' >station.ini
    for i in "${!slots[@]}"; do printf '%s=%s\r\n' "${slots[i]}" "${names[i]}" >>station.ini; done
    "$wine" cmd /c "set QT_FORCE_STDERR_LOGGING=1&& $(winpath "$app/kv20-station.exe") 2>station.log" & pid=$!
    find_window() { wid=$(timeout 5 xdotool search --onlyvisible --name 'KV20 工位' | head -n 1); [ -n "$wid" ]; }
    wait_for 30 find_window || { say "  no window"; kill "$pid"; return 1; }
    # Signed in as an operator does: the id typed into the window, then Enter
    # (a scanner types the same way). Until then no module is touched.
    xdotool windowfocus --sync "$wid" 2>/dev/null
    xdotool type --delay 40 'op-7' && xdotool key Return
    served() { [ "$(journal_rows kv20-journal.csv tool 2>/dev/null | grep -c '^station$')" -ge ${#ports[@]} ]; }
    wait_for 30 served || { say "  not every module served: $(journal_rows kv20-journal.csv port,result,detail | paste -sd' ')"; ok=1; }
    expect "journal: tool, port, slot, device number, result, detail" \
        "$(journal_rows kv20-journal.csv tool,port,slot,device_number,result,detail | grep -v ',COM6,' | sort | paste -sd' ')" \
        "station,COM11,2-1,DN-COM11,ok, station,COM12,hub5-2,,failed,no reply station,COM5,1-4,DN-COM5,ok," || ok=1
    expect "operator in every record" "$(journal_rows kv20-journal.csv tool,operator | sort -u | paste -sd' ')" "station,op-7" || ok=1
    # The folder printer: a PNG for every pass, whose QR code a decoder of
    # its own reads back as the record's fields.
    local passes labelled=() id dn imei iccid
    passes=$(journal_rows kv20-journal.csv tool,result | grep -c '^station,ok$')
    all_labels() { [ "$(ls labels/*.png 2>/dev/null | wc -l)" -ge "$passes" ]; }
    wait_for 10 all_labels || { say "  labels: $(ls labels 2>&1 | paste -sd' ')"; ok=1; }
    while IFS=, read -r id dn imei iccid; do
        labelled+=("$dn")
        expect "the QR code of $dn's label" "$(zbarimg -q --raw "labels/$id.png" 2>/dev/null)" \
            "$(printf 'DN:%s\nIMEI:%s\nICCID:%s\nREC:%s' "$dn" "$imei" "$iccid" "$id")" || ok=1
    done < <(journal_rows kv20-journal.csv record_id,device_number,imei_or_mac,iccid_or_audio_version,tool,result | sed -n 's/,station,ok$//p')
    [ "${#labelled[@]}" -gt 0 ] || { say "  no pass to label"; ok=1; }
    # The located modules in the first tiles, as named; the empty slots
    # waiting; the ports discovery cannot place last. A named slot that
    # discovery did not place would wait beside a tile of its port.
    want=$(jq -r 'select(.slot != "") | if .port == "COM12" then "F" else "P" end' list.json | paste -sd '')
    for ((i = ${#want} + ${#ports[@]} - placed; i < 16; i++)); do want+=W; done
    for ((i = placed; i < ${#ports[@]}; i++)); do want+=P; done
    want=$(sed 's/..../& /g; s/ $//' <<<"$want")
    shown() { import -window "$wid" "$shot" && [ "$(tile_rows "$shot")" = "$want" ]; }
    wait_for 10 shown
    expect "tiles in the screenshot, row by row" "$(tile_rows "$shot")" "$want" || ok=1
    say "  screenshot: $shot"
    # Closed as its close box does; nothing being served, so without a
    # question.
    timeout 10 "$wine" "$fixtures/wine_fixture.exe" close-window 'KV20 工位' || ok=1
    wait_for 5 eval "! kill -0 $pid 2>/dev/null" || { say "  still running 5 s after WM_CLOSE"; kill "$pid"; ok=1; }
    wait "$pid"; status=$?
    expect "exit status" "$status" 0 || ok=1
    return $ok
}

# A failed tile is as red as the banner; only the banner spans the window.
banner_shown() { # PNG
    convert "$1" -fill black +opaque '#C62828' -fill white -opaque '#C62828' \
        -define connected-components:verbose=true -connected-components 8 null: | awk -v w="$(identify -format %w "$1")" '
        $NF ~ /\(255,255,255\)/ { split($2, g, /[x+]/); if (g[1] > w * 3 / 4) seen = 1 } END { exit !seen }'
}
# label_station QUEUE RECORDS UNTIL: the station printing to queue:QUEUE,
# signed in, until the journal holds RECORDS records and UNTIL holds
# (a command given the window's screenshot); then closed.
label_station() {
    local ok=0 pid wid
    printf '[recipe]\r\noperation=query\r\nvariant=cellular\r\n[label]\r\nprinter=queue:%s\r\nwhen=pass\r\n[slots]\r\n1-4=A1\r\n' "$1" >station.ini
    CUPS_SERVER=$(cat cups.address) "$wine" "$app/kv20-station.exe" 2>station.log & pid=$!
    find_window() { wid=$(timeout 5 xdotool search --onlyvisible --name 'KV20 工位' | head -n 1); [ -n "$wid" ]; }
    if wait_for 30 find_window; then
        xdotool windowfocus --sync "$wid" 2>/dev/null
        xdotool type --delay 40 'op-7' && xdotool key Return
        # Closed once every module has its record: nothing served, no question.
        done_with() { [ "$(journal_rows kv20-journal.csv port 2>/dev/null | wc -l)" -ge "$2" ] && import -window "$wid" "$1.png" && "$3" "$1.png"; }
        wait_for 30 done_with "$1" "$2" "$3" || { say "  queue:$1: labels $(journal_rows kv20-labels.csv event,detail 2>&1 | paste -sd' ')"; ok=1; }
    else
        say "  no window"; ok=1
    fi
    timeout 10 "$wine" "$fixtures/wine_fixture.exe" close-window 'KV20 工位' || ok=1
    wait_for 10 eval "! kill -0 $pid 2>/dev/null" || { say "  still running 10 s after WM_CLOSE"; kill "$pid"; ok=1; }
    wait "$pid"
    return $ok
}

# A queue:NAME printer through the Windows spooler's RAW data type: wine's
# spooler hands the job to the CUPS scheduler of the tests' own, whose queue
# keeps each job's bytes. The module in COM5 passes and its label arrives
# once, the station's ZPL as it stands, titled with its record id; COM6,
# present but silent, fails and prints nothing. Started again with a queue
# the spooler lacks, the station says so, and the label waits.
check_label_queue() {
    local ok=0 cups fields number id dn imei iccid
    bash "$repo/tests/support/cups_server.sh" "$PWD/cups" labels >cups.address 2>cups.err & cups=$!
    wait_for 20 eval "test -s cups.address || ! kill -0 $cups 2>/dev/null"
    if [ ! -s cups.address ]; then
        wait "$cups"
        # A machine that cannot run the scheduler (not root) says so; CI can.
        [ $? = 77 ] && [ "${CI:-}" != true ] && { say "  not run: $(cat cups.err)"; return 0; }
        say "  no CUPS scheduler: $(cat cups.err)"; return 1
    fi
    start_sim COM5 sim.log --devno=DN-Q5 || { kill "$cups"; return 1; }
    printed() { journal_rows kv20-labels.csv event | grep -qx printed; }
    label_station labels 2 printed || ok=1
    label_station nowhere 4 banner_shown || ok=1
    kill "$cups"; wait "$cups"
    IFS=, read -r id dn imei iccid < <(journal_rows kv20-journal.csv record_id,device_number,imei_or_mac,iccid_or_audio_version,port,result \
        | sed -n '1s/,COM5,ok$//p')
    expect "the pass" "$dn" DN-Q5 || ok=1
    expect "the records" "$(journal_rows kv20-journal.csv port,result | sort | paste -sd' ')" "COM5,ok COM5,ok COM6,failed COM6,failed" || ok=1
    expect "the queue's jobs" "$(cd cups/jobs && ls job-* | paste -sd' ')" "job-1 job-1.title" || return 1
    expect "the job's title" "$(cat cups/jobs/job-1.title)" "$id" || ok=1
    # A whole ZPL label whose fields are the record's, the QR code's first,
    # the label's number, as its tile shows it, then the default lines.
    expect "the job's frame" "$(head -c 3 cups/jobs/job-1)...$(tr -d '\r\n' <cups/jobs/job-1 | tail -c 3)" "^XA...^XZ" || ok=1
    number=${id:0:6}
    fields=$(grep -ao '\^FD[^^]*' cups/jobs/job-1 | cut -c4- | head -n 5 | paste -sd'|')
    expect "the job's fields" "$fields" "QA,DN:${dn}_0AIMEI:${imei}_0AICCID:${iccid}_0AREC:${id}|#${number^^}|$dn|$imei|$iccid" || ok=1
    expect "label events, the second pass's waiting" "$(journal_rows kv20-labels.csv record_id,event | awk -F, -v id="$id" '{ print ($1 == id ? "first" : "second") "," $2 }' | paste -sd' ')" \
        "first,waiting first,printed second,waiting" || ok=1
    return $ok
}

# kv20-cli.exe report reads a journal the Windows programs wrote (a query,
# an audio replacement, a port that did not open) and prints the same JSON,
# byte for byte, as the Linux build does on that file.
check_report() {
    local ok=0 linux_cli
    linux_cli=$(dirname "$sim_program")/kv20-cli
    image_of image.bin 20000
    start_sim COM5 sim.log || return 1
    run_exe kv20-cli.exe query >/dev/null && run_exe kv20-cli.exe audio "$(winpath "$PWD/image.bin")" >/dev/null \
        || { say "  the operations to report on failed"; return 1; }
    run_exe kv20-cli.exe query --port COM9 >/dev/null 2>&1
    run_exe kv20-cli.exe report kv20-journal.csv --json 2>err.txt | tr -d '\r' >windows.json
    expect "exit status" "${PIPESTATUS[0]}" 0 || { say "  $(cat err.txt)"; ok=1; }
    "$linux_cli" report kv20-journal.csv --json >linux.json
    cmp -s windows.json linux.json || { say "  Windows and Linux differ:"; diff windows.json linux.json | head -n 6; ok=1; }
    grep -q '"records":3,' linux.json || { say "  not the three records: $(cat linux.json)"; ok=1; }
    say "  $(head -c 240 linux.json)..."
    return $ok
}

# kv20-cli.exe, with the libpq and OpenSSL DLLs of the zip, makes the
# schema in a database of its own, uploads the records of its journal over
# TLS where the server speaks it, and its report from the database has the
# figures the Linux build reads from the journal. While an upload that holds
# the journal open waits for a slow database (its insert behind another
# session's lock on the table), an operation's record still goes to the
# journal, and the upload sends it too once the lock goes.
check_db_upload() {
    local ok=0 linux_cli name url server=${KV20_TEST_DB_URL%/*} locker uploader
    linux_cli=$(dirname "$sim_program")/kv20-cli
    name=kv20_wine_$$_$RANDOM
    psql -q -d "$KV20_TEST_DB_URL" -c "CREATE DATABASE $name" || { say "  no database made on the test server"; return 1; }
    url="$server/$name"
    [ "${KV20_TEST_DB_SSL:-0}" = 1 ] && url="$url?sslmode=require" || say "  the test server has no TLS: sslmode left to libpq"
    image_of image.bin 20000
    start_sim COM5 sim.log || return 1
    run_exe kv20-cli.exe query >/dev/null && run_exe kv20-cli.exe audio "$(winpath "$PWD/image.bin")" >/dev/null \
        && run_exe kv20-cli.exe query >/dev/null || { say "  the operations to upload failed"; return 1; }
    run_exe kv20-cli.exe db init --db "$url" >out.txt 2>err.txt
    expect "db init exit status" $? 0 || { say "  $(cat err.txt)"; ok=1; }
    run_exe kv20-cli.exe upload --db "$url" >out.txt 2>err.txt
    expect "upload exit status" $? 0 || { say "  $(cat err.txt)"; ok=1; }
    grep -q '^3 sent, 0 already there, 0 unreadable' out.txt || { say "  upload said: $(cat out.txt)"; ok=1; }
    expect "rows" "$(psql -At -d "$server/$name" -c "SELECT count(*) FROM kv20_records WHERE tool = 'cli' AND port = 'COM5'")" 3 || ok=1
    run_exe kv20-cli.exe upload --db "$url" >out.txt 2>err.txt
    grep -q '^0 sent, 0 already there' out.txt || { say "  the second upload said: $(cat out.txt)"; ok=1; }
    ! grep -q "$PGPASSWORD" out.txt err.txt || { say "  the password was printed"; ok=1; }
    run_exe kv20-cli.exe report --db "$url" --json 2>err.txt | tr -d '\r' >windows.json
    expect "report exit status" "${PIPESTATUS[0]}" 0 || { say "  $(cat err.txt)"; ok=1; }
    "$linux_cli" report kv20-journal.csv --json >linux.json
    # The same figures, apart from where they came from.
    expect "report from the database" "$(jq -cS 'del(.files)' windows.json)" "$(jq -cS 'del(.files)' linux.json)" || ok=1
    expect "records in the report" "$(jq .records windows.json)" 3 || ok=1
    mkfifo lock.sql
    psql -qAt -d "$server/$name" <lock.sql >lock.out 2>&1 & locker=$!
    exec 7>lock.sql
    echo "BEGIN; LOCK TABLE kv20_records IN EXCLUSIVE MODE; SELECT 'locked';" >&7
    wait_for 10 grep -qx locked lock.out || { say "  no lock on the table: $(cat lock.out)"; ok=1; }
    run_exe kv20-cli.exe query >/dev/null || ok=1
    "$wine" "$app/kv20-cli.exe" upload --db "$url" >out.txt 2>err.txt & uploader=$!
    inserting() {
        [ "$(psql -At -d "$server/$name" -c "SELECT count(*) FROM pg_stat_activity WHERE application_name = 'kv20'
            AND wait_event_type = 'Lock' AND query LIKE 'INSERT INTO kv20_records%'")" = 1 ]
    }
    wait_for 30 inserting || { say "  the upload did not wait at its insert: $(cat err.txt)"; ok=1; }
    run_exe kv20-cli.exe query >/dev/null 2>query.err
    expect "exit status during the upload" $? 0 || { say "  $(cat query.err)"; ok=1; }
    # psql gone, the server ends its transaction and the lock with it.
    kill "$locker"; exec 7>&-; wait "$locker"
    wait_for 30 eval "! kill -0 $uploader 2>/dev/null" || { say "  the upload did not end"; kill -9 "$uploader"; ok=1; }
    wait "$uploader"; expect "exit status of the slow upload" $? 0 || { say "  $(cat err.txt)"; ok=1; }
    grep -q '^2 sent, 0 already there' out.txt || { say "  the slow upload said: $(cat out.txt)"; ok=1; }
    expect "records in the journal" "$(grep -c ',cli,COM5,' kv20-journal.csv)" 5 || ok=1
    expect "side files" "$(ls kv20-journal-unsaved-*.csv 2>/dev/null | wc -l)" 0 || ok=1
    psql -q -d "$KV20_TEST_DB_URL" -c "DROP DATABASE $name WITH (FORCE)"
    return $ok
}

msi=${zip%.zip}.msi version=${zip##*/kv20-tool-} product="KV20 Module Tool"
version=${version%-win64.zip}
msi_run() { timeout 120 "$wine" msiexec "$1" "$(winpath "$2")" "${@:3}"; } # /i|/x MSI [options]
unix_path() { local p=${1//\\//}; printf '%s/drive_c%s' "$WINEPREFIX" "${p#[Cc]:}"; }
# The value NAME of every key under ROOT whose value BY is the product's
# name, one a line: one line for each installed-programs entry.
product_value() { # ROOT BY NAME
    "$wine" reg query "$1" /s 2>/dev/null | tr -d '\r' | awk -F'    ' -v by="$2" -v name="$3" -v product="$product" '
        /^HKEY/ { if (mine) print v; mine = 0; v = "" }
        $2 == by && $4 == product { mine = 1 }
        $2 == name { v = $4 }
        END { if (mine) print v }'
}
# wine writes the installed-programs entry of a per-user package under HKLM.
entry() { product_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' DisplayName "$1"; }
install_folder() { unix_path "$(entry InstallLocation)"; }
shortcut_file() { echo "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/"Start Menu"/Programs/"${1:-$product}.lnk"; }
shortcut() { timeout 60 "$wine" "$fixtures/wine_fixture.exe" shortcut "$(winpath "$(shortcut_file "$@")")" | tr -d '\r'; }
icon_sizes() { icotool -l "$1" | sed -n 's/.*--width=\([0-9]*\).*/\1/p' | paste -sd' '; }
pe_version() { wrestool -x --raw -t16 "$1" | strings -el -n 3 | grep -A1 -x ProductVersion | tail -n 1; }

check_msi_install() {
    local ok=0 folder lnk
    msi_run /i "$msi" /qn; expect "msiexec /i exit status" $? 0 || return 1
    folder=$(install_folder)
    diff -rq "$app" "$folder" || { say "  the installed files are not the zip's"; ok=1; }
    mapfile -t lnk < <(shortcut)
    expect "shortcut: target, working directory" "${lnk[*]}" "$(entry InstallLocation)kv20-tool.exe $(entry InstallLocation)" || ok=1
    # The station's, in the same folder: station.ini and the journal there.
    mapfile -t lnk < <(shortcut "KV20 Station")
    expect "station shortcut: target, working directory" "${lnk[*]}" \
        "$(entry InstallLocation)kv20-station.exe $(entry InstallLocation)" || ok=1
    expect "installed-programs entry" "$(entry DisplayName),$(entry DisplayVersion),$(entry Publisher)" \
        "$product,$version,The KV20 tool developers" || ok=1
    expect "its icon" "$(icon_sizes "$(unix_path "$(product_value 'HKCU\Software\Microsoft\Installer\Products' ProductName ProductIcon)")")" \
        "16 24 32 48 64 128 256" || ok=1
    return $ok
}

# Icon, version information and manifest, read from the installed programs.
check_msi_resources() {
    local ok=0 exe
    for exe in "$(install_folder)"/kv20-{tool,cli}.exe; do
        wrestool -x -t14 "$exe" >icon.ico
        expect "$exe: icon" "$(icon_sizes icon.ico)" "16 24 32 48 64 128 256" || ok=1
        expect "$exe: version" "$(pe_version "$exe")" "$version" || ok=1
        expect "$exe: manifest" "$(wrestool -x --raw -t24 "$exe" | grep -c -e 'level="asInvoker"' \
            -e 'Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"' -e '>PerMonitor<')" 3 || ok=1
    done
    return $ok
}

# The installed console program, started where the shortcut starts the
# window: its journal lands there.
check_msi_cli() {
    local ok=0 here=$PWD folder
    folder=$(unix_path "$(shortcut | sed -n 2p)") && cd "$folder" || return 1
    start_sim COM5 "$here/sim.log" || return 1
    timeout 60 "$wine" "$(install_folder)/kv20-cli.exe" query >"$here/out.txt"
    expect "exit status" $? 0 || ok=1
    expect "journal record" "$(journal_values kv20-journal.csv tool,port,result)" cli,COM5,ok || ok=1
    return $ok
}

check_msi_window() {
    local app shot_file=$work/kv20-tool-installed.png
    app=$(unix_path "$(shortcut | sed -n 2p)") && cd "$app" && check_window
}

# The operator's files outlive the programs: config.ini and every journal.
check_msi_uninstall() {
    local ok=0 folder lnk file station_lnk
    folder=$(install_folder) lnk=$(shortcut_file) station_lnk=$(shortcut_file "KV20 Station")
    cp "$folder/kv20-journal.csv" "$folder/kv20-journal-unsaved-20261207-010203.csv"
    msi_run /x "$msi" /qn; expect "msiexec /x exit status" $? 0 || ok=1
    for file in $(cd "$app" && find . -type f); do [ ! -e "$folder/$file" ] || { say "  left: $file"; ok=1; }; done
    [ ! -e "$lnk" ] && [ ! -e "$station_lnk" ] || { say "  a shortcut is still there"; ok=1; }
    expect "installed-programs entries" "$(entry DisplayName)" "" || ok=1
    ls "$folder"/{config.ini,kv20-journal.csv,kv20-journal-unsaved-20261207-010203.csv} >/dev/null || ok=1
    expect "the journal's last record" "$(journal_values "$folder/kv20-journal.csv" tool,operation,result)" window,audio,ok || ok=1
    return $ok
}

# An older version, then this one over it: one entry, this version's files,
# the operator's files kept. The older one again is refused with a message.
check_msi_upgrade() {
    local ok=0 older pid wid status
    older=$(echo "$fixtures"/kv20-tool-*-win64.msi)
    msi_run /i "$older" /qn; expect "older version: exit status" $? 0 || ok=1
    msi_run /i "$msi" /qn; expect "upgrade: exit status" $? 0 || ok=1
    expect "entries after the upgrade" "$(entry DisplayVersion)" "$version" || ok=1
    expect "kv20-cli.exe version" "$(pe_version "$(install_folder)/kv20-cli.exe")" "$version" || ok=1
    [ -f "$(install_folder)/config.ini" ] || { say "  config.ini lost"; ok=1; }
    msi_run /i "$older" /qb & pid=$!
    find_box() { wid=$(timeout 5 xdotool search --name 'Install Failed' | head -n 1); [ -n "$wid" ]; }
    # Found may not yet be mapped: the screenshot is taken again until it is.
    shot() { import -window "$wid" "$work/msi-downgrade-refused.png" 2>/dev/null; }
    if wait_for 30 find_box; then
        wait_for 10 shot || say "  no screenshot of the message"
        timeout 5 xdotool key --window "$wid" Return
    else
        say "  no message"; ok=1
    fi
    wait "$pid"; status=$?
    # 1603, as wine hands it to Linux: the low byte.
    expect "older again: exit status" "$status" $((1603 & 255)) || ok=1
    expect "entries after the refusal" "$(entry DisplayVersion)" "$version" || ok=1
    return $ok
}

# Set-up: the prefix, the zip, the device, a display.
started=$(date +%s)
# The display first: the prefix's desktop process, started with the first
# program, stays on the display it found.
exec 9< <(Xvfb -displayfd 1 -noreset -screen 0 1366x768x24 -nolisten tcp 2>/dev/null)
xvfb=$!
server=
trap 'stop_sims; "$wineserver" -k 2>/dev/null; kill $server $xvfb 2>/dev/null' EXIT
trap 'exit 124' TERM INT  # a timeout still cleans up
read -r -t 10 display <&9 || { say "FAILED: Xvfb did not start"; exit 2; }
export DISPLAY=:$display
say "a fresh wine prefix in $WINEPREFIX"
timeout 180 "$wine" wineboot -i >/dev/null 2>&1 || { say "FAILED: wineboot did not finish"; exit 2; }
# In the foreground of this shell, not a daemon with a session of its own: a
# session leader would take the first pty it opens as its controlling
# terminal and be hung up when the simulator closes it.
"$wineserver" -k 2>/dev/null; "$wineserver" -f -p >/dev/null 2>&1 &
server=$!
# Every Windows has Tahoma, which its dialog font "MS Shell Dlg 2" stands
# for; wine keeps its own copy outside the prefix, where Qt does not look.
cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
mkdir -p "$work/unpacked" && unzip -q "$zip" -d "$work/unpacked" && mv "$work"/unpacked/* "$app" \
    || { say "FAILED: cannot unpack $zip"; exit 2; }
timeout 60 "$wine" "$fixtures/wine_fixture.exe" add-port "$module_instance" "USB Serial Device (COM5)" "$module_location" \
    || { say "FAILED: the fixture could not register the module's USB serial device"; exit 2; }
say "set up in $(($(date +%s) - started)) s"

passed=0
failures=()
for check in "${checks[@]}"; do
    mkdir -p "$work/$check" && cd "$work/$check" || exit 2
    if "check_$check"; then
        passed=$((passed + 1)); say "$check: passed"
    else
        failures+=("$check"); say "$check: FAILED"
    fi
    stop_sims
    cd "$work"
done
say "$(($(date +%s) - started)) s in all"
echo "wine-checks: ${passed} passed, ${#failures[@]} failed${failures:+ (${failures[*]})}"
[ ${#failures[@]} -eq 0 ]
