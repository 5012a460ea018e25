#!/usr/bin/env bash
# What the page may do: a long alert fits the screen, a loop of alerts is
# stopped through the dialog's check box, and a download over an existing
# file keeps the old one and is saved beside it, with a notification.
source "$(dirname "$0")/lib.sh"
start_desktop
install_scripted_service
mkdir -p "$HOME/Downloads"
printf old >"$HOME/Downloads/notes.txt"
serve_page guard <<'HTML'
<body><h1>页面</h1><script>
function report(name, value) {
  return fetch('/report', { method: 'POST', body: JSON.stringify({ name, value }) });
}
window.addEventListener('load', () => setTimeout(async () => {
  if (sessionStorage.getItem('loaded') === 'again') { await report('reloaded again', true); return; }
  if (sessionStorage.getItem('loaded')) {
    sessionStorage.setItem('loaded', 'again');
    await report('reloaded', true);
    for (let i = 0; i < 200; i++) alert('又一次 ' + i);
    return;
  }
  sessionStorage.setItem('loaded', '1');
  alert(Array.from({ length: 2500 }, (_, i) => '提醒' + i).join(' '));
  let shown = 0;
  for (let i = 0; i < 200; i++) { const t = Date.now(); alert('第 ' + i + ' 次'); shown++; }
  await report('loop', confirm('还在吗？'));
  location = '/download/notes.txt';
}, 300));
</script></body>
HTML

start_app "$SCRIPTED_APP/quorvel"
wait_main_window 30
wait_for 20 dialog_window || fail "no dialog for the long alert"
dialog=$(dialog_window)
sleep 0.5
screenshot long-alert
eval "$(xdotool getwindowgeometry --shell "$dialog")"
echo "long alert: ${WIDTH}x${HEIGHT} at ${X},${Y}"
[ "$HEIGHT" -le 1000 ] && [ "$WIDTH" -le 1600 ] && [ "$Y" -ge 0 ] && [ $((Y + HEIGHT)) -le 1000 ] ||
    fail "the long alert is larger than the screen"
keys_to "$dialog" Return

# The loop: its first dialog follows an answer, so it offers to stop them.
wait_for 10 bash -c "xdotool search --onlyvisible --name '^Quorvel\$' | grep -v '^$MAIN_WINDOW\$' | grep -q ." ||
    fail "no dialog of the loop"
sleep 1
dialog=$(dialog_window)
screenshot alert-loop
keys_to "$dialog" alt+b Return
wait_for 10 bash -c "grep -q 'loop' '$E2E_LOG'" || { screenshot stuck-loop; fail "the loop was not stopped"; }
[ "$(page_reports | grep loop)" = '{"name":"loop","value":false}' ] ||
    fail "the stopped page's confirm did not answer false"
[ "$(log_events script-dialogs-stopped)" = 1 ] || fail "the stop was not logged"

wait_for 20 test -e "$HOME/Downloads/notes (1).txt" || fail "the download was not saved beside the old file"
[ "$(cat "$HOME/Downloads/notes.txt")" = old ] || fail "the existing file was changed"
[ "$(cat "$HOME/Downloads/notes (1).txt")" = new ] || fail "the download has other contents"
[ -z "$(find "$HOME/Downloads" -name '*.part')" ] || fail "a temporary file stayed"
sleep 0.5
screenshot download-notification
wait_for 10 dunst_showed "已下载 notes (1).txt" || fail "no notification for the download"

# Ctrl+R loads the page again, also from one of its dialogs.
keys_to "$MAIN_WINDOW" ctrl+r
wait_for 20 bash -c "grep -q reloaded '$E2E_LOG'" || fail "the page did not load again"
wait_for 10 dialog_window || fail "no dialog of the second loop"
keys_to "$(dialog_window)" ctrl+r
wait_for 20 bash -c "grep -q 'reloaded again' '$E2E_LOG'" || { screenshot stuck-reload; fail "Ctrl+R in a dialog did not reload"; }
[ "$(log_events script-dialogs-stopped 'for a reload')" = 1 ] || fail "the reload's stop was not logged"
pass "long alert fits, the loop was stopped, the download kept the old file, Ctrl+R works in a dialog"
