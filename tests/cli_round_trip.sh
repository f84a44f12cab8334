#!/usr/bin/env bash
# Export then import the generated sample through falcet-cli: an unedited round trip gives the
# source back byte for byte, and the texts and exit codes are the ones users see.
set -euo pipefail
cli=$(realpath "$1")  # absolute: some steps run from other folders
make_fixture=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$make_fixture" "$work/form.bin"
cp "$work/form.bin" "$work/original.bin"

"$cli" export "$work/form.bin" > "$work/export.out"
grep -q '匯出完畢！' "$work/export.out"
[ "$(wc -l < "$work/form.bin.pic.log")" -eq 4 ] || { echo "expected 4 pictures"; cat "$work/form.bin.pic.log"; exit 1; }
# The empty picture before them uses up number 001.
ls "$work"/form.bin.002.ico "$work"/form.bin.003.bmp "$work"/form.bin.004.gif "$work"/form.bin.005.jpg > /dev/null

"$cli" import "$work/form.bin.pic.log" > "$work/import.out"
grep -q '匯入完成！' "$work/import.out"
cmp "$work/form.bin" "$work/original.bin"
cmp "$work/form.bin.bak" "$work/original.bin"

# A grown picture in a form file: its length field follows.
head -c 100 /dev/zero >> "$work/form.bin.004.gif"
"$cli" import "$work/form.bin.pic.log" > /dev/null
[ $(( $(stat -c %s "$work/form.bin") - $(stat -c %s "$work/original.bin") )) -eq 100 ]

# The log names each picture beside it, so any folder works: a path with folders typed from the
# parent, from inside and from elsewhere; a folder copied with its log imports its own pictures.
mkdir -p "$work/sub/dir" "$work/elsewhere"
for from in "$work" "$work/sub/dir" "$work/elsewhere"; do
  rm -f "$work"/sub/dir/f.bin*
  "$make_fixture" "$work/sub/dir/f.bin"
  rel=$(realpath --relative-to="$from" "$work/sub/dir/f.bin")
  (cd "$from" && "$cli" export "$rel" > /dev/null && "$cli" import "$rel.pic.log" > "$work/import.out")
  grep -q '匯入完成！' "$work/import.out"
  if grep -q '未匯入' "$work/import.out"; then cat "$work/import.out"; exit 1; fi
  # Nothing was edited: every entry says so.
  [ "$(grep -c '與原始檔中的圖像相同，未變更。' "$work/import.out")" -eq 4 ] || { cat "$work/import.out"; exit 1; }
  cut -d: -f4 "$work/sub/dir/f.bin.pic.log" | tr -d '\r' | grep -q / && { echo "log names a folder"; exit 1; }
  cmp "$work/sub/dir/f.bin" "$work/original.bin"
done
cp -r "$work/sub/dir" "$work/copy"
head -c 7 /dev/zero >> "$work/copy/f.bin.004.gif"
(cd "$work/elsewhere" && "$cli" import ../copy/f.bin.pic.log > /dev/null)
[ $(( $(stat -c %s "$work/copy/f.bin") - $(stat -c %s "$work/sub/dir/f.bin") )) -eq 7 ]
# A log of an earlier version names the pictures as the source path was typed: still found from
# the folder it was made in.
sed 's|:f\.bin\.|:sub/dir/f.bin.|' "$work/sub/dir/f.bin.pic.log" > "$work/old.log"
mv "$work/old.log" "$work/sub/dir/f.bin.pic.log"
(cd "$work" && "$cli" import sub/dir/f.bin.pic.log > "$work/import.out")
grep -q 'sub/dir/f.bin.002.ico  與原始檔中的圖像相同，未變更。' "$work/import.out"

# A picture edited since the export survives a second export, which fails naming it, unless
# --overwrite is given.
"$make_fixture" "$work/e.bin"
"$cli" export "$work/e.bin" > /dev/null
printf 'edited' > "$work/e.bin.002.ico"
if "$cli" export "$work/e.bin" > /dev/null 2> "$work/err"; then echo "an edited picture was overwritten silently"; exit 1; fi
grep -q 'e.bin.002.ico' "$work/err"
[ "$(cat "$work/e.bin.002.ico")" = edited ]
"$cli" export --overwrite "$work/e.bin" > /dev/null
if printf 'edited' | cmp -s - "$work/e.bin.002.ico"; then echo "--overwrite kept the edit"; exit 1; fi

# list --json is UTF-8 whatever the locale (RFC 8259): a Big5 file name under a Big5 locale. (Not
# through the Wine wrapper, which reads all output as code page 950.)
if [ -z "${FALCET_WIN_CLI:-}" ] && [ "$(LC_ALL=zh_TW.BIG5 locale charmap 2> /dev/null)" = BIG5 ]; then
  big5=$(printf '圖像' | iconv -f UTF-8 -t BIG5)
  cp "$work/original.bin" "$work/$big5.bin"
  LC_ALL=zh_TW.BIG5 "$cli" list --json "$work/$big5.bin" > "$work/list.json"
  iconv -f UTF-8 -t UTF-8 "$work/list.json" > /dev/null
  grep -q '"source": ".*/圖像.bin"' "$work/list.json" || { cat "$work/list.json"; exit 1; }
fi

# Failures exit non-zero with the message on stderr.
if "$cli" export "$work/missing.bin" 2> "$work/err"; then exit 1; fi
grep -q '讀檔案錯誤！' "$work/err"
if "$cli" import "$work/x.log" 2> "$work/err"; then exit 1; fi
grep -q '檔名錯誤！請檢查！' "$work/err"
[ "$("$cli" detect "$work/a.DFM")" = delphi-dfm ]
# Whole outputs first: grep -q may stop reading early, which would fail the writer under pipefail.
kinds=$("$cli" kinds); grep -q 'VB.Picture' <<< "$kinds"
help=$("$cli" --help); grep -q '匯出' <<< "$help"
echo "cli round trip ok"
