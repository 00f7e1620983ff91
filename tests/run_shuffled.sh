#!/usr/bin/env bash
# Runs every GoogleTest program of a build as one process, its tests in a random order, three times over.
# CTest gives each test a process of its own, which hides a test that leans on process-wide state an
# earlier test left behind; here such a test fails. The seed of each order is printed, so that a failing
# order can be repeated with --gtest_random_seed.
#
# Usage: tests/run_shuffled.sh [build directory]   (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}

# The programs and working directories of the tests that CTest knows from GoogleTest's discovery: those
# whose command selects tests with --gtest_filter.
programs=$(ctest --test-dir "$build" --show-only=json-v1 | python3 -c '
import json, sys
seen = set()
for test in json.load(sys.stdin)["tests"]:
    command = test.get("command") or []
    if not any(argument.startswith("--gtest_filter=") for argument in command[1:]):
        continue
    directory = next((p["value"] for p in test.get("properties", []) if p["name"] == "WORKING_DIRECTORY"), ".")
    if command[0] not in seen:
        seen.add(command[0])
        print(command[0] + "\t" + directory)
')
if [ -z "$programs" ]; then
  echo "no GoogleTest programs found in $build" >&2
  exit 1
fi

failed=()
while IFS=$'\t' read -r program directory; do
  echo "== $(basename "$program"): one process, shuffled, three times"
  if ! (cd "$directory" && "$program" --gtest_shuffle --gtest_repeat=3 --gtest_brief=1); then
    failed+=("$(basename "$program")")
  fi
done <<< "$programs"

if [ "${#failed[@]}" -gt 0 ]; then
  echo "failed when run as one shuffled process: ${failed[*]}" >&2
  exit 1
fi
