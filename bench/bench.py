#!/usr/bin/python3
"""The shell's costs against the programs it competes with, in three tables.

Run through bench/run.sh, which prepares what this needs (a test CA trusted in
a private mount namespace, the builds) and then runs this inside that
namespace, under an Xvfb of its own.

startup  Every program is started fresh, one at a time, in interleaved rounds,
         against the same ~32 KB page over local https; the page's script
         reports its `load` event back to the server here. Per launch:
           request  exec -> the server reads the page's request line
           load     exec -> the server receives the page's load report
           PSS, RSS summed over every process the program started, 2 s after load
install  A 1 GiB release installed by the shell's update self-test over a 1.0
         copy, against the plain tools doing the same work (bench/install.py).
idle     CPU time and wakeups of each program sitting on the loaded page
         (bench/idle.py).
"""

import argparse
import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import types

import harness
import idle
import delta
import install
from harness import (CHROMIUM, MINIBROWSER, NO_SESSION_BUS, SETTLE_SECONDS, LOAD_TIMEOUT_SECONDS, Program,
                     Timings, end_marked, end_processes, foreign_engines, launched, load_average, machine_description,
                     make_server, memory_of, mib, package_version, processes_of, reap_orphans, spread, start_xvfb)

TABLES = ("startup", "install", "idle", "delta")


# ---- Startup ------------------------------------------------------------------------------

# The shell (and the minimal program) say when each phase of startup was
# reached when CORVIDALE_TRACE_STARTUP=1; the engine's processes are known by
# their command lines, and when they were launched by the kernel's start time,
# which it keeps in 10 ms steps (the shell's sandbox launcher, its first
# process, counts).
TRACE = re.compile(r"startup trace: (?:[\d.]+ ms )?(.+?) \(monotonic ([\d.]+)\)$")
LAUNCHES = (("network process launched", ("WebKitNetworkProcess", "--utility-sub-type=network.mojom.NetworkService")),
            ("D-Bus proxy launched", ("xdg-dbus-proxy",)),
            ("web process launched", ("WebKitWebProcess", "--type=renderer")))
PHASES = ("GTK initialised", "window created", "web view created", "network process launched",
          "D-Bus proxy launched", "web process launched", "request sent", "request", "response started",
          "load committed", "first frame drawn", "load finished", "load")
SERVER_PHASES = {"request": "the server reads the request", "load": "the server hears `load`"}


def traced_phases(log, start):
    """Milliseconds after exec of each phase the program's trace names."""
    phases = {}
    with open(log, "rb") as f:
        for line in f.read().decode("utf-8", "replace").splitlines():
            match = TRACE.search(line)
            if match and not match.group(1).endswith(" launched"):
                phases.setdefault(match.group(1), (float(match.group(2)) - start) * 1000)
    return phases


def launch_phases(pids, start):
    """Milliseconds after exec at which the first engine process of each kind
    was started."""
    seconds_per_tick = 1.0 / os.sysconf("SC_CLK_TCK")
    boot_ahead = time.clock_gettime(time.CLOCK_BOOTTIME) - time.monotonic()
    phases = {}
    for pid in pids:
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                command = f.read().decode("utf-8", "replace")
            with open("/proc/%d/stat" % pid, "rb") as f:
                ticks = int(f.read().decode("latin-1").rsplit(")", 1)[1].split()[19])
        except (OSError, IndexError, ValueError):
            continue
        started = (ticks * seconds_per_tick - boot_ahead - start) * 1000
        for phase, marks in LAUNCHES:
            if any(mark in command for mark in marks):
                phases[phase] = min(phases.get(phase, started), started)
    return phases


def keep_smaps(pids, run, folder):
    """Each process's memory map, for reading what the PSS is made of."""
    for pid in pids:
        try:
            with open("/proc/%d/comm" % pid) as f:
                name = f.read().strip()
            shutil.copyfile("/proc/%d/smaps" % pid, os.path.join(folder, "%s-%d-%s.smaps" % (run, pid, name)))
        except OSError:
            pass


