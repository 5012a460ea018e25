#!/usr/bin/env python3
"""The long run: the page left open for hours, beside its peer.

Run by bench/run.sh (SCENARIO=longrun) in the same namespace, session and
display as the other scenarios. Starts the watchlist service on
127.0.0.1:80 with the offline quotes, a watchlist of WATCH codes and two rules
on each (one above, one below its middle price), so that the quotes' wave
keeps crossing them and alerts keep coming; then each program of PROGRAMS
(shell,surf) on the page, one after the other, each window shown and left
alone. Every SAMPLE_SECONDS it records each process's resident size and
anonymous memory (VmRSS, RssAnon from /proc/PID/status), for DURATION_MINUTES.
Prints a line per sample and, at the end, each program's web process at
minute 10 and at the end, and its growth per hour from minute 10 on (a least
squares line). Asserts nothing.

Settings (environment): DURATION_MINUTES (120), SAMPLE_SECONDS (60),
PROGRAMS (shell,surf), EXTRA_SHELLS (label=path,...: more builds of the shell;
each runs on a session bus of its own, with a notification server of its
own, since the shell is one instance per session), WATCH (20), SYNC_SECONDS
(30: the service's quote sync period), CPU_LOAD (0: how many busy loops run
beside the programs, for the steady load the fast growth was seen under),
ENGINE_ENV (extra KEY=value,... for every program, e.g. JSC_logGC=1 to have
the web processes print each collection to their output; each sample then
also counts the collections each program's output holds, so that they can
be placed against the minutes), SURF_QUERY (e.g.
?refreshMs=7500: appended to surf's address, so that its page refreshes at
another pace than the shell's), SHELL_BIN, RESULTS
(build/bench/longrun-DATE.jsonl by default: one JSON object per sample),
KEEP_HOMES=1.
"""

import json
import os
import shutil
import sys
import time
import urllib.request

from harness import LOAD_TIMEOUT_SECONDS, Bench, argv_for, fresh_home, log
from sampling import all_processes, descendants, is_zombie, loadavg, resident_kinds
from settings import URL, Settings

SETTLED_MINUTE = 10.0


def offline_middle(symbol):
    """The middle of the offline provider's wave for a code (web/lib/providers/offline.js)."""
    h = 2166136261
    for ch in symbol:
        h ^= ord(ch)
        h = (h * 16777619) & 0xFFFFFFFF
    return 5 + (h % 3000) / 10


