#!/usr/bin/env bash
# The interpreter as a process: exit codes and messages where the system, not the program, fails.
#   interpreter_cli.sh PELLUX WORK_DIR
# With WINE set, PELLUX is Pellux.Exe and runs under it; the cases that need Linux are left out.
set -uo pipefail
work=$2
pellux=(${WINE:+"$WINE"} "$1")
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# expect NAME STATUS STDERR_PATTERN: the status and message of the run just done (no message for "")
expect() {
    [ "$status" -eq "$2" ] || fail "$1: exit $status, expected $2"
    if [ -z "$3" ]; then
        [ ! -s err ] || fail "$1: unexpected stderr: $(head -c 300 err)"
    else
        grep -q -- "$3" err || fail "$1: stderr lacks '$3': $(head -c 300 err)"
    fi
}

printf '+[.]' >loop.b
full="No space left on device" closed="Broken pipe"
[ -z "${WINE:-}" ] || full="Disk full" closed="Pipe not connected"  # Wine's reasons

# Output that goes nowhere: a full device, and a reader that has gone (the guard only ends a hang).
timeout 60 "${pellux[@]}" /f loop.b >/dev/full 2>err; status=$?
expect "full device" 3 "cannot write the output of loop.b: $full"
timeout 60 "${pellux[@]}" /f loop.b 2>err | head -c 100 >/dev/null; status=${PIPESTATUS[0]}
expect "closed pipe" 3 "cannot write the output of loop.b: $closed"

# Files the program cannot come from.
mkdir folder
"${pellux[@]}" /f folder 2>err; status=$?
expect "directory" 2 "cannot read folder: it is a directory"
truncate -s $((4 * 1024 * 1024 * 1024 + 24)) big.b  # sparse: 4 GiB and 24 bytes, a 32-bit size of 24
"${pellux[@]}" /f big.b 2>err; status=$?
expect "4 GiB file" 2 "big.b is too large: 4294967320 bytes"

# A million unmatched brackets: a bounded list and a count.
head -c 1000000 /dev/zero | tr '\0' ']' >brackets.b
"${pellux[@]}" /f brackets.b 2>err; status=$?
expect "unmatched brackets" 1 "1000000 unmatched brackets in all; the first 20 are listed"
[ "$(wc -l <err)" -eq 21 ] || fail "unmatched brackets: $(wc -l <err) lines"

# The options as a process sees them: usage, a refused option, /c's list, /i with /eof.
"${pellux[@]}" /? >out 2>err; status=$?
expect "usage" 0 ""
grep -q "/eof keep|0|255" out || fail "usage: $(head -c 300 out)"
"${pellux[@]}" /q /f loop.b 2>err; status=$?
expect "unknown option" 2 "pellux: unknown option '/q'"
[ "$(wc -l <err)" -eq 1 ] || fail "unknown option: $(wc -l <err) lines"
printf '+x\n]\001' >bad.b
"${pellux[@]}" /c /f bad.b >out 2>err; status=$?
expect "check" 1 ""
printf "bad.b:1:2: 'x' is an invalid character\nbad.b:2:1: unmatched ']'\nbad.b:2:2: byte 0x01 is an invalid character\n" >want
tr -d '\r' <out | cmp -s - want || fail "check: $(head -c 300 out)"
printf ',.,.' >read.b; printf 'a' >'in put'
"${pellux[@]}" /i "in put" /eof 255 /f read.b >out 2>err </dev/null; status=$?
expect "input file" 0 ""
[ "$(od -An -tu1 out | tr -s ' ')" = " 97 255" ] || fail "input file: $(od -An -tu1 out)"

# Input that cannot be read is refused as a program file is.
"${pellux[@]}" /i folder /f read.b 2>err </dev/null; status=$?
expect "input directory" 2 "pellux: cannot read the input folder: it is a directory"
"${pellux[@]}" /i missing.txt /f read.b 2>err </dev/null; status=$?
expect "missing input" 2 "pellux: cannot open the input missing.txt: No such file or directory"

# Output that fails outside a run: /c's list and the usage.
"${pellux[@]}" /c /f bad.b >/dev/full 2>err; status=$?
expect "check to a full device" 3 "pellux: cannot write the findings of bad.b: $full"
"${pellux[@]}" /? >/dev/full 2>err; status=$?
expect "usage to a full device" 3 "pellux: cannot write the usage: $full"

