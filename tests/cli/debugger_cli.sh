#!/usr/bin/env bash
# The debugger of /d driven by a script, one session for each family of commands.
#   debugger_cli.sh PELLUX WORK_DIR
# With WINE set, PELLUX is Pellux.Exe and runs under it; Ctrl+C is tried here on Linux only
# (debugger_ctrl_c.cpp tries it on Windows).
set -uo pipefail
work=$2
pellux=(${WINE:+"$WINE"} "$1")
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# session NAME COMMANDS ARGS...: the transcript must be the expected one, read from standard input.
# (The guard only ends a hang.)
session() {
    local name=$1 commands=$2; shift 2
    cat >"want-$name"
    { printf "$commands" | timeout 60 "${pellux[@]}" /d "$@" 2>&1; echo; } | tr -d '\r' >"got-$name"
    diff "want-$name" "got-$name" >"diff-$name" || fail "$name: $(head -c 600 "diff-$name")"
}

printf '+++\n+[>+<-]\n>.' >s.b
printf '++++\n[->++<]>[-<+>]<\n%%done\n+[<+>-]' >b.b
printf ',.,.' >r.b
printf 'x' >in.txt

session stepping 'foo\ns\ns 3\nn\nw\nq\n' /f s.b <<'END'
s.b:1:1
  +++
  ^
  cells 0-4: [0] 0 0 0 0
(pellux) unknown command 'foo'; h lists the commands
(pellux) s.b:1:2
  +++
   ^
  cells 0-4: [1] 0 0 0 0
(pellux) s.b:2:2
  +[>+<-]
   ^
  cells 0-4: [4] 0 0 0 0
(pellux) s.b:3:1
  >.
  ^
  cells 0-4: [0] 4 0 0 0
(pellux) s.b:3:1
  >.
  ^
  cells 0-4: [0] 4 0 0 0
(pellux) 
END

# Inside a folded run of '+' and inside loops that are rewritten when nothing stops in them.
session breakpoints 'b 2:5\nb 2:12\nb 9\nb\nc\nd 1\nb\nc\nc\nq\n' /f b.b <<'END'
b.b:1:1
  ++++
  ^
  cells 0-4: [0] 0 0 0 0
(pellux) breakpoint 1 at b.b:2:5
(pellux) breakpoint 2 at b.b:2:12
(pellux) no command at 9
(pellux)   1: b.b:2:5
  2: b.b:2:12
(pellux) b.b:2:5
  [->++<]>[-<+>]<
      ^
  cells 0-5: 3 [1] 0 0 0 0
(pellux) breakpoint 1 deleted
(pellux)   1: b.b:2:12
(pellux) b.b:2:12
  [->++<]>[-<+>]<
             ^
  cells 0-4: [0] 7 0 0 0
(pellux) b.b:2:12
  [->++<]>[-<+>]<
             ^
  cells 0-4: [1] 6 0 0 0
(pellux) 
END

session tape 's 5\nt\nt 3\nt 0 2\nq\n' /f b.b <<'END'
b.b:1:1
  ++++
  ^
  cells 0-4: [0] 0 0 0 0
(pellux) b.b:2:2
  [->++<]>[-<+>]<
   ^
  cells 0-4: [4] 0 0 0 0
(pellux)            0   4 0x04      <- pointer
           1   0 0x00    
           2   0 0x00    
           3   0 0x00    
           4   0 0x00    
(pellux)            3   0 0x00    
(pellux)            0   4 0x04      <- pointer
           1   0 0x00    
           2   0 0x00    
(pellux) 
END

# Every argument that is not what its command takes: one line naming what is wrong, and nothing
# changes (no step, no breakpoint, no quitting), as b and w show at the end.
refused=(
    't -4096 -1|t: -4096 is out of range: a cell is from 0 to 268435455'
    't 268435456|t: 268435456 is out of range: a cell is from 0 to 268435455'
    't 3 1|t: 1 is before 3: TO comes at or after FROM'
    't abc|t: '"'abc'"' is not a number (the command is t [FROM [TO]])'
    't 1 2 3|t: unexpected '"'3'"' (the command is t [FROM [TO]])'
    's -1|s: -1 is out of range: N is from 1 to 1000000000'
    's 99999999999999999999|s: 99999999999999999999 is out of range: N is from 1 to 1000000000'
    's 0|s: 0 is out of range: N is from 1 to 1000000000'
    's 1e3|s: '"'1e3'"' is not a number (the command is s [N])'
    'step 1 2|step: unexpected '"'2'"' (the command is s [N])'
    'b 4294967298|b: 4294967298 is out of range: LINE is from 1 to 4294967295'
    'b 2:4294967297|b: 4294967297 is out of range: COLUMN is from 1 to 4294967295'
    'b 2:|b: '"'2:'"' is not a place (the command is b [LINE[:COLUMN]])'
    'd 1x|d: '"'1x'"' is not a number (the command is d N)'
    'd 1|no breakpoint 1'
    'q extra|q: unexpected '"'extra'"' (the command is q)'
    'c now|c: unexpected '"'now'"' (the command is c)'
)
commands="" want=$'s.b:1:1\n  +++\n  ^\n  cells 0-4: [0] 0 0 0 0\n'
for row in "${refused[@]}"; do
    commands+="${row%%|*}\n"
    want+="(pellux) ${row#*|}"$'\n'
