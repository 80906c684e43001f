# Sourced by the other scripts: installs the Debian packages that are missing,
# and nothing when all are there.

# Everything the build, the tests and the demo need.
TARVEK_PACKAGES=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev libgl-dev
    fonts-liberation2         # the font, embedded
    qt6-translations-l10n     # Qt's Russian texts, read from the system
    xvfb xdotool openbox wmctrl  # the X11 real-window test and the headless demo
    dbus-daemon               # the X11 test's session bus
    libxcb1-dev               # the benchmark sees the window mapped
    dpkg-dev file             # the .deb: dpkg-shlibdeps finds its dependencies
    lintian appstream desktop-file-utils man-db  # the package check
)

# The Wayland real-window test's and the benchmark's view of what reaches a
# Wayland screen; without them that test is skipped and that part of the
# benchmark says it was not measured.
TARVEK_WAYLAND_PACKAGES=(qt6-wayland sway grim wtype libwayland-dev qt6-base-private-dev)
# What a screen reader reads the window with: the accessibility bus and its
# Python client; without them that check is skipped.
TARVEK_ACCESSIBILITY_PACKAGES=(at-spi2-core python3-pyatspi)
# The Windows resources' check: MinGW's resource compiler, linker and headers,
# and icoutils to read them back; without them that check is skipped.
TARVEK_WINDOWS_PACKAGES=(binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev icoutils)

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
