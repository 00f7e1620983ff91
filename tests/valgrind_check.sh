#!/usr/bin/env bash
# Runs ephem under valgrind's memcheck on a normal run and on each kind of fatal report, each in a fresh
# directory, and fails when memcheck finds an invalid read or write, a use of an undefined value, a bad
# free, or (after the normal run) a definite leak.
#
# usage: valgrind_check.sh path/to/ephem
set -euo pipefail

ephem=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

target="1.52371034 0.0933941 1.84969142 286.4968315 49.55953891 19.3903 2451545.0 0.0"
observer="1.00000261 0.01671123 -0.00001531 102.93768193 0.0 -2.47311027 2451545.0 0.0"
failures=0

# check NAME EXPECTED_ENDING: runs ephem in $work/NAME (prepared by the caller) under memcheck.
# EXPECTED_ENDING is "exit" for a normal stop or "abort" for a fatal report.
check() {
  local name=$1 ending=$2 dir="$work/$1" log="$work/$1.log" status=0
  # The subshell's own standard error is dropped: it would only announce the expected aborts.
  (cd "$dir" && valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
      --errors-for-leak-kinds=definite --track-origins=yes --log-file="$log" "$ephem" \
      </dev/null >"$work/$name.out" 2>"$work/$name.err") 2>/dev/null || status=$?
  # A process that aborts never reaches the exit code valgrind would set, so the summary line decides.
  local summary
  summary=$(grep -E "ERROR SUMMARY: [0-9]+ errors" "$log" | tail -n 1 || true)
  local verdict=ok
  if [[ "$summary" != *"ERROR SUMMARY: 0 errors"* ]]; then
    verdict="memcheck errors"
  elif [[ $ending == exit && $status -ne 0 ]]; then
    verdict="exit status $status, expected 0"
  elif [[ $ending == abort && $status -ne 134 ]]; then
    verdict="exit status $status, expected an abort (134)"
  elif [[ $ending == abort && ! -s "$work/$name.err" ]]; then
    verdict="no report on standard error"
  fi
  if [[ $verdict == ok ]]; then
    echo "ok      $name"
  else
    echo "FAILED  $name: $verdict"
    sed 's/^/    /' "$log" "$work/$name.err"
    failures=$((failures + 1))
  fi
}

new_case() { mkdir "$work/$1"; }

new_case normal_run
printf '%s\n%s\n2451545.0\n40\n' "$target" "$observer" >"$work/normal_run/DATOS.DAT"
check normal_run exit

new_case missing_input
check missing_input abort

new_case title_line
printf 'Mars from the Earth\n%s\n%s\n2451545.0\n40\n' "$target" "$observer" >"$work/title_line/DATOS.DAT"
check title_line abort

new_case short_input
printf '%s\n%s\n' "$target" "$observer" >"$work/short_input/DATOS.DAT"
check short_input abort

new_case decimal_row_count
printf '%s\n%s\n2451545.0\n40.0\n' "$target" "$observer" >"$work/decimal_row_count/DATOS.DAT"
check decimal_row_count abort

new_case input_is_directory
mkdir "$work/input_is_directory/DATOS.DAT"
check input_is_directory abort

# Root may write anywhere, so an unwritable table is made from a device that refuses every byte.
new_case full_output
printf '%s\n%s\n2451545.0\n40\n' "$target" "$observer" >"$work/full_output/DATOS.DAT"
ln -s /dev/full "$work/full_output/ZEPO.DAT"
check full_output abort

new_case output_cannot_be_created
printf '%s\n%s\n2451545.0\n40\n' "$target" "$observer" >"$work/output_cannot_be_created/DATOS.DAT"
ln -s missing-dir/ZEPO.DAT "$work/output_cannot_be_created/ZEPO.DAT"
check output_cannot_be_created abort

if [[ $failures -ne 0 ]]; then
  echo "$failures run(s) failed under memcheck"
  exit 1
fi
