#!/usr/bin/env bash
# Prints the project's figures; called by `make bench` (tools/pellux.sh), which builds first
# and provides Xvfb, a fresh Wine prefix and these variables.
set -uo pipefail
: "${PELLUX_WINE:?}" "${PELLUX_BUILD:?}" "${PELLUX_WINDOWS_TREE:?}" "${PELLUX_WIN32_TREE:?}"

root=$(cd "$(dirname "$0")/.." && pwd)
programs=$root/../shared/bench
native=$PELLUX_BUILD/native
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cap=60                               # seconds the plain interpreter may take
peer_cap=${PELLUX_PEER_CAP:-20}      # seconds each packaged interpreter may take

windows_path() { echo "Z:${1//\//\\}"; }

# Runs a command with input and expected output; prints its wall seconds, or ">cap", "signal N"
# (ended by a signal before the cap), or "wrong".
timed() {  # expected-output input command...
    local expected=$1 input=$2 cap=${cap_override:-$cap}; shift 2
    local start end status
    # The cap is one of processor time, set in the subshell that becomes the command: no timer
    # process of its own to start (as timeout would be), so the harness adds as little as it can
    # to programs that run for milliseconds. Every program here keeps a processor busy.
    start=$EPOCHREALTIME                # no process either, unlike date
    { (ulimit -t "$cap" && exec "$@") <"$input" >"$work/out"; } 2>/dev/null  # not even the shell's "Killed"
    status=$?
    end=$EPOCHREALTIME
    # Out of time: the cap ends a program once it has had that much processor time, which takes
    # at least as long (SIGKILL, its limits being equal; SIGXCPU where they differ).
    if [ $status -eq $((128 + 24)) ] || awk -v a="$start" -v b="$end" -v c="$cap" 'BEGIN { exit !(b - a >= c) }'; then
        echo ">$cap"
        return
    fi
    # Ended by a signal before the cap (hsbrainfuck is killed after 5 s of processor time): said
    # as such, not as a wrong output.
    if [ $status -gt 128 ]; then echo "signal $((status - 128))"; return; fi
    if ! cmp -s "$work/out" "$expected"; then echo "wrong"; return; fi
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }'
}

# The lesser of two times; a failure ("wrong", ">cap", "signal N") sticks.
better() {
    case "$1" in wrong|signal*|\>*) echo "$1"; return ;; esac
    case "$2" in wrong|signal*|\>*) echo "$2"; return ;; esac
    if [ -z "$1" ] || awk -v a="$2" -v b="$1" 'BEGIN { exit !(a < b) }'; then echo "$2"; else echo "$1"; fi
}

best_of() {  # count expected input command...
    local count=$1 best="" t; shift
    for _ in $(seq "$count"); do best=$(better "$best" "$(timed "$@")"); done
    echo "$best"
}

short() { awk -v a="$1" 'BEGIN { exit !(a ~ /^[0-9.]+$/ && a < 0.1) }'; }

# Two decimals below 10, so that a ratio near a goal of 1.0 or 1.2 shows which side it is on.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a ~ /^[0-9.]+$/ && b ~ /^[0-9.]+$/ && b > 0) printf(a / b < 10 ? "%.2f" : "%.1f", a / b); else printf "-" }'; }

# A time less the start-up floor (never below 0.1 ms), for the ratios of programs that run for
# only a few milliseconds.
less_floor() { awk -v a="$1" -v f="$floor" 'BEGIN { if (a ~ /^[0-9.]+$/) { d = a - f; printf "%.4f", d < 0.0001 ? 0.0001 : d } else printf "%s", a }'; }

echo "== Pelluxw.exe"
size=$(stat -c %s "$PELLUX_WIN32_TREE/Pelluxw.exe")
awk -v s="$size" 'BEGIN { printf "  size of the 32-bit Pelluxw.exe: %d bytes (%.1f KiB; goal at most 64 KiB)\n", s, s / 1024 }'

echo
echo "== the character check"
"$native/bench/scan_bench"

