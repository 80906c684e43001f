# Sourced by the other scripts: installs the Debian packages that are missing,
# and nothing when all are there.

# Everything the build, the tests and the demo need.
TARVEK_PACKAGES=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev libgl-dev
    fonts-liberation2 qt6-translations-l10n  # the font and Qt's Russian texts, embedded
    xvfb xdotool openbox wmctrl  # the X11 real-window test and the headless demo
    dbus-daemon               # the X11 test's session bus
    libxcb1-dev               # the benchmark sees the window mapped
    dpkg-dev file             # the .deb: dpkg-shlibdeps finds its dependencies
    lintian appstream desktop-file-utils man-db  # the package check
)

# The Wayland real-window test's; without them that test is skipped, not failed.
TARVEK_WAYLAND_PACKAGES=(qt6-wayland sway grim wtype)
# What a screen reader reads the window with: the accessibility bus and its
# Python client; without them that check is skipped.
TARVEK_ACCESSIBILITY_PACKAGES=(at-spi2-core python3-pyatspi)

ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}
