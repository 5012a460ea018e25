#!/usr/bin/env python3
"""Start-up time, memory and idle CPU of the shell against surf and Chromium.

Run by bench/run.sh inside a private network namespace, a private D-Bus
session and an Xvfb display with a window manager and a notification server
already running. Starts the watchlist service on 127.0.0.1:80, then, round
after round, each program on http://127.0.0.1/ with a fresh home folder, and
measures:

  load    time from the program's exec to the page's report that it has
          rendered (POST /api/page-loaded, time-stamped where the service
          receives it by bench/load-probe.js);
  PSS     proportional set size of the program and every descendant,
          SETTLE_SECONDS after the load (and again after the idle period);
  tree RSS  the same processes' resident pages, each counted once (from
          /proc/PID/pagemap): unlike PSS it does not depend on what else on
          the machine maps the same libraries;
  idle    CPU time (user + system) of the same processes over IDLE_SECONDS
          after that, as a share of one core (IDLE_SECONDS=0 skips it, for
          many quick load-time runs).

Then the local build's whole start (it launches its own service on 45721,
probes it and loads the page), exec to load. Prints medians and the ratios;
asserts nothing.

Settings (environment): RUNS (5), IDLE_SECONDS (60), SETTLE_SECONDS (3),
LOCAL_RUNS (RUNS), PROGRAMS (shell,surf,chromium), LOAD_MAX (1.0),
LOAD_WAIT_SECONDS (600), WARMUP (1: one unmeasured launch of each program
first), CHROMIUM_EXTRA_FLAGS, SHELL_BIN, LOCAL_BIN,
EXTRA_SHELLS (label=path,... more builds of the shell, measured like it),
RESULTS (the JSON file with every run; build/bench/results-DATE.json by
default), KEEP_HOMES=1 (keep the work folder with each run's home folder and
the program's output), SMAPS_DETAIL=1 (PSS per mapping of every process in
the results), SCREENSHOTS (a folder for a screenshot after each load).
"""

import array
import ctypes
import json
import os
import re
import shlex
import shutil
import signal
import socket
import statistics
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
BENCH = os.path.join(ROOT, "bench")
URL = "http://127.0.0.1/"
CLK_TCK = os.sysconf("SC_CLK_TCK")
PR_SET_CHILD_SUBREAPER = 36


def env_number(name, default, kind=float):
    text = os.environ.get(name, "").strip()
    return kind(text) if text else default


RUNS = env_number("RUNS", 5, int)
IDLE_SECONDS = env_number("IDLE_SECONDS", 60.0)
SETTLE_SECONDS = env_number("SETTLE_SECONDS", 3.0)
LOCAL_RUNS = env_number("LOCAL_RUNS", RUNS, int)
LOAD_MAX = env_number("LOAD_MAX", 1.0)
LOAD_WAIT_SECONDS = env_number("LOAD_WAIT_SECONDS", 600.0)
LOAD_TIMEOUT_SECONDS = 60.0
SMAPS_DETAIL = os.environ.get("SMAPS_DETAIL") == "1"
SCREENSHOTS = os.environ.get("SCREENSHOTS", "")
KEEP_HOMES = os.environ.get("KEEP_HOMES") == "1"
WARMUP = os.environ.get("WARMUP", "1") != "0"
PROGRAMS = [p for p in os.environ.get("PROGRAMS", "shell,surf,chromium").split(",") if p]
# More builds of the shell to compare, e.g. before and after a change:
# EXTRA_SHELLS="before=/path/to/quorvel,after=/other/quorvel".
EXTRA_SHELLS = dict(item.split("=", 1) for item in os.environ.get("EXTRA_SHELLS", "").split(",") if item)
PROGRAMS += [name for name in EXTRA_SHELLS if name not in PROGRAMS]
SHELL_BIN = os.environ.get("SHELL_BIN", os.path.join(ROOT, "build/bench/quorvel"))
LOCAL_BIN = os.environ.get("LOCAL_BIN", os.path.join(ROOT, "build/local/quorvel"))


def log(message):
    print(message, flush=True)


# --- /proc -----------------------------------------------------------------

