"""Launch, configuration, window, theme, menus and keys, and what survives a relaunch."""
import os
import re
import shutil
import socket
import stat
import subprocess
import time

from conftest import APP, APP_HOST, FOREIGN_HOST, IDN_HOST, SIGNIN_HOST, Origin, page, run, steps_page, wait_for

TO_LIGHT, TO_DARK = "[theme] window appearance → light", "[theme] window appearance → dark"

# Mid grey whatever the class, so that only the native chrome can read as light
# or dark. Each click makes the next change to the root element's classes; keys
# and editing are seen through the two fields; the session is a cookie and a
# stored value that the first run sets and the next one finds; WebGL 1 and 2
# draw (on software GL the shell keeps GL out of its own process, not out of
# the page's).
TOUR = page("""<input id="a" value="copy me: 42 corvids"><input id="b" value="">
<script>
var root = document.documentElement, a = document.getElementById('a'), b = document.getElementById('b');
var changes = [function () { root.classList.add('light'); }, function () { root.classList.add('busy'); },
               function () { root.classList.remove('light'); }, function () { root.classList.add('light'); }];
var done = 0, width = -1;
document.addEventListener('click', function (e) {
  if (e.target.tagName == 'INPUT' || done >= changes.length) return;
  changes[done++](); report('change ' + done + ' ' + root.className);
});
setInterval(function () { if (innerWidth != width) { width = innerWidth; report('width ' + width); } }, 50);
a.addEventListener('copy', function () {
  report('copied ' + a.selectionStart + '-' + a.selectionEnd); setTimeout(function () { b.focus(); }, 0);
});
b.addEventListener('input', function (e) { report('b ' + e.inputType + ' ' + JSON.stringify(b.value)); });
addEventListener('load', function () {
  report('session ' + document.cookie + ' ' + localStorage.getItem('kept'));
  document.cookie = 'sid=c00kie; max-age=86400'; localStorage.setItem('kept', 'stored value');
  report('agent ' + navigator.userAgent); report('size ' + innerWidth + 'x' + innerHeight);
  report('webgl' + ['webgl', 'webgl2'].map(function (kind) {
    var gl = document.createElement('canvas').getContext(kind), pixel = new Uint8Array(4);
    if (!gl) return ' no ' + kind;
    gl.clearColor(1, 0, 1, 1); gl.clear(gl.COLOR_BUFFER_BIT);
    gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
    return ' ' + kind + ' ' + pixel.join(',');
  }).join(''));
});
</script>""", head="""<style>html,body{margin:0;height:100%;background:#808080}
input{position:fixed;left:0;width:40%;height:80px;font:28px sans-serif}#a{top:100px}#b{top:300px}</style>""")


def appearance(app, light):
    """Waits until the menu bar strip at the top of the window is drawn light or dark."""
    return wait_for(lambda: (lambda v: v > 160 if light else v < 100)(app.brightness(0, 20)),
                    f"the window to turn {'light' if light else 'dark'}", 30)


