#!/usr/bin/env bash
# Import on a file system too small for the new content: the import fails with the write-error
# message and a non-zero status, the source stays byte for byte as it was, and no temporary file
# is left. Needs root to mount a tmpfs; skips (exit 77) where mounting is not allowed.
set -euo pipefail
cli=$1
make_fixture=$2
work=$(mktemp -d)
mnt="$work/small"
mkdir "$mnt"
cleanup() { umount "$mnt" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
if ! mount -t tmpfs -o size=1m tmpfs "$mnt" 2>/dev/null; then
  echo "cannot mount a tmpfs here: skipped"
  exit 77
fi
"$make_fixture" "$mnt/form.bin"
head -c $((600 * 1024)) /dev/zero >> "$mnt/form.bin"
"$cli" export "$mnt/form.bin" > /dev/null
cp "$mnt/form.bin" "$work/original.bin"
if "$cli" import "$mnt/form.bin.pic.log" 2> "$work/err"; then
  echo "import should have failed"; exit 1
fi
grep -q '寫入檔案錯誤，請確認對此程序擁有寫入權限並且磁盤未滿！' "$work/err"
cmp "$mnt/form.bin" "$work/original.bin"
if ls -A "$mnt" | grep -q 'falcet-'; then echo "temporary file left"; ls "$mnt"; exit 1; fi
echo "write failure ok"
