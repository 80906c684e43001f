#!/usr/bin/env bash
# Runs a command inside a private headless KDE Plasma compositor session, which
# ends with it; the command's exit status is this script's. KDE's compositor,
# KWin, runs on its virtual backend with one output of 1024 x 768, on a session
# bus of its own, with a home and a runtime folder of its own, removed at the
# end with the rest. Programs started in it see a KDE Wayland session, as on a
# user's desktop. KWin writes the Wayland requests it receives to the file
# named by TARVEK_COMPOSITOR_LOG. It lets any program of the session use its
# fake input protocol and its ScreenShot2 interface (its switches
# KWIN_WAYLAND_NO_PERMISSION_CHECKS and KWIN_SCREENSHOT_NO_PERMISSION_CHECKS, made
# for such tests), through which tests/desktops/kwin_desktop.py types and reads the
# screen. Exits 77 (a skip, to CTest) when KWin or Qt's Wayland plug-in is not
# installed.
#
#   with-kwin [--for-timing] COMMAND [ARG...]
#
# --for-timing: a session for measuring what reaches the screen, with no
# protocol log.
set -uo pipefail
skip() { echo "with-kwin: $1 is not installed; skipped" >&2; exit 77; }
timing=
if [ "${1:-}" = --for-timing ]; then
    timing=1
    shift
fi
for tool in kwin_wayland dbus-daemon; do
    command -v "$tool" >/dev/null || skip "$tool"
done
if command -v dpkg-query >/dev/null && ! dpkg-query -W -f='${Status}' qt6-wayland 2>/dev/null | grep -q 'ok installed'; then
    skip "qt6-wayland (Qt's Wayland plug-in)"
fi
session=$(mktemp -d)
source "$(dirname "$0")/../../scripts/private-home.sh"
private_home "$session/home"
unset DISPLAY WAYLAND_DISPLAY WAYLAND_SOCKET
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$session"' EXIT
dbus-daemon --session --nofork --nopidfile --address="unix:path=$session/bus" >"$session/bus.log" 2>&1 &
export DBUS_SESSION_BUS_ADDRESS=unix:path=$session/bus
for _ in $(seq 200); do
    [ -S "$session/bus" ] && break
    sleep 0.05
done
# Debian installs kwin_wayland with the file capability CAP_SYS_RESOURCE, with
# which it may raise its scheduling priority. Where the capability is not in
# the caller's bounding set (in a container, say), the kernel refuses to start
# a program that carries it; a copy of the program, which the capability does
# not follow, runs the same code without it.
kwin=$(command -v kwin_wayland)
bounding=$(awk '/^CapBnd:/ { print $2 }' /proc/self/status)
if (( (16#${bounding:-0} >> 24 & 1) == 0 )); then
    cp "$kwin" "$session/kwin_wayland"
    kwin=$session/kwin_wayland
fi
export TARVEK_COMPOSITOR_LOG=$session/kwin.log
# KWin chooses its own Qt platform; the caller's choice is for the command.
(
    unset QT_QPA_PLATFORM
    export KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1
    [ -n "$timing" ] || export WAYLAND_DEBUG=server
    exec "$kwin" --virtual --width 1024 --height 768 --no-lockscreen --socket wayland-kwin
) >"$TARVEK_COMPOSITOR_LOG" 2>&1 &
kwin_pid=$!
for _ in $(seq 400); do
    [ -S "$XDG_RUNTIME_DIR/wayland-kwin" ] && break
    kill -0 "$kwin_pid" 2>/dev/null || break
    sleep 0.05
done
if [ ! -S "$XDG_RUNTIME_DIR/wayland-kwin" ]; then
    echo "with-kwin: KWin did not start" >&2
    grep -v '^\[' "$TARVEK_COMPOSITOR_LOG" | tail -n 20 >&2
    exit 1
fi
# As in a Plasma session, where Qt programs choose Wayland by themselves.
export WAYLAND_DISPLAY=wayland-kwin XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true
"$@"
