#!/usr/bin/python3
"""Startup and memory of the shell against the programs it competes with.

Run through bench/run.sh, which prepares what this needs (a test CA trusted in
a private mount namespace, the builds) and then runs this inside that
namespace. Every program is started fresh, one at a time, in interleaved
rounds, against the same ~32 KB page over local https; the page's script
reports its `load` event back to the server here.

Figures per launch:
  request  exec -> the server reads the page's request line
  load     exec -> the server receives the page's load report
  PSS, RSS summed over every process the program started, 2 s after load
"""

import argparse
import ctypes
import http.server
import os
import platform
import re
import shutil
import signal
import socketserver
import ssl
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

PAGE_SIZE = 32 * 1024
SETTLE_SECONDS = 2.0
LOAD_TIMEOUT_SECONDS = 30.0
MARKER = "CORVIDALE_BENCH_RUN"
ENGINE_NAMES = ("WebKitWebProces", "WebKitNetworkP", "WebKitGPUProces", "MiniBrowser", "chromium", "chrome")
CHROMIUM = "/usr/lib/chromium/chromium"
MINIBROWSER = "/usr/lib/x86_64-linux-gnu/webkitgtk-6.0/MiniBrowser"
NO_SESSION_BUS = "disabled:"


# ---- The page and the server that times it -------------------------------------

def page_for(run):
    """About 32 KB of ordinary document: styles, headings, paragraphs, a table,
    and the script that reports the load event."""
    head = (
        "<!doctype html><html lang=en><head><meta charset=utf-8>"
        "<title>Benchmark page</title><style>"
        "body{font:16px/1.5 sans-serif;margin:2em auto;max-width:48em;padding:0 1em}"
        "h2{margin-top:1.5em}table{border-collapse:collapse}td{border:1px solid #999;padding:.2em .5em}"
        "</style></head><body><h1>Benchmark page</h1>\n"
    )
    script = (
        "<script>addEventListener('load',function(){"
        "fetch('/loaded?run=%s',{method:'POST',keepalive:true,body:String(performance.now())});"
        "});</script></body></html>\n" % run
    )
    words = ("startup memory window engine request paint layout style script network "
             "process render shell origin document table heading paragraph").split()
    body = []
    size = len(head) + len(script)
    section = 0
    while size < PAGE_SIZE - 600:
        section += 1
        text = " ".join(words[(section * 7 + i) % len(words)] for i in range(90))
        rows = "".join("<tr><td>%d</td><td>%s</td></tr>" % (i, words[(section + i) % len(words)]) for i in range(4))
        chunk = "<h2>Section %d</h2><p>%s.</p><table>%s</table>\n" % (section, text.capitalize(), rows)
        body.append(chunk)
        size += len(chunk)
    page = head + "".join(body)
    page += "<!--" + "x" * max(0, PAGE_SIZE - len(page) - len(script) - 8) + "-->\n" + script
    return page.encode()


class Timings:
    """What the server saw of each run, by run id, on the monotonic clock."""

    def __init__(self):
        self.lock = threading.Lock()
        self.runs = {}
        self.arrived = threading.Condition(self.lock)

    def note(self, run, what, user_agent=None):
        now = time.monotonic()
        with self.lock:
            record = self.runs.setdefault(run, {})
            if what not in record:
                record[what] = now
                if user_agent is not None:
                    record[what + "_agent"] = user_agent
            self.arrived.notify_all()

    def wait_for(self, run, what, deadline):
        with self.lock:
            while what not in self.runs.get(run, {}):
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return None
                self.arrived.wait(remaining)
            return dict(self.runs[run])


