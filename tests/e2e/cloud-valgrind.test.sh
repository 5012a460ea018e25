#!/usr/bin/env bash
# A start and quit of the shell under valgrind: no leak whose allocation
# passes through the shell's own code. (Leaks inside the toolkit and the web
# engine are theirs; the web engine's own processes are not traced.)
source "$(dirname "$0")/lib.sh"
start_desktop
command -v valgrind >/dev/null || fail "valgrind is not installed"

report=$E2E_ARTIFACTS/valgrind.txt
valgrind --leak-check=full --show-leak-kinds=definite,indirect --num-callers=40 \
    --log-file="$report" "$E2E_BUILD_DIR/quorvel" >"$E2E_TMP/app.out" 2>&1 &
APP_PID=$!
wait_main_window 240
# Let the first polls and the page load finish.
sleep 10
kill -TERM "$APP_PID"
wait_app_exit 240 || fail "the shell did not end under valgrind"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS under valgrind"
grep -q "LEAK SUMMARY\|All heap blocks were freed" "$report" || fail "valgrind wrote no leak summary"

# Each loss record is a paragraph. A leak is ours when the code that called
# the allocator (the first frame past malloc, new and GLib's allocators) is ours.
ours=$(sed 's/^==[0-9]*== \{0,1\}//' "$report" | awk -v RS= '
    /(definitely|indirectly) lost/ {
        n = split($0, lines, "\n")
        for (i = 1; i <= n; i++) {
            if (lines[i] !~ /(at|by) 0x/) continue
            # the allocator itself, and the standard library inlined into the caller
            if (lines[i] ~ /vgpreload|libstdc\+\+|operator new|: (malloc|calloc|realloc|g_malloc|g_malloc0|g_realloc|g_try_malloc|g_slice_alloc|g_slice_alloc0|g_strdup|g_strndup|g_memdup2?) /) continue
            if (lines[i] ~ /\((new_allocator|allocator|alloc_traits|basic_string|stl_[a-z_]+|shared_ptr[a-z_]*|unique_ptr|std_function|hashtable[a-z_]*|vector|deque|map|functional)\.(h|tcc):/) continue
            if (lines[i] ~ /quorvel::|\/src\/(app|backend|ui|service|notifications|platform)\/|\(main\.cpp:/) print $0 "\n"
            break
        }
    }')
if [ -n "$ours" ]; then
    echo "$ours" >&2
    fail "valgrind found leaks in the shell's own code"
fi
grep -A6 "LEAK SUMMARY" "$report" | sed 's/^==[0-9]*== //'
pass "no leak of the shell's own under valgrind (report: $report)"
