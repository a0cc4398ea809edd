"""What the benchmarks share: the page and the https server that times it, the
programs' processes and how they are started, ended and measured, and the
figures' formatting."""

import contextlib
import http.server
import os
import platform
import signal
import socketserver
import shutil
import ssl
import statistics
import subprocess
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


def make_server(certificate, key, timings, files=None):
    """The server. `files` maps paths to files on disk to serve as they are
    (a dict that may change while it serves); each such answer is noted in the
    server's `served` list as (path, first byte, last byte written, size)."""
    files = {} if files is None else files
    served = []

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
            elif path in files:
                self.send_file(path, files[path])
            else:
                self.reply(404, b"not here\n")

        def send_file(self, path, filename):
            with open(filename, "rb") as f:
                size = os.fstat(f.fileno()).st_size
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(size))
                self.end_headers()
                started = time.monotonic()
                while chunk := f.read(1 << 20):
                    self.wfile.write(chunk)
            served.append((path, started, time.monotonic(), size))

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
    server.files, server.served = files, served
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


@contextlib.contextmanager
def launched(program, url, run, base_env, work, logs=None):
    """One launch of the program, as (process, exec moment, log path); on
    leaving, everything it started is ended and its home removed."""
    process, start, home, log = launch_once(program, url, run, base_env, work)
    try:
        yield process, start, log.name
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



# ---- What the kernel says of a process ----------------------------------------------------

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def status_kib(pid, field):
    """A kB figure of /proc/<pid>/status (VmRSS, VmHWM...); None once it is gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except (OSError, ValueError):
        pass
    return None


def cpu_seconds(pid):
    """User and system time of the process, its ended threads included."""
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            fields = f.read().decode("latin-1").rsplit(")", 1)[1].split()
    except OSError:
        return None
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def command_line(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return [a.decode("utf-8", "replace") for a in f.read().split(b"\0")[:-1]]
    except OSError:
        return []


def start_xvfb(base_env, marker):
    """An Xvfb of its own on a free display; answers the process and the display."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, env=dict(base_env, **{MARKER: marker}),
                            start_new_session=True)
    os.close(write_end)
    display = b""
    while not display.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        if not chunk:
            raise SystemExit("bench: Xvfb did not start")
        display += chunk
    os.close(read_end)
    return xvfb, ":" + display.decode().strip()