def make_server(certificate, key, timings):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def run_id(self):
            query = urllib.parse.urlsplit(self.path).query
            return urllib.parse.parse_qs(query).get("run", [""])[0]

        # Headers and body leave in one write, without Nagle's delay: a
        # small last segment held back until the client's delayed ACK would
        # add 40 ms that no real server adds.
        disable_nagle_algorithm = True

        def reply(self, status, body=b"", kind="text/plain"):
            self.send_response(status)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-store")
            self._headers_buffer.append(b"\r\n")
            if body and self.command != "HEAD":
                self._headers_buffer.append(body)
            self.flush_headers()

        def do_GET(self):
            path = urllib.parse.urlsplit(self.path).path
            if path == "/page" and self.run_id():
                timings.note(self.run_id(), "request", self.headers.get("User-Agent", ""))
                self.reply(200, page_for(self.run_id()), "text/html; charset=utf-8")
            else:
                self.reply(404, b"not here\n")

        def do_POST(self):
            length = int(self.headers.get("Content-Length") or 0)
            if length:
                self.rfile.read(min(length, 4096))
            if urllib.parse.urlsplit(self.path).path == "/loaded" and self.run_id():
                timings.note(self.run_id(), "load")
                self.reply(204)
            else:
                self.reply(404, b"not here\n")

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True

        def get_request(self):
            # The TLS handshake happens on the handler's thread, at its first
            # read, so one slow client never holds up accept().
            connection, address = self.socket.accept()
            return context.wrap_socket(connection, server_side=True, do_handshake_on_connect=False), address

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certificate, key)
    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


# ---- Processes --------------------------------------------------------------------

def proc_stat(pid):
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            text = f.read().decode("latin-1")
    except OSError:
        return None
    name = text[text.index("(") + 1:text.rindex(")")]
    fields = text[text.rindex(")") + 2:].split()
    return name, fields[0], int(fields[1])  # comm, state, ppid


def all_pids():
    return [int(entry) for entry in os.listdir("/proc") if entry.isdigit()]


def has_marker(pid, value):
    try:
        with open("/proc/%d/environ" % pid, "rb") as f:
            return (b"%s=%s" % (MARKER.encode(), value.encode())) in f.read().split(b"\0")
    except OSError:
        return False


def descendants(root):
    children = {}
    for pid in all_pids():
        stat = proc_stat(pid)
        if stat is not None:
            children.setdefault(stat[2], []).append(pid)
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo.extend(children.get(pid, []))
    return found


def processes_of(root, marker):
    """The program's processes: its process tree, and anything carrying its
    marker that left the tree (a daemonised helper)."""
    pids = set(descendants(root))
    pids.update(pid for pid in all_pids() if pid not in pids and has_marker(pid, marker))
    return sorted(pid for pid in pids if (proc_stat(pid) or ("", "Z", 0))[1] != "Z")


def memory_of(pids):
    pss = rss = 0
    counted = 0
    for pid in pids:
        try:
            with open("/proc/%d/smaps_rollup" % pid) as f:
                for line in f:
                    if line.startswith("Pss:"):
                        pss += int(line.split()[1])
                    elif line.startswith("Rss:"):
                        rss += int(line.split()[1])
            counted += 1
        except OSError:
            pass
    return pss, rss, counted


def end_processes(pids, grace=5.0):
    for sig in (signal.SIGTERM, signal.SIGKILL):
        for pid in pids:
            try:
                os.kill(pid, sig)
            except OSError:
                pass
        deadline = time.monotonic() + grace
        while time.monotonic() < deadline:
            alive = [pid for pid in pids if (proc_stat(pid) or ("", "Z", 0))[1] != "Z"]
            if not alive:
                return
            time.sleep(0.05)
        pids = alive


def end_marked(prefix):
    """Every process whose marker starts with this run's prefix: the clean-up
    that needs no process tree."""
    mine = []
    for pid in all_pids():
        try:
            with open("/proc/%d/environ" % pid, "rb") as f:
                entries = f.read().split(b"\0")
        except OSError:
            continue
        if any(e.startswith(("%s=%s" % (MARKER, prefix)).encode()) for e in entries):
            mine.append(pid)
    if mine:
        end_processes(mine, grace=2.0)


