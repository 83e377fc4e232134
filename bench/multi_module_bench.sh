#!/usr/bin/env bash
# Several modules at once: kv20-cli audio --all with a 256 KiB image on N
# paced simulated modules (115200 8N1), N = 1, 4 and 8. Prints per N the
# slowest and the mean module's payload rate as a share of the XMODEM-1K line
# limit (11,464 B/s), the wall time against N = 1, and kv20-cli's CPU time.
# Exits 1 when a module's download failed or what it received is not the
# image byte for byte.
#
#   bash bench/multi_module_bench.sh [--smoke] [BIN_DIR]   (default: build/bin;
#        --smoke: a 32 KiB image on 1 and 2 modules)
#
# A module's payload rate is the blocks after the first (1024 bytes each,
# the all-pad block that ends an image of whole blocks among them) over the
# time between the simulator's log lines for the first and the last block:
# what the line carried while the transfer ran, without the AT query before.
set -euo pipefail
counts="1 4 8" kib=256
if [ "${1:-}" = --smoke ]; then
    counts="1 2" kib=32
    shift
fi
bin=$(cd "${1:-build/bin}" && pwd)
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
limit=11464
calc() { awk "BEGIN { print $1 }"; }
size=$((kib * 1024))
# Not ending in the pad byte, so that the image saved without its padding is the image.
{ head -c $((size - 1)) /dev/urandom; printf E; } >"$work/image.bin"

printf '%3s %14s %14s %10s %12s %14s\n' N "slowest rate" "mean rate" "wall s" "wall vs N=1" "CLI CPU/module"
wall_one=""
for n in $counts; do
    tree=$work/tree$n
    pids=()
    for i in $(seq 1 "$n"); do
        "$bin/kv20-module-sim" --pace --device-tree="$tree" --save-image="$work/received$n.$i.bin" --strip-padding \
            >"$work/sim$n.$i.out" 2>"$work/sim$n.$i.log" &
        pids+=($!)
    done
    for i in $(seq 1 "$n"); do
        for _ in $(seq 100); do [ -s "$work/sim$n.$i.out" ] && break; sleep 0.05; done
        [ -s "$work/sim$n.$i.out" ] || { echo "N=$n: simulator $i did not start:"; cat "$work/sim$n.$i.log"; exit 1; }
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
        awk '/ block [0-9]+ #/ && /ok, ACK/ { t = substr($0, 2, index($0, "]") - 2) + 0;
                if (blocks++ == 0) first = t; last = t }
             END { printf "%.1f\n", (blocks - 1) * 1024 / (last - first) }' "$work/sim$n.$i.log"
    done)
    slowest=$(echo "$rates" | sort -n | head -1)
    mean=$(echo "$rates" | awk '{ s += $1 } END { printf "%.1f", s / NR }')
    grep -c ': ok$' "$work/cli$n.out" | grep -qx "$n" || { echo "N=$n: not every module succeeded:"; cat "$work/cli$n.out"; exit 1; }
    for i in $(seq 1 "$n"); do
        cmp -s "$work/image.bin" "$work/received$n.$i.bin" || { echo "N=$n: module $i did not receive the image"; exit 1; }
    done
    printf '%3d %8.0f %4.1f%% %8.0f %4.1f%% %10.2f %11.2f%% %13.3f%%\n' "$n" \
        "$slowest" "$(calc "100 * $slowest / $limit")" "$mean" "$(calc "100 * $mean / $limit")" \
        "$wall" "$(calc "100 * ($wall - $wall_one) / $wall_one")" \
        "$(calc "100 * $cpu / $wall / $n")"
done
