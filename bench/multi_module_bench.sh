#!/usr/bin/env bash
# Several modules at once: kv20-cli audio --all with a 256 KiB image on N
# paced simulated modules (115200 8N1), N = 1, 4 and 8. Prints per N the
# slowest and the mean module's payload rate as a share of the XMODEM-1K line
# limit (11,464 B/s), the wall time against N = 1, and kv20-cli's CPU time.
#
#   bash bench/multi_module_bench.sh [BIN_DIR]     (default: build/bin)
#
# A module's payload rate is the image bytes after the first block over the
# time between the simulator's log lines for the first and the last block:
# what the line carried while the transfer ran, without the AT query before.
set -euo pipefail
bin=$(cd "${1:-build/bin}" && pwd)
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
limit=11464
calc() { awk "BEGIN { print $1 }"; }
size=$((256 * 1024))
head -c $size /dev/urandom > "$work/image.bin"

printf '%3s %14s %14s %10s %12s %14s\n' N "slowest rate" "mean rate" "wall s" "wall vs N=1" "CLI CPU/module"
wall_one=""
for n in 1 4 8; do
    tree=$work/tree$n
    pids=()
    for i in $(seq 1 "$n"); do
        "$bin/kv20-module-sim" --pace --device-tree="$tree" >"$work/sim$n.$i.out" 2>"$work/sim$n.$i.log" &
        pids+=($!)
    done
    for i in $(seq 1 "$n"); do
        until [ -s "$work/sim$n.$i.out" ]; do sleep 0.05; done
    done
    (
        cd "$work"
        start=$(date +%s.%N)
        KV20_SYSFS_ROOT=$tree "$bin/kv20-cli" audio image.bin --all >"$work/cli$n.out" 2>&1
        end=$(date +%s.%N)
        echo "$start $end" >"$work/wall$n"
        times >"$work/times$n"
    )
    kill "${pids[@]}" 2>/dev/null || true
    wait "${pids[@]}" 2>/dev/null || true
    read -r start end <"$work/wall$n"
    wall=$(calc "$end - $start")
    [ -z "$wall_one" ] && wall_one=$wall
    # The subshell's children: the second line of `times`, user and system.
    cpu=$(sed -n 2p "$work/times$n" | awk '{ gsub(/[ms]/, " "); print ($1 * 60 + $2) + ($3 * 60 + $4) }')
    rates=$(for i in $(seq 1 "$n"); do
        awk -v size=$size '/ block [0-9]+ #/ && /ok, ACK/ { t = substr($0, 2, index($0, "]") - 2) + 0;
                if (first == "") first = t; last = t }
             END { printf "%.1f\n", (size - 1024) / (last - first) }' "$work/sim$n.$i.log"
    done)
    slowest=$(echo "$rates" | sort -n | head -1)
    mean=$(echo "$rates" | awk '{ s += $1 } END { printf "%.1f", s / NR }')
    grep -c ': ok$' "$work/cli$n.out" | grep -qx "$n" || { echo "N=$n: not every module succeeded:"; cat "$work/cli$n.out"; exit 1; }
    printf '%3d %8.0f %4.1f%% %8.0f %4.1f%% %10.2f %11.2f%% %13.3f%%\n' "$n" \
        "$slowest" "$(calc "100 * $slowest / $limit")" "$mean" "$(calc "100 * $mean / $limit")" \
        "$wall" "$(calc "100 * ($wall - $wall_one) / $wall_one")" \
        "$(calc "100 * $cpu / $wall / $n")"
done
