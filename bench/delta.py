"""The delta table: release 1.0 (1) of about 1 GiB with a 50 MB program among
its files, and 2.0 (7) where that program changed by a few percent and ten
small files changed, both published with the project's own tools; a delta from
1 to 7 made with corvidale-release delta. Each round installs 2.0 over the
published 1.0 with the shell's update self-test twice, once from a feed that
lists only the full image and once from one that also lists the delta, each
round starting with the page cache dropped. Measured: bytes served, the time
from the update's first byte to the self-test's exit, and the shell's peak RSS
over its idle RSS after load.
"""

import hashlib
import json
import os
import random
import shutil
import subprocess
import sys
import time

import install
from harness import LOAD_TIMEOUT_SECONDS, Program, launched, load_average, spread, status_kib

MIB = 1024 * 1024
PROGRAM_BYTES = 50 * 1000 * 1000
GOAL_BYTES, GOAL_TOTAL, GOAL_RSS_MIB = 0.03, 0.4, 64


def changed_program(data, rng, share=0.03):
    """The program rebuilt: a few percent of its bytes, in scattered runs, differ."""
    data = bytearray(data)
    run = 4096
    for _ in range(int(len(data) * share / run)):
        at = rng.randrange(len(data) - run)
        data[at:at + run] = rng.randbytes(run)
    return bytes(data)


def publish(bench, build, source, key, out):
    subprocess.run(["bash", os.path.join(install.ROOT, "scripts", "publish.sh"), source, key, out],
                   check=True, stdout=subprocess.DEVNULL,
                   env=dict(os.environ, CORVIDALE_BUILD_DIR=build, TMPDIR=os.path.dirname(out)))
    with open(os.path.join(out, "linux.json")) as f:
        return json.load(f)