def test_launch_theme_keys_and_stored_data_that_survives_a_relaunch(launch, origin, profile):
    origin.routes["/tour"] = (TOUR,)
    app = launch("/tour?x=1", stamp="57")
    window = app.window()
    wait_for(lambda: origin.to("/tour"), "the first request")
    first = origin.requests[0]
    assert (first["method"], first["target"], first["host"]) == ("GET", "/tour?x=1", f"{APP_HOST}:{origin.port}")
    # The engine's own agent with the token at the end, from the first request on.
    assert re.fullmatch(r"Mozilla/5\.0 \(.+\) AppleWebKit/[\d.]+ .+ Safari/[\d.]+ CorvidaleShell/linux-57",
                        first["agent"]), first["agent"]
    assert origin.wait_report("agent ") == "agent " + first["agent"]
    assert origin.wait_report("session ") == "session  null"
    geometry = app.x("xwininfo", "-id", window).stdout
    assert "Width: 1100" in geometry and "Height: 760" in geometry, geometry
    # The menu bar shares the client area on Linux: the page gets the rest.
    width, height = map(int, origin.wait_report("size ")[5:].split("x"))
    assert width == 1100 and 700 <= height < 760
    assert origin.wait_report("webgl") == "webgl webgl 255,0,255,255 webgl2 255,0,255,255"
    if not os.path.exists("/dev/dri"):  # software GL: only the web process may load a GL driver
        with open(f"/proc/{app.proc.pid}/maps") as maps:
            assert re.findall(r"\S*(?:libLLVM|_dri\.so)\S*", maps.read()) == []

    # Reload fetches the page again.
    app.key("ctrl+r")
    wait_for(lambda: len(origin.to("/tour")) == 2, "the reload")
    wait_for(lambda: len([r for r in origin.reports() if r.startswith("session sid=c00kie")]) == 1, "the reloaded page")

    # Theme: dark with nothing remembered; one line per real switch.
    assert app.theme_lines() == [TO_DARK]
    appearance(app, light=False)
    for change, lines in [(1, [TO_DARK, TO_LIGHT]), (2, [TO_DARK, TO_LIGHT]), (3, [TO_DARK, TO_LIGHT, TO_DARK]),
                          (4, [TO_DARK, TO_LIGHT, TO_DARK, TO_LIGHT])]:
        app.click(900, 600)
        origin.wait_report(f"change {change} ")
        wait_for(lambda: app.theme_lines() == lines, f"theme lines {lines}, got {app.theme_lines()}", 30)
        if change != 2:
            appearance(app, light=change != 3)

    # Zoom in steps of 0.1: the page gets 1100 / zoom CSS pixels.
    for keys, width in [("ctrl+plus", 1000), ("ctrl+equal", 917), ("ctrl+minus", 1000), ("ctrl+0", 1100),
                        ("ctrl+minus", 1222), ("ctrl+0", 1100)]:
        app.key(keys)
        wait_for(lambda: abs(int([r for r in origin.reports() if r.startswith("width ")][-1][6:]) - width) <= 1,
                 f"page width {width} after {keys}", 30)
    # Editing keys reach the page: select all, copy, paste, undo.
    app.click(200, 140)
    app.key("ctrl+a", "ctrl+c")
    assert origin.wait_report("copied ") == "copied 0-19"
    app.key("ctrl+v")
    origin.wait_report('b insertFromPaste "copy me: 42 corvids"')
    app.key("ctrl+z")
    origin.wait_report('b historyUndo ""')
    app.close()

    # Same user, next launch: light from the start, and the session is still there.
    origin.routes["/light"] = (TOUR.replace('class=""', 'class="light"', 1),)
    app = launch("/light")
    wait_for(lambda: "session sid=c00kie stored value" in origin.reports(), "the cookie and stored value after the relaunch")
    appearance(app, light=True)
    app.close()
    assert app.theme_lines() == [TO_LIGHT]


# Scripts of the page and of its frames post to the theme handler themselves, each
# its own word, so an accepted message would show by name; then a light page of
# another host is shown in the window. None of it may touch the appearance.
FRAME = """<script>var outcome;
try { window.webkit.messageHandlers.corvidaleTheme.postMessage('injected-by-' + location.hostname); outcome = 'posted'; }
catch (e) { outcome = 'refused'; }
document.documentElement.classList.add('light'); parent.postMessage(location.hostname + ' ' + outcome, '*');</script>"""


