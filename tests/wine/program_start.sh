#!/usr/bin/env bash
# The real judge of a rebuilt Delphi-family program is its own form reader: every sample program
# that starts under Wine is started before and after an import in which its first picture grew
# to 150 % and its second shrank to 50 % (ImageMagick), and must open the same windows. The
# rebuilt file must also import its own log again, be read by objdump and windres, keep a valid
# checksum where it had one, and give every picture back once with its new bytes.
# Usage: program_start.sh LINUX_CLI START_PROBE_EXE FIXTURE_GENERATOR SAMPLES
# (WINEPREFIX set by the caller; run under an X display, e.g. xvfb-run)
set -uo pipefail
cli=$1
probe=$2
fixture=$3
samples=$4
[ -d "$samples/delphiexe" ] || { echo "no samples"; exit 77; }
command -v convert > /dev/null || { echo "no ImageMagick"; exit 77; }
objdump=x86_64-w64-mingw32-objdump
windres=x86_64-w64-mingw32-windres
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 started=0 skipped=0
fail() { echo "FAIL $name: $*"; failures=$((failures + 1)); }

windows() { wine "$probe" "$(winepath -w "$1" 2> /dev/null)" 12 2> /dev/null | tr -d '\r'; }

# The picture written again at another size, in its own format; the new file's name, or nothing.
resized() {
  local picture=$1 percent=$2 ext=${1##*.} format
  format=$(echo "$ext" | tr a-z A-Z)
  [ "$format" = JPG ] && format=JPEG
  case "$format" in BMP|JPEG|PNG|GIF|ICO) ;; *) return 0 ;; esac
  # An icon keeps every image it holds (each resized); other formats their first image.
  local input="$picture[0]"
  [ "$format" = ICO ] && input=$picture
  convert "$input" -resize "$percent%" "$format:$picture.new" > /dev/null 2>&1 && echo "$picture.new"
}

for program in "$samples"/delphiexe/*.exe "$samples"/lazarusexe/*.exe; do
  [ -f "$program" ] || continue
  name=$(basename "$program")
  dir="$work/$name"
  mkdir -p "$dir"
  cp "$program" "$dir/$name"
  chmod u+w "$dir/$name"
  prog="$dir/$name"
  before=$(windows "$prog")
  # The first program started in a new Wine prefix may end while Wine is still settling in.
  grep -q '^window: ' <<< "$before" || before=$(windows "$prog")
  if ! grep -q '^window: ' <<< "$before"; then
    echo "skip $name: does not start under Wine here ($(head -n 1 <<< "$before"))"
    skipped=$((skipped + 1))
    continue
  fi
  started=$((started + 1))
  "$cli" export --kind delphi-exe "$prog" > "$dir/export.out" 2>&1 || { fail "export"; continue; }
  mapfile -t pictures < <(cut -d: -f4 "$prog.pic.log" | tr -d '\r')
  [ "${#pictures[@]}" -gt 0 ] || { echo "skip $name: no picture found"; continue; }
  changed=0
  for i in 0 1; do
    [ -n "${pictures[$i]:-}" ] || continue
    p="$dir/${pictures[$i]}"
    new=$(resized "$p" "$([ "$i" -eq 0 ] && echo 150 || echo 50)")
    [ -n "$new" ] || continue
    old=$(stat -c %s "$p") size=$(stat -c %s "$new")
    if [ "$i" -eq 0 ] && [ "$size" -lt $((old * 3 / 2)) ]; then echo "note $name: ${pictures[$i]} grew only from $old to $size bytes"; fi
    mv "$new" "$p"
    changed=$((changed + 1))
  done
  cp -r "$dir" "$dir.edited"
  "$cli" import --kind delphi-exe "$prog.pic.log" > "$dir/import.out" 2>&1 || { fail "import: $(tail -n 3 "$dir/import.out")"; continue; }
  ok=$(grep -c '圖像成功匯入！' "$dir/import.out" || true)
  [ "$ok" -ge "$changed" ] || fail "only $ok of $changed changed pictures reported imported"
  after=$(windows "$prog")
  [ "$before" = "$after" ] || fail "other windows after the import: before [$before] after [$after]"
  "$objdump" -p "$prog" > "$dir/headers" 2>&1 || fail "objdump cannot read it"
  "$windres" -J coff -O rc -i "$prog" -o "$dir/resources.rc" > "$dir/windres.out" 2>&1 || fail "windres cannot read it"
  sum=$("$fixture" --checksum "$prog")
  case "$sum" in "stored 00000000"*) ;; *) "$fixture" --checksum "$prog" > /dev/null || fail "stale checksum: $sum" ;; esac
  # A fresh export gives every picture once, with its new bytes.
  mkdir -p "$dir/again"
  cp "$prog" "$dir/again/$name"
  "$cli" export --kind delphi-exe "$dir/again/$name" > /dev/null 2>&1 || fail "second export"
  [ "$(wc -l < "$dir/again/$name.pic.log")" -eq "${#pictures[@]}" ] || fail "a fresh export finds $(wc -l < "$dir/again/$name.pic.log") pictures, not ${#pictures[@]}"
  n=0
  while IFS=: read -r _ _ _ file; do
    file=${file%$'\r'}
    cmp -s "$dir/again/$file" "$dir.edited/${pictures[$n]}" || fail "picture $((n + 1)) is not the imported one"
    n=$((n + 1))
  done < "$dir/again/$name.pic.log"
  # The log was rewritten: the same log imports again, every picture as it now is.
  "$cli" import --kind delphi-exe "$prog.pic.log" > "$dir/again.out" 2>&1 || fail "the same log does not import again: $(tail -n 2 "$dir/again.out")"
  cmp -s "$prog" "$dir/again/$name" || fail "importing the same log again changed the program"
  echo "ok $name: $changed pictures resized, windows [$(tr '\n' ' ' <<< "$after")]"
done
echo "$started programs started under Wine, $skipped did not start here, $failures failures"
[ "$started" -gt 0 ] || exit 77
[ "$failures" -eq 0 ]
