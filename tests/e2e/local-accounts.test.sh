#!/usr/bin/env bash
# The bundled service is its user's alone. Another account of the machine
# (uid 65534) is refused on every route of the service's API while the
# shell's page shows its data and an alert still reaches the user; a second
# user's shell (its own home, session bus and runtime folder) starts while
# the first one runs, its service on the next port, its window showing its
# own page (screenshots accounts-first and accounts-second).
source "$(dirname "$0")/lib.sh"
start_desktop
printf 'QUOTE_PROVIDER=offline\nQUOTE_SYNC_INTERVAL_SECONDS=3600\nEMAIL_DELIVERY_MODE=log\n' >"$E2E_TMP/env"
mkdir -p "$DATA_DIR" && cp "$E2E_TMP/env" "$DATA_DIR/.env"

start_app "$E2E_BUILD_DIR/quorvel"
wait_main_window 30
FIRST_WINDOW=$MAIN_WINDOW
wait_prepared 30
TOKEN=$(service_token "$E2E_BUILD_DIR/web") || fail "no service"
[ -n "$TOKEN" ] || fail "the service has no token"
OWN="{\"X-Quorvel-Service-Token\":\"$TOKEN\"}"

# The user's data, as the page would add it.
api() {
    node -e '
        const [method, path, body, token] = process.argv.slice(1);
        const req = require("http").request({ host: "127.0.0.1", port: 45721, method, path,
            headers: { "X-Quorvel-Service-Token": token, "Content-Type": "application/json" } },
            (res) => process.exit(res.statusCode < 300 ? 0 : 1));
        req.on("error", () => process.exit(1));
        req.end(body);' "$1" "$2" "$3" "$TOKEN"
}
api POST /api/watchlist '{"symbol":"sh600519"}' || fail "the user could not add a stock"
api POST /api/rules '{"symbol":"sh600519","direction":"above","price":0.01}' ||
    fail "the user could not add a rule"
# The service's first quote sync (a second after its start) writes the store
# too: take its state once that is done.
first_sync_done() {
    node -e '
        require("http").get({ host: "127.0.0.1", port: 45721, path: "/api/status",
            headers: { "X-Quorvel-Service-Token": process.argv[1] } }, (res) => {
            let t = ""; res.on("data", (d) => { t += d; });
            res.on("end", () => { const s = JSON.parse(t).sync;
                process.exit(!s.running && s.lastSuccessAt ? 0 : 1); }); });' "$TOKEN"
}
wait_for 20 first_sync_done || fail "the service's first sync did not end"
before=$(md5sum <"$DATA_DIR/store.json")

# The other account, with and without a guessed token.
stranger() {
    setpriv --reuid 65534 --regid 65534 --clear-groups \
        node "$E2E_SOURCE_DIR/tests/e2e/helpers/service-requests.js" 45721 "$1"
}
for headers in '{}' '{"X-Quorvel-Service-Token":"0123456789abcdef0123456789abcdef"}' \
    '{"Cookie":"quorvel_service_token_45721=0123456789abcdef0123456789abcdef"}'; do
    answers=$(stranger "$headers")
    echo "$answers" | grep -v '^401 ' && fail "another account got an answer with $headers"
    [ "$(echo "$answers" | wc -l)" = 14 ] || fail "not every route was tried: $answers"
done
[ "$(md5sum <"$DATA_DIR/store.json")" = "$before" ] || fail "another account changed the data"
pass "another account is refused on every route (401) and changes nothing"

# Meanwhile the user's page reads and reports through its cookie, and an
# alert the user's rule raises reaches the user.
reported() { api GET /api/status '' && [ "$(node -e '
    require("http").get({ host: "127.0.0.1", port: 45721, path: "/api/status",
        headers: { "X-Quorvel-Service-Token": process.argv[1] } }, (res) => {
        let t = ""; res.on("data", (d) => { t += d; });
        res.on("end", () => console.log(JSON.parse(t).pageLoads.count)); });' "$TOKEN")" -ge 1 ]; }
wait_for 20 reported || fail "the page did not report its load to the service"
api POST /api/quotes/sync '' || fail "the sync failed"
wait_for 30 dunst_showed '（sh600519）价格提醒' || fail "the alert did not reach the user"
# The page's next refresh (every 15 s) shows the stock.
sleep 16
screenshot accounts-first
pass "the user's page shows its data and the alert reached the user"

# A second user on the same machine: own home, bus and runtime folder.
SECOND_HOME=$E2E_TMP/home2
mkdir -p "$SECOND_HOME/.local/share/Quorvel" "$E2E_TMP/runtime2"
chmod 700 "$E2E_TMP/runtime2"
cp "$E2E_TMP/env" "$SECOND_HOME/.local/share/Quorvel/.env"
SECOND_LOG=$SECOND_HOME/.local/share/Quorvel/desktop-notifications.log
HOME=$SECOND_HOME XDG_DATA_HOME=$SECOND_HOME/.local/share XDG_CONFIG_HOME=$SECOND_HOME/.config \
    XDG_CACHE_HOME=$SECOND_HOME/.cache XDG_RUNTIME_DIR=$E2E_TMP/runtime2 \
    dbus-run-session --config-file="$E2E_SOURCE_DIR/tests/e2e/session.conf" -- \
    "$E2E_BUILD_DIR/quorvel" >"$E2E_TMP/app2.out" 2>&1 &
SECOND_PID=$!
E2E_PIDS+=($SECOND_PID)
second_prepared() {
    LOG_FILE=$SECOND_LOG log_more 1 request-done 'POST /api/desktop-notifications/initialize status=204'
}
wait_for 40 second_prepared || { screenshot accounts-second-failed; fail "the second shell was not prepared"; }
second_window() {
    xdotool search --onlyvisible --name '^Quorvel$' | grep -vx "$FIRST_WINDOW" | head -n 1
}
SECOND_WINDOW=$(second_window) || fail "no second window"
[ -n "$SECOND_WINDOW" ] || fail "no second window"
bash -c 'exec 3<>/dev/tcp/127.0.0.1/45722' 2>/dev/null || fail "the second service is not on 45722"
kill -0 "$APP_PID" || fail "the first shell ended"
xdotool windowmove "$FIRST_WINDOW" 0 0 windowmove "$SECOND_WINDOW" 800 100 2>/dev/null || true
sleep 3
screenshot accounts-second
import -window "$SECOND_WINDOW" "$E2E_ARTIFACTS/accounts-second-window.png"
# Each service serves its own user: the first user's token opens nothing there.
node "$E2E_SOURCE_DIR/tests/e2e/helpers/service-requests.js" 45722 "$OWN" | grep -v '^401 ' &&
    fail "the first user's token opened the second user's service"
pass "a second user's shell runs beside the first, its service on 45722"

kill -TERM "$SECOND_PID" "$APP_PID"
wait_app_exit 15 || fail "the first shell did not end"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS"
