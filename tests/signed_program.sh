#!/usr/bin/env bash
# A program signed with a certificate of our own (osslsigncode): import refuses it and writes
# nothing; with --remove-signature it goes in, the certificate table is gone and the report says so.
# Given the samples folder, the same for a real VB program signed likewise, whose checksum must
# verify afterwards.
set -euo pipefail
cli=$1
make_fixture=$2
samples=${3:-}
command -v osslsigncode > /dev/null && command -v openssl > /dev/null || { echo "no osslsigncode"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$make_fixture" --program plain.exe
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=Falcet test" 2> /dev/null
osslsigncode sign -certs cert.pem -key key.pem -in plain.exe -out prog.exe > /dev/null
osslsigncode verify -CAfile cert.pem -in prog.exe > /dev/null 2>&1 || { echo "the signed fixture does not verify"; exit 1; }
cp prog.exe signed.exe

"$cli" export --kind vb-exe prog.exe > /dev/null
status=0
"$cli" import --kind vb-exe prog.exe.pic.log > out 2> err || status=$?
[ "$status" -eq 1 ] || { echo "a signed program was imported (exit $status)"; exit 1; }
grep -q '數位簽章' err
cmp prog.exe signed.exe
[ ! -e prog.exe.bak ]

"$cli" import --kind vb-exe --remove-signature prog.exe.pic.log > out
grep -q '已移除程式的數位簽章' out
grep -q '匯入完成！' out
if osslsigncode verify -CAfile cert.pem -in prog.exe > /dev/null 2>&1; then echo "still signed"; exit 1; fi
[ "$(stat -c %s prog.exe)" -lt "$(stat -c %s signed.exe)" ]
if command -v x86_64-w64-mingw32-objdump > /dev/null; then
  # Through a file: grep -q stops reading early, and objdump's broken pipe would fail the step.
  x86_64-w64-mingw32-objdump -p prog.exe > headers
  grep -q 'Entry 4 00000000 00000000 Security Directory' headers
fi
cmp prog.exe.orig signed.exe
"$make_fixture" --checksum prog.exe > /dev/null || { echo "stale checksum after removing the signature"; exit 1; }

real=$(ls "$samples"/vbexe/*.exe 2> /dev/null | head -n 1 || true)
if [ -n "$real" ]; then
  osslsigncode sign -certs cert.pem -key key.pem -in "$real" -out real.exe > /dev/null
  cp real.exe real-signed.exe
  "$cli" export --kind vb-exe real.exe > /dev/null
  status=0
  "$cli" import --kind vb-exe real.exe.pic.log > out 2> err || status=$?
  [ "$status" -eq 1 ] || { echo "a signed sample was imported (exit $status)"; exit 1; }
  cmp real.exe real-signed.exe
  "$cli" import --kind vb-exe --remove-signature real.exe.pic.log > out
  grep -q '已移除程式的數位簽章' out
  if osslsigncode verify -CAfile cert.pem -in real.exe > /dev/null 2>&1; then echo "sample still signed"; exit 1; fi
  "$make_fixture" --checksum real.exe || { echo "stale checksum on $(basename "$real")"; exit 1; }
  if command -v x86_64-w64-mingw32-objdump > /dev/null; then
    x86_64-w64-mingw32-objdump -p real.exe > headers
    grep -q 'Entry 4 00000000 00000000 Security Directory' headers
  fi
  echo "signed sample $(basename "$real") ok"
fi
echo "signed program ok"
