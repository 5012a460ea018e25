"""The shell against surf and Chromium on the same page, round after round,
then the local build's whole start (SCENARIO unset or peers)."""

import json
import os
import shutil
import time

from figures import fmt, median, ratio
from harness import CHROMIUM_FLAGS, Bench, log, measure, wait_for_quiet_machine
from settings import URL


def describe_run(r):
    if "error" in r:
        return f"{r['program']:14} ERROR: {r['error']}"
    top = ", ".join(f"{p['comm']} {p['pss_kb'] / 1024:.0f}" for p in r["processes"][:4])
    busy = ", ".join(f"{p['comm']} {p['percent']:.2f}" for p in r.get("idle_cpu_by_process", [])[:2])
    return (f"{r['program']:14} load {r['load_ms']:7.1f} ms"
            f" (page asked at {fmt(r.get('page_request_ms'), '{:.0f}')})"
            f"  PSS {r['pss_kb'] / 1024:6.1f} MiB"
            f" (tree RSS {fmt(r['tree_rss_kb'] and r['tree_rss_kb'] / 1024, '{:.1f}')})"
            f"  idle CPU {fmt(r.get('idle_cpu_percent'), '{:.3f}')} %"
            f"  start CPU {r['start_cpu_s']:.2f} s  window {r.get('window') or '?'}"
            f"  load avg {r['load_avg_at_start']:.2f}"
            + (f"  ({r['engine_processes_elsewhere']} engine processes of others running)"
               if r.get("engine_processes_elsewhere") else "")
            + f"\n{'':16}PSS MiB by process: {top}"
            + (f"; idle CPU % by process: {busy}" if busy else ""))


def summary(s, results, local_results, programs):
    by = {p: [r for r in results if r["program"] == p] for p in programs}
    rows = {}
    log("")
    log(f"Medians over {s.runs} runs (PSS {s.settle_seconds:g} s after the load and again after "
        f"the idle period of {s.idle_seconds:g} s):")
    log(f"{'program':14} {'load':>8} {'page':>8} {'PSS':>8} {'PSS':>8} {'tree RSS':>9}"
        f" {'idle CPU':>9} {'start CPU':>9} {'runs':>5}")
    log(f"{'':14} {'ms':>8} {'asked ms':>8} {'MiB':>8} {'idle MiB':>8} {'MiB':>9}"
        f" {'% core':>9} {'s':>9}")
    for p in programs:
        ok = [r for r in by[p] if "error" not in r]
        row = {"load_ms": median(ok, "load_ms"),
               "pss_mib": median(ok, "pss_kb", 1024),
               "pss_after_idle_mib": median(ok, "pss_after_idle_kb", 1024),
               "tree_rss_mib": median(ok, "tree_rss_kb", 1024),
               "idle_cpu_percent": median(ok, "idle_cpu_percent"),
               "start_cpu_s": median(ok, "start_cpu_s"),
               "page_request_ms": median(ok, "page_request_ms"),
               "runs": len(ok)}
        rows[p] = row
        log(f"{p:14} {fmt(row['load_ms'], '{:8.1f}')} {fmt(row['page_request_ms'], '{:8.1f}')}"
            f" {fmt(row['pss_mib'], '{:8.1f}')}"
            f" {fmt(row['pss_after_idle_mib'], '{:8.1f}')} {fmt(row['tree_rss_mib'], '{:9.1f}')}"
            f" {fmt(row['idle_cpu_percent'], '{:9.3f}')} {fmt(row['start_cpu_s'], '{:9.2f}')}"
            f" {len(ok):>3}/{len(by[p])}")

    targets = []
    for shell_name in [p for p in programs if p not in ("surf", "chromium")]:
        shell = rows[shell_name]
        if not shell["runs"] or not any(rows.get(peer, {}).get("runs") for peer in ("surf", "chromium")):
            continue
        log("")
        log(f"Ratios {shell_name}/peer (of the medians):")
        for peer in ("surf", "chromium"):
            if peer not in rows or not rows[peer]["runs"]:
                continue
            peer_row = rows[peer]
            r = {key: ratio(shell[key], peer_row[key]) for key in
                 ("load_ms", "pss_mib", "pss_after_idle_mib", "tree_rss_mib", "idle_cpu_percent")}
            log(f"  {shell_name}/{peer:8} load {fmt(r['load_ms'], '{:5.2f}')}"
                f"   PSS {fmt(r['pss_mib'], '{:5.2f}')}"
                f"   PSS after idle {fmt(r['pss_after_idle_mib'], '{:5.2f}')}"
                f"   tree RSS {fmt(r['tree_rss_mib'], '{:5.2f}')}"
                f"   idle CPU {fmt(r['idle_cpu_percent'], '{:5.2f}')}")
            if shell_name != "shell":
                continue
            if peer == "surf":
                targets.append(("load time <= surf's", r["load_ms"] <= 1.0, f"{r['load_ms']:.2f}"))
                targets.append(("PSS <= 0.85 x surf's", r["pss_mib"] <= 0.85, f"{r['pss_mib']:.2f}"))
            else:
                targets.append(("PSS <= 0.65 x Chromium's", r["pss_mib"] <= 0.65,
                                f"{r['pss_mib']:.2f}"))
        if shell_name == "shell" and shell["idle_cpu_percent"] is not None:
            targets.append(("idle CPU < 0.5 % of a core", shell["idle_cpu_percent"] < 0.5,
                            f"{shell['idle_cpu_percent']:.3f} %"))
    if targets:
        log("")
        log("Targets (shell):")
        for label, met, value in targets:
            log(f"  {'met   ' if met else 'MISSED'} {label:28} ({value})")

    local_row = None
    if local_results:
        ok = [r for r in local_results if "error" not in r]
        local_row = {"load_ms": median(ok, "load_ms"), "pss_mib": median(ok, "pss_kb", 1024),
                     "page_request_ms": median(ok, "page_request_ms"), "runs": len(ok)}
        log("")
        log(f"Local build, whole start (node launch, probe, load), median of "
            f"{len(ok)}/{len(local_results)}: {fmt(local_row['load_ms'], '{:.1f}')} ms exec to load"
            f" (page asked at {fmt(local_row['page_request_ms'], '{:.1f}')} ms);"
            f" PSS with its service {fmt(local_row['pss_mib'], '{:.1f}')} MiB")
    return rows, local_row, targets


