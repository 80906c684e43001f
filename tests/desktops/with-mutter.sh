#!/usr/bin/env bash
# Runs a command inside a private headless GNOME session, which ends with it;
# the command's exit status is this script's. GNOME's compositor, mutter, runs
# headless on a virtual monitor of 1024 x 768, on a session bus of its own,
# beside PipeWire and its session manager, through which mutter's screen casts
# reach their readers (tests/desktops/mutter_desktop.py). The session has a home and a
# runtime folder of its own, removed at the end with the rest. Programs started
# in it see a GNOME Wayland session, as on a user's desktop. mutter writes the
# Wayland requests it receives to the file named by TARVEK_COMPOSITOR_LOG.
# Exits 77 (a skip, to CTest) when mutter, PipeWire, its session manager,
# GStreamer's PipeWire source or Qt's Wayland plug-in is not installed.
#
#   with-mutter [--for-timing] COMMAND [ARG...]
#
# --for-timing: a session for measuring what reaches the screen: mutter alone,
# with no protocol log and no PipeWire (no screen casts), so that nothing but
# the programs measured keeps the compositor busy.
set -uo pipefail
skip() { echo "with-mutter: $1 is not installed; skipped" >&2; exit 77; }
timing=
if [ "${1:-}" = --for-timing ]; then
    timing=1
    shift
fi
tools=(mutter dbus-daemon)
[ -n "$timing" ] || tools+=(pipewire wireplumber pw-cli)
for tool in "${tools[@]}"; do
    command -v "$tool" >/dev/null || skip "$tool"
done
# From here on in a home of its own: GStreamer, asked below, keeps its
# registry in the home's cache.
session=$(mktemp -d)
source "$(dirname "$0")/../../scripts/private-home.sh"
private_home "$session/home"
unset DISPLAY WAYLAND_DISPLAY WAYLAND_SOCKET
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$session"' EXIT
[ -n "$timing" ] || /usr/bin/python3 -c 'import gi; gi.require_version("Gst", "1.0"); from gi.repository import Gst; Gst.init(None)
assert Gst.ElementFactory.find("pipewiresrc") and Gst.ElementFactory.find("appsink")' 2>/dev/null \
    || skip "GStreamer for Python with its PipeWire source (gstreamer1.0-pipewire, gstreamer1.0-plugins-base, gir1.2-gst-plugins-base-1.0)"
if command -v dpkg-query >/dev/null && ! dpkg-query -W -f='${Status}' qt6-wayland 2>/dev/null | grep -q 'ok installed'; then
    skip "qt6-wayland (Qt's Wayland plug-in)"
fi
dbus-daemon --session --nofork --nopidfile --address="unix:path=$session/bus" >"$session/bus.log" 2>&1 &
export DBUS_SESSION_BUS_ADDRESS=unix:path=$session/bus
for _ in $(seq 200); do
    [ -S "$session/bus" ] && break
    sleep 0.05
done
if [ -z "$timing" ]; then
    pipewire >"$session/pipewire.log" 2>&1 &
    # The session manager gives up if PipeWire is not listening yet.
    for _ in $(seq 200); do
        [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break
        sleep 0.05
    done
    wireplumber >"$session/wireplumber.log" 2>&1 &
fi
export TARVEK_COMPOSITOR_LOG=$session/mutter.log
if [ -z "$timing" ]; then
    WAYLAND_DEBUG=server mutter --headless --wayland --no-x11 --virtual-monitor 1024x768 >"$TARVEK_COMPOSITOR_LOG" 2>&1 &
else
    mutter --headless --wayland --no-x11 --virtual-monitor 1024x768 >"$TARVEK_COMPOSITOR_LOG" 2>&1 &
fi
mutter=$!
for _ in $(seq 200); do
    socket=$(cd "$XDG_RUNTIME_DIR" && ls wayland-* 2>/dev/null | grep -v lock | head -n 1)
    [ -n "$socket" ] && break
    kill -0 "$mutter" 2>/dev/null || break
    sleep 0.05
done
if [ -z "$socket" ]; then
    echo "with-mutter: mutter did not start" >&2
    grep -v '^\[' "$TARVEK_COMPOSITOR_LOG" | tail -n 20 >&2
    exit 1
fi
# A screen cast's reader is linked to mutter's stream by PipeWire's session
# manager, which is ready once it has connected its export client.
manager_ready() {
    local clients
    clients=$(timeout 2 pw-cli ls Client 2>/dev/null)
    grep -q 'application.name = "WirePlumber \[export\]"' <<<"$clients"
}
if [ -z "$timing" ]; then
    for _ in $(seq 200); do
        manager_ready && break
        sleep 0.05
    done
    if ! manager_ready; then
        echo "with-mutter: PipeWire's session manager did not start" >&2
        tail -n 20 "$session/pipewire.log" "$session/wireplumber.log" >&2
        exit 1
    fi
fi
# As in a GNOME session, where Qt programs choose Wayland by themselves.
export WAYLAND_DISPLAY=$socket XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME
"$@"
