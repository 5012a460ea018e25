# Helpers for the runs with a desktop's status area or panel: finding the
# shell's status item on screen and on the bus, and working its menu. Sourced
# by lib.sh, never run.

# Clicks with "$@" on a status item until the run's status_menu_open holds,
# three times at most, 3 s apart: a panel just started may let the first
# click pass.
click_until_status_menu_open() {
    local click
    for click in 1 2 3; do
        "$@"
        wait_for 3 status_menu_open && { sleep 0.3; return 0; }
        echo "no menu after click $click"
    done
    return 1
}

# Where two screenshots of the same screen differ: "X Y WIDTH HEIGHT" of the
# changed box, within an optional rectangle (helpers/changed-region.py).
changed_region() { /usr/bin/python3 "$E2E_SOURCE_DIR/tests/e2e/helpers/changed-region.py" "$@"; }

# On a panel run: where the item shows in the run's shot $1, the box of what
# changed in the panel's STATUS_AREA (LEFT TOP WIDTH HEIGHT) since its shot
# panel-empty; a channel that moves by STATUS_AREA_TOLERANCE or less is no
# change, nor are the icons the item pushes aside by a column or two (how far
# depends on the clock's width, so on the date).
item_place() {
    changed_region "$E2E_TMP/panel-empty.png" "$E2E_TMP/$1.png" "${STATUS_AREA[@]}" "${STATUS_AREA_TOLERANCE:-0}" 2
}
# Takes the run's shot $1 and sets ITEM_X and ITEM_Y (the item's centre),
# ITEM_W and ITEM_H from it.
locate_item() {
    shot "$1"
    read -r ITEM_X ITEM_Y ITEM_W ITEM_H < <(item_place "$1") || fail "nothing new on the panel"
    echo "item at $ITEM_X,$ITEM_Y, ${ITEM_W}x$ITEM_H"
}
# Keeps the status area around the item in the run's shot $1, zoomed, in the
# artifacts as $2.png.
keep_item_zoomed() {
    local height=${STATUS_AREA[3]}
    convert "$E2E_TMP/$1.png" -crop "$((2 * height))x$height+$((ITEM_X - height))+${STATUS_AREA[1]}" -scale 800% \
        "$E2E_ARTIFACTS/$2.png"
    echo "screenshot: $E2E_ARTIFACTS/$2.png"
}

# A desktop status area (a StatusNotifierWatcher with a host); the items that
# register with it are listed in $STATUS_ITEMS.
start_status_area() {
    STATUS_ITEMS=$E2E_TMP/status-items
    : >"$STATUS_ITEMS"
    /usr/bin/python3 "$E2E_SOURCE_DIR/tests/e2e/helpers/status-watcher.py" "$STATUS_ITEMS" &
    E2E_PIDS+=($!)
    wait_for 10 name_owned org.kde.StatusNotifierWatcher || fail "the status area did not start"
}

# On an X11 panel: opens the status item's menu with a right click at
# ITEM_X, ITEM_Y (a left click shows the window). The GNOME and Plasma runs
# define their own.
open_status_menu() {
    click_until_status_menu_open xdotool mousemove "$ITEM_X" "$ITEM_Y" click 3 && return 0
    screenshot status-menu-missing
    fail "a right click on the item opens no menu"
}
# Picks an entry from the item's menu with the keyboard, as the panel's menu
# takes it.
choose_from_status_menu() {
    open_status_menu
    xdotool key --delay 120 "$@"
    wait_for 5 status_menu_closed || fail "the menu stayed open after $*"
}


# The items registered with the desktop's status area (the panel's watcher).
registered_items() {
    gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems
}
# The shell's item, as its bus name and object path (GNOME's extension puts
# an "@" between them).
shell_item_registered() {
    registered_items | grep -qE "$(name_owned io.quorvel.Desktop | grep -o ':[0-9.]*')@?/StatusNotifierItem"
}
# A property of the shell's status item (a StatusNotifierItem), as gdbus prints it.
item_property() {
    gdbus call --session --dest io.quorvel.Desktop --object-path /StatusNotifierItem \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$1"
}
# True when the status item's text property $1 is $2.
item_is() { [ "$(item_property "$1")" = "(<'$2'>,)" ]; }

# On a panel run: the paused Q while the service answers 401, then the Q with
# a dot for an alert that comes with the window closed, until 显示Quorvel
# shows the window. Uses the run's shot, keep_item_zoomed and
# choose_from_status_menu; $1 prefixes the zoomed copies, $2 and $3 are the
# run's tests for a hidden and a shown window, the rest closes the window.
panel_shows_alert_states() {
    local name=$1 hidden=$2 shown=$3
    shift 3
    service_post /control/pending-mode 401
    wait_for 30 item_is Title 'Quorvel：请先登录账号' || fail "the item's title is $(item_property Title)"
    dunstctl close-all >/dev/null 2>&1 || true
    sleep 1.5
    shot panel-paused
    keep_item_zoomed panel-paused "$name-item-paused"
    service_post /control/pending-mode ok
    wait_for 20 item_is IconName "${STATUS_ICON_NAME-quorvel-status-symbolic}" || fail "the icon stayed $(item_property IconName)"
    "$@"
    wait_for 10 "$hidden" || fail "the window was not closed"
    service_post /api/desktop-notifications/pending/add \
        "[{\"id\":\"$name-away\",\"messageTitle\":\"离开时的提醒\",\"messageBody\":\"窗口已关闭\"}]"
    wait_for 20 item_is Status NeedsAttention || fail "the item's status is $(item_property Status)"
    dunstctl close-all >/dev/null 2>&1 || true
    sleep 1.5
    shot panel-attention
    keep_item_zoomed panel-attention "$name-item-attention"
    choose_from_status_menu Down Return
    wait_for 10 "$shown" || fail "显示Quorvel did not bring the window back"
    wait_for 10 item_is Status Active || fail "the status stayed $(item_property Status)"
    sleep 1.5
    shot panel-attention-cleared
    keep_item_zoomed panel-attention-cleared "$name-item-attention-cleared"
    pass "the panel shows the paused Q, and the Q with a dot until the window is shown"
}
# On a panel run: 立即检查云端提醒, the fourth entry of the item's menu, asks
# the service, and its answer is shown over the window. Uses the run's shot
# and choose_from_status_menu; $1 and $2 are the run's tests for the answer
# shown and gone, the rest answers it with Return.
panel_check_now_asks_service() {
    local shown=$1 gone=$2 before
    shift 2
    before=$(pending_requests)
    choose_from_status_menu Down Down Down Down Return
    wait_for 10 "$shown" || { shot check-now-missing; fail "立即检查云端提醒 showed no answer"; }
    sleep 0.5
    shot check-now
    [ "$(pending_requests)" -gt "$before" ] || fail "立即检查云端提醒 did not ask the service"
    "$@"
    wait_for 10 "$gone" || fail "the answer stayed open"
    pass "立即检查云端提醒 asks the service"
}

watcher_gone() { ! name_owned org.kde.StatusNotifierWatcher; }