echo
echo "== the real window under Wine (next to the rich edit control's own cost)"
"$PELLUX_WINE" "$PELLUX_WINDOWS_TREE/bench/window_bench.exe" "$(windows_path "$PELLUX_WINDOWS_TREE/Pelluxw.exe")" \
    "$(windows_path "$PELLUX_WINDOWS_TREE/bench/blank_dialog.exe")" "$(windows_path "$work")" 2>/dev/null | tr -d '\r'

echo
echo "== the interpreter (wall seconds; outputs checked; plain capped at ${cap} s, beef and hsbrainfuck at ${peer_cap} s)"
# From here every run is on one processor (this shell's, which they inherit): unpinned, the same
# run here took either about 0.68 s or about 1.0 s; pinned, it kept to the faster.
command -v taskset >/dev/null && taskset -cp 0 $$ >/dev/null
gcc_dir=$work/compiled
mkdir -p "$gcc_dir"
: >"$work/nothing"
floor=$(best_of 5 "$work/nothing" /dev/null true)
echo "  start-up floor: $floor s to start and end /usr/bin/true the same way (this machine's cost of a process)"
printf '  %-22s %9s %9s %9s %9s %9s %9s %9s   %s\n' program pellux portable wine gcc-O2 plain beef hsbf "ratios"
cases=("mandelbrot.b:" "factor.b:factor.b.in" "factor.b:factor179.in" "long.b:" "bench.b:" "hanoi.b:")
# The shared programs live beside the repository (../shared/bench); a checkout elsewhere has none.
if [ ! -f "$programs/mandelbrot.b" ]; then
    echo "  not measured: the shared benchmark programs are not in $programs"
    cases=()
