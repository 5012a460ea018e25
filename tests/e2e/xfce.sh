# Xfce's panel with its status area, on the X display of start_desktop;
# sourced after lib.sh, never run.

XFCE_PANEL_SIZE=28
# The panel holds nothing but its status area.
STATUS_AREA=(0 0 1600 "$XFCE_PANEL_SIZE")

# The panel along the top of the screen with one plugin, the status area
# (it hosts StatusNotifierItems), in the given appearance (light or dark).
start_xfce_panel() {
    local mode=${1:-light}
    local channels=$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml
    mkdir -p "$channels"
    cat >"$channels/xfce4-panel.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="dark-mode" type="bool" value="$([ "$mode" = dark ] && echo true || echo false)"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="$XFCE_PANEL_SIZE"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
XML
    # The session bus starts nothing on demand: the settings daemon first.
    /usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd >"$E2E_TMP/xfconfd.out" 2>&1 &
    E2E_PIDS+=($!)
    wait_for 10 name_owned org.xfce.Xfconf || fail "xfconfd did not start"
    restart_xfce_panel
}

# Starts the panel, or starts it again once it has been killed.
restart_xfce_panel() {
    xfce4-panel --disable-wm-check --sm-client-disable >>"$E2E_TMP/panel.out" 2>&1 &
    XFCE_PANEL_PID=$!
    E2E_PIDS+=($!)
    wait_for 20 name_owned org.kde.StatusNotifierWatcher ||
        { tail -n 20 "$E2E_TMP/panel.out" >&2; fail "the panel's status area did not start"; }
}

# The status area's menu is open: the panel's plugins run in "wrapper-2.0",
# and the menu is that process's one mapped top-level window.
status_menu_open() {
    local id
    for id in $(xwininfo -root -children | awk '/"wrapper-2.0": \("wrapper-2.0"/ { print $1 }'); do
        xwininfo -id "$id" | grep -q 'Map State: IsViewable' && return 0
    done
    return 1
}
status_menu_closed() { ! status_menu_open; }
