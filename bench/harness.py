"""The harness every scenario runs programs in: the watchlist service on
127.0.0.1:80 with the probe that time-stamps its requests, a fresh home for
each program, its command line, and one measured start of a program."""

import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

from sampling import CLK_TCK, Processes, engine_processes_elsewhere, is_zombie, loadavg
from settings import BENCH, ROOT, URL

LOAD_TIMEOUT_SECONDS = 60.0


def log(message):
    print(message, flush=True)


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


def start_service(procs, work, load_log, service_settings):
    data = os.path.join(work, "service-data")
    os.makedirs(data, exist_ok=True)
    env_file = os.path.join(data, ".env")
    with open(env_file, "w") as f:
        f.write("QUOTE_PROVIDER=offline\n")
        for line in service_settings:
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


def argv_for(settings, name, home):
    if name == "shell":
        return [settings.shell_bin]
    if name in settings.extra_shells:
        return [settings.extra_shells[name]]
    if name == "surf":
        return ["surf", URL]
    if name == "chromium":
        return (["/usr/bin/chromium"] + CHROMIUM_FLAGS + list(settings.chromium_extra_flags) +
                [f"--user-data-dir={home}/chromium-profile", f"--app={URL}"])
    if name == "local":
        return [settings.local_bin]
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


def wait_for_quiet_machine(settings):
    """Waits (up to LOAD_WAIT_SECONDS) for the 1-minute load to drop to LOAD_MAX."""
    limit, patience = settings.load_max, settings.load_wait_seconds
    start = time.monotonic()
    load = loadavg()
    while load > limit and time.monotonic() - start < patience:
        log(f"  load {load:.2f} > {limit}: waiting")
        time.sleep(20)
        load = loadavg()
    waited = time.monotonic() - start
    if load > limit:
        log(f"  load still {load:.2f} after {waited:.0f} s: measuring anyway")
    return load, waited


def wait_until(condition, timeout, step=0.01):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


class Bench:
    """The work folder, the process table, the request log and the service."""

    def __init__(self, settings):
        # A terminate request unwinds like Ctrl-C, so the program being measured
        # and the service are stopped on the way out.
        signal.signal(signal.SIGTERM, signal.default_int_handler)
        self.settings = settings
        self.work = tempfile.mkdtemp(prefix="quorvel-bench-")
        self.procs = Processes(settings.smaps_detail)
        self.load_log = RequestLog(os.path.join(self.work, "page-loads.jsonl"))
        self.service = start_service(self.procs, self.work, self.load_log, settings.service_settings)

    def results_path(self, stem, suffix=".json"):
        """The file for every figure: RESULTS, or one of the day in build/bench."""
        out = self.settings.results or os.path.join(
            ROOT, "build", "bench", f"{stem}-{time.strftime('%Y%m%d-%H%M%S')}{suffix}")
        os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
        return out

    def keep_or_remove(self, result, home):
        """Keeps a run's home folder when asked to or when the run failed."""
        if "error" in result or self.settings.keep_homes:
            result["home"] = home
        else:
            shutil.rmtree(home, ignore_errors=True)
            result.pop("home", None)


def measure(bench, name, idle=True):
    """One start of a program: its load time, memory and, unless idle is False, idle CPU."""
    procs, load_log, work, s = bench.procs, bench.load_log, bench.work, bench.settings
    home, env = fresh_home(work, name)
    port = 45721 if name == "local" else 80
    if name == "local":
        env["NODE_OPTIONS"] = f"--require {os.path.join(BENCH, 'load-probe.js')}"
        env["BENCH_LOAD_LOG"] = load_log.path
    argv = argv_for(s, name, home)
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
        time.sleep(s.settle_seconds)
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
        if s.screenshots:
            os.makedirs(s.screenshots, exist_ok=True)
            shot = os.path.join(s.screenshots, f"{name}-{os.path.basename(home)}.png")
            run_tool("import", "-window", "root", shot)
        if not idle or s.idle_seconds <= 0:
            return result
        time.sleep(max(0.0, s.idle_seconds - (time.monotonic() - idle_start)))
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
        bench.keep_or_remove(result, home)
        if name == "local":
            deadline = time.monotonic() + 5
            while port_open(45721) and time.monotonic() < deadline:
                time.sleep(0.1)
