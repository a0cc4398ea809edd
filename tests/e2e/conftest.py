"""The built shell under Xvfb, talking https to servers of this test run on loopback.

The app runs in a private mount namespace where a CA bundle with the test CA and
a hosts file naming the test hosts are bound over the system's (the engine
ignores SSL_CERT_FILE). It gets a session bus only where a test gives it one, one that
starts no services.
"""
import ast
import ctypes
import http.server
import json
import re
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

APP = os.environ.get("CORVIDALE_APP", "build/Corvidale.app/Contents/MacOS/corvidale")
APP_HOST, SUB_HOST, FOREIGN_HOST, SIGNIN_HOST, IDN_HOST = HOSTS = [
    "app.corvidale.test", "other.app.corvidale.test", "foreign.test", "accounts.google.com", "xn--bcher-kva.test"]
TIMEOUT = 60  # two busy cores and a cold engine start have to fit
# "(name:pid): Domain-LEVEL **: ..." or "** (name:pid): LEVEL **: ..."
GLIB_LOG_LINE = re.compile(r"^(\*\* )?\([^()]*:\d+\): ")
signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # so that the fixtures end what they started


def dies_with_us():
    """Whatever this run starts is killed when it goes, however it goes."""
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def wait_for(condition, what, timeout=TIMEOUT):
    end = time.monotonic() + timeout
    while not (value := condition()):
        if time.monotonic() > end:
            raise AssertionError(f"timed out waiting for {what() if callable(what) else what}")
        time.sleep(0.1)
    return value


def run(*argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, timeout=60, **kw)


REPORT_JS = """<script>function report(t) {
  return fetch('/report', {method: 'POST', body: String(t), cache: 'no-store', keepalive: true}).catch(function () {});
}</script>"""


def page(body, head="", cls=""):
    return f'<!doctype html><html class="{cls}"><head><meta charset="utf-8">{REPORT_JS}{head}</head><body>{body}</body></html>'


def steps_page(steps, onload=""):
    """One link filling the view; each click (a real one, so that it counts as the
    user's) follows the next step: {href, target, open (window.open), download, blob}."""
    return page('<a id="go" href="#">waiting</a><script>var steps = ' + json.dumps(steps) + """;
var i = -1, go = document.getElementById('go');
function arm(n) {
  i = n; var s = steps[n];
  go.href = s.blob ? URL.createObjectURL(new Blob([s.blob])) : (s.href || '#');
  go.target = s.target || ''; if (s.download) go.download = s.download; else go.removeAttribute('download');
  go.textContent = 'step ' + n; report('armed ' + n + ' ' + location.pathname);
}
go.addEventListener('click', function (e) {
  var n = i; if (n < 0) { e.preventDefault(); return; }
  var said = 'clicked ' + n + ' ' + location.pathname;
  if (steps[n].open) { e.preventDefault(); report(said + (window.open(steps[n].open) ? ' window' : ' null')); }
  else report(said);
  i = -1; if (n + 1 < steps.length) setTimeout(function () { arm(n + 1); }, 0);
});
addEventListener('pagehide', function () { navigator.sendBeacon('/report', 'pagehide ' + location.pathname); });
addEventListener('load', function () { """ + onload + """; if (steps.length) arm(0); });
</script>""", head="<style>html,body{margin:0;height:100%}#go{position:fixed;inset:0;background:#2a6f4e}</style>")


