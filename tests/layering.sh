#!/usr/bin/env bash
# Fails when an #include "…" in src/ points to a folder (or file) that the layer table of the
# README does not allow for the including file's folder. The table's rows look like
#   | `src/transfer` | what | settings, util, platform, texts |
# where the last column names the folders below (a folder may use everything that those may use)
# and may name single headers such as `base/ascii.hpp`. Usage: layering.sh README SRC_DIR
set -euo pipefail
readme=$1
src=$2

declare -A direct
while IFS='|' read -r _ folder _ deps _; do
  folder=$(echo "$folder" | tr -d '` ')
  [[ $folder == src/* ]] || continue
  direct[${folder#src/}]=$(echo "$deps" | tr -d '`' | tr ',' ' ')
done < "$readme"
[ ${#direct[@]} -gt 0 ] || { echo "no layer table in $readme"; exit 1; }

# Everything a folder may include: itself, what it names, and what those may include.
allowed_for() {
  local start=$1 queue=("$1") seen=" $1 " item dep
  while [ ${#queue[@]} -gt 0 ]; do
    item=${queue[0]}
    queue=("${queue[@]:1}")
    for dep in ${direct[$item]:-}; do
      [[ $seen == *" $dep "* ]] && continue
      seen+="$dep "
      [[ -n ${direct[$dep]+x} ]] && queue+=("$dep")
    done
  done
  echo "$seen"
}

status=0
for folder in "${!direct[@]}"; do
  allowed=$(allowed_for "$folder")
  [ -d "$src/$folder" ] || { echo "the table names src/$folder, which does not exist"; status=1; continue; }
  while IFS=: read -r file line include; do
    target=$(echo "$include" | sed 's/.*#include "\([^"]*\)".*/\1/')
    top=${target%%/*}
    [[ $target == */* ]] || continue  # a header beside the file
    if [[ $allowed != *" $top "* && $allowed != *" $target "* ]]; then
      echo "$file:$line: includes $target, but src/$folder may use only:$allowed"
      status=1
    fi
  done < <(grep -n '#include "' "$src/$folder"/* || true)
done
for dir in "$src"/*/; do
  name=$(basename "$dir")
  [[ -n ${direct[$name]+x} ]] || { echo "src/$name is not in the layer table"; status=1; }
done
exit $status