def foreign_engines(prefix):
    """Web engine processes on the machine that this run did not start."""
    found = []
    ours = set(descendants(os.getpid()))
    for pid in all_pids():
        if pid in ours:
            continue
        stat = proc_stat(pid)
        if stat is None or not stat[0].startswith(ENGINE_NAMES):
            continue
        try:
            with open("/proc/%d/environ" % pid, "rb") as f:
                if ("%s=%s" % (MARKER, prefix)).encode() in f.read():
                    continue
        except OSError:
            continue
        found.append((pid, stat[0]))
    return found


def reap_orphans():
    # As child subreaper, helpers that outlive their parent end up here.
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


# ---- The programs -------------------------------------------------------------------

class Program:
    def __init__(self, name, argv, url_in_env=False, env=None):
        self.name = name
        self.argv = argv
        self.url_in_env = url_in_env
        self.env = dict(env or {})

    def command(self, url, home):
        if self.url_in_env:
            return list(self.argv), {"CORVIDALE_ORIGIN": url}
        if os.path.basename(self.argv[0]) == "chromium":
            return self.argv + ["--user-data-dir=" + os.path.join(home, "chromium-profile"), "--app=" + url], {}
        return self.argv + [url], {}


def launch_once(program, url, run, base_env, work):
    home = tempfile.mkdtemp(prefix="home-", dir=work)
    for sub in (".config", ".local/share", ".cache", "runtime", "Downloads"):
        os.makedirs(os.path.join(home, sub), exist_ok=True)
    os.chmod(os.path.join(home, "runtime"), 0o700)
    argv, extra = program.command(url, home)
    env = dict(base_env)
    env.update({
        "HOME": home,
        "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        "XDG_DATA_HOME": os.path.join(home, ".local/share"),
        "XDG_CACHE_HOME": os.path.join(home, ".cache"),
        "XDG_RUNTIME_DIR": os.path.join(home, "runtime"),
        MARKER: run,
    })
    env.update(extra)
    env.update(program.env)
    log = open(os.path.join(work, "%s.log" % run), "wb")
    # The launch's moment on the monotonic clock, for lining up a program's
    # own time stamps with it.
    log.write(b"exec at %.3f ms\n" % (time.monotonic() * 1000))
    log.flush()
    start = time.monotonic()
    process = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                               start_new_session=True)
    return process, start, home, log