def run(s):
    bench = Bench(s)
    work, procs, service = bench.work, bench.procs, bench.service
    programs = list(s.programs)
    log(f"bench: {time.strftime('%Y-%m-%d %H:%M:%S %z')}, {os.cpu_count()} cores, "
        f"RUNS={s.runs} IDLE_SECONDS={s.idle_seconds:g} SETTLE_SECONDS={s.settle_seconds:g} "
        f"LOCAL_RUNS={s.local_runs} programs={','.join(programs)}")
    log(f"bench: service on {URL} (pid {service}), work folder {work}")
    log(f"bench: chromium flags: {' '.join(CHROMIUM_FLAGS)} {' '.join(s.chromium_extra_flags)}"
        f" --user-data-dir=<fresh> --app={URL}")

    results, local_results, loads = [], [], []
    try:
        # One launch of each program that is not measured: the first
        # WebKit program of a session has the bus start the accessibility
        # services, and the first launch of anything reads its files from disk.
        if s.warmup:
            log("warm-up: one unmeasured launch of each program")
            for name in programs:
                measure(bench, name, idle=False)
        for round_index in range(s.runs):
            load, waited = wait_for_quiet_machine(s)
            loads.append(load)
            log(f"round {round_index + 1}/{s.runs} (1-min load {load:.2f}, waited {waited:.0f} s)")
            # Rotate the order so that no program always goes first.
            turn = round_index % len(programs)
            order = programs[turn:] + programs[:turn]
            for name in order:
                r = measure(bench, name)
                results.append(r)
                log("  " + describe_run(r))
                time.sleep(1)
        if s.local_runs > 0 and os.access(s.local_bin, os.X_OK):
            load, waited = wait_for_quiet_machine(s)
            loads.append(load)
            log(f"local start (1-min load {load:.2f}, waited {waited:.0f} s)")
            for _ in range(s.local_runs):
                r = measure(bench, "local", idle=False)
                local_results.append(r)
                log("  " + describe_run(r))
                time.sleep(1)
        elif s.local_runs > 0:
            log(f"bench: {s.local_bin} not built; skipping the local start "
                "(cmake --preset local && cmake --build --preset local)")
    finally:
        procs.stop(service)

    rows, local_row, targets = summary(s, results, local_results, programs)
    log("")
    at_start = [r["load_avg_at_start"] for r in results + local_results]
    if at_start:
        log(f"1-min load before each round: {', '.join(f'{x:.2f}' for x in loads)}; "
            f"at each start: min {min(at_start):.2f} max {max(at_start):.2f}")
    out = bench.results_path("results")
    with open(out, "w") as f:
        json.dump({"date": time.strftime("%Y-%m-%dT%H:%M:%S%z"), "runs": s.runs,
                   "idle_seconds": s.idle_seconds, "settle_seconds": s.settle_seconds,
                   "round_loads": loads,
                   "medians": rows, "local": local_row,
                   "targets": [{"target": t, "met": m, "value": v} for t, m, v in targets],
                   "results": results, "local_results": local_results}, f, indent=1)
    log(f"bench: every run in {out}")
    if s.keep_homes or any("error" in r for r in results + local_results):
        log(f"bench: the programs' home folders and output are in {work}")
    else:
        shutil.rmtree(work, ignore_errors=True)
