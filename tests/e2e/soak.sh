#!/usr/bin/env bash
# One editor through PELLUX_SOAK_CYCLES (1,000) cycles of Open, an edit, Save through the save
# question and New (soak.cpp), with its memory, windows, handles and file descriptors every 100.
source "$(dirname "$0")/lib.sh"
: "${PXSOAK:?}"

cycles=${PELLUX_SOAK_CYCLES:-1000}
work=$(mktemp -d)
# Wine's file dialog says on each use that it may not read the drive's label: kept out of sight.
errors=$ARTIFACTS/soak-editor-errors.log
start_editor "$work" 2>"$errors"
drv wait "$TITLE" 20000 >/dev/null || fail "the main window did not appear"
# The driver takes the editor by its title: another one would be taken for a stray window.
expect_eq "$(drv count "$TITLE")" 1 "one editor runs"
note "$cycles cycles; the figures every 100"
if ! "$WINE" "$PXSOAK" "$(to_windows_path "$work")" "$cycles" "$EDITOR_PID" | sed -u 's/\r$//'; then
    (grep -v 'Read access denied for device' "$errors" || true) | tail -n 20
    fail "the soak found failures (above)"
fi
