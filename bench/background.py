"""The shell alone, against itself: shown, with its window closed, once it has
ended the page's process, and shown again by a second start
(SCENARIO=background)."""

import json
import os
import re
import shutil
import statistics
import time

from figures import fmt, mib, ratio
from harness import (LOAD_TIMEOUT_SECONDS, Bench, fresh_home, is_load_report, log, measure, run_tool,
                     wait_for_quiet_machine, wait_until)
from sampling import activity, is_zombie, loadavg, memory_state
from settings import URL

# The shell ends its page's process once the window has stayed closed for
# the time its source sets (Settings.page_rest_seconds); the benchmark waits
# for it, it cannot shorten it, and allows this much more.
PAGE_REST_GRACE_SECONDS = 60.0
WEB_PROCESS_COMM = "WebKitWebProces"  # comm is cut to 15 characters
SHOW_TIMEOUT_SECONDS = 30.0


def web_processes(procs, root):
    pids, table = procs.tree(root)
    return [pid for pid in pids if table[pid][3].startswith(WEB_PROCESS_COMM)]


def shell_window(root):
    """The X id of the shell's visible main window, or None."""
    found = run_tool("xdotool", "search", "--onlyvisible", "--name", "^Quorvel$").split()
    # A dialog may have the same title; the main window is the big one.
    best, best_area = None, 0
    for window in found:
        for line in run_tool("xdotool", "getwindowgeometry", window).splitlines():
            if "Geometry:" in line:
                w, h = (int(x) for x in line.split()[-1].split("x"))
                if w * h > best_area:
                    best, best_area = window, w * h
    return best


def window_viewable(window):
    return "IsViewable" in run_tool("xwininfo", "-id", window)


def log_size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def has_event(lines, event):
    """Whether one of the shell's log lines is of the event (its key starts the text)."""
    pattern = re.compile(r"^\[[^]]*\] " + re.escape(event) + r"( |$)")
    return any(pattern.match(line) for line in lines)


def log_since(path, offset):
    try:
        with open(path, "rb") as f:
            f.seek(offset)
            return f.read().decode("utf-8", "replace").splitlines()
    except OSError:
        return []


