"""The install table: a release of about 1 GiB (most of it incompressible, plus
a few thousand small files) made with the project's own tools (a key from
corvidale-codesign keygen, scripts/publish.sh), served over https on loopback
and installed by the shell's update self-test over a 1.0 copy; in the same run,
the plain tools doing the same work, one after the other.

Nothing in the shell reports its phases: they are read from outside, every
10 ms, from what its process tree shows. The download runs from the server's
first byte until its file in the run's folder has the image's size, the digest
until the image's helper starts; the extraction is that helper's life, the
verification runs until the copy starts (the seal, the team, the start check),
the copy is cp's life, the clean-up the life of the helper that removes the
extraction, the flush the time a thread of the shell spends in syncfs; the swap
is the rest, until the self-test exits (the exchange, the old app's and the run
folder's removal). Peak RSS is the kernel's high-water mark (VmHWM) as last
read before each process ended; the shell's is reset after load, so that what
it shows is the install's.
"""

import glob
import json
import os
import platform
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from harness import (LOAD_TIMEOUT_SECONDS, Program, command_line, descendants, launched, load_average, spread,
                     status_kib)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MIB = 1024 * 1024
SMALL_FILES = 3000
LARGE_FILE = 64 * MIB
SAMPLE_SECONDS = 0.01
INSTALL_TIMEOUT_SECONDS = 900
SYNCFS = {"x86_64": "306", "aarch64": "267"}.get(platform.machine())
PHASES = ("download", "digest", "extraction", "verification", "copy", "flush", "swap", "clean-up")
# The plain tool that does each phase's work, and whether it counts in the
# plain tools' total.
PLAIN = {"download": "curl -o", "digest": "sha256sum", "extraction": "unsquashfs", "copy": "cp -a",
         "flush": "sync -f"}
PLAIN_TOTAL = ("download", "digest", "extraction", "copy")
GOAL_RSS_MIB, GOAL_TOTAL, GOAL_DIGEST = 64, 1.3, 0.9


# ---- The release ------------------------------------------------------------------------

def write_payload(folder, total):
    """A few thousand small text files, then incompressible files up to
    `total` bytes. Answers the number of files."""
    rng = random.Random(20)
    words = ("install release bundle image digest seal manifest folder copy swap verify extract download "
             "window engine page theme update helper").split()
    text = " ".join(rng.choice(words) for _ in range(200000)).encode()
    written = 0
    for index in range(SMALL_FILES):
        sub = os.path.join(folder, "docs", "%02d" % (index % 60))
        os.makedirs(sub, exist_ok=True)
        size = rng.randint(256, 16384)
        at = rng.randrange(len(text) - size)
        with open(os.path.join(sub, "page-%04d.txt" % index), "wb") as f:
            f.write(text[at:at + size])
        written += size
    os.makedirs(os.path.join(folder, "data"))
    index = 0
    while written < total:
        size = min(LARGE_FILE, total - written)
        with open(os.path.join(folder, "data", "blob-%02d.bin" % index), "wb") as f:
            for _ in range(0, size, 8 * MIB):
                f.write(os.urandom(min(8 * MIB, size - f.tell())))
        written += size
        index += 1
    return SMALL_FILES + index


def make_release(bench, shell_bundle, size_mib):
    """Version 2.0 (7) of the built bundle with the payload inside, published
    with a new key, and served under /releases/."""
    started = time.monotonic()
    build = os.path.dirname(shell_bundle)
    folder = os.path.join(bench.work, "release")
    source = os.path.join(folder, "source", "Corvidale.app")
    key = os.path.join(folder, "key.pem")
    tool = os.path.join(build, "tools", "corvidale-release")
    os.makedirs(os.path.dirname(source))
    mask = os.umask(0o022)  # signing refuses what others may write
    try:
        team = subprocess.run([os.path.join(shell_bundle, "Contents/Helpers/corvidale-codesign"), "keygen", key],
                              check=True, capture_output=True, text=True).stdout.strip()
        shutil.copytree(shell_bundle, source, symlinks=True)
        subprocess.run([tool, "set-info", source, "CFBundleShortVersionString=2.0", "CFBundleVersion=7",
                        "CorvidaleTeamIdentifier=" + team], check=True, stdout=subprocess.DEVNULL)
        files = write_payload(os.path.join(source, "Contents", "Resources", "bench-payload"), size_mib * MIB)
        subprocess.run(["bash", os.path.join(ROOT, "scripts", "publish.sh"), source, key, os.path.join(folder, "out")],
                       check=True, stdout=subprocess.DEVNULL,
                       env=dict(os.environ, CORVIDALE_BUILD_DIR=build, TMPDIR=folder))
    finally:
        os.umask(mask)
    shutil.rmtree(os.path.dirname(source))
    feed_path = os.path.join(folder, "out", "linux.json")
    with open(feed_path) as f:
        feed = json.load(f)
    image = os.path.join(folder, "out", feed["file"])
    bench.server.files["/releases/linux.json"] = feed_path
    bench.server.files["/releases/" + feed["file"]] = image
    # What publishing wrote goes to the disk now, not in a measured flush.
    os.sync()
    return {"team": team, "tool": tool, "image": image, "size": os.path.getsize(image), "sha256": feed["sha256"],
            "files": files, "seconds": time.monotonic() - started, "image_path": "/releases/" + feed["file"],
            "feed_url": bench.url_base + "/releases/linux.json", "image_url": bench.url_base + "/releases/" +
            feed["file"]}


