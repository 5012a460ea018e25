"""The benchmark's settings, read once from the environment into one object
that every scenario is handed, and the figures it shares with the shell, read
from the shell's source so that they are written in one place only."""

import os
import re
import shlex
from dataclasses import dataclass

ROOT = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
BENCH = os.path.join(ROOT, "bench")
URL = "http://127.0.0.1/"

# Where the shell defines what the benchmark waits for.
LOG_EVENTS_HEADER = "src/service/LogEvents.h"
PAGE_REST_HEADER = "src/ui/PageRestDelay.h"


def source_constant(relative_path, name):
    """The value of `name = VALUE;` in one of the shell's source files: a
    string literal's text, or a number."""
    with open(os.path.join(ROOT, relative_path)) as f:
        text = f.read()
    match = re.search(rf"\b{re.escape(name)}\s*=\s*(?:\"([^\"]*)\"|([-+0-9.eE]+))\s*;", text)
    if not match:
        raise SystemExit(f"bench: {relative_path} defines no {name}")
    return match.group(1) if match.group(1) is not None else float(match.group(2))


def _number(environ, name, default, kind=float):
    text = environ.get(name, "").strip()
    return kind(text) if text else default


def _pairs(text, separator="="):
    return dict(item.split(separator, 1) for item in text.split(",") if item)


@dataclass(frozen=True)
class Settings:
    scenario: str  # peers, background or longrun
    # Every scenario.
    idle_seconds: float
    settle_seconds: float
    load_max: float
    load_wait_seconds: float
    warmup: bool
    keep_homes: bool
    smaps_detail: bool
    screenshots: str
    results: str
    shell_bin: str
    local_bin: str
    programs: tuple
    extra_shells: dict  # label: path of another build of the shell, measured like it
    chromium_extra_flags: tuple
    service_settings: tuple  # more lines for the service's settings file
    # peers
    runs: int
    local_runs: int
    # background
    hidden_seconds: float
    rounds: int
    # longrun
    duration_minutes: float
    sample_seconds: float
    watch: int
    sync_seconds: int
    cpu_load: int
    engine_env: dict
    surf_query: str
    # The shell's own: how long its window stays closed before the page's
    # process ends, and the log event that says it did.
    page_rest_seconds: float
    page_rest_event: str

    @classmethod
    def from_environment(cls, environ=None, scenario=None):
        env = os.environ if environ is None else environ
        scenario = scenario or env.get("SCENARIO", "").strip() or "peers"
        runs = _number(env, "RUNS", 5, int)
        default_programs = "shell,surf" if scenario == "longrun" else "shell,surf,chromium"
        programs = [p for p in env.get("PROGRAMS", default_programs).split(",") if p]
        extra_shells = _pairs(env.get("EXTRA_SHELLS", ""))
        programs += [name for name in extra_shells if name not in programs]
        sync_seconds = _number(env, "SYNC_SECONDS", 30, int)
        service_settings = ()
        if scenario == "longrun":
            service_settings = (f"QUOTE_SYNC_INTERVAL_SECONDS={sync_seconds}", "EMAIL_DELIVERY_MODE=off")
        return cls(
            scenario=scenario,
            idle_seconds=_number(env, "IDLE_SECONDS", 60.0),
            settle_seconds=_number(env, "SETTLE_SECONDS", 3.0),
            load_max=_number(env, "LOAD_MAX", 1.0),
            load_wait_seconds=_number(env, "LOAD_WAIT_SECONDS", 600.0),
            warmup=env.get("WARMUP", "1") != "0",
            keep_homes=env.get("KEEP_HOMES") == "1",
            smaps_detail=env.get("SMAPS_DETAIL") == "1",
            screenshots=env.get("SCREENSHOTS", ""),
            results=env.get("RESULTS", ""),
            shell_bin=env.get("SHELL_BIN", os.path.join(ROOT, "build/bench/quorvel")),
            local_bin=env.get("LOCAL_BIN", os.path.join(ROOT, "build/local/quorvel")),
            programs=tuple(programs),
            extra_shells=extra_shells,
            chromium_extra_flags=tuple(shlex.split(env.get("CHROMIUM_EXTRA_FLAGS", ""))),
            service_settings=service_settings,
            runs=runs,
            local_runs=_number(env, "LOCAL_RUNS", runs, int),
            hidden_seconds=_number(env, "HIDDEN_SECONDS", 600.0),
            rounds=_number(env, "ROUNDS", 1, int),
            duration_minutes=_number(env, "DURATION_MINUTES", 120.0),
            sample_seconds=_number(env, "SAMPLE_SECONDS", 60.0),
            watch=_number(env, "WATCH", 20, int),
            sync_seconds=sync_seconds,
            cpu_load=_number(env, "CPU_LOAD", 0, int),
            engine_env=_pairs(env.get("ENGINE_ENV", "")),
            surf_query=env.get("SURF_QUERY", ""),
            page_rest_seconds=source_constant(PAGE_REST_HEADER, "hiddenSecondsBeforeRest"),
            page_rest_event=source_constant(LOG_EVENTS_HEADER, "webProcessEnded"),
        )
