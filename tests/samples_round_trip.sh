#!/usr/bin/env bash
# Exports and re-imports every real sample with no edit; the result must be byte-identical.
# Skips (exit 77) when the samples folder is not there.
set -euo pipefail
cli=$1
samples=$2
[ -d "$samples" ] || { echo "no samples at $samples: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
count=0
for f in "$samples"/vbexe/*.exe "$samples"/delphiexe/*.exe "$samples"/dfm/* "$samples"/frx/*.frx "$samples"/frx/*.ctx; do
  [ -f "$f" ] || continue
  name=$(basename "$f")
  case "$f" in
    */frx/*) kind=vb-bin ;;
    */dfm/*) kind=delphi-dfm ;;
    */delphiexe/*) kind=delphi-exe ;;
    *) kind=vb-exe ;;
  esac
  cp "$f" "$work/$name"
  chmod u+w "$work/$name"
  "$cli" export --kind "$kind" "$work/$name" > /dev/null
  if [ -s "$work/$name.pic.log" ]; then
    "$cli" import --kind "$kind" "$work/$name.pic.log" > /dev/null
    cmp "$f" "$work/$name"
  fi
  count=$((count + 1))
done
echo "$count samples round-tripped"