def test_forged_theme_messages_are_ignored(launch, origin):
    origin.routes["/frame"] = (page(FRAME),)
    origin.routes["/signin"] = (page("", cls="light", head="<script>addEventListener('load', function () {"
                                     "setTimeout(function () { report('signin shown'); }, 500); });</script>"),)
    frames = "<script>addEventListener('message', function (e) { report('frame ' + e.data); });</script>"
    frames += f'<iframe src="/frame"></iframe><iframe src="{origin.url("/frame", "foreign.test")}"></iframe>'
    origin.routes["/inject"] = (steps_page([{"href": origin.url("/signin", SIGNIN_HOST)}], onload="""
      try { window.webkit.messageHandlers.corvidaleTheme.postMessage('injected-by-page'); } catch (e) {}""") + frames,)
    app = launch("/inject")
    app.window()
    origin.wait_report(f"frame {APP_HOST} refused")
    origin.wait_report("frame foreign.test refused")
    app.step(0, "/inject")
    origin.wait_report("signin shown")
    assert app.theme_lines() == [TO_DARK]
    app.close()


def test_bad_origins_end_the_run_with_two_and_fetch_nothing(launch, origin, bundle_copy):
    good, bad = origin.url("/"), f"http://{APP_HOST}:{origin.port}/"  # which texts are bad: AppOrigin's unit test
    for text, exe in [(bad, None), ("", None), (bad, bundle_copy(CorvidaleOrigin=bad))]:
        app = launch(origin=good if exe else text, exe=exe or APP)
        assert app.wait_exit() == 2, (text, app.err())
        assert app.said()[-1] == f"CORVIDALE_ORIGIN must be an https URL: {text}", app.err()
        assert app.out() == []
    assert origin.requests == []


def test_info_plist_strings_win_over_the_environment(launch, origin, bundle_copy):
    origin.routes["/from-plist"] = origin.routes["/from-env"] = (page("<script>report('loaded ' + location.pathname)"
                                                                      "</script>"),)
    exe = bundle_copy(CorvidaleOrigin=origin.url("/from-plist"), CorvidaleBuild="2024.11-rc1")
    app = launch("/from-env", exe=exe, stamp="57")
    assert origin.wait_report("loaded ") == "loaded /from-plist"
    assert origin.requests[0]["agent"].endswith(" CorvidaleShell/linux-2024.11-rc1")
    app.close()
    # A number is no origin: the environment's counts.
    app = launch("/from-env", exe=bundle_copy(CorvidaleOrigin=443, CorvidaleBuild=""), stamp="")
    wait_for(lambda: "loaded /from-env" in origin.reports(), "the environment's origin")
    assert origin.to("/from-env")[0]["agent"].endswith(" CorvidaleShell/linux-")
    # A window destroyed from outside (a crashed or rude window manager) ends the shell cleanly too.
    app.x("xdotool", "windowclose", app.window())
    assert app.wait_exit() == 0, app.err()


BUTTON = (0x2f, 0x6f, 0xdf)  # the shell's own page draws its one button in this blue


