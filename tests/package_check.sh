#!/usr/bin/env bash
# package_check.sh DIR: checks the Debian packages scripts/package made in DIR
# (the source package, the two .debs and the .changes): what they install, what
# they depend on, the desktop entries and metadata, that no entry makes Tarvek
# a default, Debian's own verdict on them, and, with reprotest, that a second
# build from the source package, in another folder, under another umask,
# locale and time zone and at another time, gives the same bytes.
set -euo pipefail
dir=$(realpath "$1")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
version=1.0.0-1
arch=$(dpkg --print-architecture)
deb=$dir/tarvek_${version}_${arch}.deb demo=$dir/tarvek-demo_${version}_all.deb
for package in "$deb" "$demo"; do dpkg-deb -x "$package" "$out/root"; done
fail=0
id=invalid.tarvek.tarvek
share=$out/root/usr/share
for file in bin/tarvek libexec/tarvek/tarvek-open share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/kio/servicemenus/$id-open.desktop share/nemo/actions/$id-open.nemo_action \
    share/file-manager/actions/$id-open.desktop share/Thunar/sendto/$id-open.desktop \
    share/icons/hicolor/{16x16,32x32}/apps/tarvek.xpm share/icons/hicolor/scalable/apps/tarvek.svg \
    share/man/man1/tarvek.1.gz share/man/ru/man1/tarvek.1.gz share/doc/tarvek{,-demo}/{copyright,changelog.Debian.gz} share/doc/tarvek/NEWS.gz \
    share/tarvek/demo/-1.bmp share/tarvek/demo/{1..32}.bmp; do
    [ -f "$out/root/usr/$file" ] || { echo "missing from the packages: /usr/$file"; fail=1; }
done
[ "$(dpkg-deb -c "$demo" | grep -c '\.bmp$')" -eq 33 ] && [ "$(dpkg-deb -f "$demo" Architecture)" = all ] \
    || { echo "the demo frames are not in an architecture-independent package of their own"; fail=1; }
depends=$(dpkg-deb -f "$deb" Depends)
for needed in 'qt6-qpa-plugins' "tarvek-demo (= $version)" 'libqt6widgets6'; do
    grep -qF "$needed" <<<"$depends" || { echo "no dependency on $needed"; fail=1; }
done
[ "$(dpkg-deb -f "$deb" Recommends)" = "qt6-translations-l10n, qt6-wayland" ] || { echo "qt6-wayland and Qt's translations are not recommended"; fail=1; }
# The interface font is Liberation 2's package's, fonts-liberation on Debian 13
# and later, fonts-liberation2 on Debian 12; the program holds no copy of it,
# not a single 4 KiB block of the file.
grep -qF 'fonts-liberation (>= 1:2) | fonts-liberation2 (>= 2)' <<<"$depends" \
    || { echo "no dependency on Liberation Sans 2's package"; fail=1; }
[ -z "$(dpkg-deb -f "$deb" Built-Using)" ] || { echo "Built-Using: $(dpkg-deb -f "$deb" Built-Using)"; fail=1; }
font=$(fc-list --format '%{fontversion}\t%{file}\n' 'Liberation Sans:style=Regular:fontformat=TrueType' \
       | awk -F '\t' '$1 >= 131072 { print $2; exit }')
python3 -c 'import sys; f, p = (open(n, "rb").read() for n in sys.argv[1:])
sys.exit(len(f) < 8192 or any(f[at:at + 4096] in p for at in range(0, len(f) - 4096, 4096)))' "$font" "$out/root/usr/bin/tarvek" \
    || { echo "/usr/bin/tarvek holds a copy of $font"; fail=1; }
# The copyright file says of every file of the upstream tarball what the
# project's REUSE data says, and the project is REUSE-compliant.
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/copyright-check" "$dir"/tarvek_*.orig.tar.xz | tail -n 20 || fail=1
(cd "$root" && reuse lint > "$out/reuse.txt" 2>&1) || { tail -n 30 "$out/reuse.txt"; fail=1; }
for program in bin/tarvek libexec/tarvek/tarvek-open; do
    ! readelf -d "$out/root/usr/$program" | grep -qE 'RPATH|RUNPATH' || { echo "/usr/$program carries a RUNPATH"; fail=1; }
