# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash
# Shared set-up of the measuring scripts, sourced by them: a private sandbox (settings store,
# TMPDIR, XDG_RUNTIME_DIR), the audio server (started here only when it is not running, and then
# stopped again), a private Xvfb with trayer, the rig simulator, and the panel connected to it.
#
# Environment: UMX_JACK_SERVER (default umx_perf) names the audio server; every client process
# gets it as JACK_DEFAULT_SERVER. UMX_BIN_DIR (default build/bin). UMX_FRAME_OUT_MULT and
# UMX_FRAME_IN_MULT (default 1, the first-run defaults) set the panel's buffer multipliers.
# Call session_begin first; session_end runs on exit. The variables the functions set are for the
# sourcing script.
# shellcheck disable=SC2034

BIN=${UMX_BIN_DIR:-build/bin}
export UMX_JACK_SERVER=${UMX_JACK_SERVER:-umx_perf}
export JACK_DEFAULT_SERVER=$UMX_JACK_SERVER
export JACK_NO_START_SERVER=1
PANEL_TITLE="UMX control panel $("$(dirname "${BASH_SOURCE[0]}")/../../scripts/version")"
# The panel's UDP port announced to the host; not the default 16742, which a panel in use may hold.
PANEL_UDP_PORT=${UMX_PANEL_UDP_PORT:-26742}

SESSION_PIDS=()
session_started_audio=""

