#!/usr/bin/env bash
# A screenshot of Tarvek's window as GNOME or KDE shows it: the program of a
# build, started in the build's demo folder in a private headless session of
# the desktop's compositor (tests/desktops/with-mutter.sh, tests/desktops/with-kwin.sh), taken
# through the compositor's own screen reading (tests/desktops/mutter_desktop.py,
# tests/desktops/kwin_desktop.py) once the window is on screen, with its title bar and a
# margin of the desktop around it. KDE's needs the test build's kwin-fake-input.
#   tests/desktops/desktop-shot.sh gnome|kde BUILD OUT.png     e.g. tests/desktops/desktop-shot.sh gnome build/dev docs/gnome-window-debian12.png
set -euo pipefail
[ $# -eq 3 ] && [[ $1 == gnome || $1 == kde ]] || { echo "usage: tests/desktops/desktop-shot.sh gnome|kde BUILD OUT.png" >&2; exit 2; }
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$2" && pwd) out=$(realpath "$3")
if [ "$1" = gnome ]; then
    session=$here/tests/desktops/with-mutter.sh reader=("$here/tests/desktops/mutter_desktop.py")
else
    session=$here/tests/desktops/with-kwin.sh reader=("$here/tests/desktops/kwin_desktop.py" "$build/tests/kwin-fake-input")
fi
exec "$session" bash -c '
    set -euo pipefail
    cd "$1/demo"
    "$1/app/tarvek" &
    coproc desktop { "${@:3}"; }
    read -r ready _ <&"${desktop[0]}"
    for _ in $(seq 100); do
        echo window >&"${desktop[1]}"
        read -r x y w h <&"${desktop[0]}"
        [ "$x" != none ] && break
        sleep 0.1
    done
    [ "$x" != none ] || { echo "desktop-shot: the window never showed" >&2; exit 1; }
    sleep 1 # the title bar drawn and the window activated
    echo "png $2 $((x - 24)) $((y - 56)) $((w + 48)) $((h + 80))" >&"${desktop[1]}"
    read -r done <&"${desktop[0]}"
    kill %1
    echo "desktop-shot: $2"
' desktop-shot "$build" "$out" "${reader[@]}"