def measure(program, url_base, run, timings, base_env, work, logs=None, shots=None, smaps=None):
    url = "%s/page?run=%s" % (url_base, run)
    result = {"program": program.name}
    with launched(program, url, run, base_env, work, logs) as (process, start, log):
        seen = timings.wait_for(run, "load", start + LOAD_TIMEOUT_SECONDS)
        if seen is None:
            result["error"] = "no load report within %d s (exit status %s)" % (LOAD_TIMEOUT_SECONDS, process.poll())
            return result
        result["request"] = (seen["request"] - start) * 1000 if "request" in seen else None
        result["load"] = (seen["load"] - start) * 1000
        result["agent"] = seen.get("request_agent", "")
        time.sleep(max(0.0, seen["load"] + SETTLE_SECONDS - time.monotonic()))
        pids = processes_of(process.pid, run)
        pss, rss, counted = memory_of(pids)
        result.update(pss=pss, rss=rss, processes=counted)
        if smaps:
            keep_smaps(pids, run, smaps)
        result["phases"] = {**launch_phases(pids, start), **traced_phases(log, start),
                            **{k: result[k] for k in SERVER_PHASES if result[k] is not None}}
        if shots:
            subprocess.run(["import", "-window", "root", os.path.join(shots, run + ".png")], env=base_env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        return result


# ---- Sizes ------------------------------------------------------------------------------

def stripped_size(path, work):
    copy = os.path.join(work, "strip-" + os.path.basename(path))
    subprocess.run(["strip", "-o", copy, path], check=True, stderr=subprocess.DEVNULL)
    size = os.path.getsize(copy)
    os.unlink(copy)
    return size


def tree_size(path):
    total = 0
    for folder, _, files in os.walk(path):
        for name in files:
            full = os.path.join(folder, name)
            if not os.path.islink(full):
                total += os.path.getsize(full)
    return total


def sizes(program, bundle, work):
    executable = stripped_size(program.argv[0], work)
    if bundle is None:
        return executable, executable
    # The bundle as it would ship: its executable stripped.
    return executable, tree_size(bundle) - os.path.getsize(program.argv[0]) + executable


# ---- Report ------------------------------------------------------------------------------

def gl_renderer(env):
    try:
        out = subprocess.run(["glxinfo", "-B"], env=env, capture_output=True, text=True, timeout=20).stdout
    except (OSError, subprocess.TimeoutExpired):
        return "unknown (glxinfo missing)"
    match = re.search(r"OpenGL renderer string: (.*)", out)
    return match.group(1).strip() if match else "none"


def report(programs, results, program_sizes, rounds, notes):
    print()
    print("Startup")
    print()
    print("| Program | exec → request ms | exec → load ms | PSS MiB | RSS MiB | processes | executable (stripped) "
          "| bundle | failed |")
    print("|---|---|---|---|---|---|---|---|---|")
    medians = {}
    for program in programs:
        mine = [r for r in results if r["program"] == program.name]
        good = [r for r in mine if "error" not in r]
        request, request_median = spread([r["request"] for r in good])
        load, load_median = spread([r["load"] for r in good])
        pss, pss_median = spread([r["pss"] for r in good], 1 / 1024, 0)
        rss, rss_median = spread([r["rss"] for r in good], 1 / 1024, 0)
        procs, _ = spread([r["processes"] for r in good])
        medians[program.name] = {"request": request_median, "load": load_median, "pss": pss_median,
                                 "rss": rss_median}
        executable, bundle = program_sizes[program.name]
        print("| %s | %s | %s | %s | %s | %s | %s | %s | %d/%d |" % (
            program.name, request, load, pss, rss, procs, mib(executable), mib(bundle), len(mine) - len(good),
            len(mine)))
    print()
    print("Medians of %d interleaved rounds; ranges are min–max." % rounds)

    def ratio(a, b, what):
        x, y = medians.get(a, {}).get(what), medians.get(b, {}).get(what)
        return "%.2f×" % (x / y) if x and y else "-"

    print()
    print("| Ratio | exec → request | exec → load | PSS | RSS |")
    print("|---|---|---|---|---|")
    shells = [p.name for p in programs if p.url_in_env]
    for shell in shells:
        for base in ("minimal", "chromium"):
            if base in medians:
                print("| %s / %s | %s | %s | %s | %s |" % (shell, base, *(ratio(shell, base, w) for w in
                                                                         ("request", "load", "pss", "rss"))))
    print()
    for shell in shells:
        goals = []
        # Time against Chromium's 0.9×; memory against its 0.6×; both within 5% of the minimal program.
        for what, label, against in (("load", "exec → load", 0.9), ("pss", "PSS", 0.6)):
            for base, limit in (("chromium", against), ("minimal", 1.05)):
                x, y = medians.get(shell, {}).get(what), medians.get(base, {}).get(what)
                if x and y:
                    goals.append("%s ≤ %.2f× %s: %s (%.2f×)" % (label, limit, base, "met" if x <= limit * y else
                                                               "NOT met", x / y))
        if goals:
            print("Goals for %s: %s" % (shell, "; ".join(goals)))
    for note in notes:
        print(note)
    report_phases(programs, results)


def report_phases(programs, results):
    """The median of each phase per program, and the shell's ratios to the
    minimal program's."""
    medians = {}
    for program in programs:
        good = [r for r in results if r["program"] == program.name and "error" not in r]
        medians[program.name] = {p: spread([r["phases"][p] for r in good if p in r["phases"]]) for p in PHASES}
    shown = [p for p in programs if any(medians[p.name][phase][1] is not None for phase in PHASES)]
    bases = [b for b in ("minimal", "chromium") if b in medians]
    shells = [p.name for p in programs if p.url_in_env]
    print()
    print("Startup by phase (ms after exec)")
    print()
    print("| Phase | %s | %s |" % (" | ".join(p.name for p in shown),
                                  " | ".join("%s / %s" % (s, b) for s in shells for b in bases)))
    print("|---|%s" % ("---|" * (len(shown) + len(shells) * len(bases))))
    for phase in PHASES:
        ratios = []
        for shell in shells:
            for base in bases:
                x, y = medians[shell][phase][1], medians[base][phase][1]
                ratios.append("%.2f×" % (x / y) if x and y else "-")
        cells = [medians[p.name][phase][0] if medians[p.name][phase][1] is not None else "-" for p in shown]
        print("| %s | %s | %s |" % (SERVER_PHASES.get(phase, phase), " | ".join(cells), " | ".join(ratios)))
    print()
    print("Medians, min–max. The programs' own traces (CORVIDALE_TRACE_STARTUP=1) give the named phases, the "
          "kernel's start times (in 10 ms steps) the processes' launches, the server the request and `load`.")


def run_startup(bench, programs, bundles, args):
    results = []
    foreign_seen = {}
    traced_env = dict(bench.base_env, CORVIDALE_TRACE_STARTUP="1")
    for round_index in range(args.rounds):
        # A different program goes first each round.
        order = programs[round_index % len(programs):] + programs[:round_index % len(programs)]
        for program in order:
            for pid, name in foreign_engines(bench.prefix):
                foreign_seen[pid] = name
            run = "%s%s-%d" % (bench.prefix, program.name, round_index)
            result = measure(program, bench.url_base, run, bench.timings, traced_env, bench.work, args.logs,
                             args.screenshots, args.smaps)
            results.append(result)
            if "error" in result:
                line = result["error"]
            else:
                line = "request %4.0f ms  load %5.0f ms  PSS %4.0f MiB  RSS %4.0f MiB  %d processes" % (
                    result["request"] or -1, result["load"], result["pss"] / 1024, result["rss"] / 1024,
                    result["processes"])
            print("round %2d  %-12s %s" % (round_index + 1, program.name, line))
            sys.stdout.flush()
            time.sleep(0.5)

    program_sizes = {}
    for program in programs:
        program_sizes[program.name] = sizes(program, bundles.get(program.name), bench.work)

    notes = ["Load average at the end of the startup rounds: %s" % load_average()]
    for program in programs:
        if not program.url_in_env:
            continue
        agents = {r.get("agent", "") for r in results if r["program"] == program.name and "error" not in r}
        good = agents and all("CorvidaleShell/" in a for a in agents)
        notes.append("%s: the first request carried the composed user agent: %s" % (
            program.name, "yes" if good else "NO (%s)" % "; ".join(sorted(agents))))
    if foreign_seen:
        names = sorted(set(foreign_seen.values()))
        notes.append("NOTE: %d web engine processes not started by this run were running meanwhile (%s); "
                     "they share library pages with the programs measured, which lowers PSS." %
                     (len(foreign_seen), ", ".join(names)))
    else:
        notes.append("No web engine processes other than this run's were running.")
    report(programs, results, program_sizes, args.rounds, notes)
    sys.stdout.flush()


# ---- Main ---------------------------------------------------------------------------------

def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tables", default=",".join(TABLES),
                        help="comma-separated tables to measure: %s (default: all)" % ", ".join(TABLES))
    parser.add_argument("--rounds", type=int, default=10, help="startup rounds (default 10)")
    parser.add_argument("--install-rounds", type=int, default=3, help="install rounds (default 3)")
    parser.add_argument("--install-mib", type=int, default=1024, help="size of the release in MiB (default 1024)")
    parser.add_argument("--idle-seconds", type=float, default=60.0, help="how long each program idles (default 60)")
    parser.add_argument("--idle-rounds", type=int, default=1, help="idle rounds (default 1)")
    parser.add_argument("--shell", required=True, help="the shell's executable inside its bundle")
    parser.add_argument("--minimal", required=True, help="the minimal program")
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--only", default="", help="comma-separated program names to run (default: all)")
    parser.add_argument("--also", action="append", default=[], metavar="NAME=PATH",
                        help="another build of the shell to measure beside it")
    parser.add_argument("--variant", action="append", default=[], metavar="NAME=PROGRAM",
                        help="measure one of the programs a second time under another name (with --env)")
    parser.add_argument("--logs", metavar="DIR", help="keep each launch's output in this folder")
    parser.add_argument("--smaps", metavar="DIR", help="keep each process's memory map (smaps) at the measurement")
    parser.add_argument("--screenshots", metavar="DIR", help="a picture of the screen after each measurement")
    parser.add_argument("--env", action="append", default=[], metavar="NAME:VAR=VALUE",
                        help="an environment variable for one program")
    args = parser.parse_args()
    args.tables = [t for t in args.tables.split(",") if t]
    if not args.tables or any(t not in TABLES for t in args.tables):
        parser.error("--tables takes some of: %s" % ", ".join(TABLES))
    if min(args.rounds, args.install_rounds, args.idle_rounds) < 1 or args.install_mib < 1 or args.idle_seconds <= 0:
        parser.error("rounds, sizes and seconds must be positive")
    return parser, args


