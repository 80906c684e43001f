#!/usr/bin/env bash
# Runs a test of the Windows build in an X server of its own, with a window
# manager, and a Wine of its own: Wine's server and desktop process, which
# outlive the programs, are ended before and after, so that each test's
# windows go to that test's X server. Its exit status is the test's.
#   under_wine.sh --qtest PROGRAM.exe [ARGS]   a Qt Test program, run by Wine;
#                                             its log goes through a file, since
#                                             Wine loses console output once the
#                                             program has a window
#   under_wine.sh COMMAND [ARGS]               a native command that starts Wine itself
set -uo pipefail
qtest=0
[ "${1:-}" = --qtest ] && { qtest=1; shift; }
log=$(mktemp)
trap '"$(dirname "$0")/wine_tidy.sh"; rm -f "$log"' EXIT
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
if [ "$qtest" -eq 1 ]; then
    # Wine sees the Unix root as drive Z:.
    "$(dirname "$0")/desktops/with-xvfb.sh" --wm wine "$@" -o "Z:${log//\//\\},txt" 2>&1 \
        | grep -v '^X connection to .* broken'
    status=${PIPESTATUS[0]}
    cat "$log"
else
    "$(dirname "$0")/desktops/with-xvfb.sh" --wm "$@"
    status=$?
fi
exit "$status"