done
session refused "${commands}b\nw\nq\n" /f s.b <<END
${want}(pellux) no breakpoints
(pellux) s.b:1:1
  +++
  ^
  cells 0-4: [0] 0 0 0 0
(pellux) 
END

# A line is one command, however long: one too long for the buffer is refused whole, never cut
# into commands; a listing of the tape is cut at 4096 cells, and says so.
long=$(head -c 1000000 /dev/zero | tr '\0' x)
session long-lines "w$(printf '%254s' '')c\n$long\nb 2$(printf '%2000s' '')\nb\nq\n" /f s.b <<'END'
s.b:1:1
  +++
  ^
  cells 0-4: [0] 0 0 0 0
(pellux) w: unexpected 'c' (the command is w)
(pellux) the line is too long: a command line holds at most 1024 bytes; nothing was done
(pellux) the line is too long: a command line holds at most 1024 bytes; nothing was done
(pellux) no breakpoints
(pellux) 
END
printf 't 0 100000\nq\n' | timeout 60 "${pellux[@]}" /d /f s.b 2>&1 | tr -d '\r' >listing
[ "$(grep -c ' 0 0x00' listing)" -eq 4096 ] && grep -qx '  (cut at 4096 cells; t 4096 100000 lists the rest)' listing ||
    fail "long listing: $(wc -l <listing) lines, ending $(tail -c 200 listing)"

# The input file is read from its start again.
session restart 'c\nr\nc\nq\n' /eof keep /i in.txt /f r.b <<'END'
r.b:1:1
  ,.,.
  ^
  cells 0-4: [0] 0 0 0 0
(pellux) xx
the program has ended; r restarts it
(pellux) r.b:1:1
  ,.,.
  ^
  cells 0-4: [0] 0 0 0 0
(pellux) xx
the program has ended; r restarts it
(pellux) 
END

# A fault stops in the debugger, with the tape as the program left it.
session fault 'c\ns\nq\n' /f b.b <<'END'
b.b:1:1
  ++++
  ^
  cells 0-4: [0] 0 0 0 0
(pellux) done
b.b:4:3: the pointer moved left of the first cell
b.b:4:3
  +[<+>-]
    ^
  cells 0-4: [9] 0 0 0 0
(pellux) the program is over; r restarts it
(pellux) 
END
printf 'c\nq\n' | "${pellux[@]}" /d /f b.b >/dev/null 2>&1; status=$?
[ "$status" -eq 1 ] || fail "fault: exit $status, expected 1"

# A session of $1 whose commands come through a FIFO held open: c, then Ctrl+C once the shell
# condition $2 holds, then the commands $3 once it has stopped. Leaves the transcript in out and
# the exit code in $status.
interrupted_session() {
    "${pellux[@]}" /d /f "$1" <commands >out 2>&1 &
    pid=$!
    exec 3>commands
    echo c >&3
    deadline=$((SECONDS + 20))
    until eval "$2" || [ $SECONDS -ge $deadline ]; do sleep 0.05; done
    kill -INT "$pid"
    until grep -q "^interrupted" out || [ $SECONDS -ge $deadline ]; do sleep 0.05; done
    printf "$3" >&3
    exec 3>&-
    until ! kill -0 "$pid" 2>/dev/null || [ $SECONDS -ge $deadline ]; do sleep 0.05; done
    kill -KILL "$pid" 2>/dev/null  # only when it failed to stop
    wait "$pid"; status=$?
}

if [ -z "${WINE:-}" ]; then
    mkfifo commands
    # Ctrl+C while the program runs returns to the prompt, once its output shows that it runs.
    printf '+[.]' >forever.b
    interrupted_session forever.b '[ "$(stat -c %s out)" -gt 70000 ]' 'q\n'
    grep -q "^interrupted" out || fail "Ctrl+C: no stop"
    grep -qa "forever.b:1:2" out || fail "Ctrl+C: not stopped at the loop's start"
    [ "$status" -eq 0 ] || fail "Ctrl+C: exit $status"

    # Ctrl+C while the program waits for input stops it at that ',' with nothing read (not at the
    # end of its input); c reads again. The signal goes while it sleeps in the read itself (where
    # the kernel names it); the stop is the same at any moment.
    printf '%%ready\n,.' >wait.b
    interrupted_session wait.b 'grep -q pipe_read "/proc/$pid/wchan" 2>/dev/null' 'c\nA\nq\n'
    sed -n '/^interrupted/,$p' out >after
    grep -q "^wait.b:2:1" after || fail "Ctrl+C at a read: not stopped at the ','"
    grep -qa "^(pellux) A" after || fail "Ctrl+C at a read: the input was not read again"
fi

# A write that fails, the program's or the debugger's own, ends the session with the exit code it
# has without /d, and says why.
full="No space left on device"
[ -z "${WINE:-}" ] || full="Disk full"  # Wine's reason
for commands in 'c\nq\n' 'w\nq\n'; do
    printf "$commands" | "${pellux[@]}" /d /f s.b >/dev/full 2>err
    status=$?
    [ "$status" -eq 3 ] && grep -q "pellux: cannot write the debugger's output: $full" err ||
        fail "output to a full device ($commands): exit $status, $(head -c 300 err)"
done

[ "$failures" -eq 0 ] && echo "all sessions passed"
exit $((failures > 0))
