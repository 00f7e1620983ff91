#!/usr/bin/env bash
# Whole runs of ephem side by side, all measured in this one run of the script, as medians of REPEAT runs:
#   - the floor ratio on the shipped example: ephem's time over that of a plain loop that writes the same
#     bytes with one write(2) per row (bench/plain_rows), the two run in pairs over the same existing
#     ZEPO.DAT, since the cost of a write moves with the state of the file;
#   - with BASELINE set to another build of ephem (an older commit, say): its floor ratio, and its time
#     over ephem's on each input, in pairs: the example, a start a million days after the epoch,
#     eccentricities 0.9 and 1.2, a zero semi-major axis and the comet example; beside each, the most
#     any build could gain over the baseline there: the baseline's time over the plain loop's on that
#     input's table, since no build can write its rows faster than the plain loop;
#   - whether the literal program (ephem_literal: the rows and their item texts by the literal steps)
#     writes the same bytes, and its speed;
#   - the time per row a million days after the epoch against at the epoch;
#   - peak memory at 10 rows and at the full row count.
# Builds build-perf (with the benchmarks) beside the sources.
#   [BASELINE=/tmp/perf-base/ephem] [REPEAT=5] bench/whole_run.sh [ROWS]     (ROWS defaults to 1000000)
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
rows=${1:-1000000}
repeat=${REPEAT:-5}
baseline=${BASELINE:-}
build=$source_dir/build-perf

echo "building $build ..."
cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEPHEM_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target ephem ephem_literal plain_rows >/dev/null
fast=$build/ephem
literal=$build/ephem_literal
plain=$build/bench/plain_rows

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
example=$source_dir/examples/mars/DATOS.DAT

# datos DIR TINI NC [FIELD=VALUE ...]: the shipped example with another start time and row count, and
# fields of the target's orbit replaced (1 = a, 2 = e, ...).
datos() {
    local dir=$1 tini=$2 nc=$3
    shift 3
    mkdir -p "$dir"
    awk -v tini="$tini" -v nc="$nc" -v fields="$*" '
        BEGIN { n = split(fields, pairs, " ") }
        NR == 1 { for (i = 1; i <= n; i++) { split(pairs[i], p, "="); $p[1] = p[2] } }
        NR == 3 { $0 = tini }
        NR == 4 { $0 = nc }
        { print }' "$example" >"$dir/DATOS.DAT"
}

# comet DIR NC: the comet example with another row count.
comet() {
    mkdir -p "$1"
    awk -v nc="$2" 'NR == 4 { $0 = nc } { print }' "$source_dir/examples/comet/DATOS.DAT" >"$1/DATOS.DAT"
}

now_ns() { date +%s%N; }

# seconds DIR PROGRAM: the wall time of one run of PROGRAM in DIR. Every timed run starts with the
# pages that earlier runs left dirty written back, so that their write-back does not land in its time.
seconds() {
    local start end
    sync
    start=$(now_ns)
    (cd "$1" && "$2")
    end=$(now_ns)
    awk -v ns="$((end - start))" 'BEGIN { printf "%.4f\n", ns / 1e9 }'
}

# floor_seconds DIR: the plain loop over DIR/ZEPO.DAT, writing its bytes over itself, a row of 8 items
# at a time.
floor_seconds() { sync; "$plain" "$1/ZEPO.DAT" "$1/ZEPO.DAT" 8 | awk '{ print $2 }'; }

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
per_second() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.0f", n / s }'; }
micro_per_row() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.3f", s * 1e6 / n }'; }

epoch=2451545.0
far=3451545.0  # a million days after the epoch

echo "rows: $rows of the shipped example (examples/mars/DATOS.DAT); medians of $repeat runs"
datos "$work/fast" "$epoch" "$rows"
datos "$work/literal" "$epoch" "$rows"
(cd "$work/fast" && "$fast")
literal_s=$(seconds "$work/literal" "$literal")
if cmp -s "$work/fast/ZEPO.DAT" "$work/literal/ZEPO.DAT"; then same=yes; else same=NO; fi
cp "$work/fast/ZEPO.DAT" "$work/expected"
if [ -n "$baseline" ]; then datos "$work/base" "$epoch" "$rows"; (cd "$work/base" && "$baseline"); fi

# Pairs: ephem, then the plain loop over the file it left; the same for the baseline.
: >"$work/pairs"
for _ in $(seq "$repeat"); do
    fast_s=$(seconds "$work/fast" "$fast")
    floor_s=$(floor_seconds "$work/fast")
    line="$fast_s $floor_s $(ratio "$fast_s" "$floor_s")"
    if [ -n "$baseline" ]; then
        base_s=$(seconds "$work/base" "$baseline")
        base_floor_s=$(floor_seconds "$work/base")
        line="$line $base_s $base_floor_s $(ratio "$base_s" "$base_floor_s") $(ratio "$base_s" "$fast_s")"
        line="$line $(ratio "$base_s" "$floor_s")"
    fi
    echo "$line" >>"$work/pairs"
