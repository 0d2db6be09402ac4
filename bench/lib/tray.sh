# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash
# The panel's tray menu driven as its operator drives it, for the measuring scripts (sourced after
# bench/lib/session.sh, with PANEL_PID set).

# The panel's tray icon: its small window docked inside the tray.
tray_icon() {
    xwininfo -root -tree 2>/dev/null |
        awk '/\("umx" "uMX"\)/ { for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+\+/) {
             split($i, g, "x"); if (g[1] + 0 <= 64) print $1 } }' | head -1
}

tray_visible_windows() {
    xdotool search --all --onlyvisible --pid "$PANEL_PID" --name '' 2>/dev/null | sort
}

tray_count() { grep -c -- "$2" "$1" 2>/dev/null || true; }

# A menu of the panel's (a window taller than the icon's tool tip) that shows now and did not in
# `before` (a list of ids), after up to `tenths` tenths of a second; empty if none.
tray_new_menu() {
    local before=$1 tenths=$2 window
    for _ in $(seq "$tenths"); do
        for window in $(comm -13 <(echo "$before") <(tray_visible_windows)); do
            xdotool getwindowgeometry "$window" 2>/dev/null |
                awk '/Geometry:/ { split($2, g, "x"); exit !(g[2] >= 100) }' &&
                { echo "$window"; return; }
        done
        sleep 0.1
    done
}

# Whether window `id` is gone within `tenths` tenths of a second.
tray_gone() {
    for _ in $(seq "$2"); do
        tray_visible_windows | grep -qx "$1" || return 0
        sleep 0.1
    done
    return 1
}

# Whether the log holds more than `count` lines with `text` within `tenths` tenths of a second.
tray_logged() {
    local log=$1 text=$2 count=$3
    for _ in $(seq "$4"); do
        [ "$(tray_count "$log" "$text")" -gt "$count" ] && return 0
        sleep 0.1
    done
    return 1
}

# Switches the speaker from the tray's menu (its second entry) until the panel's log at `log`
# holds `count` lines with `line`. The keys go once the menu shows: Qt takes the keyboard for a
# menu as it maps it, and keys sent before then (a busy X server or panel maps it late) reach the
# window that has the focus. The icon is clicked again when no menu shows, and the menu is opened
# again only when it closed without the entry taken ("Action audio" not logged), or never closed:
# choosing the entry twice would switch the speaker back.
tray_switch_speaker() {
    local log=$1 line=$2 count=$3 icon before menu actions
    icon=$(tray_icon)
    [ -n "$icon" ] || return 1
    actions=$(tray_count "$log" "Action audio")
    for _ in 1 2 3 4 5; do
        before=$(tray_visible_windows)
        xdotool mousemove --window "$icon" 5 5 click 3
        menu=$(tray_new_menu "$before" 30)
        [ -n "$menu" ] || continue
        xdotool key Down Down Return
        if tray_gone "$menu" 300 && tray_logged "$log" "Action audio" "$actions" 30; then
            tray_logged "$log" "$line" $((count - 1)) 300
            return
        fi
        xdotool key Escape
        tray_gone "$menu" 30 || true
    done
    return 1
}
