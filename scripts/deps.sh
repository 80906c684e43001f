# Sourced by the other scripts: installs the Debian packages that are missing,
# and nothing when all are there.

# The package of Liberation Sans 2, the program's font: Debian 13 and
# later have it in fonts-liberation, Debian 12 in fonts-liberation2, beside a
# fonts-liberation of the older 1.07 fonts.
liberation2_package() {
    local version
    version=$(apt-cache show --no-all-versions fonts-liberation 2>/dev/null | sed -n 's/^Version: //p' | head -n 1)
    if [ -n "$version" ] && dpkg --compare-versions "$version" ge 1:2; then
        echo fonts-liberation
    else
        echo fonts-liberation2
    fi
}

# Everything the build, the tests and the demo need.
TARVEK_PACKAGES=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev libgl-dev
    fontconfig libfontconfig-dev "$(liberation2_package)"  # the font, found through fontconfig
    qt6-translations-l10n     # Qt's Russian texts, read from the system
    xvfb xdotool openbox wmctrl  # the X11 real-window test and the headless demo
    dbus-daemon               # the X11 test's session bus
    python3-gi gir1.2-glib-2.0  # the X11 test opens folders as file managers do, through GIO
    libxcb1-dev               # the benchmark sees the window mapped
    file                      # the headless demo's test reads its screenshots' kind
)

# The Wayland real-window test's and the benchmark's view of what reaches a
# Wayland screen; without them that test is skipped and that part of the
# benchmark says it was not measured.
TARVEK_WAYLAND_PACKAGES=(qt6-wayland sway grim wtype libwayland-dev wayland-protocols qt6-base-private-dev)
# GNOME's compositor for the real-window test under GNOME, with what reads its
# screen: PipeWire, its session manager and GStreamer's PipeWire source for
# Python; without them that test is skipped.
TARVEK_GNOME_PACKAGES=(mutter pipewire wireplumber gstreamer1.0-pipewire gstreamer1.0-plugins-base
    gir1.2-gst-plugins-base-1.0 python3-gi qt6-wayland)
# KDE's compositor for the real-window test under KDE, with its window
# decoration and the description of its fake input protocol, from which the
# test's keyboard (kwin-fake-input) is built; without them that test is skipped.
TARVEK_KDE_PACKAGES=(kwin-wayland kwin-style-breeze plasma-wayland-protocols libwayland-dev python3-gi
    gir1.2-glib-2.0 qt6-wayland)
# What a screen reader reads the window with: the accessibility bus and its
# Python client; without them that check is skipped.
TARVEK_ACCESSIBILITY_PACKAGES=(at-spi2-core python3-pyatspi)
# The Windows resources' check: MinGW's resource compiler, linker and headers,
# and icoutils to read them back; without them that check is skipped.
TARVEK_WINDOWS_PACKAGES=(binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev icoutils)
# The Windows build (scripts/windows): the MinGW-w64 compilers, Wine to run
# its tests, and dpkg-dev for Debian's qt6-base source.
TARVEK_WINDOWS_BUILD_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev zip)
# The Windows installer: wixl and msitools to make and finish it, and what its
# test under Wine reads it with (the shortcut, the frames' opens, the zip).
TARVEK_INSTALLER_PACKAGES=(wixl msitools python3-olefile liblnk-utils inotify-tools unzip)

# The Debian packages' build: Debian's tools.
TARVEK_PACKAGING_PACKAGES=(dpkg-dev debhelper xz-utils)
# What the package check reads the packages with and builds them again with,
# and what it asks the desktops' defaults of.
TARVEK_PACKAGE_CHECK_PACKAGES=(lintian appstream desktop-file-utils man-db reprotest faketime
    libglib2.0-bin xdg-utils shared-mime-info reuse)

# CI's own steps: ImageMagick compares the window's screenshots from two
# machines pixel by pixel.
TARVEK_CI_PACKAGES=(imagemagick)

# The Debian build in a clean chroot (scripts/debian): the chroots, the
# builder, the check of its log's flags, the tests of the installed packages,
# and the emulator the arm64 program is played under, with the tool that
# watches its frames' opens.
TARVEK_DEBIAN_PACKAGES=(mmdebstrap sbuild uidmap blhc autopkgtest lintian qemu-user-static file inotify-tools)

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

# Lets apt-get source fetch from the same archives the machine installs from:
# a deb-src entry beside each deb entry, in a file of our own.
ensure_deb_src() {
    apt-get source --print-uris -q qt6-base >/dev/null 2>&1 && return 0
    local sudo=() f
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -e "$f" ] || continue
        case "$f" in *tarvek-deb-src*) continue ;; esac
        sed -n '/^Types:/s/\<deb\>/deb-src/;p' "$f"
        echo
    done | "${sudo[@]}" tee /etc/apt/sources.list.d/tarvek-deb-src.sources >/dev/null
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null \
        | sed -n 's/^deb \(.*\)/deb-src \1/p' | "${sudo[@]}" tee /etc/apt/sources.list.d/tarvek-deb-src.list >/dev/null
    "${sudo[@]}" apt-get update -q
}

# Installs what an unpacked source package, DIR, needs to be built with the
# build profiles in DEB_BUILD_PROFILES, and nothing when all is there.
ensure_build_dependencies() {
    local profiles=()
    [ -z "${DEB_BUILD_PROFILES:-}" ] || profiles=(-P "${DEB_BUILD_PROFILES// /,}")
    (cd "$1" && dpkg-checkbuilddeps "${profiles[@]}") >/dev/null 2>&1 && return 0
    echo "Installing the build dependencies of $(basename "$1")" >&2
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get build-dep -y -q --no-install-recommends "${profiles[@]}" "$(realpath "$1")"
}

# sbuild and mmdebstrap map a user namespace's users onto a range of the
# caller's own: the caller's line in /etc/subuid and /etc/subgid, added when missing.
ensure_subordinate_ids() {
    local file sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    for file in /etc/subuid /etc/subgid; do
        grep -q "^$(id -un):" "$file" 2>/dev/null && continue
        echo "Adding a range of subordinate ids for $(id -un) to $file" >&2
        echo "$(id -un):$((100000 + $(id -u) * 65536)):65536" | "${sudo[@]}" tee -a "$file" >/dev/null
    done
}

# mirrors RELEASE: the archive of RELEASE, as mmdebstrap is given it.
mirrors() {
    if [ "$1" = unstable ]; then
        echo "deb http://deb.debian.org/debian unstable main"
    else
        echo "deb http://deb.debian.org/debian $1 main"
        echo "deb http://deb.debian.org/debian $1-updates main"
        echo "deb http://deb.debian.org/debian-security $1-security main"
    fi
}