# ---- Watching the shell install it ------------------------------------------------------

def helper_name(argv, shell_argv):
    """The helper a process of the shell's tree is, or None (the engine, or
    a child that has not yet become its program)."""
    if not argv or argv == shell_argv:
        return None
    base, args = os.path.basename(argv[0]), argv[1:]
    if base == "corvidale-image" and args:
        return "corvidale-image " + args[0]
    if base == "unsquashfs":
        return "unsquashfs -lln" if "-lln" in args else "unsquashfs"
    if base == "corvidale-codesign":
        return "corvidale-codesign " + ("--verify" if "--verify" in args else "-dv")
    if base == "corvidale" and args == ["--version"]:
        return "corvidale --version"
    if base == "cp":
        return "cp -a"
    return None


class Watch:
    """What the shell's process tree shows over time: when each helper, the
    whole download and a thread in syncfs were first and last seen, and peak
    RSS of the shell and of each helper."""

    def __init__(self, pid, download_pattern, image_size):
        self.pid = pid
        self.argv = command_line(pid)
        self.pattern = download_pattern
        self.size = image_size
        self.spans = {}
        self.peaks = {}
        self.shell_peak = 0

    def seen(self, name, now):
        span = self.spans.setdefault(name, [now, now])
        span[1] = now

    def sample(self, now):
        for pid in descendants(self.pid)[1:]:
            name = helper_name(command_line(pid), self.argv)
            if name is not None:
                self.seen(name, now)
                self.peaks[name] = max(self.peaks.get(name, 0), status_kib(pid, "VmHWM") or 0)
        self.shell_peak = max(self.shell_peak, status_kib(self.pid, "VmHWM") or 0)
        if "downloaded" not in self.spans and any(os.path.getsize(p) == self.size for p in glob.glob(self.pattern)):
            self.seen("downloaded", now)
        if self.in_syncfs():
            self.seen("syncfs", now)

    def in_syncfs(self):
        for task in glob.glob("/proc/%d/task/*/syscall" % self.pid):
            try:
                with open(task) as f:
                    if f.read().split(" ", 1)[0] == SYNCFS:
                        return True
            except OSError:
                pass
        return False

    def phases(self, download_started, ended):
        """Seconds per phase, or a message naming what was never seen. The
        clean-up (removing the extraction) and the flush are timed where they
        happen, which is not in the same order in every build; the swap is
        what is left."""
        missing = [n for n in ("downloaded", "corvidale-image attach", "cp -a", "corvidale-image detach")
                   if n not in self.spans]
        if missing:
            return "never seen: " + ", ".join(missing)
        s = self.spans
        downloaded, attach, copy = s["downloaded"][0], s["corvidale-image attach"], s["cp -a"]
        figures = {"download": downloaded - download_started, "digest": attach[0] - downloaded,
                   "extraction": attach[1] - attach[0], "verification": copy[0] - attach[1],
                   "copy": copy[1] - copy[0], "clean-up": s["corvidale-image detach"][1] - s["corvidale-image detach"][0],
                   "flush": s["syncfs"][1] - s["syncfs"][0] if "syncfs" in s else 0.0}
        figures["total"] = ended - download_started
        figures["swap"] = figures["total"] - sum(figures[p] for p in PHASES if p != "swap")
        return figures


