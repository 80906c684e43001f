#!/usr/bin/env bash
# Builds the .deb from the build folder given and checks what it installs and
# what it depends on.
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/*.deb)
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
fail=0
expect() { grep -qx -- "$1" <<<"$files" || { echo "missing from the package: $1"; fail=1; }; }
expect ./usr/bin/tarvek
expect ./usr/share/applications/tarvek.desktop
expect ./usr/share/icons/hicolor/16x16/apps/tarvek.xpm
expect ./usr/share/icons/hicolor/32x32/apps/tarvek.xpm
expect ./usr/share/icons/hicolor/scalable/apps/tarvek.svg
expect ./usr/share/tarvek/demo/-1.bmp
for n in $(seq 32); do expect "./usr/share/tarvek/demo/$n.bmp"; done

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
    grep -q "$lib" <<<"$depends" || { echo "no dependency on $lib: $depends"; fail=1; }
done
entry=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/applications/tarvek.desktop)
for line in 'Name=Тарвек' 'Exec=tarvek' 'Path=/usr/share/tarvek/demo' 'Icon=tarvek'; do
    grep -qx -- "$line" <<<"$entry" || { echo "desktop entry lacks: $line"; fail=1; }
done
[ "$fail" -eq 0 ] && echo "package ok: $(basename "$deb")"
exit "$fail"
