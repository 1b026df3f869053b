#!/usr/bin/env bash
# A busy user at the editor (random_use.cpp): random keys, menu commands and answers to its boxes
# and dialogs, drawn from a start number, each action checked; the log names every action.
#   random_use.sh        make test's short run: start number 1 for 60 s, a 90 KB program among
#                        the files, 10 s for each action
#   random_use.sh long   make soak's: a new start number each time, 600 s, a 250 KB program,
#                        20 s for each action (Wine's control takes seconds over such a text)
# PELLUX_RANDOM_START, _SECONDS, _ACTIONS, _BIG_KB and _DEADLINE set the run; the same values
# replay it action by action.
source "$(dirname "$0")/lib.sh"
: "${PXRANDOM:?}"

if [ "${1:-}" == long ]; then
    start=${PELLUX_RANDOM_START:-$(date +%s)} seconds=600 big_kb=250 deadline=20
else
    start=${PELLUX_RANDOM_START:-1} seconds=60 big_kb=90 deadline=10
fi
seconds=${PELLUX_RANDOM_SECONDS:-$seconds}
big_kb=${PELLUX_RANDOM_BIG_KB:-$big_kb}
deadline=${PELLUX_RANDOM_DEADLINE:-$deadline}
actions=${PELLUX_RANDOM_ACTIONS:-0}

work=$(mktemp -d)
# Wine's file dialog says on each use that it may not read the drive's label: kept out of sight.
errors=$ARTIFACTS/random-use-editor-errors.log
start_editor "$work" 2>"$errors"
drv wait "$TITLE" 20000 >/dev/null || fail "the main window did not appear"
# The driver takes the editor by its title: another one would be taken for a stray window.
expect_eq "$(drv count "$TITLE")" 1 "one editor runs"

log=$ARTIFACTS/random-use-$start.log
note "random use from start number $start for $seconds s; each action in $log"
if ! "$WINE" "$PXRANDOM" --folder "$(to_windows_path "$work")" --start "$start" --seconds "$seconds" \
        --actions "$actions" --deadline "$deadline" --big-kb "$big_kb" \
        --menu "$(to_windows_path "$PELLUXW")" | tr -d '\r' >"$log"; then
    tail -n 25 "$log"
    (grep -v 'Read access denied for device' "$errors" || true) | tail -n 10
    screenshot "random-use-$start.png"
    failed_at=$(sed -n 's/^FAIL at #\([0-9]*\).*/\1/p' "$log")
    fail "random use from start number $start; replay it with PELLUX_RANDOM_START=$start" \
         "PELLUX_RANDOM_ACTIONS=${failed_at:-0} PELLUX_RANDOM_SECONDS=3600 PELLUX_RANDOM_BIG_KB=$big_kb" \
         "PELLUX_RANDOM_DEADLINE=$deadline PELLUX_SOAK_CYCLES=0 make soak"
fi
tail -n 1 "$log"
