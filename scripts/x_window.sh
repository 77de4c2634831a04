# Sourced by the screenshot scripts: a window of the X display by its name.
# window_id TITLE: the X window whose name is TITLE, waited for up to
# $timeout seconds.
window_id() {
    local id=
    for _ in $(seq 1 $((timeout * 10))); do
        id=$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$1\"" 'index($0, t) { print $1; exit }')
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    echo "${0##*/}: no window named '$1'" >&2
    return 1
}