def make_pair(bench, shell_bundle, size_mib):
    started = time.monotonic()
    build = os.path.dirname(shell_bundle)
    folder = os.path.join(bench.work, "delta")
    tool = os.path.join(build, "tools", "corvidale-release")
    key, source = os.path.join(folder, "key.pem"), os.path.join(folder, "source", "Corvidale.app")
    os.makedirs(os.path.dirname(source))
    rng = random.Random(30)
    mask = os.umask(0o022)
    try:
        team = subprocess.run([os.path.join(shell_bundle, "Contents/Helpers/corvidale-codesign"), "keygen", key],
                              check=True, capture_output=True, text=True).stdout.strip()
        shutil.copytree(shell_bundle, source, symlinks=True)
        payload = os.path.join(source, "Contents", "Resources", "bench-payload")
        install.write_payload(payload, size_mib * MIB - PROGRAM_BYTES)
        program = os.path.join(source, "Contents", "MacOS", "engine")
        with open(program, "wb") as f:
            f.write(rng.randbytes(PROGRAM_BYTES))
        feeds = {}
        for version, number in (("1.0", "1"), ("2.0", "7")):
            if number == "7":
                with open(program, "rb") as f:
                    data = f.read()
                with open(program, "wb") as f:
                    f.write(changed_program(data, rng))
                for index in range(10):
                    with open(os.path.join(payload, "docs", "%02d" % index, "page-%04d.txt" % index), "ab") as f:
                        f.write(b" changed in 2.0")
            subprocess.run([tool, "set-info", source, "CFBundleShortVersionString=" + version,
                            "CFBundleVersion=" + number, "CorvidaleTeamIdentifier=" + team],
                           check=True, stdout=subprocess.DEVNULL)
            feeds[number] = publish(bench, build, source, key, os.path.join(folder, "out" + number))
    finally:
        os.umask(mask)
    shutil.rmtree(os.path.dirname(source))
    images = {n: os.path.join(folder, "out" + n, feeds[n]["file"]) for n in feeds}
    delta_path = os.path.join(folder, "out7", "from-1.delta")
    made = time.monotonic()
    subprocess.run([tool, "delta", "--from", images["1"], "--to", images["7"], "-o", delta_path], check=True,
                   stdout=subprocess.DEVNULL, env=dict(os.environ, TMPDIR=folder))
    delta_seconds = time.monotonic() - made
    with open(delta_path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    with_delta = dict(feeds["7"], deltas=[{"from": 1, "file": "from-1.delta", "sha256": digest}])
    for name, feed in (("full.json", feeds["7"]), ("delta.json", with_delta)):
        with open(os.path.join(folder, name), "w") as f:
            json.dump(feed, f)
        bench.server.files["/delta/" + name] = os.path.join(folder, name)
    bench.server.files["/delta/" + feeds["7"]["file"]] = images["7"]
    bench.server.files["/delta/from-1.delta"] = delta_path
    os.sync()
    return {"tool": tool, "old_image": images["1"], "image_path": "/delta/" + feeds["7"]["file"],
            "image_size": os.path.getsize(images["7"]), "delta_size": os.path.getsize(delta_path),
            "delta_seconds": delta_seconds, "seconds": time.monotonic() - started}


def follow(bench, process, start, run):
    seen = bench.timings.wait_for(run, "load", start + LOAD_TIMEOUT_SECONDS)
    if seen is None:
        return {"error": "no load report"}
    time.sleep(max(0.0, min(seen["load"] + 2.0, start + 4.0) - time.monotonic()))
    idle = status_kib(process.pid, "VmRSS")
    reset = install.reset_peak(process.pid)
    peak = 0
    watch = install.Watch(process.pid, "", 0)
    deadline = time.monotonic() + install.INSTALL_TIMEOUT_SECONDS
    while process.poll() is None and time.monotonic() < deadline:
        peak = max(peak, status_kib(process.pid, "VmHWM" if reset else "VmRSS") or 0)
        watch.sample(time.monotonic())
        time.sleep(install.SAMPLE_SECONDS)
    ended = time.monotonic()
    served = [(path, first, size) for path, first, _, size in bench.server.served
              if first >= start and path.startswith("/delta/") and not path.endswith(".json")]
    if not served:
        return {"error": "nothing was downloaded (exit status %s)" % process.poll()}
    return {"idle": idle, "peak": peak, "bytes": sum(size for _, _, size in served),
            "paths": sorted({path for path, _, _ in served}), "total": ended - min(first for _, first, _ in served),
            "status": process.poll(), "helpers": {name: round(last - first, 2) for name, (first, last) in
                                                  watch.spans.items() if name != "downloaded"}}


def install_round(bench, pair, mode, shell_bundle, index):
    folder = os.path.join(bench.work, "delta-round-%s-%d" % (mode, index))
    temporary = os.path.join(folder, "tmp")
    os.makedirs(temporary)
    try:
        # The published 1.0 itself, as an installation of it holds it.
        subprocess.run(["unsquashfs", "-q", "-n", "-d", os.path.join(folder, "image"), pair["old_image"]], check=True,
                       stdout=subprocess.DEVNULL)
        installed = os.path.join(folder, "Corvidale.app")
        os.rename(os.path.join(folder, "image", "Corvidale.app"), installed)
        executable = os.path.join(installed, "Contents/MacOS/corvidale")
        program = Program("corvidale", [executable, "-updateSelfTest", "YES", "-updateFeed",
                                        "%s/delta/%s.json" % (bench.url_base, mode)],
                          url_in_env=True, env={"TMPDIR": temporary})
        run = "%sdelta-%s-%d" % (bench.prefix, mode, index)
        install.cold_start()
        with launched(program, "%s/page?run=%s" % (bench.url_base, run), run, bench.base_env, bench.work,
                      bench.logs) as (process, start, _):
            result = follow(bench, process, start, run)
        version = subprocess.run([executable, "--version"], capture_output=True, text=True).stdout.strip()
        if "error" not in result and (result["status"] != 0 or version != "Corvidale 2.0 (7)"):
            result["error"] = "status %s, the app is %r" % (result["status"], version)
        expected = ["/delta/from-1.delta"] if mode == "delta" else [pair["image_path"]]
        if "error" not in result and result["paths"] != expected:
            result["error"] = "downloaded %s" % ", ".join(result["paths"])
        return result
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def run(bench, shell_bundle, args):
    print()
    print("Publishing 1.0 and 2.0 of %d MiB and a delta (load average %s)" % (args.install_mib, load_average()))
    sys.stdout.flush()
    pair = make_pair(bench, shell_bundle, args.install_mib)
    results = {"full": [], "delta": []}
    try:
        for index in range(args.install_rounds):
            for mode in (("full", "delta") if index % 2 == 0 else ("delta", "full")):
                result = install_round(bench, pair, mode, shell_bundle, index)
                results[mode].append(result)
                print("delta round %d  %-5s %s" % (index + 1, mode, result.get("error") or
                                                   "total %.2f s, %.1f MB downloaded, peak RSS +%.0f MiB; "
                                                   "helpers' lives (s): %s" % (
                                                       result["total"], result["bytes"] / 1e6,
                                                       (result["peak"] - result["idle"]) / 1024,
                                                       ", ".join("%s %.2f" % i for i in result["helpers"].items()))))
                sys.stdout.flush()
        report(pair, results)
        print("Load average at the end of the delta rounds: %s" % load_average())
    finally:
        shutil.rmtree(os.path.join(bench.work, "delta"), ignore_errors=True)


def report(pair, results):
    good = {mode: [r for r in results[mode] if "error" not in r] for mode in results}
    print()
    print("Delta: an image of %.2f GiB; the delta %.2f MB, made in %.0f s (%.0f s to publish both)." % (
        pair["image_size"] / 1024 / MIB, pair["delta_size"] / 1e6, pair["delta_seconds"], pair["seconds"]))
    print()
    print("| Install | total s | downloaded MB | shell peak RSS over idle MiB |")
    print("|---|---|---|---|")
    medians = {}
    for mode in ("full", "delta"):
        total, medians[mode, "total"] = spread([r["total"] for r in good[mode]], digits=2)
        size, medians[mode, "bytes"] = spread([r["bytes"] for r in good[mode]], 1e-6, 1)
        more, medians[mode, "rss"] = spread([r["peak"] - r["idle"] for r in good[mode]], 1 / 1024, 0)
        print("| %s | %s | %s | %s |" % (mode, total, size, more))
    print()
    print("Medians, min–max; failed rounds: full %d, delta %d." % (
        len(results["full"]) - len(good["full"]), len(results["delta"]) - len(good["delta"])))
    if good["full"] and good["delta"]:
        share = medians["delta", "bytes"] * 1e6 / pair["image_size"]
        speed = medians["delta", "total"] / medians["full", "total"]
        rss = medians["delta", "rss"]
        print("Goals: bytes downloaded ≤ %.0f%% of the full image: %s (%.2f%%); total ≤ %.1f× the full install: %s "
              "(%.2f×); shell's peak RSS ≤ idle + %d MiB: %s (+%.0f MiB)" % (
                  GOAL_BYTES * 100, "met" if share <= GOAL_BYTES else "NOT met", share * 100, GOAL_TOTAL,
                  "met" if speed <= GOAL_TOTAL else "NOT met", speed, GOAL_RSS_MIB,
                  "met" if rss <= GOAL_RSS_MIB else "NOT met", rss))