done
column_median() { awk -v c="$1" '{ print $c }' "$work/pairs" | median; }
cmp -s "$work/fast/ZEPO.DAT" "$work/expected" || echo "warning: the plain loop or a rerun wrote other bytes"

printf '%-44s %12s rows/s  (%s s)\n' "ephem" "$(per_second "$rows" "$(column_median 1)")" "$(column_median 1)"
printf '%-44s %12s rows/s  (%s s)\n' "plain loop, one write(2) per row" \
    "$(per_second "$rows" "$(column_median 2)")" "$(column_median 2)"
printf '%-44s %12s\n' "floor ratio: ephem / plain loop, paired" "$(column_median 3)"
if [ -n "$baseline" ]; then
    cmp -s "$work/base/ZEPO.DAT" "$work/expected" || echo "warning: the baseline wrote other bytes"
    printf '%-44s %12s rows/s  (%s s)\n' "baseline" "$(per_second "$rows" "$(column_median 4)")" \
        "$(column_median 4)"
    printf '%-44s %12s\n' "floor ratio of the baseline, paired" "$(column_median 6)"
fi
printf '%-44s %12s rows/s  (%s s, one run)\n' "ephem_literal" "$(per_second "$rows" "$literal_s")" \
    "$literal_s"
printf '%-44s %12s\n' "same ZEPO.DAT bytes as ephem_literal" "$same"

if [ -n "$baseline" ]; then
    others=$((rows / 5))
    echo
    echo "baseline time / ephem time, paired, $others rows each (the example: $rows rows); beside it the"
    echo "ceiling, baseline time / plain loop time on the same table: what a run with no computation would gain"
    printf '%-44s %12s  %9s\n' "shipped example" "$(column_median 7)x" "$(column_median 8)x"
    datos "$work/in/far_epoch" "$far" "$others"
    datos "$work/in/eccentricity_0.9" "$epoch" "$others" 2=0.9
    datos "$work/in/eccentricity_1.2" "$epoch" "$others" 2=1.2
    datos "$work/in/zero_semi_major_axis" "$epoch" "$others" 1=0.0
    comet "$work/in/comet" "$others"
    for input in far_epoch eccentricity_0.9 eccentricity_1.2 zero_semi_major_axis comet; do
        dir=$work/in/$input
        mkdir -p "$dir/base" && cp "$dir/DATOS.DAT" "$dir/base/"
        : >"$work/pairs"
        for _ in $(seq "$repeat"); do
            fast_s=$(seconds "$dir" "$fast")
            floor_s=$(floor_seconds "$dir")
            base_s=$(seconds "$dir/base" "$baseline")
            echo "$fast_s $base_s $(ratio "$base_s" "$fast_s") $(ratio "$base_s" "$floor_s")" >>"$work/pairs"
        done
        cmp -s "$dir/ZEPO.DAT" "$dir/base/ZEPO.DAT" || echo "warning: $input: the baseline wrote other bytes"
        printf '%-44s %12s  %9s  (%s s against %s s)\n' "$input" "$(column_median 3)x" \
            "$(column_median 4)x" "$(column_median 2)" "$(column_median 1)"
    done
fi

far_rows=$((rows / 5))
datos "$work/near" "$epoch" "$far_rows"
datos "$work/far" "$far" "$far_rows"
: >"$work/pairs"
for _ in $(seq "$repeat"); do
    near_s=$(seconds "$work/near" "$fast")
    far_s=$(seconds "$work/far" "$fast")
    echo "$near_s $far_s $(ratio "$far_s" "$near_s")" >>"$work/pairs"
done
echo
echo "time per row, start at the epoch against a million days after it ($far_rows rows), paired"
printf '%-44s %8s us %8s us  ratio %s\n' "ephem" "$(micro_per_row "$far_rows" "$(column_median 1)")" \
    "$(micro_per_row "$far_rows" "$(column_median 2)")" "$(column_median 3)"

datos "$work/ten" "$epoch" 10
peak_kb() { (cd "$1" && /usr/bin/time -f %M "$2" 2>&1 >/dev/null | tail -1); }
small_kb=$(peak_kb "$work/ten" "$fast")
large_kb=$(peak_kb "$work/fast" "$fast")
echo
echo "peak memory (maximum resident set)"
printf '%-44s %8s KiB\n' "ephem, 10 rows" "$small_kb"
printf '%-44s %8s KiB\n' "ephem, $rows rows" "$large_kb"
printf '%-44s %8s KiB\n' "difference" "$((large_kb - small_kb))"
