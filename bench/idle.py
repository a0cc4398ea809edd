"""The idle table: each program loads the page, settles, and then sits idle for
a minute while nothing happens: CPU seconds used by all its processes, and how
often their threads were woken (the kernel's count of times each thread was
put on a CPU, from /proc/<pid>/task/<tid>/schedstat), in the same run for every
program. The display server's CPU time over the same minute is shown beside
it: a program that draws while idle makes the server work too.

The shell runs with automatic updates on (a feed that offers nothing newer),
so its 6-hourly timer is armed; it waits out the first check, 5 s after
launch, before the minute starts.
"""

import json
import os
import sys
import time

from harness import (LOAD_TIMEOUT_SECONDS, cpu_seconds, launched, load_average, proc_stat, processes_of, spread)

SETTLE_AFTER_LOAD_SECONDS = 8.0
GOAL_CORE_SHARE = 0.01


def thread_runs(pid):
    """tid -> (thread name, times put on a CPU) for every thread of the process."""
    runs = {}
    try:
        tids = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return runs
    for tid in tids:
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                count = int(f.read().split()[2])
            with open("/proc/%d/task/%s/comm" % (pid, tid)) as f:
                name = f.read().strip()
        except (OSError, ValueError, IndexError):
            continue
        runs[int(tid)] = (name, count)
    return runs


def snapshot(pids):
    return {pid: (cpu_seconds(pid), thread_runs(pid), (proc_stat(pid) or ("?",))[0]) for pid in pids}


def difference(before, after):
    """CPU seconds and wakeups between two snapshots, in total and by
    (process name, thread name)."""
    cpu = wakeups = 0
    by_thread = {}
    for pid, (seconds, threads, process_name) in after.items():
        if seconds is None:
            continue
        old_seconds, old_threads, _ = before.get(pid, (0.0, {}, ""))
        cpu += seconds - (old_seconds or 0.0)
        for tid, (name, count) in threads.items():
            woken = count - old_threads.get(tid, (name, 0))[1]
            wakeups += woken
            key = (process_name, name)
            by_thread[key] = by_thread.get(key, 0) + woken
    return cpu, wakeups, by_thread


def idle_round(bench, program, run, seconds, feed_url):
    if program.url_in_env:
        program = type(program)(program.name, program.argv + ["-autoUpdate", "YES", "-updateFeed", feed_url],
                                program.url_in_env, program.env)
    url = "%s/page?run=%s" % (bench.url_base, run)
    with launched(program, url, run, bench.base_env, bench.work, bench.logs) as (process, start, _):
        seen = bench.timings.wait_for(run, "load", start + LOAD_TIMEOUT_SECONDS)
        if seen is None:
            return {"error": "no load report within %d s (exit status %s)" % (LOAD_TIMEOUT_SECONDS, process.poll())}
        time.sleep(max(0.0, seen["load"] + SETTLE_AFTER_LOAD_SECONDS - time.monotonic()))
        pids = processes_of(process.pid, run)
        before, display_before, began = snapshot(pids), cpu_seconds(bench.xvfb.pid), time.monotonic()
        time.sleep(seconds)
        pids = sorted(set(pids) | set(processes_of(process.pid, run)))
        after, display_after, ended = snapshot(pids), cpu_seconds(bench.xvfb.pid), time.monotonic()
        if process.poll() is not None:
            return {"error": "it exited while idle (status %s)" % process.poll()}
        cpu, wakeups, by_thread = difference(before, after)
        elapsed = ended - began
        return {"cpu": cpu, "share": cpu / elapsed, "wakeups": wakeups / elapsed, "processes": len(after),
                "display": display_after - display_before, "threads": {k: v / elapsed for k, v in by_thread.items()}}


def report(programs, results, seconds, rounds):
    print()
    print("Idle: %.0f s on the loaded page, starting %.0f s after load; %d round(s)" % (
        seconds, SETTLE_AFTER_LOAD_SECONDS, rounds))
    print()
    print("| Program | CPU s | share of one core | wakeups/s | processes | Xvfb CPU s | failed |")
    print("|---|---|---|---|---|---|---|")
    medians = {}
    for program in programs:
        mine = [r for r in results if r["program"] == program.name]
        good = [r for r in mine if "error" not in r]
        cpu, _ = spread([r["cpu"] for r in good], 1.0, 2)
        share, share_median = spread([r["share"] for r in good], 100.0, 2)
        wakeups, wakeups_median = spread([r["wakeups"] for r in good], 1.0, 1)
        processes, _ = spread([r["processes"] for r in good])
        display, _ = spread([r["display"] for r in good], 1.0, 2)
        medians[program.name] = (share_median, wakeups_median)
        print("| %s | %s | %s %% | %s | %s | %s | %d/%d |" % (program.name, cpu, share, wakeups, processes, display,
                                                            len(mine) - len(good), len(mine)))
    print()
    for program in programs:
        good = [r for r in results if r["program"] == program.name and "error" not in r]
        if not good:
            continue
        threads = {}
        for r in good:
            for key, rate in r["threads"].items():
                threads[key] = threads.get(key, 0) + rate / len(good)
        busiest = sorted(threads.items(), key=lambda item: -item[1])[:6]
        print("%s wakes most in: %s" % (program.name, ", ".join("%s/%s %.1f/s" % (p, t, rate)
                                                              for (p, t), rate in busiest)))
    chromium = medians.get("chromium")
    for program in programs:
        if not program.url_in_env or medians.get(program.name, (None,))[0] is None:
            continue
        share, wakeups = medians[program.name]
        goals = ["under %.0f%% of one core: %s (%.2f%%)" % (GOAL_CORE_SHARE * 100, "met" if share < GOAL_CORE_SHARE * 100
                                                             else "NOT met", share)]
        if chromium and chromium[0] is not None:
            goals.append("CPU ≤ Chromium's: %s (%.2f×)" % ("met" if share <= chromium[0] else "NOT met",
                                                           share / chromium[0] if chromium[0] else float("inf")))
            goals.append("wakeups ≤ Chromium's: %s (%.2f×)" % ("met" if wakeups <= chromium[1] else "NOT met",
                                                              wakeups / chromium[1] if chromium[1] else float("inf")))
        print("Goals for %s idle: %s" % (program.name, "; ".join(goals)))


def run(bench, programs, args):
    # A feed that offers nothing newer than the built shell, for its automatic check.
    feed = os.path.join(bench.work, "idle-feed.json")
    with open(feed, "w") as f:
        json.dump({"version": "1.0", "build": 1, "file": "none.sqfs", "sha256": "0" * 64}, f)
    bench.server.files["/idle/linux.json"] = feed
    print()
    print("Idling (load average %s)" % load_average())
    sys.stdout.flush()
    results = []
    for round_index in range(args.idle_rounds):
        order = programs[round_index % len(programs):] + programs[:round_index % len(programs)]
        for program in order:
            run_id = "%sidle-%s-%d" % (bench.prefix, program.name, round_index)
            result = idle_round(bench, program, run_id, args.idle_seconds, bench.url_base + "/idle/linux.json")
            result["program"] = program.name
            results.append(result)
            line = result["error"] if "error" in result else "CPU %.2f s (%.2f%% of a core), %.1f wakeups/s" % (
                result["cpu"], result["share"] * 100, result["wakeups"])
            print("idle round %d  %-12s %s" % (round_index + 1, program.name, line))
            sys.stdout.flush()
    report(programs, results, args.idle_seconds, args.idle_rounds)
    print("Load average at the end of the idle rounds: %s" % load_average())
    sys.stdout.flush()