# Paths and values: /i quoted with spaces, a path with a space at its start, a value in capitals;
# a program named without /f; a fault's message on a line of its own.
mkdir "sp dir"; printf 'a' >"sp dir/in put.txt"; cp read.b " lead.b"
"${pellux[@]}" /i "sp dir/in put.txt" /eof KEEP /f " lead.b" >out 2>err </dev/null; status=$?
expect "quoted paths" 0 ""
[ "$(od -An -tu1 out | tr -s ' ')" = " 97 97" ] || fail "quoted paths: $(od -An -tu1 out)"
"${pellux[@]}" read.b 2>err; status=$?
expect "no /f" 2 "pellux: /f is missing before the program 'read.b'"
printf '%%hi\n<' >left.b
"${pellux[@]}" /f left.b >out 2>err; status=$?
[ "$status" -eq 1 ] && [ "$(tr -d '\r' <err)" = "left.b:2:1: the pointer moved left of the first cell" ] ||
    fail "fault message: exit $status, $(head -c 300 err)"

# The dialect's options: /eof -1 at 16 bits, a cell of 32 bits past 255, the classic reading of
# prose holding '%' and '#', and its check, which lists brackets only.
"${pellux[@]}" /cells 16 /eof -1 /i "in put" /f read.b >out 2>err </dev/null; status=$?
expect "16-bit cells" 0 ""
[ "$(od -An -tu1 out | tr -s ' ')" = " 97 255" ] || fail "16-bit cells: $(od -An -tu1 out)"
printf '++++++++[>++++++++++++++++++++++++++++++++<-]>[+++++++++++++++++++++++++++++++++++++++++++++++++.[-]]' >wide.b
"${pellux[@]}" /cells 32 /f wide.b >out 2>err; status=$?
expect "32-bit cells" 0 ""
[ "$(cat out)" = "1" ] || fail "32-bit cells: $(od -An -tu1 out)"
printf '100%% sure #1:
++++++++[>++++++<-]>+.
x]' >prose.b
"${pellux[@]}" /classic /f prose.b >out 2>err; status=$?
expect "classic reading" 1 "prose.b:3:2: unmatched ']'"
"${pellux[@]}" /c /classic /f prose.b >out 2>err; status=$?
expect "classic check" 1 ""
[ "$(tr -d '\r' <out)" = "prose.b:3:2: unmatched ']'" ] || fail "classic check: $(head -c 300 out)"
printf '100%% sure #1:
++++++++[>++++++<-]>+.' >prose.b
"${pellux[@]}" /classic /f prose.b >out 2>err; status=$?
expect "classic run" 0 ""
[ "$(cat out)" = "1" ] || fail "classic run: $(od -An -tu1 out)"

if [ -z "${WINE:-}" ]; then
    # Linux paths may hold quotes; a program that is missing is named before a FIFO as its input
    # is opened (the guard only ends a hang).
    printf 'q' >'q"uote.txt'; cp read.b '"r".b'
    "${pellux[@]}" /i 'q"uote.txt' /eof 0 /f '"r".b' >out 2>err; status=$?
    expect "quotes in paths" 0 ""
    [ "$(od -An -tu1 out | tr -s ' ')" = " 113 0" ] || fail "quotes in paths: $(od -An -tu1 out)"
    mkfifo fifo
    timeout 60 "${pellux[@]}" /i fifo /f missing.b 2>err; status=$?
    expect "missing program, FIFO input" 2 "pellux: cannot open missing.b: No such file or directory"

    # A read that fails is no end of input: the run ends there, with the system's reason.
    "${pellux[@]}" /eof 0 /f read.b <folder >out 2>err; status=$?
    expect "input that fails" 2 "pellux: cannot read the input of read.b: Is a directory"

    # A program read from a pipe to its end.
    printf '+++.' | "${pellux[@]}" /f /dev/stdin >out 2>err; status=$?
    expect "program from a pipe" 0 ""
    [ "$(od -An -tu1 out | tr -d ' ')" = 3 ] || fail "program from a pipe: wrong output"

    # Memory that runs out while the tape grows: one line and exit 2, on both engines, with what the
    # program wrote before written.
    printf '%%hello\n+[>+]' >grow.b
    for portable in "" 1; do
        (ulimit -v 150000; PELLUX_PORTABLE=$portable "${pellux[@]}" /f grow.b >out 2>err); status=$?
        expect "out of memory${portable:+ (portable)}" 2 "not enough memory to run grow.b"
        [ "$(cat out)" = hello ] || fail "out of memory${portable:+ (portable)}: the output was lost"
    done
fi

[ "$failures" -eq 0 ] && echo "all cases passed"
exit $((failures > 0))
