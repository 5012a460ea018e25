#!/usr/bin/env bash
# A page whose script never returns is ended after 10 s without an answer;
# the window says so, and Ctrl+R loads the page again.
source "$(dirname "$0")/lib.sh"
start_desktop
install_scripted_service
serve_page busy <<'HTML'
<body><h1>忙</h1><script>
window.addEventListener('load', () => setTimeout(() => { for (;;) {} }, 500));
</script></body>
HTML

page_loads() { grep -c '"url":"/"' "$E2E_LOG"; }
start_app "$SCRIPTED_APP/quorvel"
wait_main_window 30
sleep 2
loads=$(page_loads)
# Input the page cannot take: the engine notices that it does not answer.
xdotool windowactivate --sync "$MAIN_WINDOW" 2>/dev/null || true
for _ in $(seq 40); do
    log_has web-process-unresponsive && break
    xdotool mousemove --window "$MAIN_WINDOW" 300 300 click 1 key a
    sleep 1
done
log_has web-process-unresponsive ||
    { screenshot busy-stuck; fail "the busy page was not ended"; }
sleep 3
screenshot busy-ended
log_has web-process-terminated 'reason=requested' || fail "the end was not the shell's"
keys_to "$MAIN_WINDOW" ctrl+r
wait_for 20 bash -c "[ \$(grep -c '\"url\":\"/\"' '$E2E_LOG') -gt $loads ]" || fail "Ctrl+R did not load the page"
pass "the busy page was ended and loads again with Ctrl+R"