class Origin:
    """The web application's stand-in, on two ports, for every test host. Records
    each request and what the pages POST to /report; serves `routes`."""

    def __init__(self, cert, key):
        self.routes, self.requests, self.lock = {}, [], threading.Lock()
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(cert, key)
        self.servers = [self._serve(0) for _ in range(2)]
        self.port, self.other_port = (s.server_address[1] for s in self.servers)

    def _serve(self, port):
        server = _Server(("127.0.0.1", port), _Handler)
        server.context, server.origin, server.live = self.context, self, set()
        threading.Thread(target=server.serve_forever, daemon=True).start()
        return server

    def stop(self):
        """Closes the main port and its open connections: connections to it are refused until restart()."""
        self.servers[0].shutdown()
        self.servers[0].server_close()
        for connection in list(self.servers[0].live):
            try:
                connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def restart(self):
        self.servers[0] = self._serve(self.port)

    def url(self, path="/", host=APP_HOST, port=None):
        return f"https://{host}:{port or self.port}{path}"

    def to(self, path):
        with self.lock:
            return [r for r in self.requests if r["path"] == path]

    def reports(self):
        with self.lock:
            return [r["body"] for r in self.requests if r["path"] == "/report"]

    def wait_report(self, prefix, timeout=TIMEOUT):
        return wait_for(lambda: next((r for r in self.reports() if r.startswith(prefix)), None),
                        f"report {prefix!r}; got {self.reports()}", timeout)

    def close(self):
        for server in self.servers:
            server.shutdown()
            server.server_close()


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def finish_request(self, request, address):
        try:  # the handshake in the connection's own thread, so no client holds up the others
            request = self.context.wrap_socket(request, server_side=True)
            self.live.add(request)
            self.RequestHandlerClass(request, address, self)
        except OSError:
            pass
        finally:
            self.live.discard(request)
            request.close()


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        origin = self.server.origin
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0)).decode(errors="replace")
        record = dict(method=self.command, target=self.path, path=self.path.split("?")[0], body=body,
                      host=self.headers["Host"], agent=self.headers["User-Agent"], cookie=self.headers["Cookie"])
        with origin.lock:
            origin.requests.append(record)
        route = origin.routes.get(record["path"], ("", "text/plain") if record["path"] == "/report" else None)
        if callable(route):
            return route(self)
        if route is None:
            return self.reply("not here", "text/plain", status=404)
        self.reply(*route)

    do_POST = do_GET

    def reply(self, content, content_type="text/html; charset=utf-8", headers=(), status=200):
        data = content.encode() if isinstance(content, str) else content
        self.send_response(status)
        for name, value in [("Content-Type", content_type), ("Content-Length", str(len(data))),
                            ("Cache-Control", "no-store"), *dict(headers).items()]:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)


class Profile:
    """A user: HOME with its XDG folders and a Downloads folder, and a stand-in
    default browser that notes every URL handed to it (for the schemes and types
    the shell must never hand out, too, so that doing so shows)."""

    def __init__(self, root):
        self.root, self.home = root, root / "home"
        self.downloads, self.opened_log = self.home / "Downloads", root / "opened.log"
        for folder in (".config", ".local/share/applications", ".cache", "Downloads", "runtime"):
            (self.home / folder).mkdir(parents=True, exist_ok=True)
        (self.home / "runtime").chmod(0o700)
        (self.home / ".config/user-dirs.dirs").write_text('XDG_DOWNLOAD_DIR="$HOME/Downloads"\n')
        self.opened_log.write_text("")
        recorder = root / "browser.sh"
        recorder.write_text(f'#!/bin/sh\nprintf "%s\\n" "$1" >> "{self.opened_log}"\n')
        recorder.chmod(0o755)
        types = ["x-scheme-handler/" + s for s in ("http", "https", "mailto", "smb", "file", "corvidale-test")]
        types += ["inode/directory", "text/plain", "application/octet-stream"]
        (self.home / ".local/share/applications/test-browser.desktop").write_text(
            f"[Desktop Entry]\nType=Application\nName=Test Browser\nExec={recorder} %u\nMimeType={';'.join(types)};\n")
        (self.home / ".config/mimeapps.list").write_text(
            "[Default Applications]\n" + "".join(f"{t}=test-browser.desktop\n" for t in types))

    def opened(self):
        return self.opened_log.read_text().splitlines()

    def files(self):
        return sorted(p.name for p in self.downloads.iterdir())