def background_round(bench):
    procs, load_log, work, s = bench.procs, bench.load_log, bench.work, bench.settings
    home, env = fresh_home(work, "background")
    diagnostics = os.path.join(env["XDG_DATA_HOME"], "Quorvel", "desktop-notifications.log")
    window_seconds = s.idle_seconds
    result = {"program": "shell", "scenario": "background", "home": home,
              "load_avg_at_start": loadavg(), "hidden_seconds": s.hidden_seconds,
              "idle_seconds": window_seconds}
    seen = len(load_log.entries())
    exec_ns = time.time_ns()
    root = procs.spawn([s.shell_bin], env, os.path.join(home, "program.out"))
    alive = lambda: not is_zombie(root)  # noqa: E731
    try:
        requests = load_log.wait_for_load(seen, 80, LOAD_TIMEOUT_SECONDS, alive)
        if requests is None:
            result["error"] = "no page load reported (see program.out in its home)"
            return result
        result["load_ms"] = requests[-1]["atMs"] - exec_ns / 1e6
        time.sleep(s.settle_seconds)

        # 1. Shown: the baseline.
        result["shown"] = memory_state(procs, root)
        if window_seconds > 0:
            result["shown"]["activity"] = activity(procs, root, window_seconds)
        result["load_avg_shown"] = loadavg()
        window = shell_window(root)
        if window is None:
            result["error"] = "no visible window titled Quorvel"
            return result
        web_before = web_processes(procs, root)
        result["web_processes_shown"] = web_before

        # 2. Closed as its close button does; the page is still there.
        log_offset = log_size(diagnostics)
        run_tool("wmctrl", "-i", "-c", window)
        closed_at = time.monotonic()
        if not wait_until(lambda: not window_viewable(window), 5.0, 0.02):
            result["error"] = "the window did not close on wmctrl -c"
            return result
        result["close_ms"] = (time.monotonic() - closed_at) * 1000
        if not alive():
            result["error"] = "the shell ended when its window was closed"
            return result
        hidden_window = min(window_seconds, s.hidden_seconds)
        hidden = result["hidden"] = {}
        if hidden_window > 0:
            hidden["activity"] = activity(procs, root, hidden_window)
        hidden.update(memory_state(procs, root))
        hidden["web_processes"] = web_processes(procs, root)
        result["load_avg_hidden"] = loadavg()

        # 3. The shell's timer ends the page's process.
        rest_seconds, rest_event = s.page_rest_seconds, s.page_rest_event

        def rest_logged():
            return has_event(log_since(diagnostics, log_offset), rest_event)

        if s.hidden_seconds >= rest_seconds:
            time.sleep(max(0.0, closed_at + rest_seconds - 5 - time.monotonic()))
            logged = wait_until(rest_logged, closed_at + rest_seconds + PAGE_REST_GRACE_SECONDS
                                - time.monotonic(), 0.1)
            result["rest_logged_after_s"] = time.monotonic() - closed_at if logged else None
            gone = wait_until(lambda: not web_processes(procs, root), 10.0, 0.1)
            result["web_process_gone_after_s"] = time.monotonic() - closed_at if gone else None
            time.sleep(max(0.0, closed_at + s.hidden_seconds - time.monotonic()))
            if not logged:
                result["rest_problem"] = f"no {rest_event} in the diagnostic log"
            if not gone:
                result["rest_problem"] = (result.get("rest_problem", "") +
                                          "; the web process still runs").lstrip("; ")
            time.sleep(s.settle_seconds)
            rested = result["rested"] = memory_state(procs, root)
            rested["web_processes"] = web_processes(procs, root)
            if window_seconds > 0:
                rested["activity"] = activity(procs, root, window_seconds)
            result["load_avg_rested"] = loadavg()
        else:
            time.sleep(max(0.0, closed_at + s.hidden_seconds - time.monotonic()))
            result["rested"] = None
            result["rest_not_reached"] = (f"HIDDEN_SECONDS={s.hidden_seconds:g} is shorter than the "
                                          f"shell's {rest_seconds:g} s")
            if rest_logged():
                result["rest_problem"] = "the page's process ended before the shell's 10 minutes"
        result["hidden_for_s"] = time.monotonic() - closed_at
        page_expected = result.get("rested") is not None and not web_processes(procs, root)

        # 4. A second start hands over to the running instance, which shows
        # its window and, if the page's process ended, loads the page again.
        seen = len(load_log.entries())
        second_ns = time.time_ns()
        second_at = time.monotonic()
        second = procs.spawn([s.shell_bin], env, os.path.join(home, "second-start.out"),
                             infrastructure=True)
        show = result["show"] = {"page_expected": page_expected}
        mapped = report = second_exit = None
        page_asked = None
        deadline = second_at + SHOW_TIMEOUT_SECONDS
        while time.monotonic() < deadline:
            now_ms = (time.monotonic() - second_at) * 1000
            if second_exit is None:
                try:
                    pid, status = os.waitpid(second, os.WNOHANG)
                except ChildProcessError:
                    pid, status = second, 0
                if pid:
                    second_exit = (now_ms, os.waitstatus_to_exitcode(status))
            if mapped is None and window_viewable(window):
                mapped = (time.monotonic() - second_at) * 1000
            if report is None:
                fresh = [e for e in load_log.entries()[seen:] if e.get("port") == 80]
                # The shell's own poll goes on meanwhile; the rest is the page's.
                page_requests = [e for e in fresh
                                 if not e["url"].startswith("/api/desktop-notifications/")]
                if page_requests and page_asked is None:
                    page_asked = page_requests[0]["atMs"] - second_ns / 1e6
                loads = [e for e in fresh if is_load_report(e)]
                if loads:
                    report = loads[0]["atMs"] - second_ns / 1e6
                    show["requests_before_load"] = [
                        {"ms": round(e["atMs"] - second_ns / 1e6, 1), "request": f"{e['method']} {e['url']}"}
                        for e in page_requests[:page_requests.index(loads[0]) + 1]]
            if mapped is not None and second_exit is not None and (report is not None or not page_expected):
                break
            time.sleep(0.005)
        show.update(window_mapped_ms=mapped, page_loaded_ms=report, page_asked_ms=page_asked,
                    second_start_exit_ms=second_exit and second_exit[0],
                    second_start_status=second_exit and second_exit[1])
        if second_exit is None:
            procs.stop(second)
        time.sleep(s.settle_seconds)
        result["shown_again"] = memory_state(procs, root)
        result["shown_again"]["web_processes"] = web_processes(procs, root)
        return result
    finally:
        result["diagnostic_log_tail"] = log_since(diagnostics, 0)[-30:]
        procs.stop(root)
        bench.keep_or_remove(result, home)


