#!/usr/bin/env bash
# Whole runs of ephem side by side, all measured in this one run of the script:
#   - rows per second of ephem and of its literal build (every shortcut off) on the shipped example,
#     their ratio, and whether the two ZEPO.DAT files are the same bytes;
#   - the ratio to a plain loop that writes the same bytes with one write(2) per row;
#   - the time per row when the run starts a million days after the epoch, against at the epoch;
#   - peak memory at 10 rows and at the full row count;
#   - a run whose mean anomaly cannot be reduced (zero semi-major axis).
# Builds build-perf (with the benchmarks) and build-perf-literal (EPHEM_LITERAL=ON) beside the sources.
#   bench/whole_run.sh [ROWS]        (ROWS defaults to 1000000; REPEAT=n takes the best of n timings)
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
rows=${1:-1000000}
repeat=${REPEAT:-3}
fast_build=$source_dir/build-perf
literal_build=$source_dir/build-perf-literal

echo "building $fast_build and $literal_build ..."
cmake -S "$source_dir" -B "$fast_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEPHEM_BENCH=ON >/dev/null
cmake --build "$fast_build" -j2 --target ephem plain_rows >/dev/null
cmake -S "$source_dir" -B "$literal_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEPHEM_LITERAL=ON \
    -DEPHEM_TESTS=OFF >/dev/null
cmake --build "$literal_build" -j2 --target ephem >/dev/null
fast=$fast_build/ephem
literal=$literal_build/ephem
plain=$fast_build/bench/plain_rows

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
example=$source_dir/examples/mars/DATOS.DAT

# datos DIR TINI NC [SEMI_MAJOR_AXIS]: the shipped example with another start time, row count and, when
# given, another semi-major axis of the target.
datos() {
    mkdir -p "$1"
    awk -v tini="$2" -v nc="$3" -v a="${4:-}" '
        NR == 1 && a != "" { $1 = a }
        NR == 3 { $0 = tini }
        NR == 4 { $0 = nc }
        { print }' "$example" >"$1/DATOS.DAT"
}

now_ns() { date +%s%N; }

# measure DIR PROGRAM: the shortest wall time and the shortest processor time (user and system) of
# $repeat runs of PROGRAM in DIR, in seconds. The processor time is the steadier figure on a machine that
# others share, since it leaves out the time spent waiting for a processor.
measure() {
    local best="" best_cpu="" start end took cpu
    for _ in $(seq "$repeat"); do
        start=$(now_ns)
        (cd "$1" && /usr/bin/time -f "%U %S" -o "$work/cpu" "$2")
        end=$(now_ns)
        took=$((end - start))
        cpu=$(awk '{ printf "%.2f", $1 + $2 }' "$work/cpu")
        if [ -z "$best" ] || [ "$took" -lt "$best" ]; then best=$took; fi
        if [ -z "$best_cpu" ] || awk -v a="$cpu" -v b="$best_cpu" 'BEGIN { exit !(a < b) }'; then
            best_cpu=$cpu
        fi
    done
    awk -v ns="$best" -v cpu="$best_cpu" 'BEGIN { printf "%.4f %s\n", ns / 1e9, cpu }'
}

# peak_kb DIR PROGRAM: the largest resident set of one run, in KiB.
peak_kb() { (cd "$1" && /usr/bin/time -f %M "$2" 2>&1 >/dev/null | tail -1); }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
per_second() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.0f", n / s }'; }
micro_per_row() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.3f", s * 1e6 / n }'; }

epoch=2451545.0
far=3451545.0  # a million days after the epoch