class World:
    def __init__(self, root):
        self.root = root
        tls = root / "tls"
        tls.mkdir()
        ssl_args = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2"]
        (tls / "server.ext").write_text("subjectAltName=" + ",".join("DNS:" + h for h in HOSTS) +
                                        "\nextendedKeyUsage=serverAuth\n")
        for argv in (["req", "-x509", *ssl_args, "-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Corvidale test CA",
                      "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign"],
                     ["req", *ssl_args, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=" + APP_HOST],
                     ["x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                      "-days", "2", "-extfile", "server.ext", "-out", "server.pem"]):
            assert run("openssl", *argv, cwd=tls).returncode == 0, argv
        self.ca_bundle, self.hosts = root / "ca-bundle.crt", root / "hosts"
        self.ca_bundle.write_text(Path("/etc/ssl/certs/ca-certificates.crt").read_text() + (tls / "ca.pem").read_text())
        self.hosts.write_text("127.0.0.1 localhost " + " ".join(HOSTS) + "\n")
        self.origin = Origin(tls / "server.pem", tls / "server.key")
        # Xvfb picks a free display itself and names it once it listens. It must
        # not reset when its last client leaves: a client that connects during
        # the reset is dropped, and the app ends with "cannot open display".
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                                      "-nolisten", "tcp", "-noreset"], pass_fds=[write_end], stderr=subprocess.DEVNULL,
                                     preexec_fn=dies_with_us)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:  # read to the end of the line: Xvfb fails if it cannot write it all
            self.display = ":" + numbers.readline().strip()
        assert self.display != ":", "Xvfb did not start"

    def close(self):
        self.origin.close()
        self.xvfb.terminate()
        self.xvfb.wait(10)


class App:
    """One run of the shell as `profile`. stop() ends it and its engine helpers."""

    def __init__(self, world, profile, path="/", origin=None, args=(), stamp=None, exe=APP, cwd=None, extra_env=None):
        self.world, self.profile, self.logs = world, profile, profile.root / f"run-{time.monotonic_ns()}"
        home = profile.home
        env = dict(PATH=os.environ["PATH"], HOME=str(home), LANG="C.UTF-8", DISPLAY=world.display, GDK_BACKEND="x11",
                   XDG_CONFIG_HOME=f"{home}/.config", XDG_DATA_HOME=f"{home}/.local/share",
                   XDG_CACHE_HOME=f"{home}/.cache", XDG_RUNTIME_DIR=f"{home}/runtime", GSETTINGS_BACKEND="memory",
                   CORVIDALE_ORIGIN=world.origin.url(path) if origin is None else origin,
                   **{k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
        if stamp is not None:
            env["CORVIDALE_STAMP"] = stamp
        env.update(extra_env or {})
        bind = 'mount --bind "$1" /etc/ssl/certs/ca-certificates.crt && mount --bind "$2" /etc/hosts && shift 2 && exec "$@"'
        with open(f"{self.logs}.out", "w") as out, open(f"{self.logs}.err", "w") as err:
            self.proc = subprocess.Popen(["unshare", "-m", "--", "sh", "-c", bind, "sh", world.ca_bundle, world.hosts,
                                          os.path.abspath(exe), *args], env=env, stdout=out, stderr=err,
                                         stdin=subprocess.DEVNULL, cwd=cwd or profile.root, start_new_session=True,
                                         preexec_fn=dies_with_us)
        self._window = None

    def out(self):
        return Path(f"{self.logs}.out").read_text().splitlines()

    def err(self):
        return Path(f"{self.logs}.err").read_text().splitlines()

    def said(self):
        """The shell's own diagnostics: stderr without GLib's log lines, which the
        engine's helper processes (the sandbox's bus proxy among them) also write
        there, at their own pace."""
        return [line for line in self.err() if line and not GLIB_LOG_LINE.match(line)]

    def theme_lines(self):
        return [line for line in self.err() if line.startswith("[theme]")]

    def x(self, *argv):
        return run(*argv, env={**os.environ, "DISPLAY": self.world.display})

    def windows(self, name="^Corvidale$"):
        return self.x("xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.proc.pid), "--name", name).stdout.split()

    def window(self, name="^Corvidale$"):
        if name == "^Corvidale$" and self._window:
            return self._window
        found = wait_for(lambda: self.windows(name) or self.proc.poll() is not None, f"a window named {name}")
        assert found is not True, f"the app ended: {self.err()}"
        if name == "^Corvidale$":
            self._window = found[0]
        return found[0]

    def key(self, *keys, window=None):
        self.x("xdotool", "windowfocus", "--sync", window or self.window())
        assert self.x("xdotool", "key", "--clearmodifiers", "--delay", "40", *keys).returncode == 0

    def type(self, text, window):
        self.x("xdotool", "windowfocus", "--sync", window)
        self.x("xdotool", "type", "--delay", "30", text)

    def click(self, x=550, y=420, window=None):
        self.x("xdotool", "mousemove", "--window", window or self.window(), str(x), str(y))
        self.x("xdotool", "click", "1")

    def step(self, n, path="/steps"):
        """Clicks step n of the steps page at `path` once it is armed."""
        self.world.origin.wait_report(f"armed {n} {path}")
        self.click()
        self.world.origin.wait_report(f"clicked {n} {path}")

    def capture(self, window=None):
        """The window's pixels, RGB, row by row; and its width."""
        ppm = subprocess.run(["import", "-window", window or self.window(), "-depth", "8", "ppm:-"],
                             capture_output=True, timeout=60, env={**os.environ, "DISPLAY": self.world.display}).stdout
        _magic, width, _height, _max, pixels = ppm.split(maxsplit=4)
        self.width = int(width)
        return pixels

    def brightness(self, top, height):
        """Mean brightness (0-255) of rows top..top+height of the main window."""
        pixels = self.capture()
        rows = pixels[top * self.width * 3:(top + height) * self.width * 3]
        return sum(rows) / max(len(rows), 1)

    def kill_page_process(self):
        """Kills the largest of the engine's web processes of this run, the page's, as the out-of-memory
        killer would; answers whether there was one."""
        children = {}
        for stat in Path("/proc").glob("[0-9]*/stat"):
            try:
                fields = stat.read_text().rsplit(")", 1)[1].split()
                comm = (stat.parent / "comm").read_text().strip()
            except (OSError, IndexError):
                continue
            children.setdefault(int(fields[1]), []).append((int(fields[21]), int(stat.parent.name), comm))
        found, todo = [], [self.proc.pid]
        while todo:
            for rss, pid, comm in children.get(todo.pop(), []):
                todo.append(pid)
                if comm.startswith("WebKitWebProces"):
                    found.append((rss, pid))
        if found:
            os.kill(max(found)[1], signal.SIGKILL)
        return bool(found)

    def wait_exit(self, timeout=TIMEOUT):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"still running; stderr: {self.err()}")

    def close(self):
        """Ctrl+W closes the only window, which ends the shell with status 0."""
        self.key("ctrl+w")
        assert self.wait_exit() == 0, self.err()

    def stop(self):
        for sig in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.killpg(self.proc.pid, sig)
            except ProcessLookupError:
                break
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                continue
            time.sleep(0.2)  # the engine's helpers go with the group


@pytest.fixture(scope="session")
def world(tmp_path_factory):
    world = World(tmp_path_factory.mktemp("world"))
    yield world
    world.close()


@pytest.fixture
def origin(world):
    world.origin.routes.clear()
    with world.origin.lock:
        world.origin.requests.clear()
    return world.origin


@pytest.fixture
def profile(tmp_path):
    return Profile(tmp_path)


@pytest.fixture
def launch(world, profile):
    apps = []

    def start(path="/", **options):
        apps.append(App(world, options.pop("as_profile", profile), path, **options))
        return apps[-1]

    yield start
    for app in apps:
        app.stop()


@pytest.fixture
def session_bus():
    """The address of a private session bus that starts no services (so no portal either)."""
    conf = Path(__file__).parents[1] / "packaging/session-bus.conf"
    daemon = subprocess.Popen(["dbus-daemon", f"--config-file={conf}", "--nofork", "--print-address=1"],
                              stdout=subprocess.PIPE, text=True, preexec_fn=dies_with_us)
    yield daemon.stdout.readline().strip()
    daemon.kill()
    daemon.wait(10)


class Desktop:
    """A private session bus with an accessibility bus beside it: the shell's widgets as a screen reader
    reads them, and the launcher progress it signals."""

    def __init__(self, env, signals):
        self.env, self.signals = env, signals

    def tree(self):
        """(role, name, value or None, "focused", "focusable" or "", text) of every node of the shell's accessibility tree."""
        out = run("/usr/bin/python3", str(Path(__file__).parent / "a11y.py"), "dump", env={**os.environ, **self.env}).stdout
        return [(role, ast.literal_eval(name), None if value == "-" else float(value), focus, ast.literal_eval(text))
                for _depth, role, name, value, focus, text in (line.split("\t") for line in out.splitlines())]

    def find(self, role, name_prefix):
        return next((node for node in self.tree() if node[0] == role and node[1].startswith(name_prefix)), None)

    def press(self, name):
        reader = run("/usr/bin/python3", str(Path(__file__).parent / "a11y.py"), "press", name, env={**os.environ, **self.env})
        assert reader.returncode == 0, f"nothing named {name!r}: {reader.stderr}"

    def launcher(self, app="application://com.corvidale.desktop.desktop"):
        """The launcher progress signalled for `app` so far: a fraction, or None where it was taken away."""
        shown, key, ours = [], None, False
        for line in self.signals.read_text().splitlines():
            words = line.split()
            if line.startswith("signal "):
                ours = False
            elif words[:2] == ["string", f'"{app}"']:
                ours = True
            elif words[:1] == ["string"]:
                key = words[1].strip('"')
            elif ours and key == "progress" and "double" in words:
                shown.append(float(words[-1]))
            elif ours and key == "progress-visible" and words[-2:] == ["boolean", "false"]:
                shown.append(None)
        return shown


@pytest.fixture
def desktop(session_bus, tmp_path):
    env = {**os.environ, "DBUS_SESSION_BUS_ADDRESS": session_bus}
    signals = tmp_path / "launcher.log"
    with open(signals, "w") as log:
        monitor = subprocess.Popen(["stdbuf", "-oL", "dbus-monitor", "--address", session_bus,
                                    "type='signal',interface='com.canonical.Unity.LauncherEntry'"],
                                   stdout=log, stderr=subprocess.DEVNULL, preexec_fn=dies_with_us)
    bus = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=dies_with_us)
    wait_for(lambda: run("dbus-send", f"--bus={session_bus}", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                         "org.a11y.Bus.GetAddress").returncode == 0, "the accessibility bus")
    yield Desktop({"DBUS_SESSION_BUS_ADDRESS": session_bus}, signals)
    for process in (bus, monitor):
        process.kill()
        process.wait(10)


@pytest.fixture
def bundle_copy(tmp_path):
    """A copy of the built bundle whose Info.plist a test may change."""
    import plistlib
    bundle = tmp_path / "Corvidale.app"
    shutil.copytree(Path(APP).resolve().parents[2], bundle)
    info_path = bundle / "Contents/Info.plist"

    def edit(**values):
        info = plistlib.loads(info_path.read_bytes())
        info.update(values)
        info_path.write_bytes(plistlib.dumps(info))
        return str(bundle / "Contents/MacOS/corvidale")

    return edit
