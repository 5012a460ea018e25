#!/usr/bin/env bash
# The page's confirm and prompt become native dialogs; answers given with
# Return and Escape reach the page.
source "$(dirname "$0")/lib.sh"
start_desktop
install_scripted_service
serve_page dialogs <<'HTML'
<body><h1>对话框</h1><script>
function report(name, value) {
  return fetch('/report', { method: 'POST', body: JSON.stringify({ name, value }) });
}
window.addEventListener('load', () => setTimeout(async () => {
  await report('confirm-return', confirm('删除 sh600519？'));
  await report('confirm-escape', confirm('再删除 hk00700？'));
  await report('prompt-return', prompt('提醒价格', '1800'));
  await report('prompt-empty', prompt('备注'));
  await report('prompt-escape', prompt('放弃输入', '1'));
  alert('完成');
  await report('alert', 'closed');
}, 300));
</script></body>
HTML

answer() {
    wait_for 20 dialog_window || fail "no dialog for $1"
    local dialog
    dialog=$(dialog_window)
    [ -n "${SHOT:-}" ] && { screenshot "$SHOT"; SHOT=; }
    keys_to "$dialog" "$2"
    wait_for 10 bash -c "! xdotool search --onlyvisible --name '^Quorvel\$' | grep -qx '$dialog'" ||
        { screenshot "stuck-$1"; fail "the dialog for $1 stayed open"; }
}

start_app "$SCRIPTED_APP/quorvel"
wait_main_window 30
answer confirm Return
answer confirm Escape
SHOT=prompt
answer prompt Return
answer prompt Return
xdotool type --delay 50 "typed" 2>/dev/null || true
answer prompt Escape
answer alert Return
wait_for 10 bash -c "grep -q closed <<<\"\$(node -e 1 >/dev/null; cat '$E2E_LOG')\"" || fail "the page did not finish"
reports=$(page_reports)
echo "$reports"
expected='{"name":"confirm-return","value":true}
{"name":"confirm-escape","value":false}
{"name":"prompt-return","value":"1800"}
{"name":"prompt-empty","value":""}
{"name":"prompt-escape","value":null}
{"name":"alert","value":"closed"}'
[ "$reports" = "$expected" ] || fail "the page received other answers"
pass "confirm, prompt and alert answered as the buttons say"