# Waits for an ended process, and kills it if it is still there 5 s later: a client hung inside
# its audio library (under a server that died) does not end on SIGTERM.
session_reap() {
    local state
    for _ in $(seq 50); do
        state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || break
        [ "$state" != Z ] || break
        sleep 0.1
    done
    kill -KILL "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

session_end() {
    local i
    for ((i = ${#SESSION_PIDS[@]} - 1; i >= 0; i--)); do
        kill "${SESSION_PIDS[$i]}" 2>/dev/null || true
        session_reap "${SESSION_PIDS[$i]}"
    done
    [ -z "$session_started_audio" ] || scripts/audio-server stop >/dev/null 2>&1 || true
    [ -z "${SANDBOX:-}" ] || rm -rf "$SANDBOX"
}

# Remembers a background process so that session_end stops it (in reverse order).
session_track() { SESSION_PIDS+=("$1"); }

# Ends the given tracked processes, waits for them and forgets them: on a busy machine the pid of
# a process gone long ago may belong to another one by the time the session ends.
session_stop() {
    local pid kept=()
    for pid in "$@"; do kill "$pid" 2>/dev/null || true; done
    for pid in "$@"; do session_reap "$pid"; done
    for pid in "${SESSION_PIDS[@]}"; do
        [[ " $* " == *" $pid "* ]] || kept+=("$pid")
    done
    SESSION_PIDS=("${kept[@]}")
}

session_begin() {
    SANDBOX=$(mktemp -d "/tmp/umx-bench-$1.XXXXXX")
    mkdir -p "$SANDBOX/config" "$SANDBOX/runtime" "$SANDBOX/tmp"
    chmod 700 "$SANDBOX/runtime"
    export XDG_CONFIG_HOME="$SANDBOX/config" XDG_RUNTIME_DIR="$SANDBOX/runtime"
    export TMPDIR="$SANDBOX/tmp" QT_QPA_PLATFORM=xcb
    trap session_end EXIT
    for t in umx umx-rigsim click_probe; do
        [ -x "$BIN/$t" ] || cmake --build build --target "$t" >/dev/null
    done
    # Figures from a shared machine mean little without the load they were measured under.
    echo "$1: machine load $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
    if ! scripts/audio-server status >/dev/null 2>&1; then
        scripts/audio-server start >/dev/null
        session_started_audio=1
    fi
    # What the server's clients need in their environment (PipeWire's ALSA devices).
    eval "$(scripts/audio-server env)"
}

# A private X server with a system tray; sets DISPLAY and XVFB_PID.
session_display() {
    local fdfile="$SANDBOX/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" 2>/dev/null &
    XVFB_PID=$!
    session_track "$XVFB_PID"
    for _ in $(seq 100); do
        [ -s "$fdfile" ] && break
        sleep 0.05
    done
    DISPLAY=":$(head -1 "$fdfile")"
    export DISPLAY
    trayer --SetDockType false --expand false >/dev/null 2>&1 &
    session_track $!
    # The tray is usable once trayer owns the tray selection.
    for _ in $(seq 50); do
        xwininfo -root -tree 2>/dev/null | grep -qi "trayer\|panel" && break
        sleep 0.1
    done
    sleep 0.2
}

# The rig simulator on free ports, with the given options; sets RIGSIM_WS (host:port),
# RIGSIM_UDP_IN and RIGSIM_PID. Its output goes to $RIGSIM_OUT (default $SANDBOX/rigsim.out), so
# that several simulators can run side by side.
session_rigsim() {
    local out=${RIGSIM_OUT:-$SANDBOX/rigsim.out}
    "$BIN/umx-rigsim" --listen 127.0.0.1:0 --udp-in-port 0 --sample-rate 48000 --frame-size 512 \
        "$@" >"$out" 2>&1 &
    session_track $!
    RIGSIM_PID=$!
    for _ in $(seq 100); do
        grep -q "^ready" "$out" && break
        sleep 0.05
    done
    local ready
    ready=$(grep "^ready" "$out") || { echo "the rig simulator did not start" >&2; return 1; }
    RIGSIM_WS=$(sed -E 's|^ready ws://([^ ]+) .*|\1|' <<<"$ready")
    RIGSIM_UDP_IN=$(sed -E 's|.* udp-in ([0-9]+).*|\1|' <<<"$ready")
}

# Seeds the panel's settings store with the simulator's address and the cable devices.
session_seed_settings() {
    mkdir -p "$XDG_CONFIG_HOME/Hoska"
    cat >"$XDG_CONFIG_HOME/Hoska/uMX.conf" <<INI
[General]
listRigs=$RIGSIM_WS
selectedRig=0
outputDevice=Line Volume (2- UMX VAC)
inputDevice=Line In (UMX VAC)
audioDevice=UMX Speaker
inUDPPort=$PANEL_UDP_PORT
localIP=127.0.0.1
speakerOn=false
frameOutMult=${UMX_FRAME_OUT_MULT:-1}
frameInMult=${UMX_FRAME_IN_MULT:-1}
INI
}

# Waits for a window of the panel's title to be viewable; prints its id.
session_await_window() {
    local id
    for _ in $(seq 200); do
        id=$(xdotool search --onlyvisible --name "^$PANEL_TITLE\$" 2>/dev/null | head -1) || true
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.05
    done
    return 1
}

# Starts the panel (stderr at debug level into $SANDBOX/panel.log); sets PANEL_PID, PANEL_WINDOW.
session_panel() {
    "$BIN/umx" --log-level debug "$@" 2>"$SANDBOX/panel.log" &
    PANEL_PID=$!
    session_track "$PANEL_PID"
    PANEL_WINDOW=$(session_await_window) || { echo "the panel window did not appear" >&2; return 1; }
}

# Presses the focused connect button with the keyboard.
session_press_connect() {
    xdotool windowfocus --sync "$PANEL_WINDOW" 2>/dev/null || xdotool windowfocus "$PANEL_WINDOW"
    xdotool key --clearmodifiers space
}

# Waits until the panel's log shows the audio path running.
session_await_connected() {
    for _ in $(seq 200); do
        grep -q "Audio worker initialized" "$SANDBOX/panel.log" && return 0
        sleep 0.05
    done
    echo "the panel did not connect; its log:" >&2
    grep -v "^ALSA lib" "$SANDBOX/panel.log" | tail -20 >&2
    return 1
}

# Left click on the panel's tray icon (shows or hides the window). The icon is the panel's small
# window docked inside the tray.
session_click_tray() {
    local icon
    icon=$(xwininfo -root -tree 2>/dev/null |
        awk '/\("umx" "uMX"\)/ { for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+\+/) {
             split($i, g, "x"); if (g[1] + 0 <= 64) print $1 } }' | head -1)
    [ -n "$icon" ] || { echo "no tray icon" >&2; return 1; }
    xdotool mousemove --window "$icon" 5 5 click 1
}

session_window_viewable() {
    xwininfo -id "$PANEL_WINDOW" 2>/dev/null | grep -q "IsViewable"
}

# utime + stime of a process (all threads), in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# Time on a CPU of a process's threads as they stand, in ns: to the nanosecond where clock ticks
# leave a 20-s window of a process using 2 % of a core a quantum of 2.5 % of it; a thread that
# ends within a window takes its time with it.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ ns += $1 } END { printf "%d\n", ns }'; }
# Proportional set size of a process, in kB.
pss_kb() { awk '/^Pss:/ { print $2 }' "/proc/$1/smaps_rollup"; }
# Private memory (USS) of a process, in kB: unlike PSS it does not move when other processes start
# or stop sharing the same libraries, so it is the figure that shows growth.
uss_kb() { awk '/^Private_(Clean|Dirty):/ { k += $2 } END { print k }' "/proc/$1/smaps_rollup"; }
# The part of it the process wrote itself (heap, stacks, buffers): unlike the clean pages of a
# library, it does not become private when the last other process using the library ends.
dirty_kb() { awk '/^Private_Dirty:/ { k += $2 } END { print k }' "/proc/$1/smaps_rollup"; }
