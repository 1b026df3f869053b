#!/usr/bin/env bash
# The benchmark's own programs, written small, give the outputs worked out for them, in machine
# code and on the portable machine: bench_programs.sh INTERPRETER WRITER DIR
set -euo pipefail
interpreter=$1 writer=$2 dir=$3
rm -rf "$dir"
mkdir -p "$dir"
"$writer" --small "$dir"
count=0
for program in "$dir"/*.b; do
    name=$(basename "$program" .b)
    for engine in "" 1; do
        if ! PELLUX_PORTABLE=$engine "$interpreter" /f "$program" <"$dir/$name.in" | cmp - "$dir/$name.out"; then
            echo "FAIL: $name.b${engine:+ (portable)}" >&2; exit 1
        fi
    done
    echo "ok: $name.b"; count=$((count + 1))
done
[ "$count" -ge 6 ] || { echo "FAIL: only $count programs" >&2; exit 1; }
