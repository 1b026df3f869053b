#!/usr/bin/env bash
# A person opens, edits and saves programs through the platform's own file dialogs.
source "$(dirname "$0")/lib.sh"

work=$(mktemp -d)
printf '+++x' >"$work/prog.b"

# Types a path into a file dialog's file-name box and confirms it.
choose_file() {  # dialog title, path
    drv wait "$1" 15000 >/dev/null || fail "no \"$1\" dialog"
    focus "$1"
    type_text "$(to_windows_path "$2")"
    keys Return
}

file_is() { [ "$(cat "$1" 2>/dev/null)" == "$2" ]; }

start_editor "$work"
drv wait "$TITLE" 20000 >/dev/null || fail "the main window did not appear"

focus "$TITLE"
keys ctrl+o
choose_file Open "$work/prog.b"
drv gone Open 10000 || fail "the Open dialog stayed"
poll 10 eval '[ "$(status_text)" == prog.b ]' || fail "status after Open: $(status_text)"
note "ok: opened prog.b"

focus "$TITLE"
keys F6
expect_eq "$(results_text)" "An error occurred, 'x' is an invalid character." "the opened text is checked"
keys Return
drv gone Results 5000 || fail "the Results box stayed open"

focus "$TITLE"
keys ctrl+a BackSpace
type_text '++.'
keys ctrl+s
poll 10 file_is "$work/prog.b" '++.' || fail "Ctrl+S did not write prog.b: $(cat "$work/prog.b")"
poll 10 eval '[ "$(status_text)" == prog.b ]' || fail "status after Save: $(status_text)"
note "ok: saved over the opened file"

# Saved: New clears without a question.
keys ctrl+n
poll 10 eval '[ "$(status_text)" == Untitled.b ]' || fail "New did not clear: $(status_text)"
expect_eq "$(drv count Warning)" "0" "no question after a save"

# The first save of a new text asks for a name with the Save dialog and creates the file.
focus "$TITLE"
type_text '+-'
keys ctrl+s
choose_file "Save As" "$work/new.b"
poll 10 file_is "$work/new.b" '+-' || fail "the new file was not written"
poll 10 eval '[ "$(status_text)" == new.b ]' || fail "status after the first save: $(status_text)"
note "ok: first save created new.b"

# Choosing an existing file asks before replacing it.
focus "$TITLE"
keys ctrl+n
type_text '><'
keys ctrl+s
choose_file "Save As" "$work/prog.b"
boxes=$(drv wait Error 10000 >/dev/null && echo Error || echo none)
expect_eq "$boxes" "Error" "the Save dialog asks before replacing"
screenshot overwrite-question.png
focus Error
keys y
poll 10 file_is "$work/prog.b" '><' || fail "prog.b was not replaced"
note "ok: replaced prog.b after the question"

focus "$TITLE"
keys alt+x
expect_exit "$EDITOR_PID" 0