fi
for entry in "${cases[@]}"; do
    program=${entry%%:*} input_name=${entry#*:}
    input=/dev/null; expected=$programs/$program.out; label=$program
    if [ -n "$input_name" ]; then
        input=$programs/$input_name; label="$program <$input_name"
        expected=$work/expected-$input_name
        [ "$input_name" == factor179.in ] && printf '179424691: 179424691\n' >"$expected" || cp "$programs/factor.b.out" "$expected"
    fi
    "$native/bench/bf2c" "$programs/$program" >"$gcc_dir/${program%.b}.c"
    gcc -O2 -o "$gcc_dir/${program%.b}" "$gcc_dir/${program%.b}.c"
    # Taken in turns, so that a slow spell of this machine (runs here sometimes took 40% longer,
    # or more, for several seconds) falls on all three alike; the best of each is kept.
    compiled="" ours="" portable=""
    for _ in $(seq 7); do
        compiled=$(better "$compiled" "$(timed "$expected" "$input" "$gcc_dir/${program%.b}")")
        ours=$(better "$ours" "$(timed "$expected" "$input" "$native/pellux" /f "$programs/$program")")
        portable=$(better "$portable" "$(timed "$expected" "$input" env PELLUX_PORTABLE=1 "$native/pellux" /f "$programs/$program")")
    done
    wine=$(timed "$expected" "$input" "$PELLUX_WINE" "$PELLUX_WINDOWS_TREE/Pellux.Exe" /f "$(windows_path "$programs/$program")")
    wineserver -w 2>/dev/null  # let Wine's server end before anything else is timed
    plain=$(timed "$expected" "$input" "$native/bench/plain_interpreter" "$programs/$program")
    beef=-; hsbf=-
    command -v beef >/dev/null && beef=$(cap_override=$peer_cap timed "$expected" "$input" beef "$programs/$program")
    # hsbrainfuck reads the program itself from standard input (so it cannot be given input)
    # and ends its output with two line feeds of its own, which head cuts off (its writing them
    # to a closed pipe is no failure). Its own status is what counts: head's success on no
    # output read as a wrong output when hsbrainfuck had been killed.
    if command -v hsbrainfuck >/dev/null && [ -z "$input_name" ]; then
        hsbf=$(cap_override=$peer_cap timed "$expected" "$programs/$program" bash -c \
            "hsbrainfuck | head -c $(stat -c %s "$expected"); s=\${PIPESTATUS[0]}; exit \$((s == 141 ? 0 : s))")
    fi
    printf '  %-22s %9s %9s %9s %9s %9s %9s %9s   ours/gcc %s (%s), plain/ours %s (%s); portable: %s, %s\n' \
        "$label" "$ours" "$portable" "$wine" "$compiled" "$plain" "$beef" "$hsbf" \
        "$(ratio "$ours" "$compiled")" "$(ratio "$(less_floor "$ours")" "$(less_floor "$compiled")")" \
        "$(ratio "$plain" "$ours")" "$(ratio "$(less_floor "$plain")" "$(less_floor "$ours")")" \
        "$(ratio "$portable" "$compiled")" "$(ratio "$plain" "$portable")"
done
echo "  pellux: machine code (x86-64); portable: the same program with PELLUX_PORTABLE=1, the machine"
echo "  that processors without a translation use; wine: the Pellux.Exe of $(basename "$PELLUX_WINDOWS_TREE") under Wine"
echo "  ratios in brackets: both times less the start-up floor"
echo "  goals: mandelbrot and factor at most 1.5x gcc; long, bench, hanoi at least 100x faster than plain;"
echo "  every program at least 20x faster than plain and faster than beef and hsbrainfuck"

echo
echo "== wider cells: programs of our own (bench/wide/), next to gcc -O2 with cells of the same type (wall seconds)"
printf '  %-22s %9s %9s %9s   %s\n' program pellux portable gcc-O2 ratios
for entry in counter16.b:16 sum32.b:32; do
    program=${entry%%:*} bits=${entry#*:}
    file=$root/bench/wide/$program
    "$native/bench/bf2c" /cells "$bits" "$file" >"$gcc_dir/${program%.b}.c"
    gcc -O2 -o "$gcc_dir/${program%.b}" "$gcc_dir/${program%.b}.c"
    compiled="" ours="" portable=""
    for _ in $(seq 7); do
        compiled=$(better "$compiled" "$(timed "$file.out" /dev/null "$gcc_dir/${program%.b}")")
        ours=$(better "$ours" "$(timed "$file.out" /dev/null "$native/pellux" /cells "$bits" /f "$file")")
        portable=$(better "$portable" "$(timed "$file.out" /dev/null env PELLUX_PORTABLE=1 "$native/pellux" /cells "$bits" /f "$file")")
    done
    printf '  %-22s %9s %9s %9s   ours/gcc %s (%s); portable/gcc %s\n' "$program /cells $bits" "$ours" "$portable" \
        "$compiled" "$(ratio "$ours" "$compiled")" "$(ratio "$(less_floor "$ours")" "$(less_floor "$compiled")")" \
        "$(ratio "$portable" "$compiled")"
done

echo
bash "$root/bench/peers.sh"  # next to tritium, on longer programs too

# One table for another build: its machine code and portable machine against gcc's program and
# the plain interpreter, all for the same processor and all started the same way.
#   build_table RUNNER PELLUX PLAIN CC PATHS [CASE...]   (RUNNER: a command that starts the
#   programs, or ""; PATHS: windows for Windows programs, which are given Z:\ paths; CASEs as in
#   cases, all of them when none is given)
build_table() {
    local runner=$1 pellux=$2 plain=$3 cc=$4 paths=$5 suffix="" run=(); shift 5
    local table_cases=("$@")
    [ ${#table_cases[@]} -gt 0 ] || table_cases=("${cases[@]}")
    if [ ${#cases[@]} -eq 0 ]; then
        echo "  not measured: the shared benchmark programs are not in $programs"
        return
    fi
    [ -z "$runner" ] || run=("$runner")
    [ "$paths" != windows ] || suffix=.exe
    local dir=$work/compiled-$(basename "$cc")
    mkdir -p "$dir"
    printf 'int main(void) { return 0; }\n' >"$dir/empty.c"
    "$cc" -O2 -o "$dir/empty$suffix" "$dir/empty.c"
    local table_floor
    table_floor=$(best_of 15 "$work/nothing" /dev/null "${run[@]}" "$dir/empty$suffix")
    echo "  start-up floor: $table_floor s to start and end an empty program of this compiler the same way"
    printf '  %-22s %9s %9s %9s %9s   %s\n' program pellux portable gcc-O2 plain ratios
    local entry program input_name input expected label file compiled ours portable plain_time round
    for entry in "${table_cases[@]}"; do
        program=${entry%%:*} input_name=${entry#*:}
        input=/dev/null; expected=$programs/$program.out; label=$program
        if [ -n "$input_name" ]; then
            input=$programs/$input_name; label="$program <$input_name"; expected=$work/expected-$input_name
        fi
        file=$programs/$program
        [ "$paths" != windows ] || file=$(windows_path "$file")
        "$native/bench/bf2c" "$programs/$program" >"$dir/${program%.b}.c"
        "$cc" -O2 -o "$dir/${program%.b}$suffix" "$dir/${program%.b}.c"
        compiled="" ours="" portable=""
        # Under Wine a start alone varies by a few milliseconds: programs that run for less than
        # a tenth of a second get three times as many runs, or their ratios are mostly that.
        for round in $(seq 21); do
            [ "$round" -le 7 ] || short "$compiled" || break
            compiled=$(better "$compiled" "$(timed "$expected" "$input" "${run[@]}" "$dir/${program%.b}$suffix")")
            ours=$(better "$ours" "$(timed "$expected" "$input" "${run[@]}" "$pellux" /f "$file")")
            portable=$(better "$portable" "$(PELLUX_PORTABLE=1 timed "$expected" "$input" "${run[@]}" "$pellux" /f "$file")")
        done
        plain_time=$(timed "$expected" "$input" "${run[@]}" "$plain" "$file")
        floor=$table_floor
        printf '  %-22s %9s %9s %9s %9s   ours/gcc %s (%s), plain/ours %s (%s); portable/gcc %s\n' \
            "$label" "$ours" "$portable" "$compiled" "$plain_time" \
            "$(ratio "$ours" "$compiled")" "$(ratio "$(less_floor "$ours")" "$(less_floor "$compiled")")" \
            "$(ratio "$plain_time" "$ours")" "$(ratio "$(less_floor "$plain_time")" "$(less_floor "$ours")")" \
            "$(ratio "$portable" "$compiled")"
    done
    floor=$native_floor
}

native_floor=$floor
if [ -n "${PELLUX_WINE32:-}" ]; then
    echo
    echo "== the 32-bit Pellux.Exe (the one F5 starts) under Wine, next to i686 MinGW gcc -O2 (wall seconds)"
    wineserver -p 2>/dev/null  # one server for all of these runs: no run pays for starting it
    build_table "$PELLUX_WINE32" "$PELLUX_WIN32_TREE/Pellux.Exe" "$PELLUX_WIN32_TREE/bench/plain_interpreter.exe" \
        i686-w64-mingw32-gcc windows
    echo "  pellux: its machine code (32-bit x86); best of 7 runs, of 21 under 0.1 s; goal: at most 1.0x gcc on every program"
    # F5 runs a program in a console window: its output through Wine's console, here on a
    # pseudo-terminal (script), checked once Wine's cursor codes are taken out.
    printf '++++++++[>++++++++<-]>+<++++++++++[>>++++++++++[>++++++++++[>++++++++++[>++++++++++[<<<<.>>>>-]<-]<-]<-]<<-]' \
        >"$work/console.b"  # 100,000 times "A"
    figure=""
    for _ in 1 2 3; do  # the first also starts the console's own programs
        start=$EPOCHREALTIME
        script -qec "$(printf '%q ' "$PELLUX_WINE32" "$PELLUX_WIN32_TREE/Pellux.Exe" /f "$(windows_path "$work/console.b")")" \
            /dev/null </dev/null >"$work/console.out" 2>&1
        end=$EPOCHREALTIME
        shown=$(sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$work/console.out" | tr -cd A | wc -c)
        if [ "$shown" -ne 100000 ]; then figure="wrong ($shown shown)"; break; fi
        figure=$(better "$figure" "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')")
    done
    [[ $figure == wrong* ]] || figure="$figure s"
    echo "  100,000 bytes written to Wine's console (best of 3): $figure"
    wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
else
    echo
    echo "== the 32-bit Pellux.Exe under Wine: not measured, this kernel starts no 32-bit program (nor Wine's)"
fi
native32=$PELLUX_BUILD/native-i686
echo
if [ -n "${PELLUX_I686_EMULATOR:-}" ]; then
    echo "== the 32-bit Linux pellux, next to gcc -m32 -O2, both under $PELLUX_I686_EMULATOR (wall seconds)"
else
    echo "== the 32-bit Linux pellux, next to gcc -m32 -O2, both run directly (wall seconds)"
fi
printf '#!/bin/sh\nexec gcc -m32 "$@"\n' >"$work/gcc-m32" && chmod +x "$work/gcc-m32"
build_table "${PELLUX_I686_EMULATOR:-}" "$native32/pellux" "$native32/bench/plain_interpreter" "$work/gcc-m32" linux
echo "  pellux: its machine code (32-bit x86); portable: PELLUX_PORTABLE=1; ratios in brackets: less the floor"
echo "  goals: mandelbrot and factor at most 1.5x gcc; long, bench, hanoi at least 100x faster than plain"

if [ -n "${PELLUX_WIN64_TREE:-}" ]; then
    echo
    echo "== the 64-bit Pellux.Exe under Wine, next to x86-64 MinGW gcc -O2 (wall seconds)"
    wineserver -p 2>/dev/null
    build_table "${PELLUX_WINE64:-$PELLUX_WINE}" "$PELLUX_WIN64_TREE/Pellux.Exe" \
        "$PELLUX_WIN64_TREE/bench/plain_interpreter.exe" x86_64-w64-mingw32-gcc windows \
        "mandelbrot.b:" "factor.b:factor.b.in" "factor.b:factor179.in"
    wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
    echo "  pellux: its machine code (x86-64); portable: PELLUX_PORTABLE=1; ratios in brackets: less the floor"
    echo "  goal: mandelbrot and factor at most 1.0x gcc"
fi

echo
echo "== a 50 MB program: reading, checking brackets, optimising (and translating) it, then running it"
line='+>+<-[->+<]>[-]<# comment line'
yes "$line" | head -n $((52428800 / (${#line} + 1))) >"$work/big.b"
printf '%%Done\n' >>"$work/big.b"
big() {  # label, command...: prints wall seconds and peak resident memory
    local label=$1 figures; shift
    figures=$(/usr/bin/time -f '%e %M' "$@" /f "$work/big.b" 2>&1 >/dev/null | tail -1)
    awk -v l="$label" -v f="$figures" 'BEGIN { split(f, x, " "); printf "  %-44s %6.2f s, peak %4.0f MiB\n", l, x[1], x[2] / 1024 }'
}
awk -v s="$(stat -c %s "$work/big.b")" 'BEGIN { printf "  %.1f MB of source\n", s / 1e6 }'
big "x86-64 pellux, machine code" "$native/pellux"
big "x86-64 pellux, PELLUX_PORTABLE=1" env PELLUX_PORTABLE=1 "$native/pellux"
runner32=()
[ -z "${PELLUX_I686_EMULATOR:-}" ] || runner32=("$PELLUX_I686_EMULATOR")
big "32-bit pellux, machine code${runner32:+ (qemu)}" "${runner32[@]}" "$native32/pellux"
big "32-bit pellux, PELLUX_PORTABLE=1${runner32:+ (qemu)}" env PELLUX_PORTABLE=1 "${runner32[@]}" "$native32/pellux"
echo "  the difference between the two lines of a build is the translation to machine code and its pages"
start=$(date +%s%N)
"$native/pellux" /c /f "$work/big.b" >/dev/null
end=$(date +%s%N)
awk -v n=$((end - start)) 'BEGIN { printf "  the same checked with /c (nothing runs): %.3f s (goal: well under a second)\n", n / 1e9 }'

echo
echo "== the interpreter on big work: time and peak memory (natively)"
yes '+.' | tr -d '\n' | head -c 40000000 >"$work/plus-dot.b"  # 40 million operations
printf ',[.,]' >"$work/cat.b"
{ head -c 60000000 /dev/urandom | tr -d '\0' | head -c 50000000; printf '\0'; } >"$work/cat.in"
head -c 50000000 "$work/cat.in" >"$work/cat.out"
for engine in "" 1; do
    /usr/bin/time -f "%e %M" -o "$work/usage" env PELLUX_PORTABLE=$engine "$native/pellux" /f "$work/plus-dot.b" >/dev/null
    read -r seconds kib <"$work/usage"
    printf '  %-31s %6s s, at most %5d MiB\n' "40 MB of \"+.\"${engine:+ (portable)}" "$seconds" $((kib / 1024))
    /usr/bin/time -f "%e %M" -o "$work/usage" env PELLUX_PORTABLE=$engine "$native/pellux" /f "$work/cat.b" \
        <"$work/cat.in" >"$work/out"
    read -r seconds kib <"$work/usage"
    cmp -s "$work/out" "$work/cat.out" || seconds=wrong
    printf '  %-31s %6s s, at most %5d MiB\n' "50 MB through ,[.,]${engine:+ (portable)}" "$seconds" $((kib / 1024))
done

echo
echo "== the debugger (/d) with a breakpoint that is never reached, then c (native, wall seconds, best of 5)"
printf '  %-22s %9s %9s %9s   %s\n' program "/d" pellux portable ratios
debugged_cases=("mandelbrot.b:" "factor.b:factor.b.in")
[ ${#cases[@]} -gt 0 ] || { debugged_cases=(); echo "  not measured: the shared benchmark programs are not in $programs"; }
for entry in "${debugged_cases[@]}"; do
    program=${entry%%:*} input_name=${entry#*:}
    input=$work/nothing; expected=$programs/$program.out; label=$program
    if [ -n "$input_name" ]; then
        input=$programs/$input_name; label="$program <$input_name"; expected=$work/expected-$input_name
    fi
    # Two loops more at the end: the first clears the cell (factor.b ends on a line feed), so the
    # second is never entered; its '+' holds the breakpoint.
    debugged=$work/debugged-$program
    { cat "$programs/$program"; printf '\n[-]\n[+]\n'; } >"$debugged"
    last=$(wc -l <"$debugged")
    printf 'b %s:2\nc\nq\n' "$last" >"$work/commands"
    # What the session must print: its start and the breakpoint (taken from pellux itself), the
    # program's output, and the debugger's end of a program that ran to its end.
    printf 'b %s:2\nq\n' "$last" | "$native/pellux" /d /i "$input" /f "$debugged" >"$work/session" 2>/dev/null
    cat "$expected" >>"$work/session"
    [ -z "$(tail -c 1 "$expected")" ] || printf '\n' >>"$work/session"  # it ends its line
    printf 'the program has ended; r restarts it\n(pellux) ' >>"$work/session"
    # The program reads its input through /i in all three runs.
    under_d="" ours="" portable=""
    for _ in $(seq 5); do
        under_d=$(better "$under_d" "$(timed "$work/session" "$work/commands" "$native/pellux" /d /i "$input" /f "$debugged")")
        ours=$(better "$ours" "$(timed "$expected" /dev/null "$native/pellux" /i "$input" /f "$debugged")")
        portable=$(better "$portable" "$(timed "$expected" /dev/null env PELLUX_PORTABLE=1 "$native/pellux" /i "$input" /f "$debugged")")
    done
    printf '  %-22s %9s %9s %9s   /d / pellux %sx (goal: at most 1.2x); /d / portable %sx\n' \
        "$label" "$under_d" "$ours" "$portable" "$(ratio "$under_d" "$ours")" "$(ratio "$under_d" "$portable")"
done
echo "  /d: the whole session, its output checked; pellux: the same program and input without /d (machine"
echo "  code); portable: that with PELLUX_PORTABLE=1"
