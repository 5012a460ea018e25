#!/usr/bin/env bash
# With the bundled service: Ctrl+R reloads the page, Ctrl+L copies the
# service's login address, the 同步行情 menu item syncs quotes (the page reloads, the
# confirmation shows, and the alert the sync raised arrives as a desktop
# notification), and Ctrl+Q quits.
source "$(dirname "$0")/lib.sh"
start_desktop

# The service is told to make up its quotes: there is no network here.
mkdir -p "$DATA_DIR"
printf 'QUOTE_PROVIDER=offline\nQUOTE_SYNC_INTERVAL_SECONDS=180\nEMAIL_DELIVERY_MODE=log' >"$DATA_DIR/.env"

api() { # METHOD PATH [JSON] -> body on stdout
    node -e '
        const [method, path, body, token] = process.argv.slice(1);
        const headers = { "X-Quorvel-Service-Token": token };
        if (body) headers["Content-Type"] = "application/json";
        const req = require("http").request({ host: "127.0.0.1", port: 45721, method, path, headers }, (res) => {
            let text = ""; res.on("data", (c) => (text += c));
            res.on("end", () => { process.stdout.write(text); process.exit(res.statusCode < 300 ? 0 : 1); });
        });
        req.end(body || undefined);' "$1" "$2" "${3:-}" "$TOKEN"
}
page_loads() { api GET /api/status | node -e 'let s="";process.stdin.on("data",c=>s+=c).on("end",()=>{const j=JSON.parse(s);console.log(j.pageLoads.count)})'; }
loads_above() { [ "$(page_loads)" -gt "$1" ]; }
close_dialog() {
    wait_for 15 dialog_window || fail "no dialog appeared for $1"
    [ -n "${2:-}" ] && screenshot "$2"
    keys_to "$(dialog_window)" Return
    wait_for 10 bash -c "! xdotool search --onlyvisible --name '^Quorvel\$' | grep -qvx '$MAIN_WINDOW'" ||
        fail "the dialog for $1 did not close"
}

start_app "$E2E_BUILD_DIR/quorvel"
wait_main_window 30
wait_prepared 30
TOKEN=$(service_token "$E2E_BUILD_DIR/web") || fail "no token for the service"
api POST /api/watchlist '{"symbol":"sh600519"}' >/dev/null || fail "could not add a symbol"
api POST /api/rules '{"symbol":"sh600519","direction":"above","price":0.01}' >/dev/null || fail "could not add a rule"
sleep 1
loads=$(page_loads)
[[ "$loads" =~ ^[0-9]+$ ]] || fail "cannot read the page loads: $loads"

keys_to "$MAIN_WINDOW" ctrl+r
wait_for 15 loads_above "$loads" ||
    fail "Ctrl+R did not reload the page"
pass "Ctrl+R reloads the page"

keys_to "$MAIN_WINDOW" ctrl+l
close_dialog "the copied address" copied
copied=$(xclip -o -selection clipboard)
[ "$copied" = "http://127.0.0.1:45721/?token=$TOKEN" ] || fail "clipboard holds '$copied'"
# A browser that opens it gets the cookie and goes on to the plain address.
login=$(node -e '
    require("http").get(process.argv[1], (res) => {
        console.log(res.statusCode, res.headers.location, res.headers["set-cookie"][0]); });' "$copied")
[ "$login" = "302 / quorvel_service_token_45721=$TOKEN; Path=/; HttpOnly; SameSite=Strict" ] ||
    fail "the login address answered '$login'"
pass "Ctrl+L copies the service's login address, which logs a browser in"

# The menu bar's 视图 menu, then its second item.
loads=$(page_loads)
xdotool windowactivate --sync "$MAIN_WINDOW" 2>/dev/null || true
xdotool mousemove --window "$MAIN_WINDOW" 128 12 click 1
sleep 0.5
screenshot view-menu
xdotool key Down Down Return
close_dialog "the sync result" synced
wait_for 10 loads_above "$loads" || fail "the page was not reloaded after the sync"
pass "同步行情 syncs quotes and reloads the page"

wait_for 20 log_has local-notification 'success=true' ||
    fail "the raised alert did not become a desktop notification"
wait_for 20 log_has request-done 'POST /api/desktop-notifications/.*/mark-notified status=204' ||
    fail "the raised alert was not acknowledged"
sleep 0.5
screenshot synced-notification
pass "the alert raised by the sync arrives as a notification and is acknowledged"

keys_to "$MAIN_WINDOW" ctrl+q
wait_app_exit 15 || fail "Ctrl+Q did not quit"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS"
pass "Ctrl+Q quits"
