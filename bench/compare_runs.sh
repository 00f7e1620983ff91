#!/usr/bin/env bash
# Runs the program and its literal build (every shortcut off) on the same inputs and requires the two
# ZEPO.DAT files to be byte for byte the same.
#   compare_runs.sh FAST_PROGRAM LITERAL_PROGRAM
set -euo pipefail

fast=$(realpath "$1")
literal=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mars='1.52371034 0.0933941 1.84969142 286.4968315 49.55953891 19.3903 2451545.0 0.0'
earth='1.00000261 0.01671123 -0.00001531 102.93768193 0.0 -2.47311027 2451545.0 0.0'
comet='17.834 0.96714 162.26 111.33 58.42 38.38 2446467.4 0.0'

passed=0
failed=0

# same_output NAME TARGET OBSERVER TINI NC
same_output() {
    local name=$1 dir
    for program in fast literal; do
        dir=$work/$name/$program
        mkdir -p "$dir"
        printf '%s\n%s\n%s\n%s\n' "$2" "$3" "$4" "$5" >"$dir/DATOS.DAT"
        if ! (cd "$dir" && timeout 60 "${!program}"); then
            echo "FAILED: $name: the $program program did not end normally"
            failed=$((failed + 1))
            return
        fi
    done
    if cmp -s "$work/$name/fast/ZEPO.DAT" "$work/$name/literal/ZEPO.DAT"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $name: the rows differ from the literal program's"
        cmp "$work/$name/fast/ZEPO.DAT" "$work/$name/literal/ZEPO.DAT" || true
    fi
}

same_output mars_year "$mars" "$earth" 2451545.0 2000
same_output million_days_later "$mars" "$earth" 3451545.0 500
same_output million_days_earlier "$mars" "$earth" 1451545.0 500
same_output hundred_million_days_later "$mars" "$earth" 102451545.0 20
same_output mean_anomaly_of_many_turns "${mars/19.3903/-98765432.1}" "$earth" 2451545.0 200
same_output comet "$comet" "$earth" 2446400.0 2000
same_output eccentricity_one "${mars/0.0933941/1.0}" "$earth" 2451545.0 300
same_output eccentricity_above_one "${mars/0.0933941/1.37}" "$earth" 2451545.0 300
same_output circular_orbit "${mars/0.0933941/0.0}" "$earth" 2451545.0 50
same_output zero_semi_major_axis "${mars/1.52371034/0.0}" "$earth" 2451545.0 50
same_output same_orbit_twice "$earth" "$earth" 2451545.0 50
same_output no_rows "$mars" "$earth" 2451545.0 0

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
