#!/usr/bin/env bash
# Runs a command inside a private headless Wayland compositor (sway), which ends
# with it; the command's exit status is this script's. The compositor refuses to
# run as root, so as root it runs as the unprivileged user nobody, with a runtime
# folder of its own, while the command keeps the caller's user and gets another;
# the command finds the compositor by the socket's full path. The command gets a
# home of its own too, removed at the end with the rest. Exits 77 (a skip,
# to CTest) when sway, grim, wtype or Qt's Wayland plug-in is not installed.
set -uo pipefail
for tool in sway swaymsg grim wtype; do
    command -v "$tool" >/dev/null || { echo "with-sway: $tool is not installed; skipped" >&2; exit 77; }
done
if command -v dpkg-query >/dev/null && ! dpkg-query -W -f='${Status}' qt6-wayland 2>/dev/null | grep -q 'ok installed'; then
    echo "with-sway: qt6-wayland (Qt's Wayland plug-in) is not installed; skipped" >&2
    exit 77
fi
session=$(mktemp -d)
chmod 0755 "$session"
mkdir -m 0700 "$session/compositor" "$session/client"
as_compositor=()
if [ "$(id -u)" -eq 0 ]; then
    as_compositor=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    chown nobody:nogroup "$session/compositor"
fi
cat >"$session/config" <<'CONFIG'
xwayland disable
default_border none
default_floating_border none
output HEADLESS-1 resolution 800x600 position 0 0
for_window [title="^Тарвек$"] move position 0 0
CONFIG
(
    unset DISPLAY WAYLAND_DISPLAY
    export HOME=$session/compositor XDG_RUNTIME_DIR=$session/compositor
    export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
    exec "${as_compositor[@]}" sway -c "$session/config" >"$session/sway.log" 2>&1
) &
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$session"' EXIT
for _ in $(seq 200); do
    SWAYSOCK=$(ls "$session"/compositor/sway-ipc.*.sock 2>/dev/null | head -n 1)
    socket=$(cd "$session/compositor" && ls wayland-* 2>/dev/null | grep -v lock | head -n 1)
    [ -n "$SWAYSOCK" ] && [ -n "$socket" ] && break
    sleep 0.05
done
if [ -z "$SWAYSOCK" ] || [ -z "$socket" ]; then
    echo "with-sway: sway did not start" >&2
    tail -n 20 "$session/sway.log" >&2
    exit 1
fi
unset DISPLAY DBUS_SESSION_BUS_ADDRESS
source "$(dirname "$0")/../../scripts/private-home.sh"
private_home "$session/home"
# As in a desktop's Wayland session, where Qt programs choose Wayland by themselves.
export SWAYSOCK WAYLAND_DISPLAY=$session/compositor/$socket XDG_RUNTIME_DIR=$session/client XDG_SESSION_TYPE=wayland
"$@"
