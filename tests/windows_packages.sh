#!/usr/bin/env bash
# The Windows zip and installer under Wine, as a user meets them, in a Wine
# prefix of the test's own, made new and removed at the end; run inside an X
# server with a window manager (tests/desktops/with-xvfb.sh --wm):
#   windows_packages.sh ZIP MSI
# - the zip unpacked and tarvek.exe started where it lies, as Explorer starts it,
#   plays the demo beside it;
# - the installer installs for the user alone, without a question: the files, the
#   Start-menu shortcut «Тарвек» to tarvek.exe in the demo folder (read back with
#   lnkinfo), the entry in Apps & features; started through that shortcut,
#   Tarvek plays the installed demo; Open With plays a folder, or a frame's
#   folder; installing it again changes nothing;
# - installing takes nothing over: on a prefix given the defaults Windows has
#   (Paint for .bmp, the user's choice of it, no default verb for folders), the
#   default of .bmp, the default verbs of folders (Directory\shell,
#   Folder\shell) and the user's choice for .bmp are the same before, while it
#   is installed and after, and a folder opened with its default verb, as a
#   double click opens it, opens in Explorer, not in Tarvek;
# - uninstalling leaves the prefix's files and registry as they were, but for
#   Windows Installer's own folders and keys; installing after that works too.
# Exits 77 (a skip, to CTest) when the installer was not built (no wixl).
set -uo pipefail
zip=$(realpath "$1") msi=$(realpath -m "$2")
[ -f "$msi" ] || { echo "no installer $msi (wixl missing?): skipped"; exit 77; }
for tool in inotifywait lnkinfo strings unzip xdotool wmctrl; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 1; }
done
work=$(mktemp -d)
# Wine's menu builder, which copies Start-menu shortcuts into the Unix desktop's
# menu and keeps a note of them in its own registry, stays off.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
tidy() {
    kill $(jobs -p) 2>/dev/null
    "$(dirname "$0")/wine_tidy.sh"
    wait 2>/dev/null
    [ -n "${TARVEK_KEEP:-}" ] || rm -rf "$work"
}
trap tidy EXIT
fail() { echo "FAIL: $*"; exit 1; }
frames=$(printf '%s\n' {1..32}.bmp -1.bmp)

# The visible window titled «Тарвек», waited for up to 60 s; xdotool's own wait
# gives up when another window goes away during its search.
tarvek_window() {
    local window
    for _ in $(seq 600); do
        window=$(xdotool search --onlyvisible --name '^Тарвек$' 2>/dev/null | head -n 1)
        [ -n "$window" ] && { echo "$window"; return; }
        sleep 0.1
    done
}
# Starts the command given in the background, presses «Пуск» in the window that
# comes up and checks that the frames of FOLDER are opened, each once, in order.
plays() {
    local folder=$1 window opened
    shift
    : >"$work/opens"
    inotifywait -q -m -e open --format %f "$folder" >"$work/opens" 2>/dev/null &
    local watcher=$!
    sleep 0.5 # the watch is set
    "$@" >"$work/started.log" 2>&1 &
    window=$(tarvek_window)
    [ -n "$window" ] || fail "no window after: $* ($(cat "$work/started.log"))"
    sleep 1
    xdotool mousemove --window "$window" 159 228 click 1
    for _ in $(seq 200); do
        grep -qx -- -1.bmp "$work/opens" && break
        sleep 0.1
    done
    sleep 0.5
    kill "$watcher"
    wmctrl -i -c "$window"
    wineserver -w
    opened=$(grep -xF "$frames" "$work/opens") # the program's own files are opened there too
    [ "$opened" = "$frames" ] || fail "$* opened, in $folder: $(echo $opened)"
}
# A folder opened with its default verb, as a double click opens it, opens in
# Explorer, and starts no Tarvek.
opens_in_explorer() {
    local explorer
    wine start "$1" >/dev/null 2>&1 &
    for _ in $(seq 300); do
        explorer=$(xdotool search --onlyvisible --name "^${1##*\\}\$" 2>/dev/null | head -n 1)
        [ -n "$explorer" ] && break
        sleep 0.1
    done
    [ -n "$explorer" ] || fail "$1, opened with its default verb, showed no window"
    grep -qa 'explorer.exe' "/proc/$(xdotool getwindowpid "$explorer")/cmdline" || fail "$1's default verb started another program"
    [ -z "$(xdotool search --onlyvisible --name '^Тарвек$' 2>/dev/null)" ] || fail "$1's default verb started Tarvek"
    wmctrl -i -c "$explorer"
    wineserver -w
}
# The prefix's files and its registry's keys (after the hive's name), in one
# sorted list, for comm.
snapshot() {
    # Once the server has ended: until then it may be saving the registry, through
    # a temporary file beside the hives (reg*.tmp), as it does a few seconds
    # after the last program, such as reg.exe, has left.
    wineserver -w
    { (cd "$WINEPREFIX" && find . -path ./dosdevices -prune -o -print)
      for hive in "$WINEPREFIX"/*.reg; do grep '^\[' "$hive" | sed "s/\\] [0-9]*\$/]/; s|^|${hive##*/} |"; done
    } | LC_ALL=C sort
}

