#!/usr/bin/env bash
# `cmake --install` into a temporary prefix lays out the executable, the
# bundled service without its tests, the icons, a valid desktop entry and
# metainfo; the installed executable finds its service under share/quorvel
# and its status icon in the icon theme, starts, and leaves its installation
# untouched.
source "$(dirname "$0")/lib.sh"

prefix=$E2E_TMP/prefix
app_id=io.quorvel.Desktop
desktop_file=$prefix/share/applications/$app_id.desktop
metainfo_file=$prefix/share/metainfo/$app_id.metainfo.xml

cmake --install "$E2E_BUILD_DIR" --prefix "$prefix" >"$E2E_TMP/install.out" 2>&1 ||
    { cat "$E2E_TMP/install.out" >&2; fail "cmake --install failed"; }

[ -x "$prefix/bin/quorvel" ] || fail "bin/quorvel is missing or not executable"
for file in share/quorvel/web/server.js share/quorvel/web/README.md \
    "share/icons/hicolor/scalable/apps/$app_id.svg"; do
    [ -f "$prefix/$file" ] || fail "$file is missing"
done
# The status icon in the desktop's icon theme, and in the program's own
# folder for a prefix that is not among the desktop's data folders.
for size in 16 22 24 32; do
    for icons in share/icons share/quorvel/icons; do
        [ -f "$prefix/$icons/hicolor/${size}x$size/status/quorvel-status-symbolic.svg" ] ||
            fail "the status icon for $size pixels is missing from $icons"
    done
done
for folder in test test-helpers; do
    [ ! -e "$prefix/share/quorvel/web/$folder" ] || fail "the service's $folder/ was installed"
done
# Every other file of the service is there, as it is in the source tree.
diff -r -x test -x test-helpers "$E2E_SOURCE_DIR/web" "$prefix/share/quorvel/web" >&2 ||
    fail "the installed service differs from web/"
pass "installed layout"

desktop_key() { sed -n "s/^$1=//p" "$desktop_file"; }
desktop-file-validate "$desktop_file" || fail "desktop-file-validate rejects the desktop entry"
appstreamcli validate --no-net "$metainfo_file" || fail "appstreamcli rejects the metainfo"
# The metainfo's launchable is the installed desktop entry.
appstreamcli validate-tree --no-net "$prefix" || fail "appstreamcli rejects the installed tree"
[ "$(desktop_key Exec)" = quorvel ] || fail "Exec is not the installed executable"
[ -f "$prefix/share/icons/hicolor/scalable/apps/$(desktop_key Icon).svg" ] ||
    fail "the desktop entry's icon is not installed"
pass "valid desktop entry and metainfo"

find "$prefix" -printf '%p %s %T@\n' | sort >"$E2E_TMP/before.txt"

start_desktop
server_running() { service_running_in "$prefix/share/quorvel/web"; }
server_gone() { ! server_running; }

# Started as from a package: its share folder is among the desktop's.
export XDG_DATA_DIRS=$prefix/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}
start_app "$prefix/bin/quorvel"
wait_main_window 30
wait_for 30 port_open || fail "the local service never listened on 45721"
server_running || fail "the service is not the installed one"
node -e '
    require("http").get(process.argv[1], (res) => {
        if (res.statusCode !== 200) process.exit(1);
        res.pipe(process.stdout);
    }).on("error", () => process.exit(1));
' http://127.0.0.1:45721/ | cmp -s - "$prefix/share/quorvel/web/public/index.html" ||
    fail "the service does not serve the installed page"
pass "the installed service listens on 127.0.0.1:45721 and serves its page"
wait_prepared 30
pass "probe, page load and both announcements"

# Window managers tie the window to the desktop entry by its class.
window_class=$(xprop -id "$MAIN_WINDOW" WM_CLASS | sed -n 's/.*", "\(.*\)"$/\1/p')
[ "$window_class" = "$(desktop_key StartupWMClass)" ] && [ "$window_class" = "$app_id" ] ||
    fail "window class '$window_class' is not the desktop entry's name and StartupWMClass"
# The desktop's status area appears after the shell: the status item joins it.
start_status_area
wait_for 10 grep -q . "$STATUS_ITEMS" || fail "no status item registered with the status area"
[ "$(item_property IconName)" = "(<'quorvel-status-symbolic'>,)" ] ||
    fail "the status item's icon is $(item_property IconName)"
# Named alone, so that every panel draws it from its own icon theme.
[ "$(item_property IconThemePath)" = "(<''>,)" ] ||
    fail "the status item's icon theme path is $(item_property IconThemePath)"
# One Q: the icon's, with no label beside it.
! item_property XAyatanaLabel >/dev/null 2>&1 || [ "$(item_property XAyatanaLabel)" = "(<''>,)" ] ||
    fail "the status item has a label"
pass "window class and status icon"
no_critical_output
sleep 2
screenshot local-install

kill -TERM "$APP_PID"
wait_app_exit 15 || fail "the shell did not end"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS"
wait_for 10 server_gone || fail "the service outlived the shell"
find "$prefix" -printf '%p %s %T@\n' | sort | diff "$E2E_TMP/before.txt" - >&2 ||
    fail "running the program changed its installation"
pass "quitting stops the service; the installation is unchanged"
