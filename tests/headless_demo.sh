#!/usr/bin/env bash
# The headless demo of scripts/run, on the build given: it must exit 0, print
# only its own two lines and leave two screenshots of the whole window.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(TARVEK_BUILD_DIR=$1 "$root/tests/desktops/with-xvfb.sh" "$root/scripts/run" --headless-demo 2>&1)
status=$?
echo "$out"
[ "$status" -eq 0 ] || { echo "FAIL: exit status $status"; exit 1; }
[ "$(grep -vc '^Screenshots: \|^             ' <<<"$out")" -eq 0 ] || { echo "FAIL: lines not its own"; exit 1; }
for shot in "$1/demo-part-way.png" "$1/demo-end.png"; do
    file "$shot" | grep -q 'PNG image data, 320 x 309' || { echo "FAIL: $shot: $(file "$shot")"; exit 1; }
done
cmp -s "$1/demo-part-way.png" "$1/demo-end.png" && { echo "FAIL: the demo did not move on"; exit 1; }
echo "headless demo ok"