def describe_activity(label, figures):
    if not figures:
        return []
    lines = [f"  {label}: CPU {figures['cpu_percent']:.3f} % of a core"
             f" (ticks {figures['cpu_ticks_percent']:.3f} %), {figures['switches_per_s']:.1f}"
             f" context switches/s over {figures['seconds']:.0f} s"]
    quiet = [p for p in figures["processes"] if not p["cpu_percent"] and not p["switches_per_s"]]
    for p in figures["processes"]:
        if p in quiet:
            continue
        busy = ", ".join(f"{t['comm']} {t['switches_per_s']:.1f}/s {t['cpu_percent']:.3f} %"
                         for t in p["busiest_threads"][:3])
        lines.append(f"    {p['comm']:16} {p['cpu_percent']:7.3f} % {p['switches_per_s']:7.1f}/s"
                     f"  {p['threads']:3} threads" + (f"  (busiest: {busy})" if busy else "")
                     + ("  [started in the window]" if p["new"] else ""))
    if quiet:
        names = {}
        for p in quiet:
            names[p["comm"]] = names.get(p["comm"], 0) + 1
        lines.append("    no CPU, no switches: " + ", ".join(
            f"{comm} x{n}" if n > 1 else comm for comm, n in names.items()))
    for p in figures["ended"]:
        lines.append(f"    {p['comm']:16} ended during the window")
    return lines


def describe_background(r, rest_event):
    if "error" in r:
        return [f"ERROR: {r['error']}"]
    lines = [f"load {r['load_ms']:.0f} ms; window closed in {r['close_ms']:.0f} ms;"
             f" hidden for {r['hidden_for_s']:.0f} s"]
    if r.get("rest_logged_after_s") is not None:
        lines.append(f"{rest_event} logged {r['rest_logged_after_s']:.1f} s after the close;"
                     f" web process gone {fmt(r.get('web_process_gone_after_s'), '{:.1f}')} s after it")
    for key in ("rest_not_reached", "rest_problem"):
        if r.get(key):
            lines.append(("note: " if key == "rest_not_reached" else "PROBLEM: ") + r[key])
    lines.append(f"{'state':36} {'tree RSS MiB':>12} {'PSS MiB':>8} {'anon MiB':>8} {'CPU % core':>10}"
                 f" {'switches/s':>10}")
    for label, key in (("shown", "shown"), ("hidden, right after the close", "hidden"),
                       ("hidden, page's process ended", "rested"), ("shown again", "shown_again")):
        state = r.get(key)
        if not state:
            lines.append(f"{label:36} {'not reached':>12}")
            continue
        act = state.get("activity") or {}
        lines.append(f"{label:36} {fmt(mib(state['tree_rss_kb']), '{:12.1f}')}"
                     f" {fmt(mib(state['pss_kb']), '{:8.1f}')} {fmt(mib(state.get('anon_kb')), '{:8.1f}')}"
                     f" {fmt(act.get('cpu_percent'), '{:10.3f}')} {fmt(act.get('switches_per_s'), '{:10.1f}')}")
    for label, key in (("shown", "shown"), ("hidden, right after the close", "hidden"),
                       ("hidden, page's process ended", "rested")):
        lines += describe_activity(f"by process, {label}", (r.get(key) or {}).get("activity"))
    show = r["show"]
    lines.append(f"second start: window mapped after {fmt(show['window_mapped_ms'], '{:.0f}')} ms,"
                 f" the page's first request at {fmt(show['page_asked_ms'], '{:.0f}')} ms,"
                 f" page's load report at {fmt(show['page_loaded_ms'], '{:.0f}')} ms"
                 + ("" if show["page_expected"] else " (no reload expected: the page's process ran)")
                 + f"; the second start exited after {fmt(show['second_start_exit_ms'], '{:.0f}')} ms"
                 f" with status {show['second_start_status']}")
    if show.get("requests_before_load"):
        lines.append("  the page's requests (ms): " + ", ".join(
            f"{e['request']} {e['ms']:.0f}" for e in show["requests_before_load"]))
    return lines


