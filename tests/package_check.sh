#!/usr/bin/env bash
# Builds the .deb from the build folder given and checks what it installs, what
# it depends on, its desktop entry and metadata, and Debian's own verdict on it.
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/*.deb)
dpkg-deb -x "$deb" "$out/root"
fail=0
id=invalid.tarvek.Tarvek
for file in bin/tarvek share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/icons/hicolor/{16x16,32x32}/apps/tarvek.xpm share/icons/hicolor/scalable/apps/tarvek.svg \
    share/man/man1/tarvek.1.gz share/man/ru/man1/tarvek.1.gz share/doc/tarvek/{copyright,changelog.gz} \
    share/tarvek/demo/-1.bmp share/tarvek/demo/{1..32}.bmp; do
    [ -f "$out/root/usr/$file" ] || { echo "missing from the package: /usr/$file"; fail=1; }
done
grep -q 'qt6-qpa-plugins' <<<"$(dpkg-deb -f "$deb" Depends)" || { echo "no dependency on qt6-qpa-plugins"; fail=1; }
[ "$(dpkg-deb -f "$deb" Recommends)" = qt6-wayland ] || { echo "qt6-wayland is not recommended"; fail=1; }
for line in 'Name=Тарвек' 'Exec=tarvek' 'Path=/usr/share/tarvek/demo' 'Icon=tarvek'; do
    grep -qx -- "$line" "$out/root/usr/share/applications/$id.desktop" || { echo "desktop entry lacks: $line"; fail=1; }
done
desktop-file-validate "$out/root/usr/share/applications/$id.desktop" || fail=1
appstreamcli validate --no-net "$out/root/usr/share/metainfo/$id.metainfo.xml" >"$out/appstream" || { cat "$out/appstream"; fail=1; }
for page in man1 ru/man1; do # the manual pages read cleanly
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$out/root/usr/share/man/$page/tarvek.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page/tarvek.1: $warnings"; fail=1; }
done
# No errors and no warnings from lintian; running it as root is a warning of its own.
verdict=$(lintian --fail-on error,warning "$deb" 2>&1 | grep -v 'running with root privileges' || true)
[ -z "$verdict" ] || { echo "$verdict"; fail=1; }
[ "$fail" -eq 0 ] && echo "package ok: $(basename "$deb")"
exit "$fail"