def reset_peak(pid):
    """Sets the process's VmHWM back to its RSS now; False where not allowed."""
    try:
        with open("/proc/%d/clear_refs" % pid, "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def follow_install(bench, release, process, start, run, temporary):
    seen = bench.timings.wait_for(run, "load", start + LOAD_TIMEOUT_SECONDS)
    if seen is None:
        return {"error": "no load report within %d s" % LOAD_TIMEOUT_SECONDS}
    # Idle: after load, before the automatic check 5 s after launch.
    idle_at = max(seen["load"] + 0.5, min(seen["load"] + 2.0, start + 4.0))
    time.sleep(max(0.0, idle_at - time.monotonic()))
    idle_rss = status_kib(process.pid, "VmRSS")
    reset = reset_peak(process.pid)
    watch = Watch(process.pid, os.path.join(temporary, "corvidale-update-*", "corvidale-download-*"), release["size"])
    deadline = time.monotonic() + INSTALL_TIMEOUT_SECONDS
    while process.poll() is None and time.monotonic() < deadline:
        watch.sample(time.monotonic())
        if not reset:
            watch.shell_peak = max(watch.shell_peak, status_kib(process.pid, "VmRSS") or 0)
        time.sleep(SAMPLE_SECONDS)
    ended = time.monotonic()
    served = {path: (first, last) for path, first, last, _ in bench.server.served if first >= start}
    if release["image_path"] not in served:
        return {"error": "the image was never downloaded (exit status %s)" % process.poll()}
    result = {"idle_rss": idle_rss, "peak_rss": watch.shell_peak, "helpers": watch.peaks, "spans": watch.spans,
              "phases": watch.phases(served[release["image_path"]][0], ended), "status": process.poll()}
    if served.get("/releases/linux.json", (idle_at,))[0] < idle_at:
        result["note"] = "the update check began before the idle RSS was read"
    return result


def cold_start():
    """Flushes and drops the page cache, so that every round starts with the published image on disk and
    nothing of it in memory: the download then leaves the same bytes hot for the shell and for the plain
    tools, whose later phases read them in the same state. Answers whether the cache could be dropped
    (root only)."""
    os.sync()
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        return True
    except OSError:
        return False


def install_round(bench, release, name, bundle, index):
    """The shell's update self-test installs the release over a 1.0 copy of
    `bundle`, with its own helpers."""
    folder = os.path.join(bench.work, "install-%s-%d" % (name, index))
    installed, temporary = os.path.join(folder, "Corvidale.app"), os.path.join(folder, "tmp")
    os.makedirs(temporary)
    shutil.copytree(bundle, installed, symlinks=True)
    subprocess.run([release["tool"], "set-info", installed, "CFBundleShortVersionString=1.0", "CFBundleVersion=1",
                    "CorvidaleTeamIdentifier=" + release["team"]], check=True, stdout=subprocess.DEVNULL)
    executable = os.path.join(installed, "Contents/MacOS/corvidale")
    program = Program(name, [executable, "-updateSelfTest", "YES", "-updateFeed", release["feed_url"]],
                      url_in_env=True, env={"TMPDIR": temporary})
    run = "%sinstall-%s-%d" % (bench.prefix, name, index)
    try:
        release["cold"] = cold_start() and release.get("cold", True)  # the previous round's writes are not this one's
        with launched(program, "%s/page?run=%s" % (bench.url_base, run), run, bench.base_env, bench.work,
                      bench.logs) as (process, start, log):
            result = follow_install(bench, release, process, start, run, temporary)
            with open(log, "rb") as f:
                lines = [l for l in f.read().decode("utf-8", "replace").splitlines() if l.startswith("UPDATE SELFTEST")]
        version = subprocess.run([executable, "--version"], capture_output=True, text=True).stdout.strip()
        if "error" not in result and (result["status"] != 0 or version != "Corvidale 2.0 (7)"):
            result["error"] = "the self-test said %r (status %s); the app is %r" % (lines, result["status"], version)
        if "error" not in result and isinstance(result["phases"], str):
            result["error"] = result["phases"]
        return result
    finally:
        shutil.rmtree(folder, ignore_errors=True)


# ---- The plain tools ----------------------------------------------------------------------

def timed(argv):
    """Runs a program; answers (seconds, peak RSS in KiB, exit status, output).
    Its peak RSS is sampled as the helpers' is: the kernel's own count for a
    child (ru_maxrss) includes this Python process it was forked from."""
    output = tempfile.TemporaryFile()
    started = time.monotonic()
    process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT)
    peak, done = [0], threading.Event()

    def sample():
        while not done.wait(SAMPLE_SECONDS / 2):
            if command_line(process.pid)[:1] == argv[:1]:
                peak[0] = max(peak[0], status_kib(process.pid, "VmHWM") or 0)
    sampler = threading.Thread(target=sample)
    sampler.start()
    status = process.wait()
    seconds = time.monotonic() - started
    done.set()
    sampler.join()
    output.seek(0)
    return seconds, peak[0] or None, status, output.read().decode("utf-8", "replace")


