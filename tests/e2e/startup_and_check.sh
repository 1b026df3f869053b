#!/usr/bin/env bash
# A person starts the editor, types a program, checks it with F6 and from the menu, resizes
# the window and leaves with Alt+X.
source "$(dirname "$0")/lib.sh"

work=$(mktemp -d)
start_editor "$work"
drv wait "$TITLE" 20000 >/dev/null || fail "the main window did not appear"

expect_eq "$(drv menu "$(to_windows_path "$PELLUXW")")" "$(cat "$(dirname "$0")/expected_menu.txt")" "menu"
expect_eq "$(status_text)" "Untitled.b" "status bar at start"
expect_eq "$(drv focus "$TITLE")" "RichEdit20A 1001" "the editor has the focus"

focus "$TITLE"
type_text '+[->+<]>.x'
keys F6
expect_eq "$(results_text)" "An error occurred, 'x' is an invalid character." "F6 names the invalid character"
keys Return
drv gone Results 5000 || fail "the Results box stayed open"

focus "$TITLE"
keys ctrl+a BackSpace
type_text '%Hello, world!'
keys Return
type_text '# a comment'
keys Return
type_text '++[>+<-]>.'
keys F6
expect_eq "$(results_text)" "No errors occurred." "F6 on a valid program"
keys Return
drv gone Results 5000 || fail "the Results box stayed open"

# Run > Check Syntax through the menu, by keyboard: F10, over to Run, down to the item.
focus "$TITLE"
keys F10 Right Right Right Down Down Return
expect_eq "$(results_text)" "No errors occurred." "Run > Check Syntax"
keys Return
drv gone Results 5000 || fail "the Results box stayed open"

for size in "700 500" "420 260"; do
    drv resize "$TITLE" $size
    layout=$(drv layout "$TITLE")
    read -r _ cw ch <<<"$(grep client <<<"$layout")"
    expect_eq "$(grep editor <<<"$layout")" "editor 0 0 $cw $((ch - 19))" "layout at $size"
done

screenshot pelluxw-window.png "$TITLE"

# Typed text counts as a change: Alt+X asks first, and No leaves without saving.
focus "$TITLE"
keys alt+x
drv wait Warning 10000 >/dev/null || fail "no save question"
expect_eq "$(drv boxtext Warning)" "The text has been modified. Would you like to save it now?" "save question"
keys n
expect_exit "$EDITOR_PID" 0
