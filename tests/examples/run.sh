#!/usr/bin/env bash
# Every example runs to its expected output: run.sh INTERPRETER EXAMPLES EXPECTED
# An example reads NAME.in when there is one, else nothing.
set -euo pipefail
interpreter=$1 examples=$2 expected=$3
count=0
for program in "$examples"/*.b; do
    name=$(basename "$program" .b)
    input=/dev/null
    [ ! -f "$expected/$name.in" ] || input=$expected/$name.in
    [ -f "$expected/$name.out" ] || { echo "FAIL: no $expected/$name.out for $program" >&2; exit 1; }
    if ! "$interpreter" /f "$program" <"$input" | cmp - "$expected/$name.out"; then
        echo "FAIL: $name.b" >&2; exit 1
    fi
    echo "ok: $name.b"; count=$((count + 1))
done
[ "$count" -ge 4 ] || { echo "FAIL: only $count examples" >&2; exit 1; }
