#!/usr/bin/env bash
# Runs a command inside a private Xvfb server, which ends with it; the
# command's exit status is this script's. With --wm, an openbox window manager
# runs in the server too, so windows are closed as on a desktop; with --bus, the
# command runs on a session bus of its own (dbus-run-session), on which the
# desktop's services, the accessibility bus among them, start as they are asked
# for. The session gets a home and a runtime folder of its own (mode 0700), both
# removed at the end: it starts from nothing and leaves nothing in the caller's home.
# Not xvfb-run: the window manager's readiness and the private home would still
# be ours around it, and -displayfd gives a free display without its lock files.
set -uo pipefail
wm=0 bus=()
while [ $# -gt 0 ]; do
    case "$1" in
        --wm) wm=1 ;;
        --bus) bus=(dbus-run-session --) ;;
        *) break ;;
    esac
    shift
done
session=$(mktemp -d)
source "$(dirname "$0")/../../scripts/private-home.sh"
private_home "$session/home"
# -noreset: by default the server resets when its last client leaves, and a
# client that connects during the reset is turned away; a check that connects
# and leaves (xdotool, wmctrl) before the program or the window manager is in
# would make either fail to open the display now and then.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$session/display" 2>/dev/null &
xvfb=$!
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$session"' EXIT
for _ in $(seq 200); do
    [ -s "$session/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.05
done
if [ ! -s "$session/display" ]; then
    echo "with-xvfb: Xvfb did not start" >&2
    exit 1
fi
export DISPLAY=":$(head -n 1 "$session/display")"
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
if [ "$wm" -eq 1 ]; then
    openbox --sm-disable >"$session/openbox.log" 2>&1 &
    openbox=$!
    # The manager is ready once it has claimed the screen.
    for _ in $(seq 200); do
        wmctrl -m >/dev/null 2>&1 && break
        kill -0 "$openbox" 2>/dev/null || break
        sleep 0.05
    done
    if ! wmctrl -m >/dev/null 2>&1; then
        echo "with-xvfb: the window manager did not start: $(cat "$session/openbox.log")" >&2
        exit 1
    fi
    # The manager claims the screen before it has read its settings and entered
    # its event loop: it is taken as ready once it has acted on a request, here
    # to keep one desktop, asked again until it has.
    for _ in $(seq 100); do
        [ "$(wmctrl -d 2>/dev/null | wc -l)" -eq 1 ] && break
        wmctrl -n 1 2>/dev/null
        sleep 0.1
    done
    if [ "$(wmctrl -d 2>/dev/null | wc -l)" -ne 1 ]; then
        echo "with-xvfb: the window manager does not act on requests: $(cat "$session/openbox.log")" >&2
        exit 1
    fi
fi
"${bus[@]}" "$@"
