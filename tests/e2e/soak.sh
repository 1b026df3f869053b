#!/usr/bin/env bash
# One editor through PELLUX_SOAK_CYCLES (1,000) cycles of Open, an edit, Save through the save
# question and New (soak.cpp), with its memory, windows, handles and file descriptors every 100.
source "$(dirname "$0")/lib.sh"
: "${PXSOAK:?}"

cycles=${PELLUX_SOAK_CYCLES:-1000}
work=$(mktemp -d)
start_editor "$work"
drv wait "$TITLE" 20000 >/dev/null || fail "the main window did not appear"
note "$cycles cycles; the figures every 100"
"$WINE" "$PXSOAK" "$(to_windows_path "$work")" "$cycles" "$EDITOR_PID" | tr -d '\r' \
    || fail "the soak found failures (above)"
