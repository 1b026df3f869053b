#!/usr/bin/env bash
# Without the rich edit library no window can be made: the program ends at once with code 0.
source "$(dirname "$0")/lib.sh"

export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}riched20=d"
work=$(mktemp -d)
start_editor "$work"
expect_exit "$EDITOR_PID" 0
expect_eq "$(drv count "$TITLE")" "0" "no window"