def button_centre(app):
    pixels, found = app.capture(), []
    for i in range(0, len(pixels) - 2, 3 * 4):
        if all(abs(pixels[i + k] - BUTTON[k]) < 12 for k in range(3)):
            found.append((i // 3 % app.width, i // 3 // app.width))
    return found and (sum(x for x, _ in found) // len(found), sum(y for _, y in found) // len(found))


def test_a_dead_page_comes_back_and_reload_works_when_the_page_cannot_answer(launch, origin):
    loads = []

    def crash(handler):
        loads.append(handler.path)
        hang = "setTimeout(function () { for (;;) {} }, 300);" if len(loads) == 3 else ""
        handler.reply(page(f"<script>addEventListener('load', function () {{ report('loaded {len(loads)}'); {hang} }});</script>"))

    origin.routes["/crash"] = crash
    # A scheme written in capitals is https all the same.
    app = launch(origin=origin.url("/crash?x=1").replace("https://", "HTTPS://"))
    origin.wait_report("loaded 1")
    app.window()
    assert app.kill_page_process()
    origin.wait_report("loaded 2")
    # Dead again at once: a reload would not help; the shell's own page offers one.
    assert app.kill_page_process()
    centre = wait_for(lambda: button_centre(app), "the shell's page and its button", 30)
    assert app.brightness(200, 100) < 60 and len(loads) == 2  # dark, like the window; nothing fetched
    app.click(*centre)
    origin.wait_report("loaded 3")  # the page then hangs, and never hands a key back: Ctrl+R must still reload it,
    time.sleep(1.5)  # the first press, though the engine has not yet missed a reply of the freshly hung page
    app.key("ctrl+r")
    origin.wait_report("loaded 4", timeout=20)
    assert set(loads) == {"/crash?x=1"}
    app.close()


def test_private_data_stays_private_and_a_broken_store_or_preferences_file_is_set_aside(launch, origin, profile):
    share, cache = profile.home / ".local/share", profile.home / ".cache/com.corvidale.desktop"
    data, config = share / "com.corvidale.desktop", profile.home / ".config/com.corvidale.desktop"
    origin.routes["/data"] = (page("""<script>addEventListener('load', async function () {
      report('session ' + document.cookie); document.cookie = 'sid=kept; max-age=86400';
      var db = await new Promise(function (ok) { var r = indexedDB.open('d', 1);
        r.onupgradeneeded = function () { r.result.createObjectStore('s'); }; r.onsuccess = function () { ok(r.result); }; r.onerror = function () { ok(null); }; });
      var stored = 0, chunk = new Uint8Array(1 << 20).map(function () { return Math.random() * 256; });
      try { for (; db && stored < 120; stored++) await new Promise(function (ok, no) {
        var t = db.transaction('s', 'readwrite'); t.objectStore('s').put(chunk.slice(), stored);
        t.oncomplete = ok; t.onabort = no; }); } catch (e) {}
      report('stored ' + stored); });</script>"""),)
    # Storage shares are of the volume the data lives on: a small one shows them.
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2g,mode=0755", "tmpfs", str(share)], check=True)
    apps = []
    try:
        old = share / "corvidale"  # where builds before the application id kept it
        (old / "storage").mkdir(parents=True)
        (old / "storage/kept").write_text("site data")
        (old / "cookies.sqlite").write_bytes(b"\x8f not a database " + os.urandom(4000))
        data.symlink_to("/nonexistent/data")
        cache.mkdir(parents=True)
        (cache / "entry").write_text("cached")
        for path, mode in [(old, 0o755), (old / "storage/kept", 0o644), (old / "cookies.sqlite", 0o644), (cache, 0o755),
                           (cache / "entry", 0o644)]:
            path.chmod(mode)
        config.mkdir(parents=True)
        os.mkfifo(config / "defaults.ini")
        broken = (old / "cookies.sqlite").read_bytes()

        apps.append(launch("/data"))
        assert origin.wait_report("session ") == "session "
        stored = int(origin.wait_report("stored ")[7:])
        assert 30 < stored < 60, stored  # 2% of 2 GiB, in MiB; the engine's own default allowed 1000
        apps[-1].close()
        assert stat.S_ISLNK(os.lstat(share / "com.corvidale.desktop.corrupt").st_mode) and not old.exists()
        assert (data / "storage/kept").read_text() == "site data"
        assert (data / "cookies.sqlite.corrupt").read_bytes() == broken
        assert (data / "cookies.sqlite").read_bytes()[:16] == b"SQLite format 3\0"
        assert stat.S_ISFIFO(os.lstat(config / "defaults.ini.corrupt").st_mode) and (config / "defaults.ini").is_file()
        assert [oct(os.stat(p).st_mode & 0o777) for p in (data, cache)] == ["0o700"] * 2
        left = [p for folder in (data, cache) for p in folder.rglob("*") if not p.is_symlink()]

        apps.append(launch("/data"))
        assert origin.wait_report("session sid=") == "session sid=kept"
        apps[-1].close()
        # What the first run left, tightened by the second; SQLite's side files may have gone with their databases.
        def shared(path):
            try:
                return os.lstat(path).st_mode & 0o077
            except FileNotFoundError:
                return 0
        loose = [str(p) for p in left if shared(p)]
        assert not loose, f"readable by others: {loose}"
    finally:
        for app in apps:
            app.stop()
        subprocess.run(["umount", "-l", str(share)])


def test_website_folders_not_the_users_alone_are_refused_and_no_link_is_followed(launch, origin, profile, tmp_path):
    """Another user's folder or file, a link to an open folder: said, kept in memory only, nothing changed."""
    data, cache = profile.home / ".local/share/com.corvidale.desktop", profile.home / ".cache/com.corvidale.desktop"
    origin.routes["/data"] = (page("<script>report('loaded ' + document.cookie); document.cookie = 'sid=s; max-age=99';"
                                   "</script>"),)
    elsewhere, stuck = tmp_path / "elsewhere", cache / "stuck"
    for folder, mode in [(data, 0o777), (cache, 0o755), (elsewhere, 0o755)]:
        folder.mkdir(parents=True)
        folder.chmod(mode)
    (data / "cookies.sqlite").write_bytes(b"")
    (data / "cookies.sqlite").chmod(0o666)
    for path in (data, data / "cookies.sqlite"):
        os.chown(path, 65534, 65534)  # nobody's
    (elsewhere / "kept").write_text("x")
    (cache / "out").symlink_to(elsewhere)
    stuck.write_text("cached")
    subprocess.run(["mount", "--bind", str(stuck), str(stuck)], check=True)
    try:
        subprocess.run(["mount", "-o", "remount,ro,bind", str(stuck)], check=True)
        app = launch("/data")
        assert origin.wait_report("loaded") == "loaded "
        app.close()
    finally:
        subprocess.run(["umount", str(stuck)])
    said = app.said()
    for line in [f"corvidale: {data} belongs to another user (uid 65534), who could read what Corvidale keeps there",
                 f"corvidale: could not make {stuck} private: Read-only file system"]:
        assert line in said, said
    assert any("in memory only" in line for line in said), said
    assert sorted(p.name for p in data.iterdir()) == ["cookies.sqlite"] and (data / "cookies.sqlite").stat().st_size == 0
    assert oct(os.stat(elsewhere / "kept").st_mode & 0o777) == "0o644"
    assert oct(os.stat(cache).st_mode & 0o777) == "0o700"

    # The user's own folder kept elsewhere and linked here: used where it is, never changed through the
    # link; open to others, it is refused.
    os.chown(data, 0, 0)
    shutil.rmtree(data)
    data.symlink_to(elsewhere)
    app = launch("/data")
    wait_for(lambda: origin.reports().count("loaded ") == 2, "the second run's page, with no cookie")
    app.close()
    assert f"corvidale: {data} leads to a folder that others can open; make it the user's alone (chmod 700)" in app.said()
    assert [oct(os.stat(p).st_mode & 0o777) for p in (elsewhere, elsewhere / "kept")] == ["0o755", "0o644"]


REACH = page("""<script>addEventListener('load', function () { report('loaded ' + location.pathname + ' ' + history.length); });
document.addEventListener('keydown', function (e) { if (e.key == 'g') location.href = '/inbox'; });</script>""")


def reach_said(app, reason):
    return wait_for(lambda: [line for line in app.said() if line.startswith(f"[reach] Corvidale can't reach {APP_HOST}: {reason}")],
                    f"the screen for {reason!r}: {app.said()}")


def test_an_unreachable_origin_shows_the_shells_screen_and_comes_back_by_itself(launch, origin, tmp_path):
    origin.routes.update({"/app": (REACH,), "/inbox": (REACH,)})
    app = launch("/app")
    origin.wait_report("loaded /app 1")
    origin.stop()
    try:
        app.key("g")
        reach_said(app, "Its server isn't accepting connections right now.")
        wait_for(lambda: button_centre(app), "the screen's button", 30)
        assert app.brightness(200, 100) < 60  # the window's dark theme, not the engine's error page
    finally:
        origin.restart()
    # Within the back-off (2, 4, 8, 16 s): where the user was going, in place of the screen in the history.
    origin.wait_report("loaded /inbox 2", timeout=40)
    assert [r for r in origin.reports() if r.startswith("loaded")] == ["loaded /app 1", "loaded /inbox 2"]
    assert len([line for line in app.said() if line.startswith("[reach]")]) == 1
    app.close()

    # A certificate the test CA did not sign: the same screen, and no way through it.
    argv = ["req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
            "-keyout", "key.pem", "-out", "cert.pem", "-subj", "/CN=" + APP_HOST, "-addext", "subjectAltName=DNS:" + APP_HOST]
    assert run("openssl", *argv, cwd=tmp_path).returncode == 0
    impostor = Origin(tmp_path / "cert.pem", tmp_path / "key.pem")
    try:
        app = launch(origin=impostor.url("/app"))
        reach_said(app, "Its server's identity couldn't be verified")
        app.click(*wait_for(lambda: button_centre(app), "the screen's button", 30))  # Try Again: the same, again
        time.sleep(3)
        assert button_centre(app) and impostor.requests == []
        app.close()
    finally:
        impostor.close()


# What a document may keep: IndexedDB, one in a frame it adds, Cache Storage, a worker's IndexedDB.
STORES = """<script>function opened(factory) { return new Promise(function (done) {
  try { var r = factory.open('d', 1); r.onsuccess = function () { done('ok'); }; r.onerror = function () { done(r.error.name); }; }
  catch (e) { done(e.name); } }); }
addEventListener('load', async function () {
  var kept = [await opened(indexedDB)], inner = document.body.appendChild(document.createElement('iframe'));
  kept.push(await opened(inner.contentWindow.indexedDB));
  kept.push(await caches.open('c').then(function () { return 'ok'; }, function (e) { return e.name; }));
  try { var w = new Worker(URL.createObjectURL(new Blob(["var r = indexedDB.open('w', 1); r.onsuccess = function () "
    + "{ postMessage('ok'); }; r.onerror = function () { postMessage(r.error.name); };"])));
    kept.push(await new Promise(function (done) { w.onmessage = function (m) { done(m.data); }; }));
  } catch (e) { kept.push(e.name); }
  report('@WHO@ ' + location.host + ' ' + kept.join(' ')); @THEN@ });</script>"""


def test_an_international_origin_loads_and_a_frame_of_another_site_neither_strands_it_nor_stores(launch, origin):
    """The frame sends the window to the application's host on a port nobody serves, and stores what it can."""
    closed = socket.socket()
    closed.bind(("127.0.0.1", 0))  # bound, not listening: refused
    dead = f"https://{IDN_HOST}:{closed.getsockname()[1]}/"
    origin.routes["/idn"] = (page(STORES.replace("@WHO@", "top").replace("@THEN@", "frames[0].postMessage('go', '*');") +
                                  f'<iframe src="{origin.url("/frame", FOREIGN_HOST)}"></iframe>'),)
    origin.routes["/frame"] = (page(STORES.replace("@WHO@", "frame").replace("@THEN@", "") +
                                    f"<script>onmessage = function () {{ top.location = '{dead}'; }};</script>"),)
    try:
        app = launch(origin=f"https://bücher.test:{origin.port}/idn")
        assert origin.wait_report("top ") == f"top {IDN_HOST}:{origin.port} ok ok ok ok"
        assert origin.wait_report("frame ") == (f"frame {FOREIGN_HOST}:{origin.port} QuotaExceededError "
                                                "QuotaExceededError QuotaExceededError SecurityError")
        time.sleep(3)  # the frame's navigation has failed, and the first retry would be due
        app.key("ctrl+r")  # the application's page, not the frame's target
        wait_for(lambda: [r for r in origin.reports() if r.startswith("top ")][1:], "the page reloaded")
        assert not [line for line in app.said() if line.startswith("[reach]")], app.said()
        app.close()
    finally:
        closed.close()
