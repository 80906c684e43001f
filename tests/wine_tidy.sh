#!/usr/bin/env bash
# Ends the Wine server of the prefix $WINEPREFIX and removes the folder Wine
# keeps for it in /tmp (wine-XXXXXX/server-DEVICE-INODE, named after the
# prefix's device and inode), which would otherwise stay behind.
prefix=${WINEPREFIX:?}
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
[ -d "$prefix" ] || exit 0
server=$(printf 'server-%x-%x' "$(stat -c %d "$prefix")" "$(stat -c %i "$prefix")")
for folder in /tmp/wine-*/"$server"; do
    [ -d "$folder" ] || continue
    rm -rf "$folder"
    rmdir "$(dirname "$folder")" 2>/dev/null
done
exit 0
