#!/usr/bin/env bash
# Web content runs in the engine's sandbox, in a mount namespace of its own,
# and the page keeps its local storage across restarts and its cookies. Where
# bubblewrap cannot start, the page still shows, unsandboxed, and the log says
# so once.
source "$(dirname "$0")/lib.sh"
start_desktop
install_scripted_service
serve_page storage <<'HTML'
<body><h1>存储</h1><script>
const visits = Number(localStorage.getItem('visits') || 0) + 1;
localStorage.setItem('visits', String(visits));
document.cookie = 'seen=' + visits + '; max-age=3600';
const cookie = document.cookie;
fetch('/report', { method: 'POST', body: JSON.stringify({ visits, cookie }) });
</script></body>
HTML

# Starts the shell (optionally through a wrapper) and waits for the page's Nth report.
run_until_report() {
    local count=$1
    shift
    start_app "$@"
    wait_main_window 30
    wait_for 30 bash -c "[ \$(grep -c '\"url\":\"/report\"' '$E2E_LOG') -ge $count ]" ||
        { screenshot "no-report-$count"; fail "the page did not report (run $count)"; }
}

quit_app() {
    kill -TERM "$APP_PID"
    wait_app_exit 15 || fail "the shell did not end"
    [ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS"
}

run_until_report 1 "$SCRIPTED_APP/quorvel"
web=$(web_processes)
[ -n "$web" ] || fail "no web process under the shell"
for pid in $web; do
    [ "$(readlink "/proc/$pid/ns/mnt")" != "$(readlink "/proc/$APP_PID/ns/mnt")" ] ||
        fail "web process $pid shares the shell's mount namespace"
done
pass "web content runs in a mount namespace of its own"
[ "$(log_events web-sandbox-unavailable)" = 0 ] || fail "the log reports a sandbox problem"
quit_app

run_until_report 2 "$SCRIPTED_APP/quorvel"
screenshot local-sandbox
quit_app
reports=$(page_reports)
echo "$reports"
[ "$(sed -n 2p <<<"$reports")" = '{"visits":2,"cookie":"seen=2"}' ] ||
    fail "local storage did not survive the restart, or the cookie did not stick"
pass "local storage survives a restart; the page's cookie sticks"
# Where every earlier version kept them, so that an update keeps them too.
for folder in "$XDG_DATA_HOME/io.quorvel.Desktop/storage" "$XDG_CACHE_HOME/io.quorvel.Desktop/WebKitCache"; do
    [ -d "$folder" ] || fail "website data is not where earlier versions kept it: no $folder"
done
pass "website data stays in the program's data and cache folders"

# A bubblewrap that cannot create its namespaces, in place of the real one for
# this run only.
cat >"$E2E_TMP/bwrap" <<'SH'
#!/bin/sh
echo "bwrap: No permissions to create new namespace" >&2
exit 1
SH
chmod +x "$E2E_TMP/bwrap"
run_until_report 3 unshare -m -- sh -c 'mount --bind "$1" /usr/bin/bwrap && exec "$2"' sh \
    "$E2E_TMP/bwrap" "$SCRIPTED_APP/quorvel"
sleep 1
screenshot local-sandbox-unavailable
web=$(web_processes)
[ "$(wc -w <<<"$web")" = 1 ] || fail "expected one web process, found: $web"
[ "$(readlink "/proc/$web/ns/mnt")" = "$(readlink "/proc/$APP_PID/ns/mnt")" ] ||
    fail "the web process is not the unsandboxed one"
[ "$(log_events web-sandbox-unavailable)" = 1 ] || fail "expected one log line about the sandbox"
quit_app
[ "$(page_reports | sed -n 3p)" = '{"visits":3,"cookie":"seen=3"}' ] ||
    fail "the unsandboxed run lost the page's storage"
pass "without a working bubblewrap the page shows unsandboxed and the log says so once"
