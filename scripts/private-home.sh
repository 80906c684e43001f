# Sourced by the scripts that run programs: private_home DIR gives everything
# started from then on a home of its own in DIR (the home and the desktop's
# configuration, cache, data and state folders), so that nothing the programs
# store, such as a setting the accessibility bus writes or a font cache, is
# read from the caller's home or left there.
# It has a runtime folder of its own too, where Qt would otherwise make one in
# /tmp and leave it there.
private_home() {
    export HOME=$1 XDG_CONFIG_HOME=$1/.config XDG_CACHE_HOME=$1/.cache \
        XDG_DATA_HOME=$1/.local/share XDG_STATE_HOME=$1/.local/state XDG_RUNTIME_DIR=$1/.runtime
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME"
    mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
}