echo "rows: $rows of the shipped example (examples/mars/DATOS.DAT), best of $repeat"
datos "$work/fast" "$epoch" "$rows"
datos "$work/literal" "$epoch" "$rows"
read -r fast_s fast_cpu < <(measure "$work/fast" "$fast")
read -r literal_s literal_cpu < <(measure "$work/literal" "$literal")
if cmp -s "$work/fast/ZEPO.DAT" "$work/literal/ZEPO.DAT"; then same=yes; else same=NO; fi
lines=$(wc -l <"$work/fast/ZEPO.DAT")
lines_per_row=$((lines / rows))
read -r plain_rows plain_s < <("$plain" "$work/fast/ZEPO.DAT" "$work/plain.out" "$lines_per_row")
for _ in $(seq $((repeat - 1))); do
    read -r _ again < <("$plain" "$work/fast/ZEPO.DAT" "$work/plain.out" "$lines_per_row")
    plain_s=$(awk -v a="$plain_s" -v b="$again" 'BEGIN { print (b < a) ? b : a }')
done
cmp -s "$work/fast/ZEPO.DAT" "$work/plain.out" || echo "warning: the plain loop wrote other bytes"

printf '%-44s %12s rows/s  (%s s; processor %s s, %s rows/s)\n' "ephem" "$(per_second "$rows" "$fast_s")" \
    "$fast_s" "$fast_cpu" "$(per_second "$rows" "$fast_cpu")"
printf '%-44s %12s rows/s  (%s s; processor %s s, %s rows/s)\n' "ephem, literal build" \
    "$(per_second "$rows" "$literal_s")" "$literal_s" "$literal_cpu" "$(per_second "$rows" "$literal_cpu")"
printf '%-44s %12s  (processor time %sx)\n' "speed-up over the literal build" "$(ratio "$literal_s" "$fast_s")x" \
    "$(ratio "$literal_cpu" "$fast_cpu")"
printf '%-44s %12s\n' "same ZEPO.DAT bytes" "$same"
printf '%-44s %12s rows/s  (%s s, %s rows)\n' "plain loop, one write(2) per row" \
    "$(per_second "$plain_rows" "$plain_s")" "$plain_s" "$plain_rows"
printf '%-44s %12s\n' "ephem time / plain loop time" "$(ratio "$fast_s" "$plain_s")"

far_rows=$((rows / 5))
datos "$work/near" "$epoch" "$far_rows"
datos "$work/far" "$far" "$far_rows"
read -r near_s _ < <(measure "$work/near" "$fast")
read -r far_s _ < <(measure "$work/far" "$fast")
literal_rows=$((far_rows / 10))
datos "$work/near_literal" "$epoch" "$literal_rows"
datos "$work/far_literal" "$far" "$literal_rows"
read -r near_literal_s _ < <(measure "$work/near_literal" "$literal")
read -r far_literal_s _ < <(measure "$work/far_literal" "$literal")
echo
echo "time per row, start at the epoch against a million days after it"
printf '%-44s %8s us %8s us  ratio %s  (%s rows)\n' "ephem" "$(micro_per_row "$far_rows" "$near_s")" \
    "$(micro_per_row "$far_rows" "$far_s")" "$(ratio "$far_s" "$near_s")" "$far_rows"
printf '%-44s %8s us %8s us  ratio %s  (%s rows)\n' "ephem, literal build" \
    "$(micro_per_row "$literal_rows" "$near_literal_s")" "$(micro_per_row "$literal_rows" "$far_literal_s")" \
    "$(ratio "$far_literal_s" "$near_literal_s")" "$literal_rows"

datos "$work/ten" "$epoch" 10
small_kb=$(peak_kb "$work/ten" "$fast")
large_kb=$(peak_kb "$work/fast" "$fast")
echo
echo "peak memory (maximum resident set)"
printf '%-44s %8s KiB\n' "ephem, 10 rows" "$small_kb"
printf '%-44s %8s KiB\n' "ephem, $rows rows" "$large_kb"
printf '%-44s %8s KiB\n' "difference" "$((large_kb - small_kb))"

datos "$work/zero_axis" "$epoch" "$rows" 0.0
read -r zero_s _ < <(measure "$work/zero_axis" "$fast")
echo
echo "zero semi-major axis (infinite mean motion), $rows rows"
printf '%-44s %12s rows/s  (%s s)\n' "ephem" "$(per_second "$rows" "$zero_s")" "$zero_s"
printf "%-44s %s\n" "its first line" "$(head -1 "$work/zero_axis/ZEPO.DAT")"