def choose_programs(parser, args):
    shell_bundle = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(args.shell))))
    programs = [
        Program("corvidale", [args.shell], url_in_env=True),
        Program("minimal", [args.minimal]),
        Program("minibrowser", [MINIBROWSER]),
        Program("chromium", [CHROMIUM, "--no-sandbox", "--disable-gpu", "--no-first-run",
                             "--disable-background-networking", "--disable-component-update", "--disable-sync",
                             "--ignore-certificate-errors", "--window-size=1100,760"]),
    ]
    bundles = {"corvidale": shell_bundle, "chromium": os.path.dirname(CHROMIUM)}
    for entry in args.also:
        name, _, path = entry.partition("=")
        programs.insert(1, Program(name, [path], url_in_env=True))
        bundles[name] = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(path))))
    for entry in args.variant:
        name, _, base = entry.partition("=")
        original = next((p for p in programs if p.name == base), None)
        if original is None:
            parser.error("--variant: no program named %s" % base)
        programs.insert(programs.index(original) + 1, Program(name, original.argv, original.url_in_env, original.env))
        bundles[name] = bundles.get(base)
    for program in programs:
        if not re.fullmatch(r"[A-Za-z0-9_.-]+", program.name):
            parser.error("program names are letters, digits, '_', '.' and '-': %s" % program.name)
    if args.only:
        wanted = set(args.only.split(","))
        programs = [p for p in programs if p.name in wanted]
    for entry in args.env:
        name, _, assignment = entry.partition(":")
        var, _, value = assignment.partition("=")
        for program in programs:
            if program.name == name:
                program.env[var] = value
    return programs, bundles


