#!/usr/bin/env bash
# Two editors side by side: the hot keys belong to whichever is active, and each closes alone.
source "$(dirname "$0")/lib.sh"

work=$(mktemp -d)
start_editor "$work"; first_linux_pid=$EDITOR_PID
drv wait "$TITLE" 20000 >/dev/null || fail "the first window did not appear"
first_pid=$(drv pids "$TITLE")
start_editor "$work"; second_linux_pid=$EDITOR_PID
poll 20 eval '[ "$(drv count "$TITLE")" == 2 ]' || fail "the second window did not appear"
# Listed in stacking order: the second editor is the one that is not the first.
second_pid=$(drv pids "$TITLE" | grep -vx "$first_pid")
pids=("$first_pid" "$second_pid")
first="$TITLE@${pids[0]}"; second="$TITLE@${pids[1]}"

focus "$second"
type_text 'y'
keys F6
expect_eq "$(results_text)" "An error occurred, 'y' is an invalid character." "F6 in the active second editor"
expect_eq "$(drv pid Results)" "${pids[1]}" "the second editor answered"
keys Return
drv gone Results 5000 || fail "the Results box stayed open"

focus "$first"
keys F6
expect_eq "$(results_text)" "No errors occurred." "F6 in the first editor once it is active again"
expect_eq "$(drv pid Results)" "${pids[0]}" "the first editor answered"
keys Return
drv gone Results 5000 || fail "the Results box stayed open"

# Closing one leaves the other running.
focus "$first"
keys alt+x
drv gone "$first" 10000 || fail "the first editor did not close"
expect_eq "$(drv count "$TITLE")" "1" "the second editor still runs"
focus "$second"
keys alt+x
drv wait Warning 10000 >/dev/null || fail "no save question for typed text"
keys n
expect_exit "$second_linux_pid" 0
expect_exit "$first_linux_pid" 0
