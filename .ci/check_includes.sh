#!/usr/bin/env bash
# Each folder of the program is one floor and includes only from itself and the floors below it:
#   process/  <  recordio/  <  runtime/  <  program/,   and  ephemeris/ (the computation, on its own)  <  program/
# Prints every include that reaches a folder it may not, and fails if there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

# The folders each floor may include from, itself included.
declare -A allowed=(
    [process]="process"
    [recordio]="recordio process"
    [runtime]="runtime recordio process"
    [ephemeris]="ephemeris"
    [program]="program ephemeris runtime recordio process"
)

failed=0
for floor in "${!allowed[@]}"; do
    while IFS=: read -r file line text; do
        target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$text")
        if [[ " ${allowed[$floor]} " != *" $target "* ]]; then
            echo "$file:$line: $floor/ includes from $target/: $text"
            failed=1
        fi
    done < <(grep -rn -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' --include='*.cpp' --include='*.hpp' "$floor/" || true)
done
exit "$failed"
