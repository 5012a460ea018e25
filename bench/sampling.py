"""What the benchmark reads of processes: /proc figures of a program and
everything that descends from it, memory and CPU, and the process table it
spawns programs into."""

import array
import ctypes
import os
import re
import signal
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")
PR_SET_CHILD_SUBREAPER = 36


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


class Processes:
    """Spawns programs and knows every process that descends from them.

    This process is a child subreaper, so a helper that a program starts by
    double-forking (Chromium's crash handler does) is re-parented here rather
    than to init and is still counted as the program's.
    """

    def __init__(self, smaps_detail=False):
        libc = ctypes.CDLL(None, use_errno=True)
        if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
            print("note: cannot become a child subreaper; re-parented helpers are not counted",
                  flush=True)
        self.infrastructure = set()
        # PSS of every mapping of every process, in each memory figure.
        self.smaps_detail = smaps_detail

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
            if self.smaps_detail:
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


def loadavg():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


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