def read_stat(pid):
    """(ppid, own cpu ticks, reaped children's cpu ticks, comm) or None."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            data = f.read().decode("utf-8", "replace")
    except OSError:
        return None
    comm = data[data.index("(") + 1:data.rindex(")")]
    rest = data[data.rindex(")") + 2:].split()
    # rest[0] is field 3 (state) of proc(5): utime is field 14.
    ppid = int(rest[1])
    own = int(rest[11]) + int(rest[12])
    reaped = int(rest[13]) + int(rest[14])
    return ppid, own, reaped, comm


def all_processes():
    table = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            stat = read_stat(int(name))
            if stat:
                table[int(name)] = stat
    return table


def descendants(roots, table):
    children = {}
    for pid, (ppid, *_rest) in table.items():
        children.setdefault(ppid, []).append(pid)
    found, todo = [], [r for r in roots if r in table]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo.extend(children.get(pid, []))
    return found


def smaps_rollup(pid):
    fields = {}
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                parts = line.split()
                if len(parts) == 3 and parts[2] == "kB":
                    fields[parts[0].rstrip(":")] = int(parts[1])
    except OSError:
        pass
    return fields


def smaps_by_mapping(pid, top=12):
    """PSS per mapped file (anonymous mappings by their name or "[anon]"), largest first."""
    sizes = {}
    name = None
    try:
        with open(f"/proc/{pid}/smaps") as f:
            for line in f:
                parts = line.split()
                if parts and "-" in parts[0] and not parts[0].endswith(":"):
                    name = parts[5] if len(parts) > 5 else "[anon]"
                    name = re.sub(r"^/memfd:.*", "[memfd]", name)
                elif parts and parts[0] == "Pss:":
                    sizes[name] = sizes.get(name, 0) + int(parts[1])
    except OSError:
        pass
    return sorted(sizes.items(), key=lambda item: -item[1])[:top]


PAGE_SIZE = os.sysconf("SC_PAGE_SIZE")
PFN_MASK = (1 << 55) - 1


def resident_frames(pid, frames):
    """Adds the physical frames of the process's resident pages to a set.

    Reads /proc/PID/pagemap (frame numbers need root) for every mapping with
    resident pages; reserved but untouched address space is skipped.
    """
    regions = []
    try:
        with open(f"/proc/{pid}/smaps") as f:
            current = None
            for line in f:
                parts = line.split()
                if parts and "-" in parts[0] and not parts[0].endswith(":"):
                    start, end = (int(x, 16) for x in parts[0].split("-"))
                    current = (start, end)
                elif parts and parts[0] == "Rss:" and current and int(parts[1]) > 0:
                    regions.append(current)
        fd = os.open(f"/proc/{pid}/pagemap", os.O_RDONLY)
    except OSError:
        return
    try:
        for start, end in regions:
            page = start // PAGE_SIZE
            last = end // PAGE_SIZE
            while page < last:
                count = min(last - page, 1 << 16)
                entries = array.array("Q")
                entries.frombytes(os.pread(fd, count * 8, page * 8))
                frames.update(e & PFN_MASK for e in entries if e >> 63)
                page += count
    except OSError:
        pass
    finally:
        os.close(fd)


ENGINE_FILES = ("/libwebkit2gtk-4.1.so", "/usr/lib/chromium/chromium")


def engine_processes_elsewhere(tree_pids):
    """Processes outside the tree that map a browser engine.

    They share the engine's library pages with the program and so lower its
    PSS: other people's WebKit or Chromium runs on a shared machine.
    """
    tree = set(tree_pids)
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) in tree:
            continue
        try:
            with open(f"/proc/{name}/maps") as f:
                if any(engine in line for line in f for engine in ENGINE_FILES):
                    found.append(int(name))
        except OSError:
            pass
    return found


# --- processes ---------------------------------------------------------------

class Processes:
    """Spawns programs and knows every process that descends from them.

    This process is a child subreaper, so a helper that a program starts by
    double-forking (Chromium's crash handler does) is re-parented here rather
    than to init and is still counted as the program's.
    """

    def __init__(self):
        libc = ctypes.CDLL(None, use_errno=True)
        if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
            log("note: cannot become a child subreaper; re-parented helpers are not counted")
        self.infrastructure = set()

    def spawn(self, argv, env, output_path, infrastructure=False):
        fd = os.open(output_path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o600)
        try:
            pid = os.posix_spawnp(argv[0], argv, env, file_actions=[
                (os.POSIX_SPAWN_OPEN, 0, "/dev/null", os.O_RDONLY, 0),
                (os.POSIX_SPAWN_DUP2, fd, 1),
                (os.POSIX_SPAWN_DUP2, fd, 2),
            ], setsid=True)
        finally:
            os.close(fd)
        if infrastructure:
            self.infrastructure.add(pid)
        return pid

    def tree(self, root, table=None):
        """The root and its descendants, with helpers re-parented to us."""
        table = table if table is not None else all_processes()
        me = os.getpid()
        adopted = [pid for pid, (ppid, *_r) in table.items()
                   if ppid == me and pid != root and pid not in self.infrastructure]
        return descendants([root] + adopted, table), table

    def cpu_ticks(self, root):
        """{pid: (comm, user + system ticks, its reaped children's included)}."""
        pids, table = self.tree(root)
        return {p: (table[p][3], table[p][1] + table[p][2]) for p in pids}

    def memory(self, root):
        pids, table = self.tree(root)
        per_process = []
        total = {}
        for pid in pids:
            rollup = smaps_rollup(pid)
            for key, value in rollup.items():
                total[key] = total.get(key, 0) + value
            per_process.append({"pid": pid, "comm": table[pid][3],
                                "pss_kb": rollup.get("Pss", 0),
                                "pss_anon_kb": rollup.get("Pss_Anon", 0),
                                "pss_file_kb": rollup.get("Pss_File", 0),
                                "pss_shmem_kb": rollup.get("Pss_Shmem", 0)})
            if SMAPS_DETAIL:
                per_process[-1]["top_mappings_kb"] = smaps_by_mapping(pid)
        per_process.sort(key=lambda p: -p["pss_kb"])
        # Every resident page of the tree counted once, whoever else maps it:
        # unlike PSS, independent of what else runs on the machine.
        frames = set()
        for pid in pids:
            resident_frames(pid, frames)
        frames.discard(0)  # frame numbers read as 0 without CAP_SYS_ADMIN
        total["TreeRss"] = len(frames) * PAGE_SIZE // 1024 if frames else None
        return total, per_process

    def stop(self, root, grace=5.0):
        """SIGTERM to the program, then SIGKILL to whatever of it is left."""
        pids, _ = self.tree(root)
        try:
            os.kill(root, signal.SIGTERM)
        except ProcessLookupError:
            pass
        deadline = time.monotonic() + grace
        while time.monotonic() < deadline:
            self.reap()
            if all(is_zombie(p) for p in pids):
                break
            time.sleep(0.1)
        late, _ = self.tree(root)
        for pid in set(pids) | set(late):
            if not is_zombie(pid):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        time.sleep(0.3)
        self.reap()

    def reap(self):
        while True:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                return


def is_zombie(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] in ("Z", "X")
    except (OSError, IndexError):
        return True


# --- the service ---------------------------------------------------------------

class RequestLog:
    """The service's requests, as bench/load-probe.js writes them."""

    def __init__(self, path):
        self.path = path
        open(path, "w").close()

    def entries(self):
        with open(self.path) as f:
            return [json.loads(line) for line in f if line.strip()]

    def page_loads(self):
        return [e for e in self.entries() if is_load_report(e)]

    def wait_for_load(self, seen, port, timeout, alive):
        """The requests on port since entry `seen`, up to the first load report."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            fresh = [e for e in self.entries()[seen:] if e.get("port") == port]
            for i, entry in enumerate(fresh):
                if is_load_report(entry):
                    return fresh[:i + 1]
            if not alive():
                return None
            time.sleep(0.02)
        return None


def is_load_report(entry):
    return entry.get("method") == "POST" and entry.get("url", "").split("?")[0] == "/api/page-loaded"


def http_status(method, path, headers=None):
    request = urllib.request.Request(URL.rstrip("/") + path, method=method,
                                     headers=headers or {}, data=b"" if method == "POST" else None)
    try:
        with urllib.request.urlopen(request, timeout=5) as answer:
            return answer.status
    except urllib.error.HTTPError as err:
        return err.code
    except (urllib.error.URLError, OSError):
        return None


def port_open(port):
    with socket.socket() as s:
        s.settimeout(0.2)
        return s.connect_ex(("127.0.0.1", port)) == 0


def start_service(procs, work, load_log):
    data = os.path.join(work, "service-data")
    os.makedirs(data, exist_ok=True)
    env_file = os.path.join(data, ".env")
    with open(env_file, "w") as f:
        f.write("QUOTE_PROVIDER=offline\n")
    env = dict(os.environ, PORT="80", DATA_DIR=data, ENV_FILE=env_file, BENCH_LOAD_LOG=load_log.path)
    pid = procs.spawn(["node", "--require", os.path.join(BENCH, "load-probe.js"),
                       os.path.join(ROOT, "web/server.js")],
                      env, os.path.join(work, "service.out"), infrastructure=True)
    deadline = time.monotonic() + 15
    while not port_open(80):
        if time.monotonic() > deadline or is_zombie(pid):
            raise SystemExit("bench: the service did not start on 127.0.0.1:80 "
                             f"(see {work}/service.out)")
        time.sleep(0.05)
    # Browsers leave the default port out of Host and Origin; a service that
    # refused them would fail every program alike.
    page = http_status("GET", "/")
    # checkOrigin runs before routing: an unknown path answers 404 unless
    # the Origin is refused.
    post = http_status("POST", "/api/bench-origin-probe", {"Origin": "http://127.0.0.1"})
    if page != 200 or post != 404:
        procs.stop(pid)
        raise SystemExit("bench: the service on port 80 refuses what browsers send "
                         f"(GET / with Host 127.0.0.1 answered {page}, a POST with Origin "
                         f"http://127.0.0.1 answered {post})")
    return pid


# --- programs --------------------------------------------------------------------

def fresh_home(work, label):
    home = tempfile.mkdtemp(prefix=f"home-{label}-", dir=work)
    env = {k: v for k, v in os.environ.items()
           if k not in ("PORT", "DATA_DIR", "ENV_FILE", "NODE_OPTIONS",
                        "BENCH_LOAD_LOG")}
    env.update(HOME=home, XDG_DATA_HOME=f"{home}/.local/share", XDG_CONFIG_HOME=f"{home}/.config",
               XDG_CACHE_HOME=f"{home}/.cache", XDG_STATE_HOME=f"{home}/.local/state",
               NO_AT_BRIDGE="1")
    for key in ("XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"):
        os.makedirs(env[key], exist_ok=True)
    return home, env


CHROMIUM_FLAGS = [
    "--no-sandbox",                       # runs as root here: Chromium refuses otherwise
    "--no-first-run",                     # no first-run dialog for a fresh profile
    "--disable-background-networking",    # nothing can leave the namespace anyway:
    "--disable-component-update",         # keep failing fetches out of the figures
    "--disable-sync",
]


def argv_for(name, home):
    if name == "shell":
        return [SHELL_BIN]
    if name in EXTRA_SHELLS:
        return [EXTRA_SHELLS[name]]
    if name == "surf":
        return ["surf", URL]
    if name == "chromium":
        extra = shlex.split(os.environ.get("CHROMIUM_EXTRA_FLAGS", ""))
        return (["/usr/bin/chromium"] + CHROMIUM_FLAGS + extra +
                [f"--user-data-dir={home}/chromium-profile", f"--app={URL}"])
    if name == "local":
        return [LOCAL_BIN]
    raise SystemExit(f"bench: unknown program {name!r}")


def run_tool(*argv):
    """Output of a helper; it has ended (and been reaped) when this returns."""
    try:
        return subprocess.run(argv, capture_output=True, text=True, timeout=10).stdout
    except (OSError, subprocess.TimeoutExpired):
        return ""


def window_size(pids):
    """Width x height of the program's visible window, for the record."""
    for pid in pids:
        for window in run_tool("xdotool", "search", "--onlyvisible", "--pid", str(pid)).split():
            for line in run_tool("xdotool", "getwindowgeometry", window).splitlines():
                if "Geometry:" in line:
                    w, h = line.split()[-1].split("x")
                    if int(w) > 100 and int(h) > 100:
                        return f"{w}x{h}"
    return None


def loadavg():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def wait_for_quiet_machine():
    """Waits (up to LOAD_WAIT_SECONDS) for the 1-minute load to drop to LOAD_MAX."""
    start = time.monotonic()
    load = loadavg()
    while load > LOAD_MAX and time.monotonic() - start < LOAD_WAIT_SECONDS:
        log(f"  load {load:.2f} > {LOAD_MAX}: waiting")
        time.sleep(20)
        load = loadavg()
    waited = time.monotonic() - start
    if load > LOAD_MAX:
        log(f"  load still {load:.2f} after {waited:.0f} s: measuring anyway")
    return load, waited


def measure(procs, load_log, name, work, idle=True):
    home, env = fresh_home(work, name)
    port = 45721 if name == "local" else 80
    if name == "local":
        env["NODE_OPTIONS"] = f"--require {os.path.join(BENCH, 'load-probe.js')}"
        env["BENCH_LOAD_LOG"] = load_log.path
    argv = argv_for(name, home)
    seen = len(load_log.entries())
    seen_loads = len(load_log.page_loads())
    load_at_start = loadavg()
    exec_ns = time.time_ns()
    root = procs.spawn(argv, env, os.path.join(home, "program.out"))
    requests = load_log.wait_for_load(seen, port, LOAD_TIMEOUT_SECONDS, lambda: not is_zombie(root))
    result = {"program": name, "load_avg_at_start": load_at_start, "home": home}
    try:
        if requests is None:
            result["error"] = "no page load reported (see program.out in its home)"
            return result
        exec_ms = exec_ns / 1e6
        result["load_ms"] = requests[-1]["atMs"] - exec_ms
        # Where the time went: the program asks for the page, the page's
        # script asks for its data, the page reports that it has rendered.
        page = [e for e in requests if e["method"] == "GET" and e["url"] == "/"]
        result["page_request_ms"] = page[-1]["atMs"] - exec_ms if page else None
        result["requests_before_load"] = [
            {"ms": round(e["atMs"] - exec_ms, 1), "request": f"{e['method']} {e['url']}"}
            for e in requests]
        time.sleep(SETTLE_SECONDS)
        start_cpu = procs.cpu_ticks(root)
        idle_start = time.monotonic()
        result["start_cpu_s"] = sum(t for _c, t in start_cpu.values()) / CLK_TCK
        memory, per_process = procs.memory(root)
        result["pss_kb"] = memory.get("Pss", 0)
        result["tree_rss_kb"] = memory.get("TreeRss")
        result["pss_breakdown_kb"] = {k: memory.get(k, 0) for k in
                                      ("Pss_Anon", "Pss_File", "Pss_Shmem", "Rss")}
        result["processes"] = per_process
        result["engine_processes_elsewhere"] = len(
            engine_processes_elsewhere(p["pid"] for p in per_process))
        result["window"] = window_size(list(start_cpu))
        if SCREENSHOTS:
            os.makedirs(SCREENSHOTS, exist_ok=True)
            shot = os.path.join(SCREENSHOTS, f"{name}-{os.path.basename(home)}.png")
            run_tool("import", "-window", "root", shot)
        if not idle or IDLE_SECONDS <= 0:
            return result
        time.sleep(max(0.0, IDLE_SECONDS - (time.monotonic() - idle_start)))
        end_cpu = procs.cpu_ticks(root)
        elapsed = time.monotonic() - idle_start
        spent = {pid: (comm, ticks - start_cpu.get(pid, ("", 0))[1])
                 for pid, (comm, ticks) in end_cpu.items()}
        total = sum(t for _c, t in end_cpu.values()) - sum(t for _c, t in start_cpu.values())
        result["idle_cpu_percent"] = total / CLK_TCK / elapsed * 100
        result["idle_cpu_by_process"] = sorted(
            ({"pid": pid, "comm": comm, "percent": ticks / CLK_TCK / elapsed * 100}
             for pid, (comm, ticks) in spent.items() if ticks), key=lambda p: -p["percent"])
        after, _ = procs.memory(root)
        result["pss_after_idle_kb"] = after.get("Pss", 0)
        result["tree_rss_after_idle_kb"] = after.get("TreeRss")
        result["loads_during_idle"] = len(load_log.page_loads()) - seen_loads - 1
        return result
    finally:
        procs.stop(root)
        if "error" in result or KEEP_HOMES:
            result["home"] = home
        else:
            shutil.rmtree(home, ignore_errors=True)
            result.pop("home")
        if name == "local":
            deadline = time.monotonic() + 5
            while port_open(45721) and time.monotonic() < deadline:
                time.sleep(0.1)


# --- report ----------------------------------------------------------------------

def median(results, key, scale=1.0):
    values = [r[key] for r in results if r.get(key) is not None]
    return statistics.median(values) / scale if values else None


def fmt(value, pattern):
    if value is None:
        return "-".rjust(len(pattern.format(0)))
    return pattern.format(value)


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


def ratio(a, b):
    return a / b if a is not None and b else None


def summary(results, local_results, programs):
    by = {p: [r for r in results if r["program"] == p] for p in programs}
    rows = {}
    log("")
    log(f"Medians over {RUNS} runs (PSS {SETTLE_SECONDS:g} s after the load and again after "
        f"the idle period of {IDLE_SECONDS:g} s):")
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


def main():
    # A terminate request unwinds like Ctrl-C, so the program being measured
    # and the service are stopped on the way out.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    work = tempfile.mkdtemp(prefix="quorvel-bench-")
    procs = Processes()
    load_log = RequestLog(os.path.join(work, "page-loads.jsonl"))
    service = start_service(procs, work, load_log)
    log(f"bench: {time.strftime('%Y-%m-%d %H:%M:%S %z')}, {os.cpu_count()} cores, "
        f"RUNS={RUNS} IDLE_SECONDS={IDLE_SECONDS:g} SETTLE_SECONDS={SETTLE_SECONDS:g} "
        f"LOCAL_RUNS={LOCAL_RUNS} programs={','.join(PROGRAMS)}")
    log(f"bench: service on {URL} (pid {service}), work folder {work}")
    log(f"bench: chromium flags: {' '.join(CHROMIUM_FLAGS)} {os.environ.get('CHROMIUM_EXTRA_FLAGS', '')}"
        f" --user-data-dir=<fresh> --app={URL}")

    results, local_results, loads = [], [], []
    try:
        # One launch of each program that is not measured: the first
        # WebKit program of a session has the bus start the accessibility
        # services, and the first launch of anything reads its files from disk.
        if WARMUP:
            log("warm-up: one unmeasured launch of each program")
            for name in PROGRAMS:
                measure(procs, load_log, name, work, idle=False)
        for run in range(RUNS):
            load, waited = wait_for_quiet_machine()
            loads.append(load)
            log(f"round {run + 1}/{RUNS} (1-min load {load:.2f}, waited {waited:.0f} s)")
            # Rotate the order so that no program always goes first.
            order = PROGRAMS[run % len(PROGRAMS):] + PROGRAMS[:run % len(PROGRAMS)]
            for name in order:
                r = measure(procs, load_log, name, work)
                results.append(r)
                log("  " + describe_run(r))
                time.sleep(1)
        if LOCAL_RUNS > 0 and os.access(LOCAL_BIN, os.X_OK):
            load, waited = wait_for_quiet_machine()
            loads.append(load)
            log(f"local start (1-min load {load:.2f}, waited {waited:.0f} s)")
            for _ in range(LOCAL_RUNS):
                r = measure(procs, load_log, "local", work, idle=False)
                local_results.append(r)
                log("  " + describe_run(r))
                time.sleep(1)
        elif LOCAL_RUNS > 0:
            log(f"bench: {LOCAL_BIN} not built; skipping the local start "
                "(cmake --preset local && cmake --build --preset local)")
    finally:
        procs.stop(service)

    rows, local_row, targets = summary(results, local_results, PROGRAMS)
    log("")
    at_start = [r["load_avg_at_start"] for r in results + local_results]
    if at_start:
        log(f"1-min load before each round: {', '.join(f'{x:.2f}' for x in loads)}; "
            f"at each start: min {min(at_start):.2f} max {max(at_start):.2f}")
    out = os.environ.get("RESULTS") or os.path.join(
        ROOT, "build", "bench", f"results-{time.strftime('%Y%m%d-%H%M%S')}.json")
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out, "w") as f:
        json.dump({"date": time.strftime("%Y-%m-%dT%H:%M:%S%z"), "runs": RUNS,
                   "idle_seconds": IDLE_SECONDS, "settle_seconds": SETTLE_SECONDS,
                   "round_loads": loads,
                   "medians": rows, "local": local_row,
                   "targets": [{"target": t, "met": m, "value": v} for t, m, v in targets],
                   "results": results, "local_results": local_results}, f, indent=1)
    log(f"bench: every run in {out}")
    if KEEP_HOMES or any("error" in r for r in results + local_results):
        log(f"bench: the programs' home folders and output are in {work}")
    else:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