def background_targets(results):
    ok = [r for r in results if "error" not in r]

    def med(values):
        values = [v for v in values if v is not None]
        return statistics.median(values) if values else None

    shown_rss = med([r["shown"]["tree_rss_kb"] for r in ok])
    rested_rss = med([r["rested"]["tree_rss_kb"] for r in ok if r.get("rested")])
    hidden_cpu = med([r["hidden"].get("activity", {}).get("cpu_percent") for r in ok])
    rested_cpu = med([(r["rested"].get("activity") or {}).get("cpu_percent") for r in ok if r.get("rested")])
    page_ms = med([r["show"]["page_loaded_ms"] for r in ok if r["show"]["page_expected"]])
    # The same, from the moment the window is there again (the second start's
    # hand-over to the running instance is not the page's).
    page_after_map_ms = med([r["show"]["page_loaded_ms"] - r["show"]["window_mapped_ms"] for r in ok
                             if r["show"]["page_expected"] and r["show"].get("window_mapped_ms") is not None
                             and r["show"].get("page_loaded_ms") is not None])
    # met is None where the state was not reached (or not measured).
    targets = []
    rss_ratio = ratio(rested_rss, shown_rss)
    targets.append(("tree RSS after 10 min hidden <= 0.6 x shown",
                    None if rss_ratio is None else rss_ratio <= 0.6,
                    f"{rss_ratio:.2f}" if rss_ratio is not None else "not reached"))
    for label, value in (("right after the close", hidden_cpu), ("after 10 min", rested_cpu)):
        targets.append((f"idle CPU hidden ({label}) <= 0.05 %", None if value is None else value <= 0.05,
                        f"{value:.3f} %" if value is not None else "not reached"))
    targets.append(("page back within 0.5 s of the second start", None if page_ms is None else page_ms <= 500,
                    f"{page_ms:.0f} ms" if page_ms is not None else "not reached"))
    targets.append(("page back within 0.5 s of the window mapped",
                    None if page_after_map_ms is None else page_after_map_ms <= 500,
                    f"{page_after_map_ms:.0f} ms" if page_after_map_ms is not None else "not reached"))
    return targets


def run(s):
    bench = Bench(s)
    work, procs, service = bench.work, bench.procs, bench.service
    log(f"bench: {time.strftime('%Y-%m-%d %H:%M:%S %z')}, {os.cpu_count()} cores, SCENARIO=background "
        f"ROUNDS={s.rounds} HIDDEN_SECONDS={s.hidden_seconds:g} IDLE_SECONDS={s.idle_seconds:g} "
        f"SETTLE_SECONDS={s.settle_seconds:g} shell={s.shell_bin}")
    log(f"bench: service on {URL} (pid {service}), work folder {work}")
    results, loads = [], []
    try:
        if s.warmup:
            log("warm-up: one unmeasured launch of the shell")
            measure(bench, "shell", idle=False)
        for round_index in range(s.rounds):
            load, waited = wait_for_quiet_machine(s)
            loads.append(load)
            log(f"round {round_index + 1}/{s.rounds} (1-min load {load:.2f}, waited {waited:.0f} s)")
            r = background_round(bench)
            results.append(r)
            for line in describe_background(r, s.page_rest_event):
                log("  " + line)
    finally:
        procs.stop(service)

    targets = background_targets(results)
    log("")
    log(f"Targets (background, {'median of ' if len(results) > 1 else ''}"
        f"{len([r for r in results if 'error' not in r])}/{len(results)} rounds):")
    for label, met, value in targets:
        log(f"  {'-     ' if met is None else 'met   ' if met else 'MISSED'} {label:44} ({value})")
    log("")
    log(f"1-min load before each round: {', '.join(f'{x:.2f}' for x in loads)}; during the rounds: "
        + "; ".join(", ".join(f"{r[k]:.2f}" for k in ("load_avg_shown", "load_avg_hidden", "load_avg_rested")
                              if r.get(k) is not None) for r in results))
    out = bench.results_path("background")
    with open(out, "w") as f:
        json.dump({"date": time.strftime("%Y-%m-%dT%H:%M:%S%z"), "scenario": "background",
                   "rounds": s.rounds, "hidden_seconds": s.hidden_seconds, "idle_seconds": s.idle_seconds,
                   "settle_seconds": s.settle_seconds, "round_loads": loads,
                   "targets": [{"target": t, "met": m, "value": v} for t, m, v in targets],
                   "results": results}, f, indent=1)
    log(f"bench: every figure in {out}")
    if s.keep_homes or any("error" in r for r in results):
        log(f"bench: the shell's home folders and output are in {work}")
    else:
        shutil.rmtree(work, ignore_errors=True)
