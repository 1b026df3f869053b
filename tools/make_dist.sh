#!/usr/bin/env bash
# Packs the Windows download: make_dist.sh PELLUXW.EXE PELLUX.EXE OUTPUT.zip
# The two programs side by side, the guide, the examples and the licence, the texts with
# Windows line ends.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
editor=$1 interpreter=$2 zip=$(realpath -m "$3")
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }

cp "$editor" "$stage/Pelluxw.exe"
cp "$interpreter" "$stage/Pellux.Exe"
crlf "$root/docs/guide.md" "$stage/Guide.txt"
crlf "$root/LICENSE" "$stage/LICENSE.txt"
mkdir "$stage/examples"
for example in "$root"/examples/*.b; do crlf "$example" "$stage/examples/$(basename "$example")"; done

mkdir -p "$(dirname "$zip")"
rm -f "$zip"
(cd "$stage" && zip -q -X -r "$zip" .)