def api(method, path, body=None):
    data = json.dumps(body).encode() if body is not None else None
    request = urllib.request.Request(URL.rstrip("/") + path, method=method, data=data, headers={
        "Origin": "http://127.0.0.1", "Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=10) as answer:
        text = answer.read()
        return json.loads(text) if text else None


def fill_watchlist(watch):
    """WATCH codes with a rule above and one below the middle of each one's wave."""
    codes = [f"sh6000{n:02d}" for n in range(watch)]
    for code in codes:
        middle = round(offline_middle(code), 2)
        api("POST", "/api/rules", {"symbol": code, "direction": "above", "price": middle})
        api("POST", "/api/rules", {"symbol": code, "direction": "below", "price": middle})
    return codes


def sample(roots):
    """{program: [{pid, comm, VmRSS, RssAnon, ...}, ...]} for every process of each program."""
    table = all_processes()
    figures = {}
    for name, root in roots.items():
        # Only what descends from the program: the others run beside it.
        pids = descendants([root], table)
        figures[name] = [dict(pid=pid, comm=table[pid][3], **resident_kinds(pid)) for pid in pids]
        for p in figures[name]:
            if p["comm"].startswith("WebKitWebProces"):
                p["anonymous_by_mapping"] = mapping_groups(p["pid"])
    return figures


def mapping_groups(pid):
    """The web process's anonymous memory by kind of mapping, kB: [heap],
    [stack], unnamed mappings of at most 64 MiB (malloc's arenas and the
    engine allocator's chunks both land there) and larger ones, shared
    memory, and the private pages of file mappings."""
    groups = {}
    try:
        with open(f"/proc/{pid}/smaps") as f:
            name, size = None, 0
            for line in f:
                head = line.split()
                if "-" in head[0] and len(head) >= 5 and ":" not in head[0]:
                    start, end = (int(v, 16) for v in head[0].split("-"))
                    size = (end - start) // 1024
                    path = head[5] if len(head) > 5 else ""
                    name = ("[heap]" if path == "[heap]" else
                            "[stack]" if path.startswith("[stack") else
                            "memfd/shm" if path.startswith(("/memfd:", "/dev/shm", "/SYSV")) else
                            "file" if path.startswith("/") else
                            "anon<=64M" if size <= 64 * 1024 else "anon>64M")
                elif head[0] == "Anonymous:" and name:
                    groups[name] = groups.get(name, 0) + int(head[1])
    except OSError:
        pass
    return groups


def collections_logged(home):
    """How many collections the program's web processes have logged so far
    (JSC_logGC=1 prints a "GC END!" line after each)."""
    try:
        with open(os.path.join(home, "program.out"), errors="replace") as f:
            return sum(1 for line in f if line.startswith("GC END!"))
    except OSError:
        return 0


def web_process_kb(processes, key):
    return sum(p.get(key, 0) for p in processes if p["comm"].startswith("WebKitWebProces"))


def by_kind(processes):
    """RSS by kind of process: the program itself, web, network, other."""
    kinds = {}
    for p in processes:
        comm = p["comm"]
        kind = ("web" if comm.startswith("WebKitWebProces") else
                "network" if comm.startswith("WebKitNetworkPr") else
                "sandbox" if comm in ("bwrap", "xdg-dbus-proxy") else
                "dunst/bus" if comm in ("dunst", "dbus-daemon", "dbus-run-sessio", "sh") else "ui")
        kinds[kind] = kinds.get(kind, 0) + p.get("VmRSS", 0)
    return kinds


def growth_per_hour(points):
    """Least squares slope of (minute, kB) points, in MiB an hour."""
    if len(points) < 2:
        return None
    n = len(points)
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    if sxx == 0:
        return None
    slope = sum((x - mx) * (y - my) for x, y in points) / sxx
    return slope * 60 / 1024


def start_program(bench, name):
    s, load_log = bench.settings, bench.load_log
    home, env = fresh_home(bench.work, name)
    env.update(s.engine_env)
    argv = argv_for(s, name, home)
    # SURF_QUERY, e.g. "?refreshMs=7500": surf's page then refreshes at
    # another pace than the shell's (every 15 s by default).
    if name == "surf" and s.surf_query:
        argv = ["surf", URL + s.surf_query.lstrip("/")]
    if name in s.extra_shells:
        # One instance per session: a bus and a notification server of its own.
        argv = ["dbus-run-session", "--", "sh", "-c",
                'dunst >/dev/null 2>&1 & sleep 0.5; exec "$@"', "sh"] + argv
    seen = len(load_log.entries())
    root = bench.procs.spawn(argv, env, os.path.join(home, "program.out"))
    requests = load_log.wait_for_load(seen, 80, LOAD_TIMEOUT_SECONDS, lambda: not is_zombie(root))
    if requests is None:
        raise SystemExit(f"bench: {name} reported no page load (see {home}/program.out)")
    return root, home


def main():
    s = Settings.from_environment(scenario="longrun")
    bench = Bench(s)
    work, procs, load_log, service = bench.work, bench.procs, bench.load_log, bench.service
    out = bench.results_path("longrun", ".jsonl")
    log(f"bench: {time.strftime('%Y-%m-%d %H:%M:%S %z')}, {os.cpu_count()} cores, SCENARIO=longrun "
        f"DURATION_MINUTES={s.duration_minutes:g} SAMPLE_SECONDS={s.sample_seconds:g} WATCH={s.watch} "
        f"SYNC_SECONDS={s.sync_seconds} SURF_QUERY={s.surf_query or '-'} CPU_LOAD={s.cpu_load} "
        f"programs={','.join(s.programs)} "
        f"ENGINE_ENV={','.join(f'{k}={v}' for k, v in s.engine_env.items()) or '-'}")
    loads = []
    roots = {}
    homes = {}
    try:
        codes = fill_watchlist(s.watch)
        api("POST", "/api/quotes/sync")
        log(f"bench: {len(codes)} codes, {2 * len(codes)} rules; service pid {service}, work folder {work}")
        for _ in range(s.cpu_load):
            loads.append(procs.spawn([sys.executable, "-c", "while True: pass"], dict(os.environ),
                                     os.devnull, infrastructure=True))
        for name in s.programs:
            roots[name], homes[name] = start_program(bench, name)
            log(f"bench: {name} loaded the page (pid {roots[name]})")
        started = time.monotonic()
        history = {name: [] for name in roots}
        counting_gc = "JSC_logGC" in s.engine_env
        collections = {name: 0 for name in roots}
        with open(out, "w") as f:
            while True:
                minute = (time.monotonic() - started) / 60
                figures = sample(roots)
                alerts = api("GET", "/api/alerts")
                record = {"minute": round(minute, 3), "loadavg": loadavg(),
                          "alerts": len(alerts.get("alerts", [])), "pending": alerts.get("pendingCount"),
                          "page_loads": len(load_log.page_loads()), "programs": figures}
                if counting_gc:
                    record["collections"] = {name: collections_logged(homes[name]) for name in roots}
                f.write(json.dumps(record) + "\n")
                f.flush()
                cells = []
                for name, processes in figures.items():
                    rss = web_process_kb(processes, "VmRSS")
                    anon = web_process_kb(processes, "RssAnon")
                    history[name].append((minute, rss, anon))
                    groups = {}
                    for p in processes:
                        for k, v in p.get("anonymous_by_mapping", {}).items():
                            groups[k] = groups.get(k, 0) + v
                    gc = ""
                    if counting_gc:
                        gc = f"gc {record['collections'][name] - collections[name]:3d} "
                        collections[name] = record["collections"][name]
                    cells.append(f"{name} web {rss / 1024:6.1f} {gc}(anon {anon / 1024:5.1f}: "
                                 + " ".join(f"{k} {v / 1024:.0f}" for k, v in sorted(groups.items())) + ") "
                                 f"tree {sum(p.get('VmRSS', 0) for p in processes) / 1024:6.1f}")
                log(f"  {minute:6.1f} min  load {record['loadavg']:.2f}  alerts {record['alerts']:4d}  "
                    + "  |  ".join(cells))
                if minute >= s.duration_minutes or any(is_zombie(r) for r in roots.values()):
                    break
                time.sleep(max(0.0, s.sample_seconds - ((time.monotonic() - started) % s.sample_seconds)))
        log("")
        log(f"Web process, MiB (RSS / anonymous), from minute {SETTLED_MINUTE:g} to the end:")
        for name, points in history.items():
            settled = [p for p in points if p[0] >= SETTLED_MINUTE] or points[-1:]
            first, last = settled[0], points[-1]
            top = max(points, key=lambda p: p[1])
            slope = growth_per_hour([(m, r) for m, r, _a in settled])
            anon_slope = growth_per_hour([(m, a) for m, _r, a in settled])
            log(f"  {name:10} {first[1] / 1024:6.1f} / {first[2] / 1024:5.1f} at {first[0]:5.1f} min -> "
                f"{last[1] / 1024:6.1f} / {last[2] / 1024:5.1f} at {last[0]:5.1f} min; "
                f"highest {top[1] / 1024:6.1f}; growth "
                + (f"{slope:+.1f} MiB/h (anonymous {anon_slope:+.1f})" if slope is not None else "-"))
            kinds = by_kind(figures[name])
            log(f"  {'':10} last sample by kind: "
                + ", ".join(f"{k} {v / 1024:.1f}" for k, v in sorted(kinds.items())))
        log(f"bench: every sample in {out}")
    finally:
        for root in roots.values():
            procs.stop(root)
        for pid in loads:
            procs.stop(pid)
        procs.stop(service)
        if not s.keep_homes:
            shutil.rmtree(work, ignore_errors=True)
        else:
            log(f"bench: home folders and output in {work}")


if __name__ == "__main__":
    main()