def plain_round(bench, release, index):
    folder = os.path.join(bench.work, "plain-%d" % index)
    image, volume, copy = (os.path.join(folder, n) for n in ("image.sqfs", "volume", "copy"))
    steps = [
        ("download", ["curl", "-sS", "--fail", "-o", image, release["image_url"]]),
        ("digest", ["sha256sum", image]),
        ("openssl", ["openssl", "dgst", "-sha256", image]),
        ("extraction", ["unsquashfs", "-no-progress", "-quiet", "-d", volume, image]),
        ("copy", ["cp", "-a", os.path.join(volume, "Corvidale.app"), copy]),
        ("flush", ["sync", "-f", copy]),
    ]
    os.makedirs(folder)
    result = {"seconds": {}, "rss": {}}
    try:
        release["cold"] = cold_start() and release.get("cold", True)
        for phase, argv in steps:
            seconds, rss, status, output = timed(argv)
            if status != 0 or (phase in ("digest", "openssl") and release["sha256"] not in output):
                return {"error": "%s failed (%s): %s" % (" ".join(argv[:2]), status, output.strip()[-300:])}
            result["seconds"][phase], result["rss"][phase] = seconds, rss
        result["seconds"]["total"] = sum(result["seconds"][p] for p in PLAIN_TOTAL)
        return result
    finally:
        shutil.rmtree(folder, ignore_errors=True)


# ---- Report ---------------------------------------------------------------------------------

def median_of(values, scale=1.0, digits=2):
    return spread(values, scale, digits)


def ratio(x, y):
    return "%.2f×" % (x / y) if x and y else "-"


def report_phases(release, names, results):
    fine = [r for r in results["plain"] if "error" not in r]
    good = {name: [r for r in results[name] if "error" not in r] for name in names}
    print()
    print("Install: a release of %d payload files in an image of %.2f GiB, published in %.0f s; %d rounds; failed: %s" % (
        release["files"], release["size"] / 1024 / MIB, release["seconds"], len(results["plain"]),
        ", ".join("%s %d" % (n, len(results[n]) - len(good.get(n, fine))) for n in names + ["plain"])))
    print()
    print("| Phase | %s | plain tool | s | %s |" % (" | ".join(n + " s" for n in names),
                                                    " | ".join(n + " / plain" for n in names)))
    print("|---|%s---|---|%s" % ("---|" * len(names), "---|" * len(names)))
    medians = {}
    for phase in PHASES + ("total",):
        cells, ratios = [], []
        theirs, theirs_median = median_of([r["seconds"][phase] for r in fine if phase in r["seconds"]])
        for name in names:
            ours, ours_median = median_of([r["phases"][phase] for r in good[name]])
            medians[name, phase] = ours_median
            cells.append(ours)
            ratios.append(ratio(ours_median, theirs_median))
        medians["plain", phase] = theirs_median
        tool = "curl + sha256sum + unsquashfs + cp" if phase == "total" else PLAIN.get(phase, "-")
        print("| %s | %s | %s | %s | %s |" % (phase, " | ".join(cells), tool, theirs, " | ".join(ratios)))
    openssl, medians["plain", "openssl"] = median_of([r["seconds"]["openssl"] for r in fine])
    flushed, _ = median_of([r["seconds"]["total"] + r["seconds"]["flush"] for r in fine])
    strict, medians["plain", "strict"] = median_of(
        [r["seconds"]["total"] - r["seconds"]["digest"] + r["seconds"]["openssl"] for r in fine])
    print()
    print("Medians, min–max. The plain tools with their flush (sync -f): %s s; with openssl dgst in place of "
          "sha256sum: %s s (%s)." % (flushed, strict, ", ".join(
              "%s %s" % (n, ratio(medians[n, "total"], medians["plain", "strict"])) for n in names)))
    size = release["size"] / 1e6
    print("Digest: %s; openssl dgst -sha256 %.0f MB/s (%s s); sha256sum %.0f MB/s" % (
        ", ".join("%s %.0f MB/s" % (n, size / medians[n, "digest"]) for n in names if medians[n, "digest"]),
        size / medians["plain", "openssl"] if medians["plain", "openssl"] else 0, openssl,
        size / medians["plain", "digest"] if medians["plain", "digest"] else 0))
    return medians


