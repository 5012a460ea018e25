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

Modules: settings (every setting, read once into one object, and the figures
taken from the shell's source), sampling (/proc), harness (the service, the
programs' homes and command lines, one measured start), figures, and one
module a scenario: peers, background, longrun (run by itself, see
longrun.py).
"""

import sys

import background
import peers
from settings import Settings

SCENARIOS = {"peers": peers.run, "background": background.run}


def main():
    settings = Settings.from_environment()
    scenario = SCENARIOS.get(settings.scenario)
    if scenario is None:
        sys.exit(f"bench: unknown SCENARIO {settings.scenario!r} (peers or background)")
    scenario(settings)


if __name__ == "__main__":
    main()