done
# The menu's entry starts Tarvek in the demo's folder, or in the folder a file
# manager gives it; the file managers' own entries start it the same way.
launch='/usr/libexec/tarvek/tarvek-open /usr/bin/tarvek'
for line in 'Name=Тарвек' "Exec=$launch %f" 'Path=/usr/share/tarvek/demo' 'Icon=tarvek'; do
    grep -qx -- "$line" "$share/applications/$id.desktop" || { echo "the menu's entry lacks: $line"; fail=1; }
done
for entry in kio/servicemenus/$id-open.desktop file-manager/actions/$id-open.desktop Thunar/sendto/$id-open.desktop \
    nemo/actions/$id-open.nemo_action; do
    grep -qx "Name=Открыть в Тарвеке" "$share/$entry" && grep -qE "^Exec=$launch %[fF]$" "$share/$entry" \
        && grep -qiE '^mimetypes?=inode/directory;image/bmp;image/x-bmp;$' "$share/$entry" \
        || { echo "$entry does not offer «Открыть в Тарвеке» on folders and BMP frames through the launcher"; fail=1; }
done
# A type named in applications/ makes Tarvek a candidate for its default.
! grep -rq '^MimeType=' "$share/applications" || { echo "an entry in applications/ names a type"; fail=1; }
update-desktop-database "$share/applications"
[ -z "$(grep -v '^\[MIME Cache\]$' "$share/applications/mimeinfo.cache")" ] || { echo "Tarvek is in the MIME cache"; fail=1; }
rm "$share/applications/mimeinfo.cache"
desktop-file-validate "$share/applications/$id.desktop" "$share/Thunar/sendto/$id-open.desktop" || fail=1
# Kept (docs/packaging.md): cid-maybe-not-rdns, for the .invalid domain the id
# stands on; url-homepage-missing (AppStream 1.x), which only a public home
# clears; and AppStream 0.16's unknown-tag for <developer>, which 1.x asks for.
appstream=$(appstreamcli validate --pedantic --no-net "$share/metainfo/$id.metainfo.xml" 2>&1 | grep -E '^[EWIP]:' \
    | grep -vE ': (cid-maybe-not-rdns invalid\.tarvek\.tarvek|url-homepage-missing|unknown-tag developer)$' || true)
[ -z "$appstream" ] || { echo "$appstream"; fail=1; }
! grep -rqE 'https?://[^ "<]*\.invalid' "$out/root" || { echo "an address that cannot resolve is shipped"; fail=1; }
for page in man1 ru/man1; do # the manual pages read cleanly
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$share/man/$page/tarvek.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page/tarvek.1: $warnings"; fail=1; }
done
# Every tag lintian has, pedantic and informational ones too, on the source
# package, the .debs and the upload, but those explained in docs/packaging.md;
# running it as root is a warning of its own.
kept=$(grep -v '^#' "$(dirname "$0")/lintian-kept.txt" | grep . | paste -sd'|')
verdict=$(TMPDIR=$out lintian -I --pedantic "$dir/tarvek_${version}.dsc" "$dir/tarvek_${version}_${arch}.changes" 2>&1 \
    | grep -v -e 'running with root privileges' | grep -vE ": ($kept)" || true)
[ -z "$verdict" ] || { echo "$verdict"; fail=1; }

# The upstream tarball is the same bytes again.
cmp -s "$dir/tarvek_${version%-*}.orig.tar.xz" "$("$(dirname "$0")/../scripts/orig-tarball" "$out/orig")" \
    || { echo "scripts/orig-tarball made another upstream tarball the second time"; fail=1; }

# The second build, from the source package, as reproducible-builds.org varies
# builds; the first build above is its control.
mkdir -p "$out/control/source-root"
cp "$deb" "$demo" "$out/control/source-root/"
if ! (cd "$dir" && DEB_BUILD_OPTIONS="nocheck noddebs" DEB_BUILD_PROFILES=nocheck TMPDIR=$out \
      reprotest --vary=-all,+build_path,+umask,+locales,+timezone,+time --control-build "$out/control" \
          --no-diffoscope "tarvek_${version}.dsc" -- null) >"$out/reprotest.log" 2>&1; then
    sed -n '/^Only in\|differ$\|^---\|^+++\|Reproduction\|Error\|error:/p' "$out/reprotest.log" | head -n 40
    echo "a second build from the source package gave other bytes (reprotest)"
    fail=1
fi
[ "$fail" -eq 0 ] && echo "packages ok, and the same from a second build: $(basename "$deb") $(basename "$demo")"
exit "$fail"
