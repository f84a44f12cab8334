#!/usr/bin/env bash
# The Windows falcet-cli.exe under Wine against the Linux falcet-cli on every real sample: the same
# list (facts and owners, blob files with their text files beside them), the same log lines (the folder aside), byte-identical picture files, and byte-identical results of an
# import with changed pictures (form files: every picture 16 bytes longer; executables: halved,
# which both refuse as incomplete), with the same reports and exit statuses.
# Then a round trip under a Traditional Chinese file name. Skips (77) without the samples.
# Usage: compare_samples.sh LINUX_CLI WINE_CLI_WRAPPER SAMPLES_DIR MAKE_FIXTURE
set -euo pipefail
shopt -s nullglob
linux=$1
windows=$2
samples=$3
make_fixture=$4
[ -f "$samples/MANIFEST.tsv" ] || { echo "no samples at $samples"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
samples_abs=$(cd "$samples" && pwd)

kind_of() {
  case $1 in
    frx/*) echo vb-bin ;; dfm/*) echo delphi-dfm ;; delphiexe/*) echo delphi-exe ;; *) echo vb-exe ;;
  esac
}

compared=0
while IFS= read -r file; do
  kind=$(kind_of "$file")
  name=$(basename "$file")
  for side in lin win; do
    rm -rf "${work:?}/$side"; mkdir -p "$work/$side"; cp "$samples/$file" "$work/$side/$name"
  done
  if ! diff <("$linux" list --json --kind "$kind" "$samples_abs/$file" | grep -v '"source"') \
            <("$windows" list --json --kind "$kind" "$samples_abs/$file" | grep -v '"source"') > "$work/list.diff"; then
    echo "$file: the lists differ"; head "$work/list.diff"; exit 1
  fi
  "$linux" export --kind "$kind" "$work/lin/$name" > /dev/null
  "$windows" export --kind "$kind" "$work/win/$name" > /dev/null
  if ! diff <(sed "s|$work/lin/||" "$work/lin/$name.pic.log") <(sed "s|$work/win/||" "$work/win/$name.pic.log") > /dev/null; then
    echo "$file: the logs differ"; diff <(sed "s|$work/lin/||" "$work/lin/$name.pic.log") <(sed "s|$work/win/||" "$work/win/$name.pic.log") | head; exit 1
  fi
  for picture in "$work"/lin/"$name".[0-9]*; do
    cmp -s "$picture" "$work/win/$(basename "$picture")" || { echo "$file: $(basename "$picture") differs"; exit 1; }
  done
  [ -s "$work/lin/$name.pic.log" ] || { compared=$((compared + 1)); continue; }
  for side in lin win; do
    for picture in "$work/$side/$name".[0-9]*; do
      if [ "$kind" = vb-bin ] || [ "$kind" = delphi-dfm ]; then
        head -c 16 /dev/zero | tr '\0' 'Z' >> "$picture"
      else
        truncate -s $(( $(stat -c %s "$picture") / 2 )) "$picture"
      fi
    done
  done
  # Halved pictures are refused as incomplete (status 3): both sides must say the same.
  lin_status=0; win_status=0
  "$linux" import --kind "$kind" "$work/lin/$name.pic.log" > "$work/lin.out" || lin_status=$?
  "$windows" import --kind "$kind" "$work/win/$name.pic.log" > "$work/win.out" || win_status=$?
  [ "$lin_status" = "$win_status" ] || { echo "$file: import status $lin_status on Linux, $win_status under Wine"; exit 1; }
  diff <(sed "s|$work/lin/||" "$work/lin.out") <(sed "s|$work/win/||" "$work/win.out") > /dev/null ||
    { echo "$file: the import reports differ"; exit 1; }
  for suffix in "" .bak .orig; do
    [ -e "$work/lin/$name$suffix" ] || [ ! -e "$work/win/$name$suffix" ] || { echo "$file: $name$suffix only under Wine"; exit 1; }
    [ ! -e "$work/lin/$name$suffix" ] || cmp -s "$work/lin/$name$suffix" "$work/win/$name$suffix" ||
      { echo "$file: the imported $name$suffix differs"; exit 1; }
  done
  diff <(sed "s|$work/lin/||" "$work/lin/$name.pic.log") <(sed "s|$work/win/||" "$work/win/$name.pic.log") > /dev/null ||
    { echo "$file: the rewritten logs differ"; exit 1; }
  compared=$((compared + 1))
done < <(tail -n +2 "$samples/MANIFEST.tsv" | cut -f7 | sort -u | grep -v '\.\(frm\|ctl\)$')

# A Traditional Chinese file name (Big5 in the code page 950 log), exported and imported.
mkdir -p "$work/big5"
source="$work/big5/圖像.frx"
"$make_fixture" "$source"
cp "$source" "$work/big5/original"
"$windows" export "$source" > "$work/big5/export.out"
grep -q '圖像.frx.002.ico' "$work/big5/export.out"
[ -f "$work/big5/圖像.frx.005.jpg" ]
iconv -f CP950 -t UTF-8 < "$source.pic.log" | grep -q "圖像.frx.002.ico"
"$windows" import "$source.pic.log" > /dev/null
cmp "$source" "$work/big5/original"
echo "$compared samples give the same results on Linux and under Wine; the Big5 name round trip works"
