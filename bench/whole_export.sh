#!/usr/bin/env bash
# The whole command on a 512 MiB file from the page cache, in one run: cat, falcet-cli export and
# scalpel in preview mode given the shipped kinds' markers as header signatures. Best of five for
# each, with peak resident memory. The file is the benchmark's planted one (4000 VB pictures), or
# PROGRAM (a real program) over and over. Each export after the first finds its picture files in
# place, as a second export does. Usage: bench/whole_export.sh BUILD_DIR [MIB] [PROGRAM]
set -euo pipefail
build=$1
mib=${2:-512}
program=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
kind=(--kind vb-exe)
if [ -n "$program" ]; then
  count=$(( (mib << 20) / $(stat -c %s "$program") + 1 ))
  for _ in $(seq "$count"); do cat "$program"; done > "$work/big.exe"
  truncate -s $((mib << 20)) "$work/big.exe"
  kind=()
else
  "$build/bench/falcet_bench" --write "$work/big.exe" "$mib"
fi
cat "$work/big.exe" > /dev/null

best() {  # best LABEL COMMAND...: the best wall time of five runs (ms resolution), peak resident
  local label=$1 best_t= t
  shift
  TIMEFORMAT=%R
  for _ in 1 2 3 4 5; do
    rm -rf "$work/scalpel-out"
    t=$( { time "$@" > /dev/null 2>&1; } 2>&1 )
    if [ -z "$best_t" ] || [ "$(echo "$t < $best_t" | bc)" = 1 ]; then best_t=$t; fi
  done
  rm -rf "$work/scalpel-out"
  /usr/bin/time -f '%M' -o "$work/mem" "$@" > /dev/null 2>&1
  printf '%-12s %7s s  %8s KB\n' "$label" "$best_t" "$(cat "$work/mem")"
  echo "$best_t" > "$work/t.$label"
}

best cat cat "$work/big.exe"
best falcet-cli "$build/falcet-cli" export "${kind[@]}" "$work/big.exe"
if command -v scalpel > /dev/null; then
  # One rule per kind: its marker as the header, no footer, pictures up to 1 MB.
  "$build/falcet-cli" kinds | while IFS=$'\t' read -r _ name hex _; do
    [ -n "$hex" ] || continue
    printf '%s\ty\t1000000\t%s\n' "${name//./_}" "$(echo "$hex" | sed 's/../\\x&/g')"
  done > "$work/scalpel.conf"
  best scalpel-p scalpel -p -c "$work/scalpel.conf" -o "$work/scalpel-out" "$work/big.exe"
fi
cat_t=$(cat "$work/t.cat") cli_t=$(cat "$work/t.falcet-cli")
echo "falcet-cli / cat: $(echo "scale=2; $cli_t / $cat_t" | bc)"
[ -f "$work/t.scalpel-p" ] && echo "scalpel -p / falcet-cli: $(echo "scale=1; $(cat "$work/t.scalpel-p") / $cli_t" | bc)"
wc -l < "$work/big.exe.pic.log" | sed 's/^/pictures exported: /'
