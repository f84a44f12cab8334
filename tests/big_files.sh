#!/usr/bin/env bash
# The 2 GiB boundary, on sparse files: a source of 2 GiB - 1 bytes loads and exports (a picture in
# its last bytes is found, and one whose length runs one byte past the end is not), and a rebuild
# that would reach 2 GiB is refused; sources of 2 GiB and of 4 GiB + 10 bytes are refused with the
# read-error message and nothing is written.
set -euo pipefail
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A whole 1 x 1 GIF of 29 bytes (header, image, trailer).
gif() { printf 'GIF89a\x01\x00\x01\x00\x00\x00\x00\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b'; }

# A VB picture blob: u32 L+8, "lt\0\0", u32 L, then L bytes of picture.
blob() {  # blob LENGTH_FIELD: the GIF after a length field that may claim more
  local claimed=$1
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(( (claimed + 8) & 255 )) $(( (claimed + 8) >> 8 & 255 )) 0 0)"
  printf 'lt\x00\x00'
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(( claimed & 255 )) $(( claimed >> 8 & 255 )) 0 0)"
  gif
}

size=$(( (1 << 31) - 1 ))
truncate -s "$size" "$work/edge.frx"
# A picture that ends at the last byte, and before it one whose length field claims the bytes
# from its marker (1020 bytes before the end) plus one (refused).
blob 29 | dd of="$work/edge.frx" bs=1 seek=$(( size - 41 )) conv=notrunc status=none
blob 1021 | dd of="$work/edge.frx" bs=1 seek=$(( size - 1024 )) conv=notrunc status=none
"$cli" export --kind vb-bin "$work/edge.frx" > "$work/out"
grep -q '匯出完畢！' "$work/out"
expected="$(( size - 29 )):29:VB.Picture:edge.frx.001.gif"
[ "$(tr -d '\r' < "$work/edge.frx.pic.log")" = "$expected" ] || {
  echo "log of the 2 GiB - 1 source:"; cat "$work/edge.frx.pic.log"; exit 1; }
cmp -s "$work/edge.frx.001.gif" <(gif)

# One byte more in that picture would make the rebuilt file 2 GiB: refused, nothing written.
{ gif; printf '+'; } > "$work/edge.frx.001.gif"  # a byte of padding after the trailer
status=0
"$cli" import --kind vb-bin "$work/edge.frx.pic.log" > /dev/null 2> "$work/err" || status=$?
[ "$status" -eq 1 ] || { echo "import of a 2 GiB rebuild: status $status"; exit 1; }
grep -q '重建後的檔案將達 2 GiB 或以上，未寫入！' "$work/err"
[ "$(stat -c %s "$work/edge.frx")" -eq "$size" ]
[ ! -e "$work/edge.frx.bak" ] && [ ! -e "$work/edge.frx.orig" ]

for big in $(( 1 << 31 )) $(( (1 << 32) + 10 )); do
  rm -f "$work"/big.frx*
  truncate -s "$big" "$work/big.frx"
  blob 29 | dd of="$work/big.frx" bs=1 seek=100 conv=notrunc status=none
  if "$cli" export --kind vb-bin "$work/big.frx" > /dev/null 2> "$work/err"; then
    echo "a source of $big bytes was not refused"; exit 1
  fi
  grep -q '讀檔案錯誤！' "$work/err"
  [ "$(ls "$work" | grep -c '^big\.frx')" -eq 1 ] || { echo "files written for $big bytes:"; ls "$work"; exit 1; }
done
echo "2 GiB boundary ok"
