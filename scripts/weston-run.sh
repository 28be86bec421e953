#!/usr/bin/env bash
# weston-run.sh <command> [args...]
#
# Runs the command on a Wayland compositor of its own, as xvfb-run does on X:
# Weston's headless back end (no screen or GPU needed) with its desktop
# shell. The command gets WAYLAND_DISPLAY, QT_QPA_PLATFORM=wayland and
# TAVI_SCREENSHOOTER (Weston's screenshot client, which reads the screen only
# because the compositor runs with --debug). The compositor stops with the
# command, whose exit code this returns. TAVI_WESTON_SIZE (default
# 1600x1000) sets the screen's size.
set -euo pipefail

size=${TAVI_WESTON_SIZE:-1600x1000}
if ! command -v weston >/dev/null 2>&1; then
    echo "weston-run: weston is not installed" >&2
    exit 1
fi

# Weston 10 (Debian 12) names modules by file, later ones (Debian 13) by name.
# The headless back end must draw (pixman) for the screenshooter to read the
# screen: Weston 10 draws nothing unless asked.
help=$(weston --help 2>&1 || true)
if grep -q 'headless-backend\.so' <<<"$help"; then
    backend=headless-backend.so shell=desktop-shell.so
else
    backend=headless shell=desktop
fi
if grep -q -- '--renderer' <<<"$help"; then
    renderer=--renderer=pixman
else
    renderer=--use-pixman
fi

shooter=$(command -v weston-screenshooter || true)
for dir in /usr/libexec /usr/lib/weston /usr/lib/*/weston /usr/libexec/weston; do
    [ -n "$shooter" ] && break
    [ -x "$dir/weston-screenshooter" ] && shooter="$dir/weston-screenshooter"
done

# The socket lives in the runtime folder, which Weston requires to be private.
own_runtime=""
if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -w "${XDG_RUNTIME_DIR}" ]; then
    own_runtime=$(mktemp -d)
    export XDG_RUNTIME_DIR=$own_runtime
fi
chmod 700 "$XDG_RUNTIME_DIR"
socket="tavi-weston-$$-$RANDOM"
log=$(mktemp)

weston --backend="$backend" "$renderer" --shell="$shell" --socket="$socket" --no-config --idle-time=0 \
    --width="${size%x*}" --height="${size#*x}" --debug >"$log" 2>&1 &
weston_pid=$!

stop() {
    kill "$weston_pid" 2>/dev/null || true
    wait "$weston_pid" 2>/dev/null || true
    rm -f "$log"
    [ -n "$own_runtime" ] && rm -rf "$own_runtime"
    return 0
}
trap stop EXIT

for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/$socket" ] && break
    if ! kill -0 "$weston_pid" 2>/dev/null; then break; fi
    sleep 0.1
done
if [ ! -S "$XDG_RUNTIME_DIR/$socket" ]; then
    echo "weston-run: the compositor did not start:" >&2
    cat "$log" >&2
    exit 1
fi

# The headless back end has no seat; Qt 6.4 then crashes drawing a text
# cursor when it uses Weston's text-input-v1. Text input v2, which Weston
# does not offer, leaves Qt on its own input context.
export QT_WAYLAND_TEXT_INPUT_PROTOCOL=${QT_WAYLAND_TEXT_INPUT_PROTOCOL:-zwp_text_input_v2}

status=0
WAYLAND_DISPLAY=$socket QT_QPA_PLATFORM=wayland TAVI_SCREENSHOOTER=$shooter "$@" || status=$?
exit "$status"
