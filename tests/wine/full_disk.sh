#!/usr/bin/env bash
# Runs the failed-save test with a program on a full file system: a 64 KiB tmpfs holding a
# 37,600-byte program, which a 67 KB text cannot replace. Mounting needs root; others skip it.
set -euo pipefail
: "${WINE:?}" "${WINDOW_TESTS:?}"
filter=--gtest_filter=DocumentTest.FailedOrInterruptedSaveLeavesTheFileWhole

if [ "$(id -u)" -ne 0 ]; then
    echo "not root: the full file system part is skipped"
    exec "$WINE" "$WINDOW_TESTS" "$filter"
fi
work=$(mktemp -d /tmp/pellux-full.XXXXXX)
out=$(mktemp /tmp/pellux-full-out.XXXXXX)
mount -t tmpfs -o size=64k tmpfs "$work"
trap 'umount "$work"; rmdir "$work"; rm -f "$out"' EXIT
head -c 37600 /dev/zero | tr '\0' '+' >"$work/program.b"
PELLUX_FULL_FOLDER="Z:${work//\//\\}" "$WINE" "$WINDOW_TESTS" "$filter" | tee "$out"
grep -q "1 test.*PASSED\|PASSED.*1 test" "$out" || { echo "the full-disk test did not run"; exit 1; }
grep -q SKIPPED "$out" && { echo "the full-disk part was skipped"; exit 1; }
exit 0
