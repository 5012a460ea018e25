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

SCENARIO=background measures the shell alone, against itself: shown, then
with its window closed, right after the close and again once the shell has
ended the page's process (10 minutes after the close, its own timer), then
shown again by a second start of the program. Tree RSS and PSS in each
state; CPU (from /proc/PID/task/*/schedstat, to the nanosecond, and from the
tick counts) and context switches (voluntary + nonvoluntary, every thread of
every process) per process over IDLE_SECONDS in each state; the time from the
second start to the window being mapped and to the reloaded page's load
report. Settings: HIDDEN_SECONDS (600: how long the window stays closed; less
than the shell's 10 minutes measures only the first hidden state), ROUNDS (1),
IDLE_SECONDS, SETTLE_SECONDS, WARMUP, LOAD_MAX, LOAD_WAIT_SECONDS, SHELL_BIN,
RESULTS, KEEP_HOMES as above.
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
SCENARIO = os.environ.get("SCENARIO", "").strip() or "peers"
HIDDEN_SECONDS = env_number("HIDDEN_SECONDS", 600.0)
ROUNDS = env_number("ROUNDS", 1, int)
# More lines for the service's settings file (the long run sets its sync period).
SERVICE_SETTINGS = []


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
        for line in SERVICE_SETTINGS:
            f.write(line + "\n")
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


# --- the background scenario ----------------------------------------------------

# The shell ends its page's process once the window has stayed closed this
# long; the benchmark waits for it, it cannot shorten it.
PAGE_REST_SECONDS = 600.0
PAGE_REST_GRACE_SECONDS = 60.0
PAGE_REST_LINE = "web process ended while the window is hidden"
WEB_PROCESS_COMM = "WebKitWebProces"  # comm is cut to 15 characters
SHOW_TIMEOUT_SECONDS = 30.0


def thread_counters(pid):
    """{tid: (comm, run ns, context switches)} of the process's live threads.

    /proc/PID/status counts the switches of the main thread only, so every
    thread is read. A thread that ends takes its counts with it.
    """
    counters = {}
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return counters
    for tid in tids:
        base = f"/proc/{pid}/task/{tid}"
        try:
            with open(f"{base}/schedstat") as f:
                run_ns = int(f.read().split()[0])
            with open(f"{base}/comm") as f:
                comm = f.read().strip()
            switches = 0
            with open(f"{base}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:")):
                        switches += int(line.split()[1])
        except (OSError, ValueError, IndexError):
            continue
        counters[int(tid)] = (comm, run_ns, switches)
    return counters


def activity_sample(procs, root):
    pids, table = procs.tree(root)
    return time.monotonic(), {pid: (table[pid][3], table[pid][1], thread_counters(pid)) for pid in pids}


def activity(procs, root, seconds):
    """CPU and context switches of every process of the tree over `seconds`.

    A process or thread that starts during the window counts from zero; one
    that ends during it is listed as ended, its last counts lost.
    """
    start_at, start = activity_sample(procs, root)
    time.sleep(seconds)
    end_at, end = activity_sample(procs, root)
    elapsed = end_at - start_at
    per_process = []
    for pid, (comm, ticks, threads) in end.items():
        _c, start_ticks, start_threads = start.get(pid, (comm, 0, {}))
        by_thread = []
        for tid, (thread_comm, run_ns, switches) in threads.items():
            _tc, start_ns, start_switches = start_threads.get(tid, (thread_comm, 0, 0))
            by_thread.append({"tid": tid, "comm": thread_comm,
                              "cpu_percent": (run_ns - start_ns) / 1e9 / elapsed * 100,
                              "switches_per_s": (switches - start_switches) / elapsed})
        by_thread.sort(key=lambda t: (-t["switches_per_s"], -t["cpu_percent"]))
        per_process.append({
            "pid": pid, "comm": comm, "new": pid not in start,
            "cpu_percent": sum(t["cpu_percent"] for t in by_thread),
            "cpu_ticks_percent": (ticks - start_ticks) / CLK_TCK / elapsed * 100,
            "switches_per_s": sum(t["switches_per_s"] for t in by_thread),
            "threads": len(threads),
            "threads_ended": len(set(start_threads) - set(threads)),
            "busiest_threads": [t for t in by_thread if t["switches_per_s"] or t["cpu_percent"]][:4]})
    per_process.sort(key=lambda p: (-p["cpu_percent"], -p["switches_per_s"]))
    return {"seconds": elapsed,
            "cpu_percent": sum(p["cpu_percent"] for p in per_process),
            "cpu_ticks_percent": sum(p["cpu_ticks_percent"] for p in per_process),
            "switches_per_s": sum(p["switches_per_s"] for p in per_process),
            "processes": per_process,
            "ended": [{"pid": pid, "comm": comm} for pid, (comm, _t, _th) in start.items()
                      if pid not in end]}


def resident_kinds(pid):
    """VmRSS and its anonymous, file-backed and shared-memory parts, kB."""
    fields = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, value = line.partition(":")
                if key in ("VmRSS", "RssAnon", "RssFile", "RssShmem"):
                    fields[key] = int(value.split()[0])
    except OSError:
        pass
    return fields


def memory_state(procs, root):
    memory, per_process = procs.memory(root)
    processes = [dict({"pid": p["pid"], "comm": p["comm"], "pss_kb": p["pss_kb"]},
                      **resident_kinds(p["pid"])) for p in per_process]
    return {"pss_kb": memory.get("Pss", 0), "tree_rss_kb": memory.get("TreeRss"),
            "rss_kb": memory.get("Rss", 0),
            # Anonymous memory is each process's own: what the tree holds
            # that no other program shares and the kernel cannot drop.
            "anon_kb": sum(p.get("RssAnon", 0) for p in processes),
            "processes": processes}


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


def wait_until(condition, timeout, step=0.01):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


def log_size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def log_since(path, offset):
    try:
        with open(path, "rb") as f:
            f.seek(offset)
            return f.read().decode("utf-8", "replace").splitlines()
    except OSError:
        return []


def background_round(procs, load_log, work):
    home, env = fresh_home(work, "background")
    diagnostics = os.path.join(env["XDG_DATA_HOME"], "Quorvel", "desktop-notifications.log")
    window_seconds = IDLE_SECONDS
    result = {"program": "shell", "scenario": "background", "home": home,
              "load_avg_at_start": loadavg(), "hidden_seconds": HIDDEN_SECONDS,
              "idle_seconds": window_seconds}
    seen = len(load_log.entries())
    exec_ns = time.time_ns()
    root = procs.spawn([SHELL_BIN], env, os.path.join(home, "program.out"))
    alive = lambda: not is_zombie(root)  # noqa: E731
    try:
        requests = load_log.wait_for_load(seen, 80, LOAD_TIMEOUT_SECONDS, alive)
        if requests is None:
            result["error"] = "no page load reported (see program.out in its home)"
            return result
        result["load_ms"] = requests[-1]["atMs"] - exec_ns / 1e6
        time.sleep(SETTLE_SECONDS)

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
        hidden_window = min(window_seconds, HIDDEN_SECONDS)
        hidden = result["hidden"] = {}
        if hidden_window > 0:
            hidden["activity"] = activity(procs, root, hidden_window)
        hidden.update(memory_state(procs, root))
        hidden["web_processes"] = web_processes(procs, root)
        result["load_avg_hidden"] = loadavg()

        # 3. The shell's timer ends the page's process.
        def rest_logged():
            return any(PAGE_REST_LINE in line for line in log_since(diagnostics, log_offset))

        if HIDDEN_SECONDS >= PAGE_REST_SECONDS:
            time.sleep(max(0.0, closed_at + PAGE_REST_SECONDS - 5 - time.monotonic()))
            logged = wait_until(rest_logged, closed_at + PAGE_REST_SECONDS + PAGE_REST_GRACE_SECONDS
                                - time.monotonic(), 0.1)
            result["rest_logged_after_s"] = time.monotonic() - closed_at if logged else None
            gone = wait_until(lambda: not web_processes(procs, root), 10.0, 0.1)
            result["web_process_gone_after_s"] = time.monotonic() - closed_at if gone else None
            time.sleep(max(0.0, closed_at + HIDDEN_SECONDS - time.monotonic()))
            if not logged:
                result["rest_problem"] = "no \"" + PAGE_REST_LINE + "\" in the diagnostic log"
            if not gone:
                result["rest_problem"] = (result.get("rest_problem", "") +
                                          "; the web process still runs").lstrip("; ")
            time.sleep(SETTLE_SECONDS)
            rested = result["rested"] = memory_state(procs, root)
            rested["web_processes"] = web_processes(procs, root)
            if window_seconds > 0:
                rested["activity"] = activity(procs, root, window_seconds)
            result["load_avg_rested"] = loadavg()
        else:
            time.sleep(max(0.0, closed_at + HIDDEN_SECONDS - time.monotonic()))
            result["rested"] = None
            result["rest_not_reached"] = (f"HIDDEN_SECONDS={HIDDEN_SECONDS:g} is shorter than the "
                                          f"shell's {PAGE_REST_SECONDS:g} s")
            if rest_logged():
                result["rest_problem"] = "the page's process ended before the shell's 10 minutes"
        result["hidden_for_s"] = time.monotonic() - closed_at
        page_expected = result.get("rested") is not None and not web_processes(procs, root)

        # 4. A second start hands over to the running instance, which shows
        # its window and, if the page's process ended, loads the page again.
        seen = len(load_log.entries())
        second_ns = time.time_ns()
        second_at = time.monotonic()
        second = procs.spawn([SHELL_BIN], env, os.path.join(home, "second-start.out"),
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
        time.sleep(SETTLE_SECONDS)
        result["shown_again"] = memory_state(procs, root)
        result["shown_again"]["web_processes"] = web_processes(procs, root)
        return result
    finally:
        result["diagnostic_log_tail"] = log_since(diagnostics, 0)[-30:]
        procs.stop(root)
        if "error" in result or KEEP_HOMES:
            result["home"] = home
        else:
            shutil.rmtree(home, ignore_errors=True)
            result.pop("home")


def mib(kb):
    return kb / 1024 if kb is not None else None


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


def describe_background(r):
    if "error" in r:
        return [f"ERROR: {r['error']}"]
    lines = [f"load {r['load_ms']:.0f} ms; window closed in {r['close_ms']:.0f} ms;"
             f" hidden for {r['hidden_for_s']:.0f} s"]
    if r.get("rest_logged_after_s") is not None:
        lines.append(f"\"{PAGE_REST_LINE}\" logged {r['rest_logged_after_s']:.1f} s after the close;"
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


def start_bench():
    """The work folder, the process table, the load log and the service."""
    # A terminate request unwinds like Ctrl-C, so the program being measured
    # and the service are stopped on the way out.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    work = tempfile.mkdtemp(prefix="quorvel-bench-")
    procs = Processes()
    load_log = RequestLog(os.path.join(work, "page-loads.jsonl"))
    return work, procs, load_log, start_service(procs, work, load_log)


def main_background():
    work, procs, load_log, service = start_bench()
    log(f"bench: {time.strftime('%Y-%m-%d %H:%M:%S %z')}, {os.cpu_count()} cores, SCENARIO=background "
        f"ROUNDS={ROUNDS} HIDDEN_SECONDS={HIDDEN_SECONDS:g} IDLE_SECONDS={IDLE_SECONDS:g} "
        f"SETTLE_SECONDS={SETTLE_SECONDS:g} shell={SHELL_BIN}")
    log(f"bench: service on {URL} (pid {service}), work folder {work}")
    results, loads = [], []
    try:
        if WARMUP:
            log("warm-up: one unmeasured launch of the shell")
            measure(procs, load_log, "shell", work, idle=False)
        for run in range(ROUNDS):
            load, waited = wait_for_quiet_machine()
            loads.append(load)
            log(f"round {run + 1}/{ROUNDS} (1-min load {load:.2f}, waited {waited:.0f} s)")
            r = background_round(procs, load_log, work)
            results.append(r)
            for line in describe_background(r):
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
    out = os.environ.get("RESULTS") or os.path.join(
        ROOT, "build", "bench", f"background-{time.strftime('%Y%m%d-%H%M%S')}.json")
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out, "w") as f:
        json.dump({"date": time.strftime("%Y-%m-%dT%H:%M:%S%z"), "scenario": "background",
                   "rounds": ROUNDS, "hidden_seconds": HIDDEN_SECONDS, "idle_seconds": IDLE_SECONDS,
                   "settle_seconds": SETTLE_SECONDS, "round_loads": loads,
                   "targets": [{"target": t, "met": m, "value": v} for t, m, v in targets],
                   "results": results}, f, indent=1)
    log(f"bench: every figure in {out}")
    if KEEP_HOMES or any("error" in r for r in results):
        log(f"bench: the shell's home folders and output are in {work}")
    else:
        shutil.rmtree(work, ignore_errors=True)


def main():
    if SCENARIO == "background":
        return main_background()
    if SCENARIO != "peers":
        raise SystemExit(f"bench: unknown SCENARIO {SCENARIO!r} (peers or background)")
    work, procs, load_log, service = start_bench()
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