# The defaults a Windows user's choices live in, as reg.exe reads them: the
# type .bmp stands for, the default verbs of folders, in the user's classes and
# the machine's (Windows reads the user's over the machine's; Wine's HKCR shows
# the machine's alone), and the user's choice for .bmp; "none" where the key
# has no such value, or is not there.
defaults() {
    local key value
    for key in 'HKCU\Software\Classes\.bmp /ve' 'HKCU\Software\Classes\Directory\shell /ve' \
        'HKCU\Software\Classes\Folder\shell /ve' 'HKLM\Software\Classes\.bmp /ve' \
        'HKLM\Software\Classes\Directory\shell /ve' 'HKLM\Software\Classes\Folder\shell /ve' \
        'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.bmp\UserChoice /v ProgId'; do
        # shellcheck disable=SC2086 # the key and the value's switch
        value=$(wine reg query $key 2>/dev/null | tr -d '\r' | sed -n 's/^ *\((Default)\|ProgId\) *REG_[A-Z_]* *//p')
        printf '%s: %s\n' "${key% /*}" "$(sed 's/^(value not set)$//; s/^$/none/' <<<"${value:-none}")"
    done
}

wineboot -i >/dev/null 2>&1
# What Windows itself registers, where Wine registers nothing.
wine reg add 'HKLM\Software\Classes\.bmp' /ve /d Paint.Picture /f >/dev/null
wine reg add 'HKLM\Software\Classes\Directory\shell' /ve /d none /f >/dev/null
wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.bmp\UserChoice' /v ProgId /d Paint.Picture /f >/dev/null
wineserver -w
user=$(ls "$WINEPREFIX/drive_c/users" | grep -vx Public | head -n 1)
home=$WINEPREFIX/drive_c/users/$user
winhome="C:\\users\\$user"