def measure(program, url_base, run, timings, base_env, work, logs=None, shots=None):
    url = "%s/page?run=%s" % (url_base, run)
    process, start, home, log = launch_once(program, url, run, base_env, work)
    result = {"program": program.name}
    try:
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
        if shots:
            subprocess.run(["import", "-window", "root", os.path.join(shots, run + ".png")], env=base_env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        return result
    finally:
        end_processes(processes_of(process.pid, run))
        try:
            process.wait(timeout=5)
        except (subprocess.TimeoutExpired, ChildProcessError):
            pass
        reap_orphans()
        log.close()
        if logs:
            shutil.copy(log.name, logs)
        shutil.rmtree(home, ignore_errors=True)


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

def machine_description():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        memory = int(f.readline().split()[1]) / 1024 / 1024
    try:
        with open("/etc/debian_version") as f:
            debian = "Debian " + f.read().strip()
    except OSError:
        debian = platform.platform()
    return "%s, %d cores, %.0f GiB RAM, %s, kernel %s" % (model, os.cpu_count(), memory, debian, platform.release())


def package_version(name):
    try:
        return subprocess.run(["dpkg-query", "-W", "-f=${Version}", name], capture_output=True, text=True,
                              check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return "?"


def gl_renderer(env):
    try:
        out = subprocess.run(["glxinfo", "-B"], env=env, capture_output=True, text=True, timeout=20).stdout
    except (OSError, subprocess.TimeoutExpired):
        return "unknown (glxinfo missing)"
    match = re.search(r"OpenGL renderer string: (.*)", out)
    return match.group(1).strip() if match else "none"


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def spread(values, scale=1.0, digits=0):
    values = [v * scale for v in values if v is not None]
    if not values:
        return "-", None
    median = statistics.median(values)
    fmt = "%%.%df" % digits
    return "%s (%s–%s)" % (fmt % median, fmt % min(values), fmt % max(values)), median


def mib(size):
    return "%.1f MiB" % (size / 1024 / 1024) if size >= 1024 * 1024 else "%.0f KiB" % (size / 1024)


def report(programs, results, program_sizes, rounds, notes):
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
        for what, label in (("load", "exec → load"), ("pss", "PSS")):
            for base, limit in (("chromium", 0.9), ("minimal", 1.05)):
                x, y = medians.get(shell, {}).get(what), medians.get(base, {}).get(what)
                if x and y:
                    goals.append("%s ≤ %.2f× %s: %s (%.2f×)" % (label, limit, base, "met" if x <= limit * y else
                                                               "NOT met", x / y))
        if goals:
            print("Goals for %s: %s" % (shell, "; ".join(goals)))
    for note in notes:
        print(note)


# ---- Main ---------------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=10)
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
    parser.add_argument("--screenshots", metavar="DIR", help="a picture of the screen after each measurement")
    parser.add_argument("--env", action="append", default=[], metavar="NAME:VAR=VALUE",
                        help="an environment variable for one program")
    args = parser.parse_args()
    if args.rounds < 1:
        parser.error("--rounds must be at least 1")

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
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                                 "-nolisten", "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, env=dict(base_env, **{MARKER: prefix + "xvfb"}),
                                start_new_session=True)
        os.close(write_end)
        display = b""
        while not display.endswith(b"\n"):
            chunk = os.read(read_end, 16)
            if not chunk:
                raise SystemExit("bench: Xvfb did not start")
            display += chunk
        os.close(read_end)
        base_env["DISPLAY"] = ":" + display.decode().strip()

        timings = Timings()
        server = make_server(args.cert, args.key, timings)
        url_base = "https://127.0.0.1:%d" % server.server_address[1]

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
            programs.insert(programs.index(original) + 1,
                            Program(name, original.argv, original.url_in_env, original.env))
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

        print("Machine: %s" % machine_description())
        print("Display: Xvfb %s, 1280x1024x24; GL: %s; no /dev/dri render node: %s" % (
            package_version("xvfb"), gl_renderer(base_env), "yes" if not os.path.exists("/dev/dri") else "no"))
        print("Engines: WebKitGTK %s, Chromium %s (%s, --ignore-certificate-errors for the test CA, "
              "window 1100x760, fresh --user-data-dir each launch)" % (
                  package_version("libwebkitgtk-6.0-4"), package_version("chromium"), CHROMIUM))
        print("Page: %d bytes over https on 127.0.0.1; every launch gets a fresh HOME and XDG folders" %
              len(page_for("x" * 16)))
        for program in programs:
            if program.env:
                print("Environment of %s: %s" % (program.name, " ".join("%s=%s" % kv for kv in program.env.items())))
        print("Load average at start: %s" % load_average())
        sys.stdout.flush()

        results = []
        foreign_seen = {}
        for round_index in range(args.rounds):
            # A different program goes first each round.
            order = programs[round_index % len(programs):] + programs[:round_index % len(programs)]
            for program in order:
                for pid, name in foreign_engines(prefix):
                    foreign_seen[pid] = name
                run = "%s%s-%d" % (prefix, program.name, round_index)
                result = measure(program, url_base, run, timings, base_env, work, args.logs, args.screenshots)
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
            program_sizes[program.name] = sizes(program, bundles.get(program.name), work)

        notes = ["Load average at end: %s" % load_average()]
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
    finally:
        end_marked(prefix)
        if xvfb is not None:
            end_processes([xvfb.pid])
        reap_orphans()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
