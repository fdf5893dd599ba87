#!/usr/bin/env bash
# Times tellwick_cli expanding a range of 65,024 addresses and sending one UDP packet to each,
# unsigned and then signed with a key made for the run (-k: every packet its own signature).
# All of 127.0.0.0/8 is this machine, so nothing leaves it. By the odometer rule the third
# octet runs 0..254 and then the second steps up, so 127.0.0.1-127.1.1.254 holds exactly
# 255 * 254 + 254 = 65,024 addresses.
# Usage: bench/cli/send_range.sh [path/to/tellwick_cli] [runs]
set -euo pipefail
cli=${1:-"$(dirname "$0")/../../build/bin/tellwick_cli"}
runs=${2:-5}
range=127.0.0.1-127.1.1.254
port=47999
# The machine is shared: besides the wall-clock time, the CPU time (user + system) shows
# what the program itself costs when other jobs compete for the cores.
TIMEFORMAT='%R %U %S'
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$cli" --generate-keys="$work" >/dev/null
ms() { awk '{ printf "%.0f\n", $1 * 1000 }'; }
mid=$(((runs - 1) / 2))
for variant in unsigned signed; do
    extra=()
    [[ $variant == signed ]] && extra=(-k "$work/operator.key")
    results="$work/$variant.times"
    for ((i = 0; i < runs; i++)); do
        { time "$cli" -a "$range" -t "benchmark" -p "$port" "${extra[@]}" >/dev/null; } 2>>"$results"
    done
    wall=($(awk '{ print $1 }' "$results" | sort -n | ms))
    cpu=($(awk '{ print $2 + $3 }' "$results" | sort -n | ms))
    echo "tellwick_cli, UDP to $range (65024 addresses), $variant, $runs runs:" \
         "wall min ${wall[0]} ms, median ${wall[$mid]} ms, max ${wall[$((runs - 1))]} ms;" \
         "CPU (user + system) median ${cpu[$mid]} ms"
done