# The zip: tarvek.exe where it was unpacked.
mkdir "$work/unpacked"
unzip -q "$zip" -d "$work/unpacked"
unpacked=$(echo "$work"/unpacked/*/)
# The licences' read-me names the Qt that tarvek.exe carries (its version text,
# as qVersion() gives it) and that Qt's source.
qt_in_exe=$(strings -a "$unpacked/tarvek.exe" | grep -xE '6\.[0-9]+\.[0-9]+' | sort -u)
[ "$(wc -l <<<"$qt_in_exe")" -eq 1 ] || fail "tarvek.exe holds no one Qt version: $qt_in_exe"
grep -qF "Qt $qt_in_exe (Qt Base)" "$unpacked/licenses/README.txt" \
    || fail "licenses/README.txt does not name Qt $qt_in_exe: $(grep -m1 '(Qt Base)' "$unpacked/licenses/README.txt")"
grep -qE "qt6-base, version $qt_in_exe\+dfsg-" "$unpacked/licenses/README.txt" \
    || fail "licenses/README.txt does not name a qt6-base $qt_in_exe source"
plays "$unpacked" sh -c "cd '$unpacked' && exec wine tarvek.exe"
echo "zip: tarvek.exe started where it lies plays the demo beside it"

frames_dir=$work/frames # outside the prefix, where Wine's drive Z: finds it
windows_frames="Z:${frames_dir//\//\\}"
mkdir -p "$frames_dir/Мультик"
cp "$unpacked"/*.bmp "$frames_dir/Мультик/"
opens_in_explorer "$windows_frames\\Мультик" # and Explorer has kept its settings before the snapshot
snapshot >"$work/before"
defaults >"$work/defaults-before"
wine msiexec /i "$msi" /qn || fail "msiexec /i ended with $?"
wineserver -w
defaults >"$work/defaults-installed"
cmp -s "$work/defaults-before" "$work/defaults-installed" \
    || fail "installing changed a default: $(diff "$work/defaults-before" "$work/defaults-installed" | grep '^[<>]')"
installed=$home/AppData/Local/Programs/Tarvek
expected=$(printf '%s\n' tarvek.exe tarvek-open.exe qtbase_ru.qm README.en.txt README.ru.txt $(printf 'demo/%s\n' $frames) \
    licenses/{README.txt,Tarvek-MIT.txt,LiberationSans-OFL.txt,Qt-LGPL-3.0.txt,Qt-GPL-3.0.txt,qtbase_ru-copyright.txt} \
    source/tarvek-1.0-source.tar.gz | LC_ALL=C sort)
[ "$(cd "$installed" 2>/dev/null && find . -type f | sed 's|^\./||' | LC_ALL=C sort)" = "$expected" ] \
    || fail "installed files: $(cd "$installed" 2>/dev/null && find . -type f | tr '\n' ' ')"
cmp -s "$installed/tarvek.exe" "$unpacked/tarvek.exe" || fail "the installed tarvek.exe is not the zip's"
shortcut=$home/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs/Тарвек.lnk
[ -f "$shortcut" ] || fail "no Start-menu shortcut «Тарвек»"
# lnkinfo of Debian 13 and later doubles each backslash of a path it prints.
link=$(lnkinfo "$shortcut" | sed 's/\\\\/\\/g')
grep -qxF "	Local path			: $winhome\\AppData\\Local\\Programs\\Tarvek\\tarvek.exe" <<<"$link" \
    || fail "the shortcut's target: $link"
grep -qxF "	Working directory		: $winhome\\AppData\\Local\\Programs\\Tarvek\\demo\\" <<<"$link" \
    || fail "the shortcut's working folder: $link"
grep -q 'Icon location.*tarvek\.ico' <<<"$link" || fail "the shortcut has no icon: $link"
# Apps & features: the Uninstall key whose name is «Тарвек», as the registry writes it.
entry=$(awk '/^\[.*\\\\Uninstall\\\\/ { key = $0; block = "" } key { block = block "\n" $0 }
             /^"DisplayName"="\\x422\\x430\\x440\\x432\\x435\\x43a"$/ { found = 1 }
             /^$/ && key { if (found) print block; key = ""; found = 0 }' "$WINEPREFIX"/*.reg)
for value in '"DisplayVersion"="1.0.0"' '"Publisher"="Tarvek developers"' '"NoModify"=dword:00000001'; do
    grep -qxF "$value" <<<"$entry" || fail "Apps & features lacks $value: $entry"
done
echo "installer: the files, the shortcut to the demo folder, the entry in Apps & features"

plays "$installed/demo" wine start "$winhome\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Тарвек.lnk"
echo "installer: started through the shortcut, Tarvek plays the installed demo"

# Open With: the commands the installer registers for a folder's «Открыть в
# Тарвеке» and for Tarvek in a BMP picture's Open With. Wine's shell does not run
# either (`start /ProgIDOpen` waits for ever, ShellExecuteEx with the class or
# the verb starts nothing), so each is run as Windows' shell runs it, the path in
# place of %1: on folders of every kind of name and on a frame in one, the frames
# of exactly that folder play; on a folder that is gone, the launcher's report,
# and no Tarvek.
command='"C:\\users\\'"$user"'\\AppData\\Local\\Programs\\Tarvek\\tarvek-open.exe" "%1"'
for key in 'Tarvek.Frames\\shell\\open\\command' 'Directory\\shell\\Tarvek\\command'; do
    grep -A3 -F '[Software\\Classes\\'"$key"']' "$WINEPREFIX/user.reg" | grep -qxF "@=\"${command//\"/\\\"}\"" \
        || fail "no command for $key: $(grep -A3 -F "$key]" "$WINEPREFIX/user.reg")"
done
grep -A3 -F '[Software\\Classes\\.bmp\\OpenWithProgids]' "$WINEPREFIX/user.reg" | grep -q '^"Tarvek.Frames"=' \
    || fail "Tarvek is not offered for BMP pictures"
launcher="$winhome\\AppData\\Local\\Programs\\Tarvek\\tarvek-open.exe"
long=$(printf 'd%.0s' {1..150})
for name in "Мультик" "two  spaces" "a & b" "100% ^x" "-dash" "it's" "$long"; do
    mkdir -p "$frames_dir/$name"
    cp "$installed"/demo/*.bmp "$frames_dir/$name/"
    plays "$frames_dir/$name" wine "$launcher" "$windows_frames\\$name"
done
plays "$frames_dir/Мультик" wine "$launcher" "$windows_frames\\Мультик\\7.bmp"
opens_in_explorer "$windows_frames\\Мультик"
echo "installer: Open With plays the folder, or the frame's folder, whatever its name; a folder that is gone is reported"

wine msiexec /i "$msi" /qn || fail "installing it again ended with $?"
wineserver -w
[ -f "$installed/tarvek.exe" ] || fail "installing it again removed it"

wine msiexec /x "$msi" /qn || fail "msiexec /x ended with $?"
wineserver -w
defaults >"$work/defaults-after"
cmp -s "$work/defaults-before" "$work/defaults-after" \
    || fail "uninstalling left a default changed: $(diff "$work/defaults-before" "$work/defaults-after" | grep '^[<>]')"
echo "installer: no default taken over, installed or removed: $(tr '\n' ';' <"$work/defaults-before")"
snapshot >"$work/after"
# What Windows Installer keeps of its own (its caches' folders and the empty keys
# it indexes products by); anything else left behind is ours.
new=$(LC_ALL=C comm -13 "$work/before" "$work/after")
left=$(echo "$new" | grep -vE \
    '/Microsoft/Installer$|^\./drive_c/windows/Installer$|^[a-z]*\.reg \[Software\\\\Microsoft\\\\(Windows\\\\CurrentVersion\\\\)?Installer\\\\(Features|Products|UpgradeCodes|UserData\\\\[^\\]*\\\\(Components|Products))\]$')
[ -z "$left" ] || fail "left after uninstalling: $left"
gone=$(LC_ALL=C comm -23 "$work/before" "$work/after")
[ -z "$gone" ] || fail "gone after uninstalling: $gone"
! grep -rqF -e 'Tarvek' -e '\x422\x430\x440\x432\x435\x43a' "$WINEPREFIX"/*.reg || fail "the registry still names Tarvek"
echo "installer: uninstalling leaves the prefix as it was ($(wc -l <"$work/before") files and registry keys before installing;" \
    "after uninstalling the same, and $(echo "$new" | grep -c .) of Windows Installer's own)"

wine msiexec /i "$msi" /qn && wineserver -w && [ -f "$installed/tarvek.exe" ] || fail "installing after uninstalling"
wine msiexec /x "$msi" /qn && wineserver -w && [ ! -e "$installed" ] || fail "uninstalling a second time"
echo "installer: installed and removed again"
echo "windows packages ok"
