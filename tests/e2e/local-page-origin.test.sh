#!/usr/bin/env bash
# The window keeps the service's origin: a script's navigation elsewhere is
# refused, and what the user clicks (a link, a link to a new window, a
# window.open) opens in the desktop's browser, a stand-in that writes down
# the address (also the context menu's "Open Link"); the other origin
# receives no request from the shell.
source "$(dirname "$0")/lib.sh"
start_desktop
install_scripted_service

# The stand-in browser, the desktop's default for web and mail addresses.
OPENED=$E2E_TMP/opened.txt
: >"$OPENED"
mkdir -p "$XDG_DATA_HOME/applications"
cat >"$XDG_DATA_HOME/applications/standin-browser.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=Stand-in browser
Exec=sh -c 'echo "\$1" >>"$OPENED"' sh %u
MimeType=x-scheme-handler/http;x-scheme-handler/https;x-scheme-handler/mailto;
DESKTOP
cat >"$XDG_CONFIG_HOME/mimeapps.list" <<'LIST'
[Default Applications]
x-scheme-handler/http=standin-browser.desktop
x-scheme-handler/https=standin-browser.desktop
x-scheme-handler/mailto=standin-browser.desktop
LIST

# The other origin, which counts what reaches it.
OTHER_LOG=$E2E_TMP/other.txt
: >"$OTHER_LOG"
node -e '
    require("http").createServer((req, res) => {
        require("fs").appendFileSync(process.argv[1], req.url + "\n");
        res.end("other");
    }).listen(45800, "127.0.0.1");' "$OTHER_LOG" &
E2E_PIDS+=($!)

serve_page origin <<'HTML'
<style>body { margin: 0 } a, div { display: block; height: 150px; border: 1px solid #888 }</style>
<body>
<a href="http://127.0.0.1:45800/link">链接</a>
<a href="http://127.0.0.1:45800/blank" target="_blank">新窗口链接</a>
<div onclick="window.open('http://127.0.0.1:45800/open')">window.open</div>
<a href="mailto:ir@example.org">邮件</a>
<script>
window.addEventListener('load', () => setTimeout(() => {
  location = 'http://127.0.0.1:45800/script';
}, 300));
</script></body>
HTML

start_app "$SCRIPTED_APP/quorvel"
wait_main_window 30
wait_for 20 log_has page-navigation 'refused url=http://127.0.0.1:45800/script user=false' ||
    fail "the script's navigation was not refused"
page_loads() {
    node -e '
        for (const l of require("fs").readFileSync(process.argv[1], "utf8").split("\n").filter(Boolean)) {
          const r = JSON.parse(l); console.log(r.method + " " + r.url); }' "$E2E_LOG" | grep -c '^GET /$'
}
loads=$(page_loads)
# The page starts below the menu bar.
top=40
for spot in link:75 blank:225 open:375 mail:525; do
    name=${spot%%:*}
    y=$((top + ${spot##*:}))
    xdotool windowactivate --sync "$MAIN_WINDOW" 2>/dev/null || true
    xdotool mousemove --window "$MAIN_WINDOW" 300 "$y" click 1
    case $name in
    mail) url=mailto:ir@example.org ;;
    *) url=http://127.0.0.1:45800/$name ;;
    esac
    wait_for 10 grep -qxF "$url" "$OPENED" || { screenshot "origin-$name"; fail "$url did not reach the browser"; }
done
# The context menu's "Open Link" is the user's choice as a click is.
xdotool mousemove --window "$MAIN_WINDOW" 300 $((top + 75)) click 3
sleep 0.5
xdotool key --delay 80 Down Return
wait_for 10 bash -c "[ \"\$(grep -cxF http://127.0.0.1:45800/link '$OPENED')\" = 2 ]" ||
    { screenshot origin-context-menu; fail "the context menu's Open Link did not reach the browser"; }
screenshot origin
sleep 1
[ ! -s "$OTHER_LOG" ] || fail "the other origin received: $(cat "$OTHER_LOG")"
[ "$(log_events page-load-failed)" = 0 ] || fail "a navigation failed the page"
[ "$(page_loads)" = "$loads" ] || fail "the page was loaded again"
pass "other origins open in the browser from a click and nowhere otherwise"
