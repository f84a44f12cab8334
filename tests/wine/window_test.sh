#!/usr/bin/env bash
# falcet.exe under Wine and Xvfb, checked from outside by window_probe.exe: the window with the
# shipped settings; the result views after exporting and importing a form with 72 pictures; the
# progress of an export of 6000 pictures; then a settings file without kinds (one message, no
# window).
# Usage: window_test.sh BUILD_WIN_DIR FIXTURE_GENERATOR   (WINEPREFIX set by the caller)
set -euo pipefail
build=$1
fixture=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/ok" "$work/nokinds"
cp "$build/falcet.exe" "$build/Falcet.ini" "$work/ok/"
cp "$build/falcet.exe" "$work/nokinds/"
sed '/^00[0-9]=/d' "$build/Falcet.ini" > "$work/nokinds/Falcet.ini"
"$fixture" --many 72 "$work/ok/gallery.dfm"
"$fixture" --many 6000 "$work/ok/large.dfm"
gallery=$(winepath -w "$work/ok/gallery.dfm" 2> /dev/null)
large=$(winepath -w "$work/ok/large.dfm" 2> /dev/null)
probe="$build/tests/window_probe.exe"
status=0
# The program is given a few seconds to end after the probe closed it, then stopped.
LANG=zh_TW.UTF-8 timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  finish() { for i in $(seq 50); do kill -0 $1 2> /dev/null || return 0; sleep 0.1; done; kill $1 2> /dev/null || true; }
  wine "'"$work"'/ok/falcet.exe" & pid=$!
  status=0
  wine "'"$probe"'" window || status=$?
  finish $pid
  wine "'"$work"'/ok/falcet.exe" & pid=$!
  wine "'"$probe"'" result "'"$gallery"'" 73 || status=$?
  finish $pid
  wine "'"$work"'/ok/falcet.exe" & pid=$!
  wine "'"$probe"'" progress "'"$large"'" || status=$?
  finish $pid
  wine "'"$work"'/nokinds/falcet.exe" & pid=$!
  wine "'"$probe"'" startup-error || status=$?
  finish $pid
  exit $status
' > "$work/out" 2>&1 || status=$?
tr -d '\r' < "$work/out" | grep -v '^X connection\|^err:\|^fixme:' || true
exit $status
