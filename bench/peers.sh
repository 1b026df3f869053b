#!/usr/bin/env bash
# pellux next to tritium, the fastest interpreter we know of (its machine code, 8-bit cells), on
# the shared benchmark programs and on the longer ones that bench_programs writes. Called by
# bench/run.sh; alone as `make peers`, which builds what it needs first.
#   PELLUX_BUILD  the build folder (default build/): native/pellux and
#                 native/bench/bench_programs are taken from it, tritium is built into it
#   PELLUX_PEER_RUNS  runs of each program (default 5)
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${PELLUX_BUILD:-$root/build}
native=$build/native
peer=$root/../shared/peers/tritium
shared=$root/../shared/bench
runs=${PELLUX_PEER_RUNS:-5}
cap=60  # processor seconds either may take for one run

echo "== pellux next to tritium (tritium -b8 -q, its machine code; wall seconds, best of $runs, taken in turns)"
if [ ! -f "$peer/build.sh" ]; then
    echo "  not measured: there is no $peer to build tritium from"
    exit 0
fi
tritium=$build/tritium/tritium
if [ ! -x "$tritium" ] && ! bash "$peer/build.sh" "$build/tritium" >/dev/null; then
    echo "  not measured: tritium did not build (see $build/tritium/build.log)"
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! "$native/bench/bench_programs" "$work"; then
    echo "  not measured: $native/bench/bench_programs could not write the programs"
    exit 1
fi
command -v taskset >/dev/null && taskset -cp 0 $$ >/dev/null  # one processor, as the other tables

# Prints the wall seconds of one run, ">cap" when it ran out of processor time, or "wrong" when
# its output is not the expected one. The cap is set in the subshell that becomes the command, so
# that no timer process runs beside it.
timed() {  # expected input command...
    local expected=$1 input=$2 start end status; shift 2
    start=$EPOCHREALTIME
    { (ulimit -t "$cap" && exec "$@") <"$input" >"$work/out"; } 2>/dev/null
    status=$?
    end=$EPOCHREALTIME
    if [ $status -eq $((128 + 24)) ] || [ $status -eq $((128 + 9)) ]; then echo ">$cap"; return; fi
    if ! cmp -s "$work/out" "$expected"; then echo wrong; return; fi
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }'
}

# The lesser of two times; a failure sticks.
better() {
    case "$1" in wrong|\>*) echo "$1"; return ;; esac
    case "$2" in wrong|\>*) echo "$2"; return ;; esac
    if [ -z "$1" ] || awk -v a="$2" -v b="$1" 'BEGIN { exit !(a < b) }'; then echo "$2"; else echo "$1"; fi
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a ~ /^[0-9.]+$/ && b ~ /^[0-9.]+$/ && b > 0) printf "%.2f", a / b; else printf "-" }'; }
less_floor() { awk -v a="$1" -v f="$floor" 'BEGIN { if (a ~ /^[0-9.]+$/) { d = a - f; printf "%.4f", d < 0.0001 ? 0.0001 : d } else printf "%s", a }'; }

: >"$work/nothing"
floor=""
for _ in 1 2 3 4 5; do floor=$(better "$floor" "$(timed "$work/nothing" /dev/null true)"); done
echo "  start-up floor: $floor s to start and end /usr/bin/true the same way"

# label, program, input, expected output
cases=()
if [ -d "$shared" ]; then
    printf '179424691: 179424691\n' >"$work/factor179.out"
    cases+=("mandelbrot.b|$shared/mandelbrot.b|/dev/null|$shared/mandelbrot.b.out"
            "factor.b <factor.b.in|$shared/factor.b|$shared/factor.b.in|$shared/factor.b.out"
            "factor.b <factor179.in|$shared/factor.b|$shared/factor179.in|$work/factor179.out"
            "long.b|$shared/long.b|/dev/null|$shared/long.b.out"
            "bench.b|$shared/bench.b|/dev/null|$shared/bench.b.out"
            "hanoi.b|$shared/hanoi.b|/dev/null|$shared/hanoi.b.out")
else
    echo "  (the shared programs are not there: only the written ones are measured)"
fi
for name in nest towers collatz selfcount selfprimes mandelsmall; do
    cases+=("$name|$work/$name.b|$work/$name.in|$work/$name.out")
done

printf '  %-24s %9s %9s   %s\n' program pellux tritium "pellux/tritium (less the floor)"
ratios=() floored=() failed=0
for entry in "${cases[@]}"; do
    IFS='|' read -r label program input expected <<<"$entry"
    ours="" theirs=""
    # In turns, so that a slow spell of the machine falls on both alike.
    for _ in $(seq "$runs"); do
        ours=$(better "$ours" "$(timed "$expected" "$input" "$native/pellux" /f "$program")")
        theirs=$(better "$theirs" "$(timed "$expected" "$input" "$tritium" -b8 -q "$program")")
    done
    measured=$(ratio "$ours" "$theirs")
    net=$(ratio "$(less_floor "$ours")" "$(less_floor "$theirs")")
    printf '  %-24s %9s %9s   %5sx (%sx)\n' "$label" "$ours" "$theirs" "$measured" "$net"
    if [ "$measured" == - ]; then failed=1; else ratios+=("$measured"); floored+=("$net"); fi
done

geomean() { printf '%s\n' "$@" | awk '{ s += log($1); n++ } END { if (n) printf "%.2f", exp(s / n); else printf "-" }'; }
above=$(printf '%s\n' "${ratios[@]}" | awk '$1 > 1.0 { n++ } END { print n + 0 }')
mean=$(geomean "${ratios[@]}")
printf '  %-24s %9s %9s   %5sx (%sx)\n' "geometric mean" "" "" "$mean" "$(geomean "${floored[@]}")"
echo "  ratios as measured, and in brackets with the start-up floor taken from both times"
verdict=met
if [ $failed -ne 0 ]; then
    verdict="not met: a run failed (wrong output or out of time)"
elif [ "$above" -gt 0 ] || awk -v m="$mean" 'BEGIN { exit !(m > 0.8) }'; then
    verdict="not met: $above of ${#ratios[@]} programs above 1.0x, geometric mean ${mean}x"
fi
echo "  goal: at most 1.0x tritium on every program, at most 0.8x on the geometric mean (as measured): $verdict"