def report_memory(names, results):
    fine = [r for r in results["plain"] if "error" not in r]
    print()
    print("| Process | peak RSS MiB | alive s |")
    print("|---|---|---|")
    growth = {}
    for name in names:
        good = [r for r in results[name] if "error" not in r]
        idle, _ = median_of([r["idle_rss"] for r in good], 1 / 1024, 0)
        peak, _ = median_of([r["peak_rss"] for r in good], 1 / 1024, 0)
        more, growth[name] = median_of([r["peak_rss"] - r["idle_rss"] for r in good], 1 / 1024, 0)
        print("| %s (the shell), idle after load | %s | |" % (name, idle))
        print("| %s during the install | %s, +%s | |" % (name, peak, more))
        helpers = []
        for r in good:
            helpers += [h for h in r["helpers"] if h not in helpers]
        for helper in helpers:
            rss, _ = median_of([r["helpers"][helper] for r in good if helper in r["helpers"]], 1 / 1024, 0)
            alive, _ = median_of([r["spans"][helper][1] - r["spans"][helper][0] for r in good if helper in r["spans"]])
            print("| %s: %s | %s | %s |" % (name, helper, rss, alive))
    for phase in ("download", "digest", "openssl", "extraction", "copy", "flush"):
        rss, _ = median_of([r["rss"][phase] for r in fine if r["rss"][phase]], 1 / 1024, 0)
        print("| plain: %s | %s | |" % ("openssl dgst" if phase == "openssl" else PLAIN[phase], rss))
    print()
    print("Helpers are sampled every 10 ms: one that lives shorter may be missing, and its RSS is the last read.")
    for name in names:
        for r in results[name]:
            if "note" in r:
                print("NOTE: %s: %s" % (name, r["note"]))
    return growth


def report(release, names, results):
    medians = report_phases(release, names, results)
    growth = report_memory(names, results)
    for name in names:
        goals = []
        if growth[name] is not None:
            goals.append("shell's peak RSS ≤ idle + %d MiB: %s (+%.0f MiB)" % (
                GOAL_RSS_MIB, "met" if growth[name] <= GOAL_RSS_MIB else "NOT met", growth[name]))
        total, plain_total = medians[name, "total"], medians["plain", "total"]
        if total and plain_total:
            goals.append("total ≤ %.1f× the plain tools: %s (%.2f×)" % (
                GOAL_TOTAL, "met" if total <= GOAL_TOTAL * plain_total else "NOT met", total / plain_total))
        digest, openssl = medians[name, "digest"], medians["plain", "openssl"]
        if digest and openssl:
            goals.append("digest ≥ %.1f× openssl's throughput: %s (%.2f×)" % (
                GOAL_DIGEST, "met" if openssl >= GOAL_DIGEST * digest else "NOT met", openssl / digest))
        print("Goals for %s's install: %s" % (name, "; ".join(goals)))


def describe(label, result):
    if "error" in result:
        return "%s failed: %s" % (label, result["error"])
    figures = result.get("phases") or result["seconds"]
    parts = ["%s %.2f" % (phase, figures[phase]) for phase in PHASES + ("openssl",) if phase in figures]
    extra = ", peak RSS +%.0f MiB" % ((result["peak_rss"] - result["idle_rss"]) / 1024) if "peak_rss" in result else ""
    return "%-12s total %.2f s (%s)%s" % (label, figures["total"], ", ".join(parts), extra)


def run(bench, shells, args):
    """Installs the release with each shell, [(name, bundle)], the first
    one's bundle making the release, and with the plain tools."""
    print()
    print("Publishing a release of %d MiB (load average %s)" % (args.install_mib, load_average()))
    sys.stdout.flush()
    release = make_release(bench, shells[0][1], args.install_mib)
    names = [name for name, _ in shells]
    results = {name: [] for name in names + ["plain"]}
    try:
        for index in range(args.install_rounds):
            order = shells + [("plain", None)]
            order = order[index % len(order):] + order[:index % len(order)]
            for name, bundle in order:
                if bundle is None:
                    results[name].append(plain_round(bench, release, index))
                else:
                    results[name].append(install_round(bench, release, name, bundle, index))
                print("install round %d  %s" % (index + 1, describe(name, results[name][-1])))
                sys.stdout.flush()
        report(release, names, results)
        print("Each round started with the page cache %s." % (
            "dropped (the image cold on disk; what the download wrote hot for every later phase, on both sides)"
            if release.get("cold") else "as it was: dropping it needs root, so rounds may find the image cached"))
        print("Load average at the end of the install rounds: %s" % load_average())
        sys.stdout.flush()
    finally:
        shutil.rmtree(os.path.join(bench.work, "release"), ignore_errors=True)
