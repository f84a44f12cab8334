#!/usr/bin/env bash
# Exports and re-imports every real sample with no edit; the result must be byte-identical. The
# sample lies two folders down and is named by a relative path, typed from the folder above, from
# inside or from elsewhere in turn; a form file's folder copied with its log imports its own edit.
# Skips (exit 77) when the samples folder is not there.
set -euo pipefail
cli=$1
samples=$2
[ -d "$samples" ] || { echo "no samples at $samples: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
count=0
mkdir -p "$work/sub/dir" "$work/elsewhere"
for f in "$samples"/vbexe/*.exe "$samples"/lazarusexe/*.exe "$samples"/delphiexe/*.exe "$samples"/dfm/* "$samples"/frx/*.frx "$samples"/frx/*.ctx; do
  [ -f "$f" ] || continue
  name=$(basename "$f")
  case "$f" in
    */frx/*) kind=vb-bin ;;
    */dfm/*) kind=delphi-dfm ;;
    */delphiexe/*|*/lazarusexe/*) kind=delphi-exe ;;
    *) kind=vb-exe ;;
  esac
  rm -rf "$work/sub/dir" "$work/copy" && mkdir -p "$work/sub/dir"
  cp "$f" "$work/sub/dir/$name"
  chmod u+w "$work/sub/dir/$name"
  case $((count % 3)) in
    0) from="$work" ;;
    1) from="$work/sub/dir" ;;
    *) from="$work/elsewhere" ;;
  esac
  rel=$(realpath --relative-to="$from" "$work/sub/dir/$name")
  (cd "$from" && "$cli" export --kind "$kind" "$rel" > /dev/null)
  if [ -s "$work/sub/dir/$name.pic.log" ]; then
    (cd "$from" && "$cli" import --kind "$kind" "$rel.pic.log" > "$work/import.out")
    if grep -q '未匯入' "$work/import.out"; then echo "$f:"; cat "$work/import.out"; exit 1; fi
    cmp "$f" "$work/sub/dir/$name"
    if [ "$kind" = vb-bin ] || [ "$kind" = delphi-dfm ]; then
      cp -r "$work/sub/dir" "$work/copy"
      first=$(head -n 1 "$work/copy/$name.pic.log" | tr -d '\r' | cut -d: -f4-)
      head -c 16 /dev/zero >> "$work/copy/$first"
      (cd "$work/elsewhere" && "$cli" import --kind "$kind" "../copy/$name.pic.log" > /dev/null)
      [ $(( $(stat -c %s "$work/copy/$name") - $(stat -c %s "$f") )) -eq 16 ] || { echo "$f: the copy did not take its edit"; exit 1; }
      cmp "$f" "$work/sub/dir/$name"
    fi
  fi
  count=$((count + 1))
done
echo "$count samples round-tripped"