def describe_setup(bench, programs):
    print("Machine: %s" % machine_description())
    print("Display: Xvfb %s, 1280x1024x24; GL: %s; no /dev/dri render node: %s" % (
        package_version("xvfb"), gl_renderer(bench.base_env), "yes" if not os.path.exists("/dev/dri") else "no"))
    print("Engines: WebKitGTK %s, Chromium %s (%s, --ignore-certificate-errors for the test CA, "
          "window 1100x760, fresh --user-data-dir each launch)" % (
              package_version("libwebkitgtk-6.0-4"), package_version("chromium"), CHROMIUM))
    print("Page: %d bytes over https on 127.0.0.1; every launch gets a fresh HOME and XDG folders" %
          len(harness.page_for("x" * 16)))
    for program in programs:
        if program.env:
            print("Environment of %s: %s" % (program.name, " ".join("%s=%s" % kv for kv in program.env.items())))
    print("Load average at start: %s" % load_average())
    sys.stdout.flush()


def main():
    parser, args = parse_arguments()
    programs, bundles = choose_programs(parser, args)

    # Helpers that outlive their parent are re-parented to us, not to init.
    ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER

    prefix = "bench%d-" % os.getpid()
    work = tempfile.mkdtemp(prefix="corvidale-bench-")
    xvfb = None

    def on_signal(number, _):
        raise SystemExit(128 + number)
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGHUP, on_signal)

    try:
        base_env = {
            "PATH": "/usr/local/bin:/usr/bin:/bin",
            "LANG": "C.UTF-8",
            "GDK_BACKEND": "x11",
            # No session bus for anyone: the shell runs without one in this
            # setting too, and nothing may start a desktop portal.
            "DBUS_SESSION_BUS_ADDRESS": NO_SESSION_BUS,
        }
        xvfb, base_env["DISPLAY"] = start_xvfb(base_env, prefix + "xvfb")
        timings = Timings()
        server = make_server(args.cert, args.key, timings)
        bench = types.SimpleNamespace(base_env=base_env, timings=timings, server=server, work=work, prefix=prefix,
                                      url_base="https://127.0.0.1:%d" % server.server_address[1], xvfb=xvfb,
                                      logs=args.logs)
        describe_setup(bench, programs)
        if "startup" in args.tables:
            run_startup(bench, programs, bundles, args)
        shells = [(p.name, bundles[p.name]) for p in programs if p.url_in_env]
        if "install" in args.tables:
            if not shells:
                raise SystemExit("bench: the install table needs a shell among the programs (--only)")
            install.run(bench, shells, args)
        if "delta" in args.tables:
            if not shells:
                raise SystemExit("bench: the delta table needs the shell among the programs (--only)")
            delta.run(bench, shells[0][1], args)
        if "idle" in args.tables:
            idle.run(bench, [p for p in programs if p.url_in_env or p.name == "chromium"], args)
        print()
        print("Load average at end: %s" % load_average())
    finally:
        end_marked(prefix)
        if xvfb is not None:
            end_processes([xvfb.pid])
        reap_orphans()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
